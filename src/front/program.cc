#include "front/program.h"

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "front/api_choice.h"
#include "front/batch_observer.h"
#include "front/command_line.h"
#include "front/diff_command.h"
#include "front/dump_file_check.h"
#include "front/form_return.h"
#include "front/interactive.h"
#include "front/main_window_model.h"
#include "front/run_driver.h"
#include "front/terminal_io.h"
#include "front/terminal_presenter.h"
#include "restore/dump_model.h"
#include "tools/files.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// What is wrong with the --only parts of `params`; nullopt when nothing is. A part that
// names nothing in the file is a wrong command line: the file is read to see.
std::optional<std::string> PartsProblem(Platform& platform, const RunParameters& params) {
  if (params.only.empty()) return std::nullopt;
  if (params.command != Command::kRestore && params.command != Command::kPlan) {
    return "--only limits a restore (--restore), a plan (--plan) or a diff (--diff)";
  }
  std::vector<DumpPart> parts;
  for (const std::string& given : params.only) {
    std::string error;
    std::optional<DumpPart> part = ParseDumpPart(given, &error);
    if (!part) return error;
    parts.push_back(*part);
  }
  std::string text;
  // A file that cannot be read is the run's to report.
  if (!ReadWholeFile(platform, params.dump_file, text)) return std::nullopt;
  const std::vector<std::string> nothing = PartsNamingNothing(ReadDumpModel(text), parts);
  if (nothing.empty()) return std::nullopt;
  return FormatMsg("--only %1 names nothing in %2", {nothing.front(), params.dump_file});
}

}  // namespace

namespace {

// The run's own message for the first missing parameter, and how a command line or the
// environment gives a command or a password.
bool OnlyThePasswordIsMissing(const RunParameters& params) {
  RunParameters with_password = params;
  with_password.password = "given";
  return params.password.empty() && with_password.Complete();
}

std::string MissingParameterMessage(const RunParameters& params) {
  std::string message = FirstMissingParameter(params).value_or("");
  if (params.command == Command::kNone) {
    message += "; or --dump FILE, --restore FILE, --reset";
  } else if (OnlyThePasswordIsMissing(params)) {
    message += "; or --password-file FILE, CUBESEC_PASSWORD, or a terminal to be asked on";
  }
  return message;
}

// Asks for the password on the terminal without echo, naming what it is for when the
// command line named it. False when nothing was typed.
bool AskPassword(Platform& platform, RunParameters& params, std::ostream& err) {
  const std::string prompt =
      params.user.empty() || params.server.empty()
          ? std::string("Password: ")
          : FormatMsg("Password for %1 on %2: ", {params.user, params.server});
  err.flush();
  std::string line;
  const bool read = platform.ReadSecretLine(prompt, line);
  err << "\n";  // the Enter was not echoed either
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!read || line.empty()) return false;
  params.password = line;
  return true;
}

// What a completed run did, for people and scripts: a dump's file, blocks and lines; a
// restore's counts and where the temporary passwords are. Empty for a reset, whose every
// deletion is in the run log.
std::string RunSummary(const RunState& state, const RunParameters& params,
                       const RunOutcome& outcome) {
  const bool piped = params.dump_file == "-";
  if (params.command == Command::kDump) {
    return FormatMsg("Dumped the security of %1 to %2: %3 blocks, %4 lines\n",
                     {params.server, piped ? "standard output" : params.dump_file,
                      std::to_string(state.blocks), std::to_string(state.dump_lines)});
  }
  if (params.command != Command::kRestore) return {};
  const RestoreCounts& counts = outcome.restored;
  std::string text = FormatMsg(
      "Restored the security of %1 from %2: %3 groups, %4 users and %5 filters created, %6 "
      "values changed, %7 blocks skipped%8\n",
      {params.server, piped ? "standard input" : params.dump_file,
       std::to_string(counts.groups_created), std::to_string(counts.users_created),
       std::to_string(counts.filters_restored), std::to_string(counts.values_changed),
       std::to_string(counts.blocks_skipped),
       counts.blocks_skipped > 0 ? " (the run log says why)" : ""});
  text +=
      counts.users_created > 0
          ? "The new users' temporary passwords are in the run log: " + state.run_log.path() + "\n"
          : "Run log: " + state.run_log.path() + "\n";
  return text;
}

