#pragma once
// Which Qt platform can show the window on this machine. Qt ends the whole process when its
// platform cannot reach the display, so the display is opened once, and closed again, before
// Qt starts; where that fails the program asks on the terminal instead.

#include <string>

#include "tools/platform.h"

namespace cubesec {

/// The value for Qt's "-platform" option. A QT_QPA_PLATFORM that names no display server
/// (offscreen, vnc, ...) is taken as it stands; otherwise the entries of QT_QPA_PLATFORM
/// (default "wayland;xcb") whose display can be opened now, in their order. Empty when none
/// can: `why` then says, for each, what failed.
std::string UsableQtPlatforms(Platform& platform, std::string* why);

}  // namespace cubesec
