// The whole-file check of a dump file, alone (no server): any bytes are checked, and what the
// check reports must hold up. Every problem names a line of the input and quotes it exactly as
// a restore splits the file; problems come in line order; no message holds a control
// character, nor does the full report of one problem per input, which begins with its line
// number; the counts agree with the list.
//
// The check keeps no state between calls (each builds its own checker): checking the same
// bytes twice here would cost a third of the rate and find nothing. The restore target checks
// each of its files twice, its own verdict and the run's, and those must agree.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "client/dump_format.h"
#include "fuzz_check.h"
#include "restore/dump_check.h"
#include "tools/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cubesec;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::vector<DumpProblem> problems = CheckDumpFile(text);

  // A text without a line (empty, or a byte order mark alone) is one error, on line 1.
  if (LineSplitter(text).AtEnd()) {
    FUZZ_CHECK(problems.size() == 1 && problems[0].line == 1 && !problems[0].warning);
    return 0;
  }
  // The lines and the problems are walked together: both come in line order.
  LineSplitter splitter(text);
  std::string_view line;
  int number = 0;
  size_t errors = 0;
  for (const DumpProblem& problem : problems) {
    FUZZ_CHECK(problem.line >= 1 && problem.line >= number);
    while (number < problem.line) {
      FUZZ_CHECK(splitter.Next(line));  // else the problem names a line past the end
      ++number;
    }
    FUZZ_CHECK(problem.text == line);
    FUZZ_CHECK(!problem.message.empty());
    // A report goes to a terminal and into the run log: no byte of the file may reach them as
    // a control character. The line is shown with them as \xNN; the message must hold none.
    FUZZ_CHECK(!HasControlCharacter(problem.message));
    errors += problem.warning ? 0 : 1;
  }
  // The report itself, of one problem per input (picked by the input's size, so that every
  // place in the list has its turn): it begins with its line number and holds no control
  // character. Describing every problem would take a third of the rate.
  if (!problems.empty()) {
    const DumpProblem& problem = problems[size % problems.size()];
    const std::string description = DescribeProblem(problem);
    char prefix[32];
    const int length = std::snprintf(prefix, sizeof prefix, "Line %d: ", problem.line);
    FUZZ_CHECK(description.starts_with(std::string_view(prefix, length)));
    FUZZ_CHECK(!HasControlCharacter(description));
  }
  FUZZ_CHECK(ErrorCount(problems) == errors);
  FUZZ_CHECK((ProblemCounts(problems) == "no problems") == problems.empty());
  return 0;
}
