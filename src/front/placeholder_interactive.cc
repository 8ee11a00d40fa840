// Temporary until the window and the terminal form land: nothing can be shown.
#include "front/interactive.h"

namespace cubesec {
std::unique_ptr<InteractiveSession> MakeInteractiveSession(Platform&, const std::string&, int,
                                                           char**) {
  return nullptr;
}
}  // namespace cubesec
