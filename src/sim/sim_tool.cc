#include "sim/sim_tool.h"

#include <algorithm>
#include <climits>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

#include "sim/sim_api.h"
#include "tools/platform.h"
#include "tools/text.h"

namespace cubesec::sim {

namespace {

// One command: its arguments, its line in the overview and its own help text.
struct CommandHelp {
  const char* name;
  const char* synopsis;
  const char* summary;
  const char* details;
};

constexpr CommandHelp kCommands[] = {
    {"init", "init NAME --admin USER --password PW", "create an empty server with one supervisor",
     "Creates server NAME with security on, logins allowed and one supervisor, USER, who logs\n"
     "in with PW. Fails when the server exists.\n"
     "--password-iterations N: the server keeps passwords as PBKDF2-HMAC-SHA256 keys of N\n"
     "rounds (1 to 10000000, default 4096); a low N makes logins and new users cheap.\n"},
    {"load", "load NAME FILE", "replace the server with a JSON fixture ('-': stdin)",
     "Builds server NAME from the JSON fixture FILE ('-' reads it from standard input),\n"
     "replacing all that the server held; the server is created when missing. A fixture that\n"
     "does not load changes nothing, and the message names the place of the problem, as\n"
     "users[3].groups[1]: group \"X\" does not exist. A database access above None gives\n"
     "its holder application access 256 when the fixture gives less.\n"
     "--password-iterations N: the rounds of the server's password keys, in place of the\n"
     "fixture's \"password_iterations\" (default 4096).\n"},
    {"export", "export NAME [FILE]", "write the server as a fixture (passwords left out)",
     "Writes server NAME as a JSON fixture to FILE, or to standard output when FILE is\n"
     "missing or '-'. Passwords are not written: a fixture loaded from it has users nobody\n"
     "can log in as until a password is given.\n"},
    {"list", "list", "list the servers of the folder",
     "Lists the servers of the folder, one a line: name, then users, groups, applications,\n"
     "databases and filters.\n"},
    {"delete", "delete NAME", "delete a server",
     "Deletes server NAME: its file and the journal files beside it. Fails when there is no\n"
     "such server.\n"},
    {"generate", "generate NAME --scale N",
     "replace the server with a synthetic one of about\n"
     "                                         1000*N users and print its admin password",
     "Replaces server NAME with a synthetic one: about 1000*N users and 100*N groups, 10\n"
     "applications of 2 databases with 5*N filters each, access for every group and every\n"
     "second user, and a fixed set of edge cases (a supervisor group, calc access through\n"
     "groups and database defaults, filters held by groups, Application Designer on a whole\n"
     "application, names with blanks, commas and non-ASCII letters). The same N gives the\n"
     "same server. Prints the password of its supervisor, admin, once.\n"
     "--password-iterations N: the rounds of the server's password keys (default 4096).\n"},
};

constexpr const char* kIntro = R"(usage: cubesec-sim COMMAND ...

Simulated servers for cubesec, one SQLite file each in the server folder
)";
constexpr const char* kCommandsHead = R"(
commands:
)";

std::string Usage() {
  // Where ServerFolder looks, as this system writes it.
  const OsConventions& os = ThisOs();
  std::string text = std::string(kIntro) + "(" + os.Variable("CUBESEC_SIM_DIR") + ", else " +
                     FormatMsg(os.data_folder_help, {os.Join("cubesec", "servers")}) + ").\n" +
                     kCommandsHead;
  for (const CommandHelp& command : kCommands) {
    std::string line = std::string("  ") + command.synopsis;
    line.resize(std::max<size_t>(line.size() + 1, 41), ' ');
    text += line + command.summary + "\n";
  }
  text += "  --help, help [COMMAND]                 show this text, or the help of COMMAND\n";
  text += "  --version                              show the version\n";
  return text;
}

const CommandHelp* FindCommand(const std::string& name) {
  for (const CommandHelp& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

std::string CommandUsage(const CommandHelp& command) {
  return std::string("usage: cubesec-sim ") + command.synopsis + "\n\n" + command.details;
}

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h" || arg == "help"; }

struct CommandLine {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
};

// A whole number of `text`, nothing before or after it; nullopt otherwise.
std::optional<int64_t> WholeNumber(const std::string& text) {
  try {
    size_t used = 0;
    const long long number = std::stoll(text, &used);
    if (used == text.size() && !text.empty() && text.front() != ' ') return number;
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

// Splits the arguments after the command; nullopt (with `error`) for an option that is not
// allowed or lacks its value.
std::optional<CommandLine> Split(const std::vector<std::string>& args,
                                 const std::vector<std::string>& allowed, std::string* error) {
  CommandLine line;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      line.positional.push_back(arg);
      continue;
    }
    std::string key = arg.substr(2);
    std::string value;
    size_t equals = key.find('=');
    if (equals != std::string::npos) {
      value = key.substr(equals + 1);
      key = key.substr(0, equals);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      *error = "option --" + key + " needs a value";
      return std::nullopt;
    }
    bool known = false;
    for (const std::string& name : allowed) known = known || name == key;
    if (!known) {
      *error = "unknown option --" + key;
      return std::nullopt;
    }
    line.options[key] = value;
  }
  return line;
}

bool ReadText(const std::string& file, std::istream& in, std::string* text, std::string* error) {
  std::ostringstream buffer;
  if (file == "-") {
    buffer << in.rdbuf();
  } else {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
      *error = "cannot read " + file;
      return false;
    }
    buffer << stream.rdbuf();
  }
  *text = buffer.str();
  return true;
}

int Usage(std::ostream& err, const std::string& problem) {
  err << "cubesec-sim: " << problem << "\n\n" << Usage();
  return kToolUsage;
}

int Failed(std::ostream& err, const std::string& problem) {
  err << "cubesec-sim: " << problem << "\n";
  return kToolFailed;
}

}  // namespace

