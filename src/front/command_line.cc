#include "front/command_line.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>

#include "client/call_check.h"
#include "client/client_settings.h"
#include "tools/text.h"

namespace cubesec {

std::string ProgramNameOf(const std::string& executable_path) {
  return std::filesystem::path(executable_path).stem().string();
}

CommandLineRequest RequestOf(const std::vector<std::string>& args) {
  bool version = false;
  for (const std::string& arg : args) {
    if (arg == "/?" || arg == "-h" || arg == "--help") return CommandLineRequest::kHelp;
    if (arg == "--version") version = true;
  }
  return version ? CommandLineRequest::kVersion : CommandLineRequest::kRun;
}

std::string UsageText(const std::string& program, const std::string& log_path) {
  static constexpr const char* kLines[] = {
      "usage: %1 --dump FILE [LOGIN] [--sessions N] [--quiet | --verbose]",
      "       %1 --restore FILE [LOGIN] [--sessions N | --only PART...]",
      "                 [--quiet | --verbose]",
      "       %1 --plan FILE [LOGIN] [--only PART]...",
      "       %1 --diff OLD NEW [--only PART]... [--all]",
      "       %1 --diff FILE [LOGIN] [--only PART]... [--all]",
      "       %1 --reset [--yes] [LOGIN]",
      "       %1 --check FILE",
      "       %1 [DUMPFILE]",
      "       %1 --help | --version",
      "LOGIN: [--server NAME] [--user NAME] [--password-file FILE | /Ppassword]",
      "",
      "This utility supports batch operation via:",
      "Dump Security: %1  /Ddumpfile /Sservername /Uusername /Ppassword",
      "Restore Security: %1  /Rdumpfile /Sservername /Uusername /Ppassword",
      "(the server being restored does not have to match the dumpfile's source)",
      "Reset Security: %1  /C /Sservername /Uusername /Ppassword",
      "(asks before it deletes all other users, all groups and all filters)",
      "",
      "Options, beside the switches (--name=VALUE works as well):",
      "  --dump FILE           dump the server's security into FILE",
      "  --restore FILE        restore security from FILE",
      "  --reset               reset security (asks first)",
      "  --yes                 confirm the reset without asking (the run log says so)",
      "  --check FILE          check a dump file, without logging in",
      "  --plan FILE           what a restore of FILE would change, changing nothing",
      "  --diff OLD NEW        compare two dump files (exit 0: same, 1: different,",
      "                        2: trouble); --diff FILE compares FILE with the server",
      "  --all                 the diff compares dates, last logins and notices too",
      "  --only PART           limit a restore, plan or diff to a part, repeatable:",
      "                        app=NAME, db=APP:DB, user=NAME, group=NAME, server",
      "  --server NAME         the server",
      "  --user NAME           the user",
      "  --password-file FILE  the password is the first line of FILE (\"-\": standard",
      "                        input; on a terminal it is asked for without echo)",
      "  --sessions N          a dump or restore logs in N times (1 to 16, default %3)",
      "                        and works on N databases at once; the file, the run log",
      "                        and the restored server are the same whatever N (a",
      "                        restore limited with --only uses one session)",
      "  --quiet               no progress line and no summary at the end of a run",
      "  --verbose             also each run log line on standard error as it is",
      "                        written (not with --quiet)",
      "  --help, --version",
      "A FILE of \"-\" is standard output for --dump (no backups are kept) and",
      "standard input for --restore and --check. Without a password, one is asked for",
      "when standard input is a terminal (\"Password for USER on SERVER: \", no echo).",
      "A batch run shows its progress on one line of standard error when that is a",
      "terminal. One run does one command: two different ones are refused. Server",
      "and user default to the Essbase client's Login settings. A path that begins",
      "with \"/\" is named with --dump or --restore: \"/tmp/x.txt\" reads as a switch.",
      "",
      "Interactive use: without all of command, dump file, server, user and password,",
      "%1 asks for the rest, in its window when a display is there, else on the",
      "terminal. A lone argument that does not begin with \"/\" is the dump file name.",
      "In the window, Ctrl+C (in a text field too) starts a security reset, after a",
      "warning.",
      "",
      "Exit statuses:",
      "  0  the run completed (also help, version, a cancelled window)",
      "  1  the run ended with an error, or the reset was not confirmed",
      "  2  wrong command line or environment, a missing parameter and nothing to ask",
      "     on, or a run log that cannot be written: nothing was run",
      "",
      "Run log: %2",
      "",
      "Environment:",
      "  CUBESEC_LOG        the run log file (else beside the program when that folder",
      "                     is writable, else %4)",
      "  CUBESEC_PASSWORD   the password, when the command line gives none",
      "  CUBESEC_EDITOR     editor for the run log after a restore, with its arguments",
      "  ArborPath          client folder (ARBORPATH is read as well)",
      "%5",  // the variables through which the platform reads the system
      "",
      "The simulated server (development and tests):",
      "  CUBESEC_SIM_DIR    folder of the simulated servers",
      "  CUBESEC_SIM_TRACE  FILE: append every client call and its status",
      "  CUBESEC_SIM_FAULTS CALL#N=STATUS,...: make chosen client calls fail",
      "                     (CALL#N=STATUS/nomsg: fail and leave no message;",
      "                     CALL@UNIT#N=STATUS: the N-th within a unit of sessions)",
      "  CUBESEC_SIM_LATENCY_US  N: every client call takes N microseconds more",
      "  CUBESEC_NOW        pin the clock (whole seconds since 1970 UTC)",
  };
  const OsConventions& os = ThisOs();
  const std::string log = log_path.empty() ? "none found (set CUBESEC_LOG or " +
                                                 std::string(os.state_folder_variable) + ")"
                                           : log_path;
  const std::string default_log =
      FormatMsg(os.state_folder_help, {os.Join("cubesec", "cubesec.log")});
  std::string_view environment = os.environment_help;
  if (environment.ends_with('\n')) environment.remove_suffix(1);
  std::string text;
  for (const char* line : kLines) {
    text += FormatMsg(line, {program, log, std::to_string(kDefaultSessions), default_log,
                             std::string(environment)});
    text += "\n";
  }
  return text;
}

std::string VersionText(const std::string& program) { return program + " " + CUBESEC_VERSION; }

namespace {

[[noreturn]] void Unrecognized(const std::string& token) {
  std::string message =
      FormatMsg("Syntax Error - Unrecognized parameter in command line ('%1')", {token});
  // "/tmp/x.txt" reads as switch "/T"; a path needs an option of its own.
  if (token.find('/', 1) != std::string::npos) {
    message += "; to name a file by its path, use --dump FILE or --restore FILE";
  }
  throw RunError(kErrorSyntax, message);
}

bool IsOptionLike(const std::string& arg) {
  const std::string token = Trim(arg);
  return !token.empty() && (token[0] == '/' || token[0] == '-');
}

// The commands: a run does one of them. Two different ones on one command line are refused
// (a reset given after a dump would otherwise replace it without a word); the same one twice
// keeps the last. A new command is one more entry here.
struct CommandSwitch {
  const char* option;  // the long option
  char letter;         // the slash switch's letter, 0 when it has none
  bool valued;         // the long option takes a value
  // `value` is null for a long option without one.
  void (*apply)(const std::string* value, RunParameters& params, CommandLineExtras& extras);
};

constexpr CommandSwitch kCommands[] = {
    {"--dump", 'D', true,
     [](const std::string* value, RunParameters& params, CommandLineExtras&) {
       params.command = Command::kDump;
       params.dump_file = *value;
     }},
    {"--restore", 'R', true,
     [](const std::string* value, RunParameters& params, CommandLineExtras&) {
       params.command = Command::kRestore;
       params.dump_file = *value;
     }},
    // "/Cfile" names a dump file as the other switches do; a reset reads none.
    {"--reset", 'C', false,
     [](const std::string* value, RunParameters& params, CommandLineExtras&) {
       params.command = Command::kReset;
       if (value != nullptr) params.dump_file = *value;
     }},
    {"--check", 0, true,
     [](const std::string* value, RunParameters&, CommandLineExtras& extras) {
       extras.check_file = *value;
     }},
    {"--plan", 0, true,
     [](const std::string* value, RunParameters& params, CommandLineExtras&) {
       params.command = Command::kPlan;
       params.dump_file = *value;
     }},
    // A second file may follow (ApplyLongOption takes it): without it the first is
    // compared with the server.
    {"--diff", 0, true,
     [](const std::string* value, RunParameters&, CommandLineExtras& extras) {
       extras.diff_files = {*value};
     }},
};

// A slash switch ("/Sprod"), as opposed to a path that begins with "/" ("/tmp/new.txt").
bool LooksLikeSwitch(const std::string& arg) {
  const std::string token = Trim(arg);
  return token.starts_with("-") ||
         (token.starts_with("/") && token.find('/', 1) == std::string::npos);
}

// The parse of one command line: the command chosen so far and how the user typed it.
struct ParseState {
  RunParameters& params;
  CommandLineExtras& extras;
  const CommandSwitch* command = nullptr;
  std::string command_typed;

