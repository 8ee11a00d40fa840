#include "front/change_watch.h"

#include <string_view>

namespace cubesec {

EsbStatus ChangeWatch::Intercept(const char* name, const std::function<EsbStatus()>& call) {
  const std::string_view call_name(name);
  // Reads are EsbGet*, EsbList*, EsbVerify* and the session calls; every other kind of call
  // writes.
  for (std::string_view writes : {"EsbSet", "EsbCreate", "EsbAdd", "EsbDelete"}) {
    if (call_name.starts_with(writes)) changed_ = true;
  }
  return call();
}

}  // namespace cubesec
