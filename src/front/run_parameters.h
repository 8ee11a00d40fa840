#pragma once
// The five run parameters.

#include <string>
#include <vector>

namespace cubesec {

/// Sessions of a dump or a restore: at most kMaxSessions; kDefaultSessions when the command
/// line names none. The default is the most that made neither a dump nor a restore of the
/// local simulated server slower than one session in any of the runs measured (scale 1,
/// paired runs on a loaded two-core machine: 8 sessions took 0.87 of one session's time for a
/// dump and 0.91 for a restore, medians; 16 was slower than one in some pairs).
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
