#include "front/dump_file_check.h"

#include <ostream>

#include "front/command_line.h"
#include "front/run_outcome.h"
#include "tools/dates.h"
#include "tools/text.h"

namespace cubesec {
namespace {

constexpr size_t kProblemsLogged = 20;

// The run log's lines for `problems`: the first 20, then how many more there are.
std::vector<std::string> ProblemLogLines(const std::vector<DumpProblem>& problems) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < problems.size() && i < kProblemsLogged; ++i) {
    lines.push_back("\t" + DescribeProblem(problems[i]));
  }
  if (problems.size() > kProblemsLogged) {
    lines.push_back("\t... and " + std::to_string(problems.size() - kProblemsLogged) + " more");
  }
  return lines;
}

}  // namespace

void LogDumpProblems(RunState& state, const std::vector<DumpProblem>& problems) {
  for (const std::string& line : ProblemLogLines(problems)) state.Log(line);
}

std::unique_ptr<LineReader> ReadCheckedDumpFile(RunState& state, std::vector<DumpProblem>& warnings,
                                                std::string* text_out) {
  std::string text;
  if (!FileExists(state.dump_file) || !ReadWholeFile(state.dump_file, text)) return nullptr;
  std::vector<DumpProblem> problems = CheckDumpFile(text);
  if (ErrorCount(problems) > 0) {
    state.Log(FormatMsg("%1%2Checking dump file %3 before restoring it to %4",
                        {NowText(state.platform), "\t", state.dump_file, state.server}));
    LogDumpProblems(state, problems);
    throw RunError(kErrorUnsoundDumpFile,
                   FormatMsg("The dump file '%1' has %2; nothing was restored",
                             {state.dump_file, ProblemCounts(problems)}));
  }
  warnings = std::move(problems);
  state.dump_format = DumpFileFormat(text);
  if (text_out) *text_out = text;
  return LineReader::OfText(std::move(text));
}

int CheckDumpFileCommand(Platform& platform, const std::string& file, std::ostream& out,
                         std::ostream& err) {
  const std::string program = ProgramNameOf(platform.ExecutablePath());
  std::string text;
  if (!FileExists(file) || !ReadWholeFile(file, text)) {
    err << program << ": cannot read dump file '" << file << "'\n";
    return 1;
  }
  const std::vector<DumpProblem> problems = CheckDumpFile(text);
  const bool sound = ErrorCount(problems) == 0;
  const std::string verdict = FormatMsg(sound ? "%1 is sound (%2)" : "%1 cannot be restored (%2)",
                                        {file, ProblemCounts(problems)});
  for (const DumpProblem& problem : problems) out << DescribeProblem(problem) << "\n";
  out << verdict << "\n";

  const std::string log_path = DecideRunLogPath(platform);
  if (log_path.empty()) {
    err << program << ": there is no place for the run log\n";
    return 1;
  }
  LineWriter log(platform, log_path, /*owner_only=*/true);
  std::vector<std::string> lines = {
      FormatMsg("%1%2Checking dump file %3", {NowText(platform), "\t", file})};
  const std::vector<std::string> listed = ProblemLogLines(problems);
  lines.insert(lines.end(), listed.begin(), listed.end());
  lines.push_back(FormatMsg("%1%2%3%4", {NowText(platform), "\t", verdict, "\r\n"}));
  for (const std::string& line : lines) {
    if (!log.Append(line)) {
      err << program << ": the run log could not be written: " << log.error() << "\n";
      return 1;
    }
  }
  return sound ? 0 : 1;
}

}  // namespace cubesec
