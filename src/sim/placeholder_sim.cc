// Temporary body until the simulated server lands.
#include <stdexcept>

#include "sim/sim_api.h"

namespace cubesec::sim {
std::string ServerFolder(Platform&) { return {}; }
std::unique_ptr<EsbApi> MakeSimulatedApi(std::string) {
  throw std::runtime_error("simulated server is not built yet");
}
}  // namespace cubesec::sim