// The error of an interactive run that ends the program, shown as the closing step shows
// it: in a critical box with the program's name as its title.
MessageBoxRequest ErrorBox(const std::string& program_name, const RunError& error) {
  MessageBoxRequest box;
  box.title = program_name;
  box.text = error.description();
  box.buttons = MessageBoxButtons::kOk;
  box.icon = MessageBoxIcon::kCritical;
  return box;
}

// What the program says on its streams after its run, and its exit status.
int ExitAfter(const RunState& state, const RunParameters& params, const RunOutcome& outcome,
              const CommandLineExtras& extras, const std::string& name, std::ostream& out,
              std::ostream& err) {
  if (outcome.log_failed_before_run) {
    // The error, if any, is the log's own; the run did nothing to report.
    err << name << ": " << outcome.log_failure << "; nothing was run\n";
    return kExitUsage;
  }
  if (outcome.completed) {
    for (const std::string& line : outcome.report) out << line << "\n";
  }
  if (outcome.error && !state.interactive) {
    err << name << ": Error: " << outcome.error->number() << " - "
        << ReplaceAll(outcome.error->description(), "\r\n", "\n") << "\n"
        << name << ": run log: " << state.run_log.path() << "\n";
  }
  if (!outcome.log_failure.empty()) {
    err << name << ": the run log could not be written: " << outcome.log_failure << "\n";
    return kExitFailed;
  }
  if (outcome.completed && !extras.quiet) {
    // A dump to standard output keeps that stream for the dump itself.
    std::ostream& summary = params.command == Command::kDump && params.dump_file == "-" ? err : out;
    summary << RunSummary(state, params, outcome);
  }
  if (outcome.failed_deletions > 0) {
    err << name << ": security reset incomplete: " << outcome.failed_deletions
        << " failure(s); what was not deleted is in the run log: " << state.run_log.path() << "\n";
  }
  if (outcome.declined) {
    err << name << ": security reset not confirmed; nothing was deleted\n";
    return kExitFailed;
  }
  // A run that a signal stopped ends as the signal would have ended it.
  if (outcome.interrupt_signal != 0) return 128 + outcome.interrupt_signal;
  return outcome.completed ? kExitSuccess : kExitFailed;
}

}  // namespace

