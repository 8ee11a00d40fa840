#pragma once
// The cubesec-sim command line: create, load, export, list, delete and generate simulated
// servers in one folder.

#include <iosfwd>
#include <string>
#include <vector>

namespace cubesec::sim {

inline constexpr int kToolOk = 0;
inline constexpr int kToolFailed = 1;
inline constexpr int kToolUsage = 2;

/// Runs one command (`args` without the program name) on the servers of `folder`.
/// Returns 0 on success, 1 when the command failed, 2 for a wrong command line.
int RunSimTool(const std::vector<std::string>& args, const std::string& folder, std::istream& in,
               std::ostream& out, std::ostream& err);

}  // namespace cubesec::sim
