#include "front/qt_main_window.h"

#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <string>
#include <vector>

namespace cubesec {
namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFrame* MakeLine(const char* name, QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setObjectName(name);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

QLabel* MakeInfo(const MainWindowModel& model, int index, QWidget* parent) {
  auto* label = new QLabel(Q(model.Info(index)), parent);
  label->setObjectName(QtMainWindow::ControlName("lblInfo", index));
  // Help texts hold "&" only as text, never as an access key.
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

int CharCodeOf(int qt_key, bool control, const QString& text) {
  if (control && qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return qt_key - Qt::Key_A + 1;
  if (!text.isEmpty()) return text.at(0).unicode();
  return 0;
}

QString QtMainWindow::ControlName(const char* array, int index) {
  return QString("%1(%2)").arg(QLatin1String(array)).arg(index);
}

QtMainWindow::QtMainWindow(MainWindowModel& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName("frmQMX");
  setWindowTitle(Q(MainWindowModel::kTitle));
  choose_file_ = [](QWidget* parent, const QString& current) {
    // One dialog for both commands: a dump writes a new file, a restore reads an existing
    // one, so neither an existing file nor a new name is refused or questioned here.
    return QFileDialog::getSaveFileName(parent, "Dump File", current, QString(), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
  };

  auto* outer = new QVBoxLayout(this);
  // The window is as large as its contents, no more: nothing to stretch or to squeeze.
  outer->setSizeConstraint(QLayout::SetFixedSize);
  auto* grid = new QGridLayout;
  outer->addLayout(grid);
  for (int i = 0; i < MainWindowModel::kFieldCount; ++i) {
    auto* label = new QLabel(Q(MainWindowModel::FieldLabel(i)), this);
    label->setObjectName(ControlName("lblParm", i));
    auto* field = new QLineEdit(Q(model_.Field(i)), this);
    field->setObjectName(ControlName("txtParm", i));
    field->setMinimumWidth(260);
    if (i == MainWindowModel::kPassword) field->setEchoMode(QLineEdit::Password);
    label->setBuddy(field);
    grid->addWidget(label, i, 0);
    grid->addWidget(field, i, 1);
    grid->addWidget(MakeInfo(model_, i, this), i, 3);
    fields_[i] = field;
    connect(field, &QLineEdit::textChanged, this,
            [this, i](const QString& text) { model_.SetField(i, text.toStdString()); });
  }
  auto* browse = new QPushButton("&Browse...", this);
  browse->setObjectName("cmdBrowse");
  browse->setAutoDefault(false);
  grid->addWidget(browse, MainWindowModel::kDumpFile, 2);
  connect(browse, &QPushButton::clicked, this, [this] { Browse(); });

  outer->addWidget(MakeLine("Line1", this));
  outer->addWidget(MakeInfo(model_, MainWindowModel::kFirstHelpLine, this));
  auto* help = new QGridLayout;
  help->setHorizontalSpacing(12);
  AddBatchHelp(help);
  outer->addLayout(help);
  outer->addWidget(MakeInfo(model_, MainWindowModel::kFirstHelpLine + 3, this));
  auto* reset_key = new QLabel(Q(MainWindowModel::kResetKeyHelp), this);
  reset_key->setObjectName("lblResetKey");
  reset_key->setTextFormat(Qt::PlainText);
  reset_key->setWordWrap(true);
  outer->addWidget(reset_key);
  outer->addWidget(MakeLine("Line2", this));
  notice_ = new QLabel(this);
  notice_->setObjectName("lblNotice");
  notice_->setTextFormat(Qt::PlainText);
  notice_->setWordWrap(true);
  // Why the window is back, when a run failed before it changed anything.
  notice_->setText(Q(model_.notice()));
  notice_->setVisible(!model_.notice().empty());
  outer->addWidget(notice_);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  for (FormButton button : {FormButton::kDumpIt, FormButton::kRestoreIt, FormButton::kCancel}) {
    auto* push = new QPushButton(Q(MainWindowModel::ButtonCaption(button)), this);
    push->setObjectName(Q(MainWindowModel::ButtonName(button)));
    // Enter presses Dump Security, the one command that changes nothing on the server;
    // the other buttons never take Enter for themselves.
    const bool dump = button == FormButton::kDumpIt;
    push->setAutoDefault(false);
    push->setDefault(dump);
    buttons->addWidget(push);
    connect(push, &QPushButton::clicked, this, [this, button] { Choose(button); });
  }
  outer->addLayout(buttons);

  // Ctrl+C counts anywhere in the window, in a text field too, so every child sees the
  // key handler before its own (a field would otherwise take it as "copy").
  installEventFilter(this);
  for (QWidget* child : findChildren<QWidget*>()) child->installEventFilter(this);
}

void QtMainWindow::AddBatchHelp(QGridLayout* grid) {
  // Row 0 holds the column headings, each over the switch of the batch lines that it names;
  // rows 1 and 2 the lines, one cell per switch.
  const int first_line = MainWindowModel::kFirstHelpLine + 1;
  std::vector<std::string> columns;
  for (int line = 0; line < 2; ++line) {
    const int index = first_line + line;
    const std::vector<std::string> cells = MainWindowModel::HelpLineCells(model_.Info(index));
    QLabel* lead = MakeInfo(model_, index, this);
    lead->setText(Q(cells.front()));
    grid->addWidget(lead, line + 1, 0);
    for (size_t c = 1; c < cells.size(); ++c) {
      auto* cell = new QLabel(Q(cells[c]), this);
      cell->setTextFormat(Qt::PlainText);
      cell->setObjectName(ControlName("lblInfo", index) + "/" + Q(cells[c].substr(1, 1)).toUpper());
      grid->addWidget(cell, line + 1, static_cast<int>(c));
    }
    if (line == 0) columns = cells;
  }
  for (int h = 0; h < MainWindowModel::kHeadingCount; ++h) {
    QLabel* heading = MakeInfo(model_, MainWindowModel::kFirstHeading + h, this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    grid->addWidget(heading, 0, std::max(0, MainWindowModel::HeadingColumn(h, columns)));
  }
  grid->setColumnStretch(static_cast<int>(columns.size()), 1);
}

void QtMainWindow::Browse() {
  const QString chosen = choose_file_(this, fields_[MainWindowModel::kDumpFile]->text());
  if (!chosen.isEmpty()) fields_[MainWindowModel::kDumpFile]->setText(chosen);
  fields_[MainWindowModel::kDumpFile]->setFocus(Qt::OtherFocusReason);
}

void QtMainWindow::ShowModal() { exec(); }

void QtMainWindow::reject() {
  // Closing the window or Escape is Cancel.
  if (!model_.hidden()) model_.Press(FormButton::kCancel);
  QDialog::reject();
}

void QtMainWindow::Choose(FormButton button) {
  model_.Press(button);
  FinishIfHidden();
}

void QtMainWindow::FinishIfHidden() {
  if (!model_.hidden()) {
    // A command that was not taken: say why and go to the field it needs.
    notice_->setText(Q(model_.notice()));
    notice_->setVisible(!model_.notice().empty());
    if (!model_.notice().empty()) fields_[model_.FocusTarget()]->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (model_.command() == Command::kNone) {
    QDialog::reject();
  } else {
    accept();
  }
}

void QtMainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Once the window is up, as on activation.
  QTimer::singleShot(0, this, [this] {
    QLineEdit* target = fields_[model_.FocusTarget()];
    activateWindow();
    target->setFocus(Qt::OtherFocusReason);
  });
}

bool QtMainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    const int code =
        CharCodeOf(key->key(), key->modifiers().testFlag(Qt::ControlModifier), key->text());
    if (model_.KeyPress(code)) {
      FinishIfHidden();
      return true;
    }
  } else if (event->type() == QEvent::FocusIn) {
    for (int i = 0; i < MainWindowModel::kFieldCount; ++i) {
      if (watched != fields_[i]) continue;
      // After the click that brought the focus has placed the cursor.
      QLineEdit* field = fields_[i];
      QTimer::singleShot(0, field, [this, field, i] {
        const FieldSelection selection = model_.SelectionOnFocus(i);
        if (field->hasFocus()) field->setSelection(selection.start, selection.length);
      });
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace cubesec
