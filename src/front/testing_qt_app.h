#pragma once
// A Qt application for one test: made in SetUp when none runs, gone in TearDown, so every
// test starts from the same state whatever ran before it in the process. Without a chosen
// Qt platform the tests use the offscreen one, so they need no display.

#include <gtest/gtest.h>

#include <QApplication>
#include <QtGlobal>
#include <memory>

namespace cubesec {

class QtTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseOffscreenUnlessChosen();
    if (QApplication::instance() == nullptr) {
      app_ = std::make_unique<QApplication>(argc_, argv_);
    }
  }
  void TearDown() override { app_.reset(); }

 public:
  static void UseOffscreenUnlessChosen() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  }

 private:
  int argc_ = 1;
  char name_[16] = "front_qt_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

}  // namespace cubesec
