#include "front/qt_session.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "front/interactive.h"
#include "front/qt_progress_window.h"
#include "front/testing_qt_app.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

class PresenterPlatform : public FakePlatform {
 public:
  MessageBoxPresenter* presenter = nullptr;
  void SetMessageBoxPresenter(MessageBoxPresenter* p) override { presenter = p; }
};

char kArg0[] = "cubesec";
char kQtOption[] = "-platform";
char kQtValue[] = "nonexistent";

QWidget* VisibleTopLevel(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == name && widget->isVisible()) return widget;
  }
  return nullptr;
}

// Every test here starts without a Qt application: the session is what must make one.
class QtSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QApplication::instance(), nullptr);
    QtTest::UseOffscreenUnlessChosen();
    platform_.ini["/etc/essbase.ini|LOGIN|SERVER"] = "olap1";
    platform_.ini["/etc/essbase.ini|LOGIN|USER"] = "admin";
  }
  std::unique_ptr<InteractiveSession> Make() {
    // Arguments that Qt would read as its own must not reach it.
    char* argv[] = {kArg0, kQtOption, kQtValue, nullptr};
    return MakeInteractiveSession(platform_, "cubesec", 3, argv);
  }
  PresenterPlatform platform_;
};

TEST_F(QtSessionTest, TheApplicationIsMadeOnlyForADisplay) {
  platform_.stdin_is_terminal = false;
  EXPECT_EQ(Make(), nullptr);
  EXPECT_EQ(QApplication::instance(), nullptr);

  platform_.stdin_is_terminal = true;
  std::unique_ptr<InteractiveSession> terminal = Make();
  EXPECT_NE(terminal, nullptr);
  EXPECT_EQ(QApplication::instance(), nullptr) << "a terminal session never starts Qt";
  terminal.reset();

  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  ASSERT_NE(session, nullptr);
  EXPECT_NE(QApplication::instance(), nullptr);
  EXPECT_EQ(QGuiApplication::platformName(), "offscreen");
  EXPECT_NE(platform_.presenter, nullptr);
  session.reset();
  EXPECT_EQ(platform_.presenter, nullptr);
  EXPECT_EQ(QApplication::instance(), nullptr);
}

TEST_F(QtSessionTest, AskShowsTheWindowAndReadsItBack) {
  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  ASSERT_NE(session, nullptr);
  bool seen = false;
  QTimer::singleShot(100, [&] {
    QWidget* window = VisibleTopLevel("frmQMX");
    ASSERT_NE(window, nullptr);
    seen = true;
    QTest::keyClicks(window->findChild<QLineEdit*>("txtParm(3)"), "pw");
    window->findChild<QPushButton*>("cmdDumpIt")->click();
  });
  RunParameters params;
  params.password = "ignored";
  ASSERT_EQ(session->Ask(params), InteractiveResult::kRun);
  EXPECT_TRUE(seen);
  EXPECT_EQ(params.command, "D");
  EXPECT_EQ(params.dump_file, "olap1.DAT");
  EXPECT_EQ(params.server, "olap1");
  EXPECT_EQ(params.user, "admin");
  EXPECT_EQ(params.password, "pw");
  EXPECT_EQ(VisibleTopLevel("frmQMX"), nullptr);

  QTimer::singleShot(100, [&] {
    QWidget* window = VisibleTopLevel("frmQMX");
    ASSERT_NE(window, nullptr);
    window->findChild<QPushButton*>("cmdCancel")->click();
  });
  RunParameters again;
  EXPECT_EQ(session->Ask(again), InteractiveResult::kCancelled);
  EXPECT_EQ(again.command, "");
}

TEST_F(QtSessionTest, ProgressWindowFollowsTheBlocksAndTheCompletionNamesTheLog) {
  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  QTimer::singleShot(100, [&] {
    QWidget* window = VisibleTopLevel("frmQMX");
    ASSERT_NE(window, nullptr);
    window->findChild<QLineEdit*>("txtParm(3)")->setText("pw");
    window->findChild<QPushButton*>("cmdRestoreIt")->click();
  });
  RunParameters params;
  ASSERT_EQ(session->Ask(params), InteractiveResult::kRun);

  RunObserver& observer = session->observer();
  observer.OnBlock("Server", 1);
  observer.OnBlock("Filter", 2);
  observer.PumpEvents();
  QWidget* progress = VisibleTopLevel("frmProgress");
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->findChild<QLabel*>("lblProgress")->text(), "Reading Filter (block 2)");

  QString note;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(100, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    note = box->text();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  session->ShowCompletion("R", RunEnd::kCompleted, "/opt/cubesec/bin/cubesec.log");
  EXPECT_EQ(note, "Security restore completed.\nRun log: /opt/cubesec/bin/cubesec.log");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_EQ(VisibleTopLevel("frmProgress"), nullptr);
}

TEST_F(QtSessionTest, TheRunsMessageBoxesGoThroughQt) {
  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  ASSERT_NE(platform_.presenter, nullptr);
  QTimer::singleShot(100, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Reset Security");
    box->button(QMessageBox::Yes)->click();
  });
  MessageBoxRequest request;
  request.title = "Reset Security";
  request.text = "sure?";
  request.buttons = MessageBoxButtons::kYesNo;
  request.default_is_no = true;
  EXPECT_EQ(platform_.presenter->Show(request), MessageBoxAnswer::kYes);
}

}  // namespace
}  // namespace cubesec
