#pragma once
// The main window as a form on the terminal, for machines without a display: the batch
// help, one prompt per field with its default, the password unseen, then the command.

#include "front/main_window_model.h"
#include "front/terminal_io.h"

namespace cubesec {

/// Shows `model` on `io` until the user has chosen a command or cancelled; the model
/// decides what each answer means. An empty answer keeps a field's default; a field that
/// would stay empty is asked again, since no run can go ahead without it. The end of
/// input cancels.
void RunTerminalForm(MainWindowModel& model, TerminalIo& io);

}  // namespace cubesec
