#include "front/interactive.h"

#include "front/terminal_session.h"
#if CUBESEC_HAVE_QT
#include "front/qt_session.h"
#endif
#if CUBESEC_HAVE_WIN32_WINDOW
#include "front/win32_session.h"
#endif

namespace cubesec {

std::unique_ptr<InteractiveSession> MakeInteractiveSession(Platform& platform,
                                                           const std::string& program_name,
                                                           int argc, char** argv) {
#if CUBESEC_HAVE_WIN32_WINDOW
  (void)argc;
  (void)argv;
  if (platform.HasDisplay()) return MakeWin32Session(platform, program_name);
#elif CUBESEC_HAVE_QT
  if (platform.HasDisplay()) return MakeQtSession(platform, program_name, argc, argv);
#else
  (void)argc;
  (void)argv;
#endif
  if (platform.StdinIsTerminal()) return MakeTerminalSession(platform, program_name);
  return nullptr;
}

}  // namespace cubesec
