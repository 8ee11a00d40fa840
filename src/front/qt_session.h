#pragma once
// The interactive session of a machine with a display: the Qt window, the progress window,
// and Qt message boxes.

#include <memory>
#include <string>

#include "front/interactive.h"

namespace cubesec {

/// Starts the Qt application (unless one runs already) and returns the session. Qt sees
/// only the program's own name and the platform that can reach the display as its command
/// line: the arguments are cubesec's, so an argument such as "-platform" never changes how
/// Qt starts. Installs the Qt message-box presenter on `platform` for as long as the session
/// lives. nullptr, with `why` set, when no display can be opened.
std::unique_ptr<InteractiveSession> MakeQtSession(Platform& platform,
                                                  const std::string& program_name, int argc,
                                                  char** argv, std::string* why);

}  // namespace cubesec
