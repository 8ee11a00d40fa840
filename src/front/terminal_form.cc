#include "front/terminal_form.h"

#include <string>

#include "tools/text.h"

namespace cubesec {
namespace {

constexpr std::string_view kCommandPrompt =
    "Command (D = %1, R = %2, C = Reset Security, Enter = %3): ";

// The letters that the command prompt takes (upper-cased), and the command each one chooses.
Command CommandOfAnswer(std::string_view answer) {
  constexpr std::pair<std::string_view, Command> kAnswers[] = {
      {"D", Command::kDump}, {"R", Command::kRestore}, {"C", Command::kReset}};
  for (const auto& [letter, command] : kAnswers) {
    if (answer == letter) return command;
  }
  return Command::kNone;
}

// Asks for one field until it holds text. False when the input ended.
bool AskField(MainWindowModel& model, int index, TerminalIo& io) {
  const std::string name = PlainCaption(MainWindowModel::FieldLabel(index));
  const bool secret = index == MainWindowModel::kPassword;
  for (;;) {
    const std::string& current = model.Field(index);
    const std::string prompt =
        current.empty() || secret ? name + ": " : name + " [" + current + "]: ";
    std::string answer;
    if (secret) {
      if (!io.ReadSecretLine(prompt, answer)) return false;
    } else {
      io.Write(prompt);
      if (!io.ReadLine(answer)) return false;
    }
    // The typed Enter was not echoed either.
    if (secret) io.Write("\n");
    if (!answer.empty()) model.SetField(index, answer);
    if (!model.Field(index).empty()) return true;
    io.Write(name + " is needed.\n");
  }
}

}  // namespace

void RunTerminalForm(MainWindowModel& model, TerminalIo& io, const TerminalFormRequest& request) {
  if (request.error.empty()) {
    io.Write(std::string(MainWindowModel::kTitle) + "\n\n");
    for (int i = 0; i < MainWindowModel::kHelpLineCount; ++i) {
      io.Write(model.Info(MainWindowModel::kFirstHelpLine + i) + "\n");
    }
  } else {
    io.Write(ReplaceAll(request.error, "\r\n", "\n") + "\n");
  }
  io.Write("\n");

  for (int i : request.fields) {
    if (!AskField(model, i, io)) {
      io.Write("\n");
      model.Press(FormButton::kCancel);
      return;
    }
  }

  // The command already chosen is what Enter means; without one, Enter cancels, and says so.
  const Command chosen = request.chosen;
  const FormButton enter = chosen == Command::kDump      ? FormButton::kDumpIt
                           : chosen == Command::kRestore ? FormButton::kRestoreIt
                                                         : FormButton::kCancel;
  const std::string enter_caption = chosen == Command::kReset
                                        ? std::string("Reset Security")
                                        : PlainCaption(MainWindowModel::ButtonCaption(enter));
  const std::string prompt = FormatMsg(
      kCommandPrompt,
      {PlainCaption(MainWindowModel::ButtonCaption(FormButton::kDumpIt)),
       PlainCaption(MainWindowModel::ButtonCaption(FormButton::kRestoreIt)), enter_caption});
  while (!model.hidden()) {
    io.Write(prompt);
    std::string answer;
    if (!io.ReadLine(answer)) {
      io.Write("\n");
      model.Press(FormButton::kCancel);
      return;
    }
    const std::string choice = ToUpper(Trim(answer));
    const Command command = choice.empty() ? chosen : CommandOfAnswer(choice);
    if (choice.empty() && command == Command::kNone) {
      io.Write("Cancelled: nothing was run.\n");
      model.Press(FormButton::kCancel);
    } else if (command == Command::kDump) {
      model.Press(FormButton::kDumpIt);
    } else if (command == Command::kRestore) {
      model.Press(FormButton::kRestoreIt);
    } else if (command == Command::kReset) {
      // The reset has no button: it is the window's Ctrl+C.
      model.KeyPress(MainWindowModel::kResetKey);
    } else {
      io.Write(chosen == Command::kNone
                   ? "Please answer D, R or C, or press Enter to cancel.\n"
                   : "Please answer D, R or C, or press Enter for " + enter_caption + ".\n");
    }
    if (!model.hidden() && !model.notice().empty()) {
      // The command needs a field that was not asked (a dump file after a reset was chosen
      // on the command line): ask it, then the command again.
      io.Write(model.notice() + "\n");
      if (!AskField(model, model.FocusTarget(), io)) {
        io.Write("\n");
        model.Press(FormButton::kCancel);
        return;
      }
    }
  }
}

}  // namespace cubesec
