#pragma once
// The whole-file check of a dump file as a run uses it: before a restore logs in, and alone
// for `cubesec --check FILE`.

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "client/run_state.h"
#include "restore/dump_check.h"
#include "tools/files.h"

namespace cubesec {

/// The dump file of a restore, read whole and checked. A file with errors has its problems
/// logged and raises error 60: nothing has been sent to any server. nullptr when the file
/// is missing or unreadable, which the restore reports itself. `warnings` receives the
/// problems of a sound file, for the restore's log.
/// `text`, when given, receives the text read.
std::unique_ptr<LineReader> ReadCheckedDumpFile(RunState& state, std::vector<DumpProblem>& warnings,
                                                std::string* text = nullptr);

/// Logs the first 20 of `problems` on tab-led lines, then how many more there are.
void LogDumpProblems(RunState& state, const std::vector<DumpProblem>& problems);

/// The dump text of `file`, or all of `in` when `file` is "-". False (with `error`: "is a
/// folder", the system's reason) when it cannot be read.
bool ReadDumpText(Platform& platform, const std::string& file, std::istream& in, std::string& text,
                  std::string* error);

/// `cubesec --check FILE` ("-": standard input): no login; the report on `out` and in the
/// run log. 0 when the file is sound (warnings allowed), 1 otherwise or when it cannot be
/// read, 2 when the run log cannot take the check's first line (nothing was checked).
int CheckDumpFileCommand(Platform& platform, const std::string& file, std::istream& in,
                         std::ostream& out, std::ostream& err);

}  // namespace cubesec
