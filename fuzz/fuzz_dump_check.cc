// The whole-file check of a dump file, alone (no server): any bytes are checked, and what the
// check reports must hold up. Every problem names a line of the input and quotes it exactly as
// a restore splits the file; problems come in line order; the counts agree with the list;
// checking the same bytes again gives the same report.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "restore/dump_check.h"
#include "tools/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cubesec;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<DumpProblem> problems = CheckDumpFile(text);

  std::vector<std::string_view> lines;
  lines.reserve(64);
  LineSplitter splitter(text);
  for (std::string_view line; splitter.Next(line);) lines.push_back(line);

  int previous = 0;
  size_t errors = 0;
  for (const DumpProblem& problem : problems) {
    FUZZ_CHECK(problem.line >= 1 && static_cast<size_t>(problem.line) <= lines.size());
    FUZZ_CHECK(problem.text == lines[problem.line - 1]);
    FUZZ_CHECK(problem.line >= previous);
    FUZZ_CHECK(!problem.message.empty());
    char prefix[32];
    const int length = std::snprintf(prefix, sizeof prefix, "Line %d: ", problem.line);
    FUZZ_CHECK(DescribeProblem(problem).starts_with(std::string_view(prefix, length)));
    previous = problem.line;
    errors += problem.warning ? 0 : 1;
  }
  FUZZ_CHECK(ErrorCount(problems) == errors);
  FUZZ_CHECK((ProblemCounts(problems) == "no problems") == problems.empty());

  const std::vector<DumpProblem> again = CheckDumpFile(text);
  FUZZ_CHECK(again.size() == problems.size());
  for (size_t i = 0; i < again.size(); ++i) {
    FUZZ_CHECK(again[i].line == problems[i].line && again[i].message == problems[i].message);
  }
  return 0;
}
