#pragma once
// The name lists of a dump file's values. Names may hold the separators themselves, so a
// list is split at its separator and then neighbouring pieces are joined again wherever the
// joined text names a group or user of an earlier head line of the same file.

#include <string>
#include <string_view>
#include <vector>

#include "client/run_state.h"

namespace cubesec {

/// A user's "Groups:" value: split at ",", pieces trimmed, rejoined as above.
std::vector<std::string> SplitGroupsValue(const RunState& state, std::string_view value);

/// A filter's "Users:" value (users and groups): split at ", ", rejoined as above.
std::vector<std::string> SplitUsersValue(const RunState& state, std::string_view value);

/// An access block's "Calcs:" value: split at ", ", pieces trimmed. A calc script's name
/// may hold "," (`Alloc,Q1`); one that holds ", " cannot be told from two.
std::vector<std::string> SplitCalcsValue(std::string_view value);

}  // namespace cubesec
