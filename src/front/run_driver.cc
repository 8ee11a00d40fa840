#include "front/run_driver.h"

#include <cstdio>
#include <memory>

#include "client/client_settings.h"
#include "client/dump_format.h"
#include "client/plan_view.h"
#include "dump/dump.h"
#include "front/change_watch.h"
#include "front/command_line.h"
#include "front/dump_file_check.h"
#include "restore/dump_model.h"
#include "restore/name_lists.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/dates.h"
#include "tools/files.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// A failure that is no RunError (out of memory, a broken invariant of a library) still
// ends the run through the closing step, under this number.
constexpr int kErrorUnexpected = 1;
constexpr int kBackupGenerations = 5;

class SilentObserver : public RunObserver {};

// Starts the client and logs in; `refused_login` gets the status of a login that the server
// refused.
void StartClient(RunState& state, EsbStatus* refused_login) {
  ClientContext& client = state.client;
  uint32_t version = 0;
  client.version_status = client.api->EsbGetAPIVersion(&version);
  client.api_version = version;
  if (client.instance == 0) CheckStatus(client, "EsbInit", InitAPI(client, state.platform));
  if (client.context == 0) {
    uint16_t app_count = 0;
    EsbHandle context = 0;
    const EsbStatus status = client.api->EsbLogin(client.instance, state.server, state.user,
                                                  state.password, &app_count, &context);
    // A failed login hands out no context, whatever the library left in the variable.
    if (status == 0) client.context = context;
    *refused_login = status;
    CheckStatus(client, "EsbLogin", status);
  }
}

std::string StartLine(RunState& state, const char* tmpl) {
  return FormatMsg(tmpl, {NowText(state.platform), "\t", state.server, state.dump_file});
}

std::string EndLine(RunState& state, const char* tmpl) {
  // The line break at the end leaves an empty line after each run in the log.
  return FormatMsg(tmpl, {NowText(state.platform), "\t", state.server, state.dump_file, "\r\n"});
}

// The dump file name that stands for standard output (a dump) or standard input (a restore).
constexpr std::string_view kStandardStream = "-";

// `--dump -`: the lines go to standard output as they are written, for a pipe. There is no
// file to keep older copies of, no temporary file to rename, and nothing to keep of a dump
// that did not end: what reached the pipe is the reader's.
void DumpToStandardOutput(RunState& state) {
  if (state.standard_output == nullptr) {
    throw RunError(kErrorFileIo, "Cannot write dump file '-': there is no standard output");
  }
  state.Log(StartLine(state, "%1%2Creating security dump of %3 to %4"));
  // The lines end in CR LF as in a file; a text-mode stream would add a CR of its own.
  state.platform.UseBinaryMode(StandardStream::kOutput);
  state.dump_out = std::make_unique<LineWriter>(
      state.platform, "standard output", std::make_unique<StreamAppendFile>(*state.standard_output),
      RunState::kDumpBlockBytes);
  WriteServerBlock(state);
  WriteSecurityBlocks(state);
  WriteEndBlock(state);
  state.FlushDump();
  state.dump_out.reset();
  state.Log(EndLine(state, "%1%2Completed security dump of %3 to %4%5"));
}

// Opens a new temporary file beside the dump file for the dump to write into. It is
// created as a new file, so that nothing is ever written through an existing file or link.
void BeginDumpFile(RunState& state) {
  constexpr int kAttempts = 8;
  std::string error;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    uint32_t random = 0;
    if (!state.platform.SecureRandom(&random, sizeof random)) random = attempt;
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random));
    auto writer = std::make_unique<LineWriter>(state.platform, state.dump_file + suffix,
                                               /*owner_only=*/false, RunState::kDumpBlockBytes);
    if (writer->CreateNew()) {
      state.dump_out = std::move(writer);
      return;
    }
    error = writer->error();
  }
  throw RunError(kErrorFileIo,
                 FormatMsg("Cannot write dump file '%1': %2", {state.dump_file, error}));
}

