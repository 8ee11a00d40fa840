#include "front/diff_command.h"

#include <optional>
#include <ostream>

#include "front/command_line.h"
#include "front/run_driver.h"
#include "restore/dump_check.h"
#include "restore/dump_diff.h"
#include "tools/files.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// One side of the diff read into a model; nullopt, with what was wrong printed, when the
// text cannot be read or fails the check.
std::optional<DumpModel> ModelOf(const std::string& name, const std::string& text,
                                 std::ostream& out) {
  const std::vector<DumpProblem> problems = CheckDumpFile(text);
  if (ErrorCount(problems) > 0) {
    for (const DumpProblem& problem : problems) out << DescribeProblem(problem) << "\n";
    out << FormatMsg("%1 cannot be restored (%2)", {name, ProblemCounts(problems)}) << "\n";
    return std::nullopt;
  }
  return ReadDumpModel(text);
}

}  // namespace

int DiffCommand(Platform& platform, EsbApi& api, const std::vector<std::string>& files,
                const RunParameters& params, bool all, std::ostream& out, std::ostream& err) {
  const std::string program = ProgramNameOf(platform.ExecutablePath());
  DiffOptions options;
  options.all = all;
  for (const std::string& given : params.only) {
    std::string error;
    std::optional<DumpPart> part = ParseDumpPart(given, &error);
    if (!part) {
      err << program << ": " << error << "\n";
      return kDiffTrouble;
    }
    options.parts.push_back(*part);
  }

  std::vector<std::string> names = files;
  std::vector<std::string> texts(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    if (!FileExists(platform, files[i]) || !ReadWholeFile(platform, files[i], texts[i])) {
      err << program << ": cannot read dump file '" << files[i] << "'\n";
      return kDiffTrouble;
    }
  }
  if (files.size() == 1) {
    // The server, read by the dump's own writers into memory: no file, no backups.
    RunParameters read = params;
    read.command = Command::kReadServer;
    RunState state(platform, api);
    std::string text;
    state.dump_text = &text;
    const RunOutcome outcome = CarryOutRun(state, read);
    if (!outcome.completed) {
      if (outcome.error) {
        err << program << ": Error: " << outcome.error->number() << " - "
            << ReplaceAll(outcome.error->description(), "\r\n", "\n") << "\n";
      }
      if (!outcome.log_failure.empty()) err << program << ": " << outcome.log_failure << "\n";
      err << program << ": run log: " << state.run_log.path() << "\n";
      return kDiffTrouble;
    }
    names.push_back("server " + params.server);
    texts.push_back(std::move(text));
  }

  std::vector<DumpModel> models;
  for (size_t i = 0; i < 2; ++i) {
    std::optional<DumpModel> model = ModelOf(names[i], texts[i], out);
    if (!model) return kDiffTrouble;
    models.push_back(std::move(*model));
  }
  for (const std::string& part : params.only) {
    std::optional<DumpPart> parsed = ParseDumpPart(part, nullptr);
    if (PartsNamingNothing(models[0], {*parsed}).empty() ||
        PartsNamingNothing(models[1], {*parsed}).empty()) {
      continue;
    }
    err << program << ": --only " << part << " names nothing in " << names[0] << " or " << names[1]
        << "\n";
    return kDiffTrouble;
  }
  const std::vector<std::string> lines = DiffDumps(models[0], models[1], options);
  for (const std::string& line : lines) out << line << "\n";
  return lines.empty() ? kDiffSame : kDiffDifferent;
}

}  // namespace cubesec
