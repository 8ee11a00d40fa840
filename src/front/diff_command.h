#pragma once
// `cubesec --diff OLD NEW` and `cubesec --diff FILE --server S --user U`: the security diff
// as a command, with diff(1)'s exit statuses.

#include <iosfwd>
#include <string>
#include <vector>

#include "client/esb_api.h"
#include "front/run_parameters.h"
#include "tools/platform.h"

namespace cubesec {

/// Exit statuses of a diff.
inline constexpr int kDiffSame = 0;
inline constexpr int kDiffDifferent = 1;
inline constexpr int kDiffTrouble = 2;  // a file unreadable or unsound, a part naming nothing,
                                        // or a server that could not be read

/// Compares `files[0]` with `files[1]`, or, with one file, that file with what the server of
/// `params` holds now, read as a dump reads it, in memory (through `api`). The differences go
/// to `out`; a file's problems as --check prints them.
int DiffCommand(Platform& platform, EsbApi& api, const std::vector<std::string>& files,
                const RunParameters& params, bool all, std::ostream& out, std::ostream& err);

}  // namespace cubesec