int ProgramMain(Platform& platform, ApiChooser choose_api, int argc, char** argv, std::istream& in,
                std::ostream& out, std::ostream& err) {
  const std::string name = ProgramNameOf(platform.ExecutablePath());
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  switch (RequestOf(args)) {
    case CommandLineRequest::kHelp:
      out << UsageText(name, DecideRunLogPath(platform));
      return kExitSuccess;
    case CommandLineRequest::kVersion:
      out << VersionText(name) << "\n";
      return kExitSuccess;
    case CommandLineRequest::kRun:
      break;
  }

  RunParameters params;
  CommandLineExtras extras;
  try {
    params = GatherFromCommandLine(platform, args, &extras);
  } catch (const RunError& error) {
    err << name << ": " << error.description() << "; see '" << name << " --help'\n";
    return kExitUsage;
  }
  // Parsed: the copy in `params` is all the run needs, and `ps` shows the arguments.
  HidePasswordArguments(argc, argv, extras.password_args);
  if (extras.check_file) return CheckDumpFileCommand(platform, *extras.check_file, in, out, err);
  // A password typed at a terminal is never shown: "--password-file -" there is a prompt
  // without echo, and so is a batch run that lacks only the password.
  if (params.dump_file == "-" && params.command == Command::kRestore &&
      extras.password_file == "-") {
    err << name << ": --restore - and --password-file - cannot both read standard input\n";
    return kExitUsage;
  }
  const bool password_from_terminal = extras.password_file == "-" && platform.StdinIsTerminal();
  if (password_from_terminal) extras.password_file.reset();
  std::string password_error;
  if (!ResolvePassword(platform, extras, in, params, &password_error)) {
    err << name << ": " << password_error << "\n";
    return kExitUsage;
  }
  if (password_from_terminal ||
      (params.password.empty() && OnlyThePasswordIsMissing(params) && platform.StdinIsTerminal())) {
    if (!AskPassword(platform, params, err)) {
      err << name << ": no password was typed; nothing was run\n";
      return kExitUsage;
    }
  }

  if (!extras.diff_files.empty()) {
    if (extras.diff_files.size() == 1 && !params.Complete()) {
      RunParameters asked = params;
      asked.command = Command::kReadServer;
      asked.dump_file = extras.diff_files.front();
      if (!asked.Complete()) {
        err << name << ": " << FirstMissingParameter(asked).value_or("") << "\n";
        return kDiffTrouble;
      }
    }
    std::string error;
    std::unique_ptr<ChosenApi> chosen = choose_api(platform, &error);
    if (!chosen) {
      err << name << ": " << error << "\n";
      return kDiffTrouble;
    }
    RunParameters compared = params;
    compared.dump_file = extras.diff_files.front();
    return DiffCommand(platform, chosen->api(), extras.diff_files, compared, extras.diff_all, out,
                       err);
  }
  if (std::optional<std::string> problem = PartsProblem(platform, params)) {
    err << name << ": " << *problem << "\n";
    return kExitUsage;
  }

  std::string api_error;
  std::unique_ptr<ChosenApi> api = choose_api(platform, &api_error);
  if (!api) {
    err << name << ": " << api_error << "\n";
    return kExitUsage;
  }

  // A plan has no window of its own: it is asked for on the command line, whole.
  if (params.command == Command::kPlan && !params.Complete()) {
    err << name << ": " << FirstMissingParameter(params).value_or("") << "\n";
    return kExitUsage;
  }

  std::unique_ptr<InteractiveSession> session;
  FormRequest form;
  if (!params.Complete()) {
    std::string no_window;
    session = MakeInteractiveSession(platform, name, argc, argv, &no_window);
    if (!no_window.empty()) err << name << ": the window cannot be shown: " << no_window << "\n";
    // The form asks for what the command line and the password's sources left empty; the
    // client's default server and user are only offered.
    RunParameters given;
    ApplyCommandLine(args, given);
    given.password = params.password;
    form.fields = MainWindowModel::MissingFields(given);
    RunParameters asked = params;
    const InteractiveResult result =
        session ? session->Ask(asked, form) : InteractiveResult::kUnavailable;
    if (result == InteractiveResult::kCancelled) return kExitSuccess;
    if (result == InteractiveResult::kUnavailable) {
      err << name << ": " << MissingParameterMessage(params) << "\n";
      return kExitUsage;
    }
    params = asked;
  }

  for (;;) {
    RunState state(platform, api->api());
    state.standard_output = &out;
    state.standard_input = &in;
    std::unique_ptr<TerminalMessageBoxPresenter> presenter;
    std::unique_ptr<ConsoleTerminal> err_terminal;
    std::unique_ptr<BatchObserver> batch;
    if (session) {
      state.interactive = true;
      state.observer = &session->observer();
    } else {
      if (platform.StdinIsTerminal()) {
        // A batch run can still ask its one question (the reset's) on the terminal.
        presenter = std::make_unique<TerminalMessageBoxPresenter>(in, err);
        platform.SetMessageBoxPresenter(presenter.get());
      }
      // A progress line only where it can be rewritten in place: a file or a pipe would keep
      // every version of it.
      const bool progress = !extras.quiet && platform.StderrIsTerminal();
      if (progress || extras.verbose) {
        err_terminal = std::make_unique<ConsoleTerminal>(platform, in, err);
        batch = std::make_unique<BatchObserver>(platform, *err_terminal, progress, extras.verbose);
        state.observer = batch.get();
      }
    }
    const RunOutcome outcome = CarryOutRun(state, params);
    if (batch) batch->Finish();
    if (presenter) platform.SetMessageBoxPresenter(nullptr);
    if (session) {
      if (std::optional<FormReturn> back = FormReturnFor(outcome)) {
        // Nothing was changed: the form comes back with what was typed, but the password,
        // and the error at the field to mend. Its Cancel ends the program as the failed
        // run left it.
        form.mend_field = back->field;
        form.error = back->error;
        RunParameters asked = params;
        asked.password.clear();
        if (session->Ask(asked, form) != InteractiveResult::kRun) return kExitFailed;
        params = asked;
        continue;
      }
      // A user who pressed Cancel needs no error box to learn it: the closing note says so.
      if (outcome.error && !outcome.cancelled) {
        platform.ShowMessageBox(ErrorBox(name, *outcome.error));
      }
      const RunEnd end = outcome.completed   ? RunEnd::kCompleted
                         : outcome.declined  ? RunEnd::kDeclined
                         : outcome.cancelled ? RunEnd::kCancelled
                                             : RunEnd::kFailed;
      session->ShowCompletion(params.command, end, state.run_log.path());
    }
    return ExitAfter(state, params, outcome, extras, name, out, err);
  }
}

}  // namespace cubesec
