#pragma once
// The simulated server: an implementation of the client API that keeps each server in its
// own SQLite file, <folder>/<lower-cased name>.sqlite.

#include <memory>
#include <string>

#include "client/esb_api.h"
#include "tools/platform.h"

namespace cubesec::sim {

/// The folder of the servers: $CUBESEC_SIM_DIR, else $XDG_DATA_HOME/cubesec/servers, else
/// ~/.local/share/cubesec/servers.
std::string ServerFolder(Platform& platform);

/// The client API served by the simulated servers in `folder`.
std::unique_ptr<EsbApi> MakeSimulatedApi(std::string folder);

}  // namespace cubesec::sim
