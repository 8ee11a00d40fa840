#pragma once
// The names of a dump file's head lines and list values, read as the file's format has them.
// A file of the current format quotes every name that the bare form cannot carry, so its
// names read one way only. In an older file names are bare: a list is split at its
// separator and neighbouring pieces are joined again wherever the joined text names a group
// or user of an earlier head line of the same file (the check refuses a file in which that
// could be read two ways).

#include <string>
#include <string_view>
#include <vector>

#include "client/dump_format.h"
#include "restore/restore_state.h"

namespace cubesec {

/// The name on a head line (or an access block's "Filter:" line).
std::string HeadName(const RestoreFileState& file, std::string_view value);

/// The name and markers of a "User" head line.
UserHead UserHeadOf(const RestoreFileState& file, std::string_view value);

/// A user's "Groups:" value.
std::vector<std::string> SplitGroupsValue(const RestoreFileState& file, std::string_view value);

/// A filter's "Users:" value (users and groups).
std::vector<std::string> SplitUsersValue(const RestoreFileState& file, std::string_view value);

/// An access block's "Calcs:" value other than "<All>". In an older file a calc script's
/// name may hold "," (`Alloc,Q1`); one that holds ", " cannot be told from two.
std::vector<std::string> SplitCalcsValue(const RestoreFileState& file, std::string_view value);

/// The names of an older file's list split at `separator`, pieces joined again where the
/// joined text is one of `known` (lower-cased); the longest such run from each piece on is
/// one name. Runs hold at most `most` pieces (no known name is cut into more), so the time
/// grows with the list's length. Empty names are dropped.
std::vector<std::string> SplitAndRejoin(std::string_view value, std::string_view separator,
                                        const std::set<std::string>* known, size_t most);

}  // namespace cubesec
