#include "sim/status_codes.h"

namespace cubesec::sim {

std::string StatusMessage(EsbStatus status, std::string_view subject) {
  for (const StatusText& entry : kStatusTable) {
    if (entry.status != status) continue;
    std::string text(entry.text);
    size_t at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, subject);
    return text;
  }
  return "Unknown status " + std::to_string(status);
}

}  // namespace cubesec::sim
