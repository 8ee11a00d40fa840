#pragma once
// The window as a module of its own, loaded only when a window is to be shown, so that batch
// runs and the terminal form need no display libraries. The program and the module meet at
// the two symbols below, and nowhere else.

#include <memory>
#include <string>

#include "front/interactive.h"
#include "tools/platform.h"

namespace cubesec {

/// Its version, which must be the program's: the session crosses over as a C++ object.
inline constexpr char kWindowModuleVersionSymbol[] = "cubesec_window_module_version";
using WindowModuleVersionFunction = const char* (*)();

/// Makes the window session (owned by the caller), or returns nullptr with `why` set.
inline constexpr char kMakeWindowSessionSymbol[] = "cubesec_make_window_session";
using MakeWindowSessionFunction = InteractiveSession* (*)(Platform* platform,
                                                          const char* program_name, int argc,
                                                          char** argv, std::string* why);

/// Where the module of the program at `executable_path` lies: `relative_path` taken from the
/// program's folder.
std::string WindowModulePath(const std::string& executable_path, const std::string& relative_path);

/// The window session from the module at `module_path`, or nullptr. `why` stays empty when
/// no module is installed there, and otherwise says why there is no window: the module does
/// not load, is of another version, or finds no display it can open.
std::unique_ptr<InteractiveSession> LoadWindowSession(Platform& platform,
                                                      const std::string& module_path,
                                                      const std::string& program_name, int argc,
                                                      char** argv, std::string* why);

}  // namespace cubesec
