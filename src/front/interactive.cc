#include "front/interactive.h"

#include "front/terminal_session.h"
#if CUBESEC_WINDOW_MODULE
#include "front/window_module.h"
#endif
#if CUBESEC_HAVE_WIN32_WINDOW
#include "front/win32_session.h"
#endif

namespace cubesec {

std::unique_ptr<InteractiveSession> MakeInteractiveSession(Platform& platform,
                                                           const std::string& program_name,
                                                           int argc, char** argv,
                                                           std::string* no_window) {
#if CUBESEC_HAVE_WIN32_WINDOW
  (void)argc;
  (void)argv;
  (void)no_window;
  if (platform.HasDisplay()) return MakeWin32Session(platform, program_name);
#elif CUBESEC_WINDOW_MODULE
  if (platform.HasDisplay()) {
    const std::string module_path =
        WindowModulePath(platform.ExecutablePath(), CUBESEC_WINDOW_MODULE_FROM_BIN);
    std::string why;
    if (auto window = LoadWindowSession(platform, module_path, program_name, argc, argv, &why)) {
      return window;
    }
    if (no_window != nullptr) *no_window = why;
  }
#else
  (void)argc;
  (void)argv;
  (void)no_window;
#endif
  if (platform.StdinIsTerminal()) return MakeTerminalSession(platform, program_name);
  return nullptr;
}

}  // namespace cubesec
