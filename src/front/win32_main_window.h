#pragma once
// The main window frmQMX as a native Win32 window that the toolkit-free model drives.

#include "front/main_window_model.h"

namespace cubesec {

/// Shows the window modally until a button, Ctrl+C, Escape or closing the window ends the
/// dialogue; the model then holds the command and the fields. False when the window could
/// not be created (no desktop to show it on).
bool ShowWin32MainWindow(MainWindowModel& model);

}  // namespace cubesec