// The dump is whole: the previous file becomes the first backup and the new one takes its
// name. Until here the previous dump and its backups stay as they were.
void CommitDumpFile(RunState& state) {
  state.FlushDump();
  const std::string temporary = state.dump_out->path();
  state.dump_out->Close();
  std::string error;
  if (!RotateBackups(state.platform, state.dump_file, kBackupGenerations, &error)) {
    throw RunError(kErrorFileIo, FormatMsg("Cannot set the previous dump file '%1' aside: %2",
                                           {state.dump_file, error}));
  }
  if (!RenameFile(state.platform, temporary, state.dump_file, &error)) {
    throw RunError(kErrorFileIo,
                   FormatMsg("Cannot write dump file '%1': %2", {state.dump_file, error}));
  }
  state.dump_out.reset();
}

// A dump that did not end keeps what it wrote under a name of its own, never the dump
// file's: a restore of a prefix would apply part of the security as if it were all of it.
void KeepIncompleteDump(RunState& state, const RunError& error) {
  const std::string temporary = state.dump_out->path();
  state.dump_out->Close();
  state.dump_out.reset();
  const std::string kept = IncompleteName(state.dump_file);
  std::string why;
  if (RenameFile(state.platform, temporary, kept, &why)) {
    state.Log(FormatMsg("%1The dump is incomplete (%2); what was written is kept as '%3'",
                        {"\t", error.description(), kept}));
  } else {
    state.Log(FormatMsg("%1The dump is incomplete (%2); what was written is kept as '%3' (%4)",
                        {"\t", error.description(), temporary, why}));
  }
}

void DumpRun(RunState& state) {
  if (state.dump_file == kStandardStream) return DumpToStandardOutput(state);
  state.Log(StartLine(state, "%1%2Creating security dump of %3 to %4"));
  BeginDumpFile(state);
  // An interrupt ends the dump between two lines, so that what was written can be kept.
  state.platform.CatchInterrupts();
  WriteServerBlock(state);
  WriteSecurityBlocks(state);
  WriteEndBlock(state);
  state.platform.StopCatchingInterrupts();
  CommitDumpFile(state);
  state.Log(EndLine(state, "%1%2Completed security dump of %3 to %4%5"));
}

// Opens the dump file of a restore or a plan: the very text that was checked. `checked` is
// nullptr when the check could not read the file.
void OpenDumpToApply(RunState& state, std::unique_ptr<LineReader> checked) {
  if (!checked && !FileExists(state.platform, state.dump_file)) {
    throw RunError(kErrorDumpFileNotFound,
                   FormatMsg("Security Dump File (%1) Not Found", {state.dump_file}));
  }
  state.dump_in =
      checked ? std::move(checked) : std::make_unique<LineReader>(state.platform, state.dump_file);
  if (!state.dump_in->is_open()) {
    throw RunError(kErrorFileIo, FormatMsg("Cannot read dump file '%1'", {state.dump_file}));
  }
}

// The decisions of a restore limited to `only`, made on the checked text; nullopt for a
// restore of the whole file.
std::optional<LimitedBlocks> LimitTo(RestoreFileState& file, const std::vector<std::string>& only,
                                     const std::string& text) {
  if (only.empty()) return std::nullopt;
  std::vector<DumpPart> parts;
  for (const std::string& given : only) {
    std::string error;
    std::optional<DumpPart> part = ParseDumpPart(given, &error);
    if (!part) throw RunError(kErrorSyntax, error);
    parts.push_back(*part);
  }
  LimitedBlocks limited{SelectParts(ReadDumpModel(text), parts)};
  file.part_groups = limited.selection.groups;
  return limited;
}

