#pragma once
// The main window as a form on the terminal, for machines without a display: the batch
// help, one prompt per field that is still to be given, the password unseen, then the
// command.

#include <string>
#include <string_view>
#include <vector>

#include "front/main_window_model.h"
#include "front/terminal_io.h"

namespace cubesec {

/// What the form asks for, and why it is shown.
struct TerminalFormRequest {
  /// The command already chosen (the command line's, or the one that failed), which Enter
  /// at the command prompt takes; kNone when none was.
  Command chosen = Command::kNone;
  /// The fields to ask for (MainWindowModel indexes), in this order.
  std::vector<int> fields;
  /// Why the form is shown again (a run that failed before it changed anything); empty the
  /// first time, when the title and the batch help are shown instead.
  std::string error;
};

/// Shows `model` on `io` until the user has chosen a command or cancelled; the model
/// decides what each answer means. Each field of `request` is asked with its current text
/// as the default; a field that would stay empty is asked again, since no run can go ahead
/// without it. At the command prompt Enter takes the chosen command, or, without one,
/// cancels and says so. The end of input cancels.
void RunTerminalForm(MainWindowModel& model, TerminalIo& io, const TerminalFormRequest& request);

}  // namespace cubesec
