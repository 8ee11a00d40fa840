#pragma once
// The behaviour of the main window frmQMX without any toolkit: its fields, captions, focus
// target, selection and the command that its buttons and keys choose. The Qt view and the
// terminal form both show this model and let it decide.

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "front/run_parameters.h"
#include "tools/platform.h"

namespace cubesec {

/// The three buttons of the window.
enum class FormButton { kDumpIt, kRestoreIt, kCancel };

/// A selection in a text field: `length` characters from `start`.
struct FieldSelection {
  int start = 0;
  int length = 0;
};

class MainWindowModel {
 public:
  // Indexes of txtParm.
  static constexpr int kDumpFile = 0;
  static constexpr int kServer = 1;
  static constexpr int kUser = 2;
  static constexpr int kPassword = 3;
  static constexpr int kFieldCount = 4;
  /// lblInfo(0..3) are the hints of txtParm(0..3), (4..7) the batch help lines, (8..11)
  /// the column headings.
  static constexpr int kInfoCount = 12;
  static constexpr int kFirstHelpLine = 4;
  static constexpr int kHelpLineCount = 4;
  static constexpr int kFirstHeading = 8;
  static constexpr int kHeadingCount = 4;
  /// The character code of Ctrl+C, the key of the security reset.
  static constexpr int kResetKey = 3;

  /// Initialises the form: the captions with `program_name` in place of "%1", the fields
  /// from `params` completed by the client's default server and user, the dump file field
  /// (when empty) from the default server + ".DAT", and an empty password field.
  MainWindowModel(Platform& platform, const std::string& program_name, const RunParameters& params);

  static constexpr std::string_view kTitle = "Dumps/Rebuilds Essbase Security";
  /// The window's word on its reset key, which elsewhere is the copy key.
  static constexpr std::string_view kResetKeyHelp =
      "Ctrl+C here does not copy: it starts Reset Security, which deletes all other users, "
      "all groups and all security filters once its warning is answered Yes.";

  /// Caption of lblParm(index), with its access key ("&Dump File: ").
  static std::string_view FieldLabel(int index);
  /// Caption of a button, with its access key.
  static std::string_view ButtonCaption(FormButton button);
  /// objectName of a button ("cmdDumpIt", ...).
  static std::string_view ButtonName(FormButton button);
  /// A batch help line cut into the cells of a grid: what stands before the first switch
  /// ("Dump Security: cubesec"), then each switch ("/Ddumpfile", "/Sservername", ...).
  static std::vector<std::string> HelpLineCells(std::string_view line);
  /// The cell of `cells` (HelpLineCells of the dump's batch line) that the heading
  /// lblInfo(kFirstHeading + `heading`) stands over: "Server" over "/Sservername", ...,
  /// "Dump File" over "/Ddumpfile". -1 when the line has no such switch.
  static int HeadingColumn(int heading, const std::vector<std::string>& cells);

  /// Caption of lblInfo(index), "%1" already replaced.
  const std::string& Info(int index) const { return info_.at(index); }

  const std::string& Field(int index) const { return fields_.at(index); }
  void SetField(int index, std::string text) { fields_.at(index) = std::move(text); }

  /// On activation: the first empty field of the dump file, server and user; the password
  /// field when all three hold text.
  int FocusTarget() const;
  /// What a field selects when it gets the focus: its whole text.
  FieldSelection SelectionOnFocus(int index) const;

  /// A button was pressed: it chooses the command and hides the window. A command that a
  /// field it needs leaves empty starts nothing: the window stays, notice() names the
  /// field and FocusTarget() is that field. Cancel always hides.
  void Press(FormButton button);
  /// A key with character code `char_code` was pressed anywhere in the window, a text
  /// field included. True when the model took it (Ctrl+C: the security reset, under the
  /// same rule as the buttons).
  bool KeyPress(int char_code);
  /// Why the last command was not taken; empty when it was, or before any.
  const std::string& notice() const { return notice_; }
  /// The first field that `command` needs and that is empty, or -1. A reset reads and
  /// writes no dump file, so it needs only the server, user and password fields.
  int FirstEmptyFieldFor(Command command) const;

  /// The fields that `params` leaves empty, in the window's order: what is still to be
  /// asked. A reset's dump file is never missing, since a reset reads and writes none.
  static std::vector<int> MissingFields(const RunParameters& params);

  /// Shows the form again after a run that failed before it changed anything: `message`
  /// (the run's error) is the notice and `field`, the one to mend, gets the focus.
  void ShowRunError(int field, std::string message);

  /// The command property: a dump, a restore, a reset, or none.
  Command command() const { return command_; }
  /// True once a button or the reset key has ended the dialogue.
  bool hidden() const { return hidden_; }
  /// True when the user chose a command (an empty command means no run).
  bool WantsRun() const { return hidden_ && command_ != Command::kNone; }
  /// The run parameters read back from the form: the command and the four fields.
  RunParameters Result() const;

 private:
  std::array<std::string, kFieldCount> fields_;
  std::array<std::string, kInfoCount> info_;
  // Chooses `command` when its fields are filled, else tells which one is not.
  void Choose(Command command);

  Command command_ = Command::kNone;
  bool hidden_ = false;
  std::string notice_;
  int refused_field_ = -1;  // the empty field of the last command that was not taken
};

/// A caption without its access-key marker, its blanks at both ends and a closing colon:
/// "Dump &File: " gives "Dump File"; "&&" stands for "&".
std::string PlainCaption(std::string_view caption);

}  // namespace cubesec
