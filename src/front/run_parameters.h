#pragma once
// The five run parameters.

#include <string>
#include <vector>

namespace cubesec {

/// Sessions of a dump: at most kMaxSessions; kDefaultSessions when the command line names
/// none. One until the fault sweep and the kill test prove several sessions as they prove
/// one.
inline constexpr int kMaxSessions = 16;
inline constexpr int kDefaultSessions = 1;

struct RunParameters {
  std::string command;  // "D" dump, "R" restore, "C" security reset, "P" restore plan, "S"
                        // the server read in memory for a diff; empty: none chosen
  std::string dump_file;
  std::string server;
  std::string user;
  std::string password;
  bool reset_confirmed = false;     // the reset goes ahead without asking (--yes)
  int sessions = 0;                 // sessions of a dump (--sessions); 0: the default
  std::vector<std::string> only{};  // --only parts ("app=NAME", "server", ...); empty: all

  /// All a run needs is given. A reset reads and writes no dump file, so it needs none.
  bool Complete() const {
    return !command.empty() && (!dump_file.empty() || command == "C") && !server.empty() &&
           !user.empty() && !password.empty();
  }
};

}  // namespace cubesec
