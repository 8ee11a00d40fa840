// The entry points of the window module. Everything else in it stays hidden, so its copies
// of the model and the helpers never stand in for the program's.
#include <type_traits>

#include "front/qt_session.h"
#include "front/window_module.h"

#define CUBESEC_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

CUBESEC_MODULE_EXPORT const char* cubesec_window_module_version() { return CUBESEC_VERSION; }

CUBESEC_MODULE_EXPORT cubesec::InteractiveSession* cubesec_make_window_session(
    cubesec::Platform* platform, const char* program_name, int argc, char** argv,
    std::string* why) {
  // The signature is checked against the one the program calls through.
  static_assert(
      std::is_same_v<decltype(&cubesec_make_window_session), cubesec::MakeWindowSessionFunction>);
  static_assert(std::is_same_v<decltype(&cubesec_window_module_version),
                               cubesec::WindowModuleVersionFunction>);
  return cubesec::MakeQtSession(*platform, program_name, argc, argv, why).release();
}
