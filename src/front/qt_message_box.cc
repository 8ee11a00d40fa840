#include "front/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "front/session_texts.h"

namespace cubesec {
namespace {

QMessageBox::Icon IconOf(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::kCritical:
      return QMessageBox::Critical;
    case MessageBoxIcon::kExclamation:
      return QMessageBox::Warning;
    case MessageBoxIcon::kInformation:
      return QMessageBox::Information;
    case MessageBoxIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MessageBoxAnswer QtMessageBoxPresenter::Show(const MessageBoxRequest& request) {
  if (QApplication::instance() == nullptr) return MessageBoxAnswer::kUnavailable;
  QMessageBox box;
  box.setObjectName("msgBox");
  box.setWindowTitle(QString::fromStdString(BoxTitle(request.title, program_name_)));
  box.setText(QString::fromStdString(request.text));
  box.setTextFormat(Qt::PlainText);
  box.setIcon(IconOf(request.icon));
  if (request.buttons == MessageBoxButtons::kOk) {
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    box.exec();
    return MessageBoxAnswer::kOk;
  }
  box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(request.default_is_no ? QMessageBox::No : QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);
  box.exec();
  // Only an explicit Yes confirms; closing the box any other way is No.
  return box.clickedButton() == box.button(QMessageBox::Yes) ? MessageBoxAnswer::kYes
                                                             : MessageBoxAnswer::kNo;
}

}  // namespace cubesec
