#pragma once
// The interactive session of a Windows desktop: the main window as a native dialog, the
// progress window, and message boxes with MessageBoxA.

#include <memory>
#include <string>

#include "front/interactive.h"

namespace cubesec {

/// Returns the session and installs its message-box presenter on `platform` for as long as
/// the session lives.
std::unique_ptr<InteractiveSession> MakeWin32Session(Platform& platform,
                                                     const std::string& program_name);

}  // namespace cubesec
