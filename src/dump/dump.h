#pragma once
// The dump: one writer per block of the dump file. Each reads the run state and writes
// through RunState::WriteDumpLine; a failed call is checked with CheckStatus.

#include <string>

#include "client/run_state.h"

namespace cubesec {

/// The server block (nothing when the state cannot be read).
void WriteServerBlock(RunState& state);
/// The block that closes a complete dump: "End: complete".
void WriteEndBlock(RunState& state);
/// One block per group, in name order.
void WriteGroupBlocks(RunState& state);
/// One block per user, in name order.
void WriteUserBlocks(RunState& state);
/// One block per application, each followed by its databases' blocks.
void WriteApplicationBlocks(RunState& state);
/// The database blocks of one application, each followed by its filter and access blocks.
void WriteDatabaseBlocks(RunState& state, const std::string& app);
void WriteFilterBlocks(RunState& state, const std::string& app, const std::string& db);
void WriteAccessBlocks(RunState& state, const std::string& app, const std::string& db);

}  // namespace cubesec