void RestoreRun(RunState& state, RestoreFileState& file, std::unique_ptr<LineReader> checked,
                const std::vector<DumpProblem>& warnings, LimitedBlocks* limited,
                RestoreCounts* counts) {
  OpenDumpToApply(state, std::move(checked));
  state.Log(StartLine(state, "%1%2Restoring security of %3 from %4"));
  LogDumpProblems(state, warnings);
  RestoreState restore(file);
  // A restore limited to parts decides block by block in file order: one session.
  if (state.sessions > 1 && limited == nullptr) {
    ApplyBlocksInSessions(state, restore);
  } else {
    ApplyBlocks(state, restore, limited);
  }
  *counts = restore.restored;
  // The run's closing empty line comes last (the closing step writes it), so that a line
  // about the editor still belongs to this run.
  state.Log(StartLine(state, "%1%2Completed security Restore of %3 from %4"));
  // The log is shown for reading; a machine without an editor is no failure of the restore,
  // but an editor that was asked for and does not start is worth a line.
  std::string why;
  if (!state.platform.StartEditor(state.run_log.path(), &why) && !why.empty()) {
    state.Log(FormatMsg("%1The run log could not be opened in the editor (%2)", {"\t", why}));
  }
}

// While a plan runs, the restore's routines talk to the view and log into the plan; both are
// put back however the routines end, so an error is reported to the server's API and the log.
class PlanScope {
 public:
  PlanScope(RunState& state, EsbApi& view, std::vector<std::string>& lines)
      : state_(state), server_(state.client.api) {
    state.client.api = &view;
    state.diverted_log = &lines;
  }
  ~PlanScope() {
    state_.client.api = server_;
    state_.diverted_log = nullptr;
  }
  PlanScope(const PlanScope&) = delete;
  PlanScope& operator=(const PlanScope&) = delete;

 private:
  RunState& state_;
  EsbApi* server_;
};

// A restore line that tells of something the restore would not do.
bool IsSkipLine(const std::string& line) { return line.find(" skipped (") != std::string::npos; }
bool IsNotDoneLine(const std::string& line) {
  for (const char* words :
       {" NOT ", " kept (", "Kept filter ", " still assigned ", " not disabled "}) {
    if (line.find(words) != std::string::npos) return true;
  }
  return false;
}

// The restore's own code, run against a view of the target that answers reads from the
// server and keeps the writes: what it would change is what the restore would change.
void PlanRun(RunState& state, RestoreFileState& file, std::unique_ptr<LineReader> checked,
             const std::vector<DumpProblem>& warnings, LimitedBlocks* limited,
             std::vector<std::string>& report) {
  OpenDumpToApply(state, std::move(checked));
  state.Log(StartLine(state, "%1%2Planning security restore of %3 from %4"));
  LogDumpProblems(state, warnings);
  PlanView view(*state.client.api);
  std::vector<std::string> restore_lines;
  {
    PlanScope scope(state, view, restore_lines);
    RestoreState restore(file);
    ApplyBlocks(state, restore, limited);
  }
  report = view.changes();
  int skipped = 0;
  for (const std::string& logged : restore_lines) {
    const std::string line = Trim(ReplaceAll(logged, "\t", " "));
    if (IsSkipLine(line)) ++skipped;
    if (IsSkipLine(line) || IsNotDoneLine(line)) report.push_back(line);
  }
  report.push_back(FormatMsg(
      "Plan: %1 to create, %2 to change, %3 skipped.",
      {std::to_string(view.created()), std::to_string(view.changed()), std::to_string(skipped)}));
  state.Log(EndLine(state, "%1%2Completed security restore plan of %3 from %4%5"));
}

// The server's security read by the dump's own writers into memory (state.dump_text), for a
// diff: no dump file, no backups.
void ReadSecurityRun(RunState& state) {
  state.Log(StartLine(state, "%1%2Reading security of %3 to compare it with %4"));
  WriteServerBlock(state);
  WriteSecurityBlocks(state);
  WriteEndBlock(state);
  state.Log(EndLine(state, "%1%2Completed reading security of %3 to compare it with %4%5"));
}

