#pragma once
// The restore: one reader per block of the dump file, each reading the lines of its own
// block from RunState::dump_in and returning at the block's end, with the restore's state
// beside the run's; the dispatch of a file's blocks to them; and the security reset.

#include <cstddef>
#include <string>

#include "client/run_state.h"
#include "restore/dump_model.h"
#include "restore/restore_state.h"

namespace cubesec {

void RestoreServerState(RunState& state, RestoreState& restore);
void RestoreGroup(RunState& state, RestoreState& restore, const std::string& name);
/// `head_value` is the "User" head line's value: the name, possibly followed by markers.
void RestoreUser(RunState& state, RestoreState& restore, const std::string& head_value);
/// The run log's line of a user that the run created with temporary password `password`.
void LogCreatedUser(RunState& state, const std::string& name, const std::string& password);
void RestoreApplication(RunState& state, RestoreState& restore, const std::string& name);
void RestoreDatabase(RunState& state, RestoreState& restore, const std::string& name);
void RestoreFilter(RunState& state, RestoreState& restore, const std::string& name);
void RestoreAccess(RunState& state, RestoreState& restore, const std::string& name);

/// A restore limited to parts (--only): the use of each block, taken one per head line.
struct LimitedBlocks {
  PartSelection selection;
  size_t next = 0;
};

/// Hands the head line `line` to the routine of its block kind. Lines that begin with a
/// blank are detail lines that no routine took (a block that its routine passed over, or
/// one of an unknown kind); they are dropped, and so is a head line of a key word that no
/// routine knows.
void DispatchLine(RunState& state, RestoreState& restore, const std::string& line);

/// Hands every block of the open dump file to its restore routine; with `limited`, only as
/// much of each block as the parts take. On the run's own thread (an observer is set) each
/// head line reports the progress, and a cancel asked for stops the restore there, between
/// two blocks, with error 62 "Restore cancelled after block N of M".
void ApplyBlocks(RunState& state, RestoreState& restore, LimitedBlocks* limited);

/// The blocks of a dump file's text: its head lines, split into lines as the restore reads
/// them.
int CountBlocks(std::string_view text);

/// At a block's head line on the run's own thread: stops a restore whose cancel was asked
/// for (every block before it is applied whole) and reports the block at hand.
void BetweenBlocks(RunState& state, RestoreFileState& file, std::string_view head_line);

/// Raises error 62 "Restore cancelled after block N of M", N the blocks applied so far.
[[noreturn]] void StopCancelledRestore(const RestoreFileState& file);

/// The same for a whole file with RunState::sessions sessions: the server, group and user
/// blocks in order in the run's own session, then the applications' and databases' blocks
/// by all sessions at once, whole applications and databases as units, each in file order.
/// The run log gets every line in the file's order and the target ends as after one
/// session. A failure ends the restore as in one session: the units before it in the file
/// are logged whole, the sessions working further on stop at their next call, and every
/// session logs out.
void ApplyBlocksInSessions(RunState& state, RestoreState& restore);

/// What a security reset came to.
struct ResetResult {
  bool confirmed = false;  // false: the user declined and nothing was deleted
  int failures = 0;        // deletions, or lists of them, that failed (each logged NOT deleted)
};

/// Asks for confirmation, then deletes every user but the logged-in one, every group and
/// every filter, passing over a deletion that fails. Raises error 53 when nobody can be
/// asked.
ResetResult ResetSecurity(RunState& state);

}  // namespace cubesec