int RunSimTool(const std::vector<std::string>& args, const std::string& folder, std::istream& in,
               std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, "no command given");
  const std::string& command = args[0];
  if (command == "--version") {
    out << "cubesec-sim " << CUBESEC_VERSION << "\n";
    return kToolOk;
  }
  if (IsHelp(command)) {
    const CommandHelp* asked = args.size() > 1 ? FindCommand(args[1]) : nullptr;
    if (args.size() > 1 && asked == nullptr) {
      return Usage(err, "unknown command \"" + args[1] + "\"");
    }
    out << (asked != nullptr ? CommandUsage(*asked) : Usage());
    return kToolOk;
  }
  if (const CommandHelp* known = FindCommand(command)) {
    for (const std::string& arg : args) {
      if (IsHelp(arg)) {
        out << CommandUsage(*known);
        return kToolOk;
      }
    }
  }
  struct Shape {
    size_t min_positional, max_positional;
    std::vector<std::string> options;
    std::vector<std::string> optional_options;
  };
  static const std::map<std::string, Shape> kShapes = {
      {"init", {1, 1, {"admin", "password"}, {"password-iterations"}}},
      {"load", {2, 2, {}, {"password-iterations"}}},
      {"export", {1, 2, {}, {}}},
      {"list", {0, 0, {}, {}}},
      {"delete", {1, 1, {}, {}}},
      {"generate", {1, 1, {"scale"}, {"password-iterations"}}},
  };
  auto shape = kShapes.find(command);
  if (shape == kShapes.end()) return Usage(err, "unknown command \"" + command + "\"");
  std::vector<std::string> allowed = shape->second.options;
  allowed.insert(allowed.end(), shape->second.optional_options.begin(),
                 shape->second.optional_options.end());
  std::string error;
  std::optional<CommandLine> line = Split(args, allowed, &error);
  if (!line) return Usage(err, error);
  const std::vector<std::string>& pos = line->positional;
  if (pos.size() < shape->second.min_positional || pos.size() > shape->second.max_positional) {
    return Usage(err, "wrong number of arguments for " + command);
  }
  for (const std::string& option : shape->second.options) {
    if (!line->options.count(option)) return Usage(err, command + " needs --" + option);
  }
  std::optional<uint32_t> iterations;
  if (auto given = line->options.find("password-iterations"); given != line->options.end()) {
    std::optional<int64_t> number = WholeNumber(given->second);
    if (!number || !IsValidPasswordIterations(*number)) {
      return Usage(err, "--password-iterations: " + PasswordIterationsRange());
    }
    iterations = static_cast<uint32_t>(*number);
  }

  if (command == "init") {
    error = InitServer(folder, pos[0], line->options["admin"], line->options["password"],
                       iterations.value_or(kDefaultPasswordIterations));
    if (!error.empty()) return Failed(err, error);
    out << "Created server \"" << pos[0] << "\" with supervisor \"" << line->options["admin"]
        << "\" in " << ServerPath(folder, pos[0]) << "\n";
    return kToolOk;
  }
  if (command == "load") {
    std::string text;
    if (!ReadText(pos[1], in, &text, &error)) return Failed(err, error);
    error = LoadFixture(folder, pos[0], text, iterations);
    if (!error.empty()) return Failed(err, (pos[1] == "-" ? "stdin" : pos[1]) + ": " + error);
    out << "Loaded server \"" << pos[0] << "\" into " << ServerPath(folder, pos[0]) << "\n";
    return kToolOk;
  }
  if (command == "export") {
    std::string json;
    error = ExportServer(folder, pos[0], &json);
    if (!error.empty()) return Failed(err, error);
    if (pos.size() == 1 || pos[1] == "-") {
      out << json;
      return kToolOk;
    }
    std::ofstream file(pos[1], std::ios::binary | std::ios::trunc);
    file << json;
    file.close();
    if (!file) return Failed(err, "cannot write " + pos[1]);
    return kToolOk;
  }
  if (command == "list") {
    std::vector<ServerSummary> servers;
    error = ListServers(folder, &servers);
    if (!error.empty()) return Failed(err, error);
    for (const ServerSummary& s : servers) {
      out << s.name << "\t" << Counted(s.users, "user", "users") << ", "
          << Counted(s.groups, "group", "groups") << ", "
          << Counted(s.applications, "application", "applications") << ", "
          << Counted(s.databases, "database", "databases") << ", "
          << Counted(s.filters, "filter", "filters") << "\n";
    }
    return kToolOk;
  }
  if (command == "delete") {
    error = DeleteServer(folder, pos[0]);
    if (!error.empty()) return Failed(err, error);
    out << "Deleted server \"" << pos[0] << "\"\n";
    return kToolOk;
  }
  // generate
  std::optional<int64_t> scale_number = WholeNumber(line->options["scale"]);
  if (!scale_number || *scale_number < 1 || *scale_number > INT_MAX) {
    return Usage(err, "--scale needs a whole number of at least 1");
  }
  const int scale = static_cast<int>(*scale_number);
  std::string password;
  error = GenerateServer(SystemPlatform(), folder, pos[0], scale, &password,
                         iterations.value_or(kDefaultPasswordIterations));
  if (!error.empty()) return Failed(err, error);
  out << "Generated server \"" << pos[0] << "\" at scale " << scale << " in "
      << ServerPath(folder, pos[0]) << "\n";
  out << "admin password (shown once): " << password << "\n";
  return kToolOk;
}

}  // namespace cubesec::sim