// What a run was asked to do, for the line that says it could not start.
std::string RunWording(const RunParameters& params) {
  switch (params.command) {
    case Command::kDump:
      return FormatMsg("security dump of %1 to %2", {params.server, params.dump_file});
    case Command::kRestore:
      return FormatMsg("security restore of %1 from %2", {params.server, params.dump_file});
    case Command::kReset:
      return FormatMsg("security reset of %1", {params.server});
    case Command::kPlan:
      return FormatMsg("security restore plan of %1 from %2", {params.server, params.dump_file});
    case Command::kReadServer:
      return FormatMsg("reading security of %1 to compare it with %2",
                       {params.server, params.dump_file});
    case Command::kNone:
      break;
  }
  return "a run without a command";
}

// Steps up to and including the command. Returns the outcome of a run that raised nothing.
RunOutcome Perform(RunState& state, const RunParameters& params, EsbStatus* refused_login) {
  if (std::optional<std::string> missing = FirstMissingParameter(params)) {
    throw RunError(kErrorMissingParameter, *missing);
  }
  state.dump_file = params.dump_file;
  state.server = params.server;
  state.user = params.user;
  state.password = params.password;
  state.reset_confirmed = params.reset_confirmed;
  state.sessions = params.sessions > 0 ? params.sessions : kDefaultSessions;
  // A folder given as the dump file is a slip of the user's, said plainly before any login.
  if ((params.command == Command::kDump || params.command == Command::kRestore) &&
      IsFolder(state.platform, params.dump_file)) {
    if (params.command == Command::kRestore) {
      throw RunError(
          kErrorDumpFileNotFound,
          FormatMsg("Security Dump File (%1) Not Found: it is a folder", {params.dump_file}));
    }
    throw RunError(kErrorFileIo,
                   FormatMsg("Cannot write dump file '%1': it is a folder", {params.dump_file}));
  }
  // A restore reads and checks its whole file before it logs in: a file that fails the
  // check sends nothing to the server.
  std::vector<DumpProblem> warnings;
  std::unique_ptr<LineReader> checked;
  std::optional<LimitedBlocks> limited;
  RestoreFileState restore_file;
  if (params.command == Command::kRestore || params.command == Command::kPlan) {
    std::string text;
    checked = ReadCheckedDumpFile(state, warnings, &text);
    if (checked) {
      restore_file.dump_format = DumpFileFormat(text);
      limited = LimitTo(restore_file, params.only, text);
      // The check has read the whole file, so the progress knows the total from the start.
      restore_file.block_total = CountBlocks(text);
    }
  }
  StartClient(state, refused_login);

  RunOutcome outcome;
  switch (params.command) {
    case Command::kReset: {
      const ResetResult reset = ResetSecurity(state);
      outcome.declined = !reset.confirmed;
      outcome.failed_deletions = reset.failures;
      // A reset that left users, groups or filters behind did not do what it was asked.
      outcome.completed = reset.confirmed && reset.failures == 0;
      return outcome;
    }
    case Command::kDump:
      DumpRun(state);
      break;
    case Command::kRestore:
      RestoreRun(state, restore_file, std::move(checked), warnings, limited ? &*limited : nullptr,
                 &outcome.restored);
      break;
    case Command::kReadServer:
      ReadSecurityRun(state);
      break;
    case Command::kPlan:
      PlanRun(state, restore_file, std::move(checked), warnings, limited ? &*limited : nullptr,
              outcome.report);
      break;
    case Command::kNone:
      return outcome;  // refused before the login; nothing to do
  }
  outcome.completed = true;
  return outcome;
}

