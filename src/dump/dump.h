#pragma once
// The dump: one writer per block of the dump file. Each reads the run state and writes
// through RunState::WriteDumpLine; a failed call is checked with CheckStatus.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "client/run_state.h"

namespace cubesec {

/// A user or group with some access to an application, and its own application access.
struct AccessHolder {
  std::string name;
  uint16_t app_access = 0;
};

/// The server block (nothing when the state cannot be read).
void WriteServerBlock(RunState& state);
/// The block that closes a complete dump: "End: complete".
void WriteEndBlock(RunState& state);
class SessionPool;

/// Groups, users and applications with their databases: with more than one session
/// (RunState::sessions) filled by sessions at once through one pool, whose sessions log in
/// once for the whole dump.
void WriteSecurityBlocks(RunState& state);
/// One block per group, in name order; `pool`: as WriteNamedBlocks.
void WriteGroupBlocks(RunState& state, SessionPool* pool = nullptr);
/// One block per user, in name order.
void WriteUserBlocks(RunState& state, SessionPool* pool = nullptr);
/// One group's or user's block.
void WriteGroupBlock(RunState& state, const std::string& group);
void WriteUserBlock(RunState& state, const std::string& user);
/// Writes one block per name with `write`, telling the progress of `phase` ("groups",
/// "users") name by name; with more than one session (RunState::sessions) the names are
/// filled by sessions at once (WriteNamedBlocksInSessions), through `pool` when given.
using NamedBlockWriter = std::function<void(RunState& state, const std::string& name)>;
void WriteNamedBlocks(RunState& state, std::string_view phase,
                      const std::vector<std::string>& names, const NamedBlockWriter& write,
                      SessionPool* pool = nullptr);
/// One block per application, each followed by its databases' blocks. With more than one
/// session (RunState::sessions) the databases are filled by sessions at once, through `pool`
/// when given.
void WriteApplicationBlocks(RunState& state, SessionPool* pool = nullptr);
/// The pieces of it: the applications' names, one application's block, its databases' names.
std::vector<std::string> ReadApplicationNames(RunState& state);
void WriteApplicationBlock(RunState& state, const std::string& app);
std::vector<std::string> ReadDatabaseNames(RunState& state, const std::string& app);
/// The database blocks of one application, each followed by its filter and access blocks;
/// the progress names each database as part of application `app_number` of `app_count`.
void WriteDatabaseBlocks(RunState& state, const std::string& app, int app_number = 0,
                         int app_count = 0);
/// One database's block, then its filter and access blocks; `holders` hands out the access
/// holders of the application when the access blocks need them.
void WriteDatabaseBlock(RunState& state, const std::string& app, const std::string& db,
                        const std::function<const std::vector<AccessHolder>&()>& holders);
void WriteFilterBlocks(RunState& state, const std::string& app, const std::string& db);

/// Every holder of access to `app`, in name order. They belong to the application, so the
/// database blocks read them once for all its databases.
std::vector<AccessHolder> ReadAccessHolders(RunState& state, const std::string& app);
/// The access blocks of one database for the holders of its application.
void WriteAccessBlocks(RunState& state, const std::string& app, const std::string& db,
                       const std::vector<AccessHolder>& holders);
/// The same, reading the holders first.
void WriteAccessBlocks(RunState& state, const std::string& app, const std::string& db);

/// The application blocks of `apps` with their databases, filled by RunState::sessions
/// sessions at once, each working on whole databases; one writer hands them to the dump
/// file in the file's order, so the file and the run log are those of one session. A
/// failure ends the dump as in one session: the blocks before it in the file are written,
/// the sessions working further on stop at their next call, and every session logs out.
void WriteApplicationBlocksInSessions(RunState& state, const std::vector<std::string>& apps,
                                      SessionPool* pool);
/// The same for the blocks of `names` (groups or users): runs of consecutive names are the
/// sessions' units.
void WriteNamedBlocksInSessions(RunState& state, std::string_view phase,
                                const std::vector<std::string>& names,
                                const NamedBlockWriter& write, SessionPool* pool);

}  // namespace cubesec
