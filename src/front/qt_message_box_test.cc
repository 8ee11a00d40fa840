#include "front/qt_message_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "front/testing_qt_app.h"

namespace cubesec {
namespace {

class QtMessageBoxTest : public QtTest {
 protected:
  // Shows `request` and lets `act` look at the open box and answer it.
  MessageBoxAnswer ShowAndAct(const MessageBoxRequest& request,
                              std::function<void(QMessageBox&)> act) {
    bool acted = false;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) {
        ADD_FAILURE() << "no message box is open";
        return;
      }
      act(*box);
      acted = true;
    });
    const MessageBoxAnswer answer = presenter_.Show(request);
    EXPECT_TRUE(acted);
    return answer;
  }

  static MessageBoxRequest ResetWarning() {
    MessageBoxRequest request;
    request.title = "Reset Security";
    request.text =
        "Warning! This will delete all (other) users, all groups, and all security filters, "
        "ARE YOU SURE???";
    request.buttons = MessageBoxButtons::kYesNo;
    request.icon = MessageBoxIcon::kExclamation;
    request.default_is_no = true;
    return request;
  }

  QtMessageBoxPresenter presenter_{"cubesec"};
};

TEST_F(QtMessageBoxTest, ResetWarningKeepsTitleTextButtonsIconAndNoAsDefault) {
  const MessageBoxRequest request = ResetWarning();
  const MessageBoxAnswer answer = ShowAndAct(request, [&](QMessageBox& box) {
    EXPECT_EQ(box.windowTitle().toStdString(), "Reset Security - cubesec");
    EXPECT_EQ(box.text().toStdString(), request.text);
    EXPECT_EQ(box.icon(), QMessageBox::Warning);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(static_cast<QAbstractButton*>(box.defaultButton()), box.button(QMessageBox::No));
    // Enter takes the default button.
    QTest::keyClick(&box, Qt::Key_Return);
  });
  EXPECT_EQ(answer, MessageBoxAnswer::kNo);
}

TEST_F(QtMessageBoxTest, YesIsTheOnlyConfirmation) {
  EXPECT_EQ(
      ShowAndAct(ResetWarning(), [](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); }),
      MessageBoxAnswer::kYes);
  EXPECT_EQ(
      ShowAndAct(ResetWarning(), [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }),
      MessageBoxAnswer::kNo);
  MessageBoxRequest yes_default = ResetWarning();
  yes_default.default_is_no = false;
  EXPECT_EQ(
      ShowAndAct(yes_default, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }),
      MessageBoxAnswer::kYes);
}

TEST_F(QtMessageBoxTest, ErrorBoxHasTheCriticalIconAndOk) {
  MessageBoxRequest request;
  request.title = "cubesec";
  request.text = "Security Dump File (x.txt) Not Found";
  request.icon = MessageBoxIcon::kCritical;
  const MessageBoxAnswer answer = ShowAndAct(request, [&](QMessageBox& box) {
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(box.standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box.text(), "Security Dump File (x.txt) Not Found");
    box.button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(answer, MessageBoxAnswer::kOk);
}

}  // namespace
}  // namespace cubesec
