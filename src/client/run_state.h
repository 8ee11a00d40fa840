#pragma once
// The state of one run, owned by the run driver and passed by reference to every dump,
// restore and reset routine: the log, the parameters, the client handles and the open files.
// A session of a run that works with several has one of its own. The restore keeps its own
// state beside it (restore/restore_state.h).

#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/call_check.h"
#include "client/run_log.h"
#include "tools/files.h"
#include "tools/platform.h"

namespace cubesec {

/// Where a run stands: the phase, the item at hand counted from 1 within it, and the
/// phase's total when it is known.
struct RunProgress {
  std::string_view phase;  // "groups", "users", "applications", "blocks", ...
  int done = 0;            // the item at hand, counted from 1
  int total = 0;           // items of the phase; 0 while unknown
  std::string_view item;   // the item's name where it helps ("Sample:Basic"), else empty
};

/// Watches a run: its progress, its run log lines, and the user's wish to stop it.
/// Interactive runs show progress in their window or form, batch runs on a terminal; the
/// default watches nothing. Every call comes from the run's own thread.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  /// The run moved on; called for every item, so a view shows only as often as it likes.
  virtual void OnProgress(const RunProgress& progress) { (void)progress; }
  /// A line was appended to the run log; `shown` is the line as it may be shown where
  /// others can read it (a temporary password left out).
  virtual void OnLogLine(std::string_view shown) { (void)shown; }
  /// Lets a window process its pending events; called often, not necessarily per line.
  virtual void PumpEvents() {}
  /// True once the user asked the run to stop (a window's Cancel). A dump stops before its
  /// next line as an interrupted one does, a restore between two blocks; a reset has no
  /// point to stop at and goes on.
  virtual bool CancelRequested() { return false; }
};

/// What a run writes while it works apart from the run's own files (a session of a dump
/// filling a database's blocks): its dump lines, log lines and block starts, in the order
/// made, so that they can be handed to the run's files later as if made there.
struct CapturedOutput {
  enum class Kind { kDumpLine, kLogLine, kBlock };
  struct Item {
    Kind kind;
    std::string text;
    std::string shown;  // of a log line that holds a secret (RunState::Log): what is shown
  };
  std::vector<Item> items;
};

struct RunState {
  /// The dump file is handed to the OS in blocks of whole lines of about this size.
  static constexpr size_t kDumpBlockBytes = 64 * 1024;

  RunState(Platform& platform_in, EsbApi& api);

  Platform& platform;
  ClientContext client;
  RunObserver* observer = nullptr;  // never null during a run: the driver sets one
  bool interactive = false;         // parameters came from the window or terminal form
  bool reset_confirmed = false;     // the reset was confirmed on the command line

  RunLog run_log;  // opened by the driver before the command starts
  std::string dump_file;
  std::string server;
  std::string user;
  std::string password;

  int sessions = 1;                      // sessions a dump works with at once
  CapturedOutput* capture = nullptr;     // when set, output goes there instead of the files
  std::unique_ptr<LineWriter> dump_out;  // the dump file being written
  std::unique_ptr<LineReader> dump_in;   // the dump file being restored
  // A plan: the lines that the restore's routines log are gathered here instead of the run
  // log (they would tell of changes that were not made). Null in every other run.
  std::vector<std::string>* diverted_log = nullptr;
  // A read of the server as a dump reads it, kept in memory: the dump's lines go here
  // instead of dump_file. Null in every other run.
  std::string* dump_text = nullptr;
  int blocks = 0;  // blocks written or read so far

  // Dump: the groups of the group list (lower-cased), which tell a supervisor group's access
  // block from a user's.
  std::set<std::string> dumped_groups;
  // Dump: the lines written to the dump file.
  int dump_lines = 0;
  // The program's standard streams, for a dump file named "-"; null where there are none.
  std::ostream* standard_output = nullptr;
  std::istream* standard_input = nullptr;

  /// Appends one line to the run log (RunLog::Write), or to where a capture or a plan
  /// diverts it.
  void Log(std::string_view line);
  /// The same for a line that holds a secret (a temporary password): the observer, which
  /// may show log lines where others read them, gets `shown` instead.
  void Log(std::string_view line, std::string_view shown);
  /// Raises error 62 when the platform noted an interrupt or the user asked to cancel: a
  /// dump stops there as a failed one does, keeping what it wrote apart.
  void StopDumpIfAsked();
  /// Hands the dump lines gathered so far to the OS; raises error 57 when that fails.
  void FlushDump();
  /// Appends one line to dump_out, opening dump_file when dump_out is not set yet. A failed
  /// write raises error 57 "Cannot write dump file '<path>': <reason>"; an interrupt that
  /// the platform noted raises error 62.
  void WriteDumpLine(std::string_view line);
  /// Counts a block.
  void BeginBlock(std::string_view key_word);
  /// Tells the observer where the run stands. Only the run's own thread reports: a session
  /// of a dump (which has no observer) reports nothing.
  void ReportProgress(std::string_view phase, int done, int total, std::string_view item = {});
  /// Hands output captured elsewhere to this run's files, in its order.
  void Replay(const CapturedOutput& output);
  /// Reads the next line of the dump file being restored; false at its end.
  bool ReadDumpLine(std::string& line);
  /// Reads the next key line of the dump file being restored: false at an empty key, and
  /// before a head line, which starts the next block even without an empty line before it
  /// (it is left for ReadDumpLine).
  bool ReadKeyLine(std::string& key, std::string& value);

  /// Lines written or read since the observer last pumped events.
  int lines_since_pump = 0;

 private:
  void CountLineAndPump();
  std::optional<std::string> head_line_;  // a head line that ended a block, not yet read
};

}  // namespace cubesec
