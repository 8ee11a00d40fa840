#include "front/dump_file_check.h"

#include <istream>
#include <iterator>
#include <ostream>

#include "front/command_line.h"
#include "front/program.h"
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
  if (state.dump_file == "-" && state.standard_input != nullptr) {
    // The check and the restore see the bytes as they are, line ends and all.
    state.platform.UseBinaryMode(StandardStream::kInput);
    if (!ReadDumpText(state.platform, state.dump_file, *state.standard_input, text, nullptr))
      return nullptr;
  } else if (!FileExists(state.platform, state.dump_file) ||
             !ReadWholeFile(state.platform, state.dump_file, text)) {
    return nullptr;
  }
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
  if (text_out) *text_out = text;
  return LineReader::OfText(std::move(text));
}

bool ReadDumpText(Platform& platform, const std::string& file, std::istream& in, std::string& text,
                  std::string* error) {
  if (file != "-") return ReadWholeFile(platform, file, text, error);
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    if (error) *error = "standard input could not be read";
    return false;
  }
  return true;
}

int CheckDumpFileCommand(Platform& platform, const std::string& file, std::istream& in,
                         std::ostream& out, std::ostream& err) {
  const std::string program = ProgramNameOf(platform.ExecutablePath());
  const std::string shown_file = file == "-" ? std::string("standard input") : file;
  // As for a run: a check whose log cannot take its first line does not start.
  RunLog log(platform);
  try {
    log.Open(/*secrets=*/false);
    log.Write(FormatMsg("%1%2Checking dump file %3", {NowText(platform), "\t", shown_file}));
  } catch (const RunError& error) {
    err << program << ": " << error.description() << "; nothing was run\n";
    return kExitUsage;
  }

  std::vector<std::string> lines;
  std::string text, read_error;
  int status = kExitSuccess;
  if (file == "-") platform.UseBinaryMode(StandardStream::kInput);
  if (!ReadDumpText(platform, file, in, text, &read_error)) {
    const std::string message =
        FormatMsg("Cannot read dump file '%1': %2", {shown_file, read_error});
    err << program << ": " << message << "\n";
    lines.push_back(FormatMsg("%1Error: %2%3", {"\t", message, "\r\n"}));
    status = kExitFailed;
  } else {
    const std::vector<DumpProblem> problems = CheckDumpFile(text);
    const bool sound = ErrorCount(problems) == 0;
    const std::string verdict = FormatMsg(sound ? "%1 is sound (%2)" : "%1 cannot be restored (%2)",
                                          {shown_file, ProblemCounts(problems)});
    for (const DumpProblem& problem : problems) out << DescribeProblem(problem) << "\n";
    out << verdict << "\n";
    lines = ProblemLogLines(problems);
    lines.push_back(FormatMsg("%1%2%3%4", {NowText(platform), "\t", verdict, "\r\n"}));
    status = sound ? kExitSuccess : kExitFailed;
  }
  try {
    for (const std::string& line : lines) log.Write(line);
  } catch (const RunError& error) {
    err << program << ": " << error.description() << "\n";
    return kExitFailed;
  }
  return status;
}

}  // namespace cubesec
