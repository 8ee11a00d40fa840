#pragma once
// The dump: one writer per block of the dump file. Each reads the run state and writes
// through RunState::WriteDumpLine; a failed call is checked with CheckStatus.

#include <cstdint>
#include <string>
#include <vector>

#include "client/run_state.h"

namespace cubesec {

/// The server block (nothing when the state cannot be read).
void WriteServerBlock(RunState& state);
/// One block per group, in name order.
void WriteGroupBlocks(RunState& state);
/// One block per user, in name order.
void WriteUserBlocks(RunState& state);
/// One block per application, each followed by its databases' blocks.
void WriteApplicationBlocks(RunState& state);
/// The database blocks of one application, each followed by its filter and access blocks.
void WriteDatabaseBlocks(RunState& state, const std::string& app);
void WriteFilterBlocks(RunState& state, const std::string& app, const std::string& db);

/// A user or group with some access to an application, and its own application access.
struct AccessHolder {
  std::string name;
  uint16_t app_access = 0;
};
/// Every holder of access to `app`, in name order. They belong to the application, so the
/// database blocks read them once for all its databases.
std::vector<AccessHolder> ReadAccessHolders(RunState& state, const std::string& app);
/// The access blocks of one database for the holders of its application.
void WriteAccessBlocks(RunState& state, const std::string& app, const std::string& db,
                       const std::vector<AccessHolder>& holders);
/// The same, reading the holders first.
void WriteAccessBlocks(RunState& state, const std::string& app, const std::string& db);

}  // namespace cubesec
