#pragma once
// The five run parameters.

#include <string>
#include <vector>

namespace cubesec {

/// Sessions of a dump or a restore: at most kMaxSessions; kDefaultSessions when the command
/// line names none. Measured at scale 1 on a two-core machine, paired runs, medians: on the
/// local simulated server 8 sessions took 0.72 of one session's time for a dump, and a
/// restore 1.14 to 1.15 of it with 2, 4 or 8 sessions alike (client and server share the
/// processors there); with 500 us a call, 0.17 for a dump and 0.28 for a restore. 16 was
/// slower than one locally in some pairs of an earlier measure.
inline constexpr int kMaxSessions = 16;
inline constexpr int kDefaultSessions = 8;

/// What one run does.
enum class Command {
  kNone,        // none chosen yet
  kDump,        // the server's security into the dump file
  kRestore,     // the dump file onto the server
  kReset,       // the server's security reset
  kPlan,        // what a restore would change, changing nothing
  kReadServer,  // the server's security read into memory, for a diff
};

/// Whether `command` reads or writes a dump file: every command but the reset, which only
/// deletes on the server.
inline bool NeedsDumpFile(Command command) { return command != Command::kReset; }

struct RunParameters {
  Command command = Command::kNone;
  std::string dump_file;
  std::string server;
  std::string user;
  std::string password;
  bool reset_confirmed = false;     // the reset goes ahead without asking (--yes)
  int sessions = 0;                 // sessions of a dump or restore (--sessions); 0: the default
  std::vector<std::string> only{};  // --only parts ("app=NAME", "server", ...); empty: all

  /// All a run needs is given.
  bool Complete() const {
    return command != Command::kNone && (!dump_file.empty() || !NeedsDumpFile(command)) &&
           !server.empty() && !user.empty() && !password.empty();
  }
};

}  // namespace cubesec
