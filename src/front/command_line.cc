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
      "This utility supports batch operation via:",
      "Dump Security: %1  /Ddumpfile /Sservername /Uusername /Ppassword",
      "Restore Security: %1  /Rdumpfile /Sservername /Uusername /Ppassword",
      "(the server being restored does not have to match the dumpfile's source)",
      // One line, written in two pieces.
      ("Reset Security: %1  /Cdumpfile /Sservername /Uusername /Ppassword (asks before it "
       "deletes all other users, all groups and all filters)"),
      "",
      "Options, beside the switches (--name=VALUE works as well):",
      "  --dump FILE           dump the server's security into FILE",
      "  --restore FILE        restore security from FILE",
      "  --reset               reset security (asks first)",
      "  --yes                 confirm the reset without asking (the run log says so)",
      "  --check FILE          check a dump file, without logging in",
      "  --plan FILE           show what a restore of FILE would change, changing nothing",
      "  --diff OLD NEW        compare two dump files (exit 0: same, 1: different, 2: trouble)",
      "  --diff FILE           ... or FILE with what the server holds now (with --server, --user)",
      "  --all                 the diff compares dates, last logins and notices too",
      "  --only PART           limit a restore, plan or diff to a part, repeatable: app=NAME,",
      "                        db=APP:DB, user=NAME, group=NAME, server",
      "  --server NAME         the server",
      "  --user NAME           the user",
      "  --password-file FILE  the password is the first line of FILE (\"-\": standard input)",
      "  --sessions N          a dump logs in N times (1 to 16) and fills N databases at once;",
      "                        the file is the same whatever N (default %3; a restore uses one)",
      "  --help, --version",
      "Server and user default to the Essbase client's Login settings. A path that begins",
      "with \"/\" is named with --dump or --restore: \"/tmp/x.txt\" reads as a switch.",
      "",
      "Interactive use: without all of command, dump file, server, user and password, %1 asks",
      "for the rest, in its window when a display is there, else on the terminal. A lone",
      "argument that does not begin with \"/\" is the dump file name. In the window, Ctrl+C",
      "(in a text field too) starts a security reset, after a warning.",
      "",
      "Exit statuses:",
      "  0  the run completed (also help, version, a cancelled window)",
      "  1  the run ended with an error, or the reset was not confirmed",
      "  2  wrong command line or environment, or a missing parameter and nothing to ask on:",
      "     nothing was run",
      "",
      "Run log: %2",
      "",
      "Environment:",
      "  CUBESEC_LOG        the run log file (else beside the program when that folder is",
#ifdef _WIN32
      "                     writable, else %LOCALAPPDATA%\\cubesec\\cubesec.log)",
#else
      "                     writable, else $XDG_STATE_HOME/cubesec/cubesec.log)",
#endif
      "  CUBESEC_PASSWORD   the password, when the command line gives none",
      "  CUBESEC_EDITOR     editor for the run log after a restore, with its arguments",
      "  CUBESEC_SIM_DIR    folder of the simulated servers",
      "  CUBESEC_SIM_TRACE  FILE: append every client call and its status",
      "  CUBESEC_SIM_FAULTS CALL#N=STATUS,...: make chosen client calls fail",
      "                     (CALL#N=STATUS/nomsg: fail and leave no message)",
      "  CUBESEC_NOW        pin the clock (whole seconds since 1970 UTC)",
      "  ArborPath          client folder (ARBORPATH is read as well)",
#ifdef _WIN32
      // Windows reads the client's settings from the registry and the Windows folder, and
      // local dates from the system's time zone, not from the environment.
      "  LOCALAPPDATA       state folder (default %USERPROFILE%\\AppData\\Local)",
  };
  const std::string log = log_path.empty() ? "none found (set CUBESEC_LOG)" : log_path;
#else
      "  WINDIR             folder of essbase.ini (default /etc)",
      "  XDG_STATE_HOME     state folder (default ~/.local/state)",
      "  DISPLAY            a display for the window (WAYLAND_DISPLAY as well)",
      "  TZ                 time zone of local dates",
  };
  const std::string log = log_path.empty() ? "none found (set CUBESEC_LOG or HOME)" : log_path;
