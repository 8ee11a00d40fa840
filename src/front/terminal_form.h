#pragma once
// The main window as a form on the terminal, for machines without a display: the batch
// help, one prompt per field with its default, the password unseen, then the command.

#include <string_view>

#include "front/main_window_model.h"
#include "front/terminal_io.h"

namespace cubesec {

/// Shows `model` on `io` until the user has chosen a command or cancelled; the model
/// decides what each answer means. An empty answer keeps a field's default; a field that
/// would stay empty is asked again, since no run can go ahead without it. At the command
/// prompt Enter takes `chosen` ("D", "R", "C": the command line's), or, without one,
/// cancels and says so. The end of input cancels.
void RunTerminalForm(MainWindowModel& model, TerminalIo& io, std::string_view chosen = {});

}  // namespace cubesec