void ReportError(RunState& state, const RunParameters& params, RunOutcome& outcome) {
  const RunError& error = *outcome.error;
  try {
    // The dump file keeps every line written before the error, and gets them before the
    // error is told, so a reader of the log finds the file as the log says.
    if (state.dump_out) state.dump_out->Flush();
    // An error before the run's first line would otherwise stand in the log without a date
    // or a word of what was asked.
    if (state.run_log.lines() == 0) {
      state.Log(
          FormatMsg("%1%2Could not start %3", {NowText(state.platform), "\t", RunWording(params)}));
    }
    // The error and its message stay the run's last lines. A dump to standard output has no
    // file to keep: what reached the pipe is the reader's.
    if (state.dump_out && state.dump_file != kStandardStream) KeepIncompleteDump(state, error);
    state.Log(
        FormatMsg("%1Error: %2 - %3", {"\t", std::to_string(error.number()), error.description()}));
  } catch (const RunError& log_error) {
    outcome.log_failure = log_error.description();
  }
}

// Whatever happened, the dump file is closed and the server connection released. Errors
// here are of no use to anyone any more and are passed over.
void Release(RunState& state) {
  state.platform.StopCatchingInterrupts();
  if (state.dump_in) state.dump_in->Close();
  state.dump_in.reset();
  if (state.dump_out) state.dump_out->Close();
  state.dump_out.reset();
  ClientContext& client = state.client;
  if (client.context != 0) {
    try {
      CheckStatus(client, "EsbLogout", client.api->EsbLogout(client.context));
    } catch (const std::exception&) {
    }
    client.context = 0;
  }
  if (client.instance != 0) {
    try {
      CheckStatus(client, "EsbTerm", client.api->EsbTerm(client.instance));
    } catch (const std::exception&) {
    }
    client.instance = 0;
  }
}

}  // namespace

std::optional<std::string> FirstMissingParameter(const RunParameters& params) {
  if (params.command == Command::kNone) {
    return "Syntax Error - No command provided ('/d{file}' or '/r{file}')";
  }
  if (params.dump_file.empty() && NeedsDumpFile(params.command)) {
    return "Syntax Error - No dump filename provided ('/d{file}' or '/r{file}')";
  }
  if (params.server.empty()) return "Syntax Error - No server provided ('/s{server name}')";
  if (params.user.empty()) return "Syntax Error - No essbase user provided ('/u{username}')";
  if (params.password.empty()) return "Syntax Error - No password provided ('/p{password}')";
  return std::nullopt;
}

RunOutcome CarryOutRun(RunState& state, const RunParameters& params) {
  SilentObserver silent;
  const bool own_observer = state.observer == nullptr;
  if (own_observer) state.observer = &silent;

  // Every call of the run goes through the watch, which tells whether the server may have
  // been changed.
  ChangeWatch watch(*state.client.api);
  EsbApi* const server = state.client.api;
  state.client.api = &watch;
  EsbStatus refused_login = 0;
  RunOutcome outcome;
  try {
    state.run_log.Open(/*secrets=*/params.command == Command::kRestore);
    outcome = Perform(state, params, &refused_login);
  } catch (const RunError& error) {
    // A run whose log cannot be opened does not start: it would leave no trace.
    if (!state.run_log.is_open()) {
      if (own_observer) state.observer = nullptr;
      state.client.api = server;
      outcome.log_failure = error.description();
      outcome.log_failed_before_run = true;
      return outcome;
    }
    outcome.error = error;
  } catch (const std::exception& error) {
    outcome.error = RunError(kErrorUnexpected, error.what());
  }
  if (outcome.error && outcome.error->number() == kErrorInterrupted) {
    outcome.interrupt_signal = state.platform.PendingInterrupt();
    outcome.cancelled = outcome.interrupt_signal == 0 && state.observer->CancelRequested();
  }
  if (outcome.error) ReportError(state, params, outcome);
  Release(state);
  state.client.api = server;
  outcome.server_changed = watch.changed();
  outcome.refused_login = refused_login;
  try {
    state.run_log.EndWithEmptyLine();
  } catch (const RunError& log_error) {
    if (outcome.log_failure.empty()) outcome.log_failure = log_error.description();
  }
  outcome.log_failed_before_run = !outcome.log_failure.empty() && state.run_log.lines() == 0;

  if (own_observer) state.observer = nullptr;
  return outcome;
}

}  // namespace cubesec
