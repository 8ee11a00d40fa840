#pragma once
// frmQMX as a Qt Widgets dialog. It only shows the model: every choice (focus, selection,
// which key or button sets which command) is the model's.
//
// Child widgets carry the control names as objectName, control arrays with their index in
// parentheses: "txtParm(0)" .. "txtParm(3)", "lblParm(0)" .. "lblParm(3)", "lblInfo(0)" ..
// "lblInfo(11)", and "cmdDumpIt", "cmdRestoreIt", "cmdCancel", "Line1", "Line2"; "lblNotice"
// tells why a command was not taken, "cmdBrowse" chooses the dump file. The batch help lines
// lblInfo(5) and (6) stand in a grid under the column headings: lblInfo(5) holds what comes
// before the switches, "lblInfo(5)/D" .. "lblInfo(5)/P" each switch.

#include <QDialog>
#include <QString>
#include <array>
#include <functional>

#include "front/main_window_model.h"

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace cubesec {

class QtMainWindow : public QDialog {
  Q_OBJECT

 public:
  /// Builds the window from `model`, which must outlive it.
  explicit QtMainWindow(MainWindowModel& model, QWidget* parent = nullptr);

  /// Shows the window modally until a button, Ctrl+C or closing it ends the dialogue.
  void ShowModal();

  /// "txtParm(2)" and the like.
  static QString ControlName(const char* array, int index);

  /// Asks for a dump file, starting from `current`; an empty result keeps the field.
  using FileChooser = std::function<QString(QWidget* parent, const QString& current)>;
  /// Replaces the system's file dialog that "Browse..." opens (tests choose without one).
  void SetFileChooser(FileChooser chooser) { choose_file_ = std::move(chooser); }

  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Choose(FormButton button);
  void FinishIfHidden();
  void Browse();
  void AddBatchHelp(QGridLayout* grid);

  MainWindowModel& model_;
  std::array<QLineEdit*, MainWindowModel::kFieldCount> fields_{};
  QLabel* notice_ = nullptr;
  FileChooser choose_file_;
};

/// The character code of a key press as the window's key handler sees it: Ctrl+letter
/// gives its control code (Ctrl+C is 3), other keys the first character of their text.
int CharCodeOf(int qt_key, bool control, const QString& text);

}  // namespace cubesec