  void TakeCommand(const CommandSwitch& chosen, const std::string& typed,
                   const std::string* value) {
    if (command != nullptr && command != &chosen) {
      throw RunError(kErrorSyntax,
                     FormatMsg("%1 and %2 cannot be used together", {command_typed, typed}));
    }
    command = &chosen;
    command_typed = typed;
    chosen.apply(value, params, extras);
  }
};

// Applies one slash switch.
void ApplySwitch(const std::string& token, ParseState& parse, size_t index) {
  const std::string value = token.size() > 2 ? Trim(token.substr(2)) : std::string();
  const std::string key = ToUpper(token.substr(0, 2));
  for (const CommandSwitch& command : kCommands) {
    if (command.letter != 0 && key == std::string{'/', command.letter}) {
      return parse.TakeCommand(command, token.substr(0, 2), &value);
    }
  }
  if (key == "/S") {
    parse.params.server = value;
  } else if (key == "/U") {
    parse.params.user = value;
  } else if (key == "/P") {
    parse.params.password = value;
    parse.extras.password_file.reset();
    parse.extras.password_args.push_back(index);
  } else {
    Unrecognized(token);
  }
}

// Applies the long option at args[i]; takes its value from the next argument when it has no
// "=VALUE", and then moves i past it.
void ApplyLongOption(const std::vector<std::string>& args, size_t& i, ParseState& parse) {
  const std::string token = Trim(args[i]);
  const size_t equals = token.find('=');
  const std::string name = token.substr(0, equals);
  const bool has_value = equals != std::string::npos;
  const CommandSwitch* command = nullptr;
  for (const CommandSwitch& known : kCommands) {
    if (name == known.option) command = &known;
  }
  static const char* const kFlags[] = {"--yes", "--quiet", "--verbose",
                                       "--all", "--help",  "--version"};
  static const char* const kValued[] = {"--server", "--user", "--password-file", "--only",
                                        "--sessions"};
  const auto known = [&](const auto& names) {
    for (const char* known_name : names) {
      if (name == known_name) return true;
    }
    return false;
  };
  if (command != nullptr ? !command->valued : known(kFlags)) {
    if (has_value) {
      throw RunError(kErrorSyntax,
                     FormatMsg("Syntax Error - Option %1 takes no value ('%2')", {name, token}));
    }
    if (command != nullptr) return parse.TakeCommand(*command, name, nullptr);
    if (name == "--yes") parse.params.reset_confirmed = true;
    if (name == "--quiet" || name == "--verbose") {
      // Silence and every line at once: neither would be what was asked for.
      const bool quiet = name == "--quiet";
      if (quiet ? parse.extras.verbose : parse.extras.quiet) {
        throw RunError(kErrorSyntax, FormatMsg("%1 and %2 cannot be used together",
                                               {quiet ? "--verbose" : "--quiet", name}));
      }
      (quiet ? parse.extras.quiet : parse.extras.verbose) = true;
    }
    if (name == "--all") parse.extras.diff_all = true;
    return;
  }
  if (command == nullptr && !known(kValued)) Unrecognized(token);
  std::string value;
  if (has_value) {
    value = token.substr(equals + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    throw RunError(kErrorSyntax, FormatMsg("Syntax Error - Option %1 needs a value ('%1 %2')",
                                           {name, name == "--server" || name == "--user" ? "NAME"
                                                  : name == "--only"                     ? "PART"
                                                  : name == "--sessions"                 ? "N"
                                                                         : "FILE"}));
  }
  if (command != nullptr) {
    parse.TakeCommand(*command, name, &value);
    if (name == "--diff" && i + 1 < args.size() && !LooksLikeSwitch(args[i + 1])) {
      parse.extras.diff_files.push_back(args[++i]);
    }
  } else if (name == "--server") {
    parse.params.server = value;
  } else if (name == "--user") {
    parse.params.user = value;
  } else if (name == "--only") {
    parse.params.only.push_back(value);
  } else if (name == "--sessions") {
    const bool digits = !value.empty() && value.size() <= 2 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    parse.params.sessions = digits ? std::stoi(value) : 0;
    if (parse.params.sessions < 1 || parse.params.sessions > kMaxSessions) {
      throw RunError(kErrorSyntax,
                     FormatMsg("Syntax Error - --sessions takes a whole number from 1 to %1 "
                               "('%2')",
                               {std::to_string(kMaxSessions), value}));
    }
  } else {
    parse.extras.password_file = value;
    parse.params.password.clear();
  }
}

}  // namespace

void ApplyCommandLine(const std::vector<std::string>& args, RunParameters& params,
                      CommandLineExtras* extras_out) {
  if (args.empty()) return;
  CommandLineExtras local;
  CommandLineExtras& extras = extras_out ? *extras_out : local;
  bool any_option = false;
  for (const std::string& arg : args) any_option = any_option || IsOptionLike(arg);
  if (!any_option) {
    // "dumps/x.txt" too: only a leading "/" makes a switch.
    params.dump_file = Join(args, " ");
    params.password.clear();
    return;
  }
  ParseState parse{params, extras, nullptr, {}};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string token = Trim(args[i]);
    if (token.empty()) continue;  // an empty argument names nothing
    if (token.starts_with("--")) {
      ApplyLongOption(args, i, parse);
    } else if (token[0] == '/') {
      ApplySwitch(token, parse, i);
    } else if (token == "-h") {
      continue;  // help, answered before any parsing
    } else {
      Unrecognized(token);
    }
  }
}

bool ResolvePassword(Platform& platform, const CommandLineExtras& extras, std::istream& in,
                     RunParameters& params, std::string* error) {
  if (extras.password_file) {
    const std::string& file = *extras.password_file;
    std::string line;
    bool read = false;
    if (file == "-") {
      read = static_cast<bool>(std::getline(in, line));
    } else {
      // A folder opens but holds no line.
      std::string text;
      if (platform.KindOf(file, /*follow_links=*/true) != PathKind::kFolder &&
          !platform.ReadFile(file, text, nullptr)) {
        if (error) *error = "cannot read the password file '" + file + "'";
        return false;
      }
      read = !text.empty();
      line = text.substr(0, text.find('\n'));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!read || line.empty()) {
      if (error) {
        *error = file == "-" ? std::string("no password on standard input")
                             : "the password file '" + file + "' holds no password";
      }
      return false;
    }
    params.password = line;
    return true;
  }
  if (params.password.empty()) params.password = platform.GetEnv("CUBESEC_PASSWORD").value_or("");
  return true;
}

void HidePasswordArguments(int argc, char** argv, const std::vector<size_t>& password_args) {
  for (size_t index : password_args) {
    if (index + 1 >= static_cast<size_t>(argc) || argv[index + 1] == nullptr) continue;
    char* arg = argv[index + 1];
    // The switch itself ("/P", after any blanks) stays; everything after it goes.
    char* value = std::strchr(arg, '/');
    if (value == nullptr || value[1] == '\0') continue;
    value += 2;
    std::memset(value, 0, std::strlen(value));
  }
}

RunParameters GatherFromCommandLine(Platform& platform, const std::vector<std::string>& args,
                                    CommandLineExtras* extras) {
  RunParameters params;
  params.server = GetEssbaseSetting(platform, "Login", "Server");
  params.user = GetEssbaseSetting(platform, "Login", "User");
  ApplyCommandLine(args, params, extras);
  return params;
}

}  // namespace cubesec
