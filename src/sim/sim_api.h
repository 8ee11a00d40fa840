#pragma once
// The simulated server: an implementation of the client API that keeps each server in its
// own SQLite file, <folder>/<lower-cased name>.sqlite, and the operations of its tool.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/esb_api.h"
#include "sim/password_hash.h"
#include "tools/platform.h"

namespace cubesec::sim {

/// The folder of the servers: $CUBESEC_SIM_DIR, else $XDG_DATA_HOME/cubesec/servers, else
/// ~/.local/share/cubesec/servers.
std::string ServerFolder(Platform& platform);

/// The client API served by the simulated servers in `folder`.
std::unique_ptr<EsbApi> MakeSimulatedApi(std::string folder);

/// A client API whose every server name reaches one server held in memory, built from a
/// fixture (the JSON format of `LoadFixture`). Throws std::invalid_argument naming the
/// fixture's first problem.
std::unique_ptr<EsbApi> MakeInMemoryApi(const std::string& fixture_json);

class Store;

/// A server held in memory, built once from a fixture, that can be brought back to the state
/// it was built with as often as needed at the cost of one copy of its pages, where building
/// it again would parse the fixture and fill every table (the fuzzers do this before every
/// input).
class ResettableServer {
 public:
  /// Throws std::invalid_argument naming the fixture's first problem.
  explicit ResettableServer(const std::string& fixture_json);
  ~ResettableServer();
  ResettableServer(const ResettableServer&) = delete;
  ResettableServer& operator=(const ResettableServer&) = delete;

  /// Brings the server back to its built state and returns a new client API on it, every
  /// server name reaching it. APIs handed out before must no longer be used.
  std::unique_ptr<EsbApi> Reset();
  /// True while the server's pages are byte for byte those it was built with.
  bool Unchanged();

 private:
  std::string built_pages_;  // the built server's pages, loaded by every Reset()
  std::shared_ptr<Store> live_;
};

/// True when `name` can name a server: 1 to 100 letters, digits, '.', '_' or '-', not
/// beginning with '.'.
bool IsValidServerName(const std::string& name);

/// <folder>/<lower-cased name>.sqlite
std::string ServerPath(const std::string& folder, const std::string& name);

// The operations below return an empty text on success and the reason otherwise.

/// Replaces server `name` (creating it when missing) with the fixture's content. The
/// fixture is checked first; on any problem nothing is changed. `password_iterations`, when
/// given, replaces the fixture's count (or the default).
std::string LoadFixture(const std::string& folder, const std::string& name,
                        const std::string& fixture_json,
                        std::optional<uint32_t> password_iterations = std::nullopt);

/// Writes the server's content, passwords excepted, as a fixture.
std::string ExportServer(const std::string& folder, const std::string& name, std::string* json);

/// Creates an empty server with one supervisor; fails when the server exists.
std::string InitServer(const std::string& folder, const std::string& name, const std::string& admin,
                       const std::string& password,
                       uint32_t password_iterations = kDefaultPasswordIterations);

struct ServerSummary {
  std::string name;
  int64_t users = 0;
  int64_t groups = 0;
  int64_t applications = 0;
  int64_t databases = 0;
  int64_t filters = 0;
};

/// The servers of the folder in name order (none when the folder does not exist).
std::string ListServers(const std::string& folder, std::vector<ServerSummary>* servers);

/// Deletes the server's file and its journal files.
std::string DeleteServer(const std::string& folder, const std::string& name);

/// Replaces server `name` with the synthetic server of `scale` (the same content for the
/// same scale); `admin_password` receives the fresh password of its supervisor `admin`.
/// The password's letters come from the platform's secure random source.
std::string GenerateServer(Platform& platform, const std::string& folder, const std::string& name,
                           int scale, std::string* admin_password,
                           uint32_t password_iterations = kDefaultPasswordIterations);

}  // namespace cubesec::sim
