#pragma once
// The restore: one reader per block of the dump file, each reading the lines of its own
// block from RunState::dump_in and returning at the block's end; and the security reset.

#include <string>

#include "client/run_state.h"

namespace cubesec {

void RestoreServerState(RunState& state);
void RestoreGroup(RunState& state, const std::string& name);
/// `head_value` is the "User" head line's value: the name, possibly followed by markers.
void RestoreUser(RunState& state, const std::string& head_value);
void RestoreApplication(RunState& state, const std::string& name);
void RestoreDatabase(RunState& state, const std::string& name);
void RestoreFilter(RunState& state, const std::string& name);
void RestoreAccess(RunState& state, const std::string& name);

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
