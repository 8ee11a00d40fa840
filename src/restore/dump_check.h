#pragma once
// The whole-file check of a dump file, made before a restore changes anything: every line is
// an empty line, a head line of a known key word, or a detail line whose key belongs to its
// block; every access level, yes/no and number parses; every block that a restore applies
// has the lines it needs. It needs no server, so the restore, `--check` and the fuzzer share
// it, and a file that fails it changes nothing anywhere.

#include <string>
#include <string_view>
#include <vector>

namespace cubesec {

struct DumpProblem {
  int line = 0;          // counted from 1, after a byte order mark
  std::string text;      // the line as it stands
  std::string message;   // what is wrong with it
  bool warning = false;  // a restore still reads the file as meant
};

/// Every problem of `file_text`, in line order. Lines are split as a restore reads them.
std::vector<DumpProblem> CheckDumpFile(std::string_view file_text);

/// The format of a dump file: the number on its server block's "Format:" line, or 1 for a
/// file without one.
int DumpFileFormat(std::string_view file_text);

/// The number of problems that are errors, not warnings.
size_t ErrorCount(const std::vector<DumpProblem>& problems);

/// One problem for a report: `Line 12: "   Access: read": "read" is no access level`. The
/// line is shown with control characters as \xNN and cut when long.
std::string DescribeProblem(const DumpProblem& problem);

/// "3 errors, 1 warning", "1 error", "no problems".
std::string ProblemCounts(const std::vector<DumpProblem>& problems);

}  // namespace cubesec