#endif
  std::string text;
  for (const char* line : kLines) {
    text += FormatMsg(line, {program, log, std::to_string(kDefaultSessions)});
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

// Applies one slash switch.
void ApplySwitch(const std::string& token, RunParameters& params, CommandLineExtras& extras,
                 size_t index) {
  const std::string value = token.size() > 2 ? Trim(token.substr(2)) : std::string();
  const std::string key = ToUpper(token.substr(0, 2));
  if (key == "/C" || key == "/D" || key == "/R") {
    params.dump_file = value;
    params.command = key.substr(1);
  } else if (key == "/S") {
    params.server = value;
  } else if (key == "/U") {
    params.user = value;
  } else if (key == "/P") {
    params.password = value;
    extras.password_file.reset();
    extras.password_args.push_back(index);
  } else {
    Unrecognized(token);
  }
}

// A slash switch ("/Sprod"), as opposed to a path that begins with "/" ("/tmp/new.txt").
bool LooksLikeSwitch(const std::string& arg) {
  const std::string token = Trim(arg);
  return token.starts_with("-") ||
         (token.starts_with("/") && token.find('/', 1) == std::string::npos);
}

// The options of the commands that look before they change: --plan FILE, --diff OLD [NEW],
// --all, --only PART. True when args[i] was one of them (i then past its values).
bool ApplyPreviewOption(const std::vector<std::string>& args, size_t& i, RunParameters& params,
                        CommandLineExtras& extras) {
  const std::string token = Trim(args[i]);
  const size_t equals = token.find('=');
  const std::string name = token.substr(0, equals);
  if (name != "--plan" && name != "--diff" && name != "--only" && name != "--all") return false;
  if (name == "--all") {
    if (equals != std::string::npos) {
      throw RunError(kErrorSyntax,
                     FormatMsg("Syntax Error - Option %1 takes no value ('%2')", {name, token}));
    }
    extras.diff_all = true;
    return true;
  }
  std::string value;
  if (equals != std::string::npos) {
    value = token.substr(equals + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    throw RunError(kErrorSyntax, FormatMsg("Syntax Error - Option %1 needs a value ('%1 %2')",
                                           {name, name == "--only" ? "PART" : "FILE"}));
  }
  if (name == "--plan") {
    params.command = "P";
    params.dump_file = value;
  } else if (name == "--only") {
    params.only.push_back(value);
  } else {
    extras.diff_files = {value};
    // The second file is optional: without it the first is compared with the server.
    if (i + 1 < args.size() && !LooksLikeSwitch(args[i + 1]))
      extras.diff_files.push_back(args[++i]);
  }
  return true;
}

// Applies the long option at args[i]; takes its value from the next argument when it has no
// "=VALUE", and then moves i past it.
void ApplyLongOption(const std::vector<std::string>& args, size_t& i, RunParameters& params,
                     CommandLineExtras& extras) {
  if (ApplyPreviewOption(args, i, params, extras)) return;
  const std::string token = Trim(args[i]);
  const size_t equals = token.find('=');
  const std::string name = token.substr(0, equals);
  const bool has_value = equals != std::string::npos;
  static const char* const kFlags[] = {"--reset", "--yes", "--help", "--version"};
  static const char* const kValued[] = {"--dump",          "--restore", "--server",  "--user",
                                        "--password-file", "--check",   "--sessions"};
  const auto known = [&](const auto& names) {
    for (const char* known_name : names) {
      if (name == known_name) return true;
    }
    return false;
  };
  if (known(kFlags)) {
    if (has_value) {
      throw RunError(kErrorSyntax,
                     FormatMsg("Syntax Error - Option %1 takes no value ('%2')", {name, token}));
    }
    if (name == "--reset") params.command = "C";
    if (name == "--yes") params.reset_confirmed = true;
    return;
  }
  if (!known(kValued)) Unrecognized(token);
  std::string value;
  if (has_value) {
    value = token.substr(equals + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    throw RunError(kErrorSyntax,
                   FormatMsg("Syntax Error - Option %1 needs a value ('%1 %2')",
                             {name, name == "--server" || name == "--user" ? "NAME" : "FILE"}));
  }
  if (name == "--dump" || name == "--restore") {
    params.command = name == "--dump" ? "D" : "R";
    params.dump_file = value;
  } else if (name == "--server") {
    params.server = value;
  } else if (name == "--user") {
    params.user = value;
  } else if (name == "--sessions") {
    const bool digits = !value.empty() && value.size() <= 2 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    params.sessions = digits ? std::stoi(value) : 0;
    if (params.sessions < 1 || params.sessions > kMaxSessions) {
      throw RunError(kErrorSyntax,
                     FormatMsg("Syntax Error - --sessions takes a whole number from 1 to %1 "
                               "('%2')",
                               {std::to_string(kMaxSessions), value}));
    }
  } else if (name == "--password-file") {
    extras.password_file = value;
    params.password.clear();
  } else {
    extras.check_file = value;
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
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string token = Trim(args[i]);
    if (token.empty()) continue;  // an empty argument names nothing
    if (token.starts_with("--")) {
      ApplyLongOption(args, i, params, extras);
    } else if (token[0] == '/') {
      ApplySwitch(token, params, extras, i);
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
      std::ifstream from(file, std::ios::in | std::ios::binary);
      if (!from.is_open()) {
        if (error) *error = "cannot read the password file '" + file + "'";
        return false;
      }
      read = static_cast<bool>(std::getline(from, line));
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
