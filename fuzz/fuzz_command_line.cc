// The command-line parser: any list of arguments either becomes run parameters by the
// switch rules or is refused with error 50; help and version requests are recognised
// wherever they stand. Lists with long options ("-" first) are checked for their outcome
// only; lists of slash switches and plain names against the whole rule.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/call_check.h"
#include "front/command_line.h"
#include "fuzz_check.h"
#include "tools/fake_platform.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// Arguments are separated by newlines or NULs (an argv element holds neither).
std::vector<std::string> ArgumentsOf(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n' || c == '\0') {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) args.push_back(current);
  return args;
}

bool IsSwitch(const std::string& token, char letter) {
  return token.size() >= 2 && token[0] == '/' && ToUpper(token.substr(1, 1))[0] == letter;
}

// The value of the last argument that is switch `letter`, if any.
std::optional<std::string> LastValue(const std::vector<std::string>& args, char letter) {
  std::optional<std::string> value;
  for (const std::string& arg : args) {
    const std::string token = Trim(arg);
    if (IsSwitch(token, letter)) value = Trim(token.substr(2));
  }
  return value;
}

void CheckRequest(const std::vector<std::string>& args) {
  bool help = false, version = false;
  for (const std::string& arg : args) {
    help = help || arg == "/?" || arg == "-h" || arg == "--help";
    version = version || arg == "--version";
  }
  const CommandLineRequest request = RequestOf(args);
  FUZZ_CHECK(help == (request == CommandLineRequest::kHelp));
  FUZZ_CHECK((!help && version) == (request == CommandLineRequest::kVersion));
}

void CheckParameters(const std::vector<std::string>& args) {
  RunParameters before;
  before.server = "default-server";
  before.user = "default-user";
  before.password = "old-password";
  RunParameters params = before;

  bool has_switch = false, has_dash = false;
  for (const std::string& arg : args) {
    const std::string token = Trim(arg);
    has_switch = has_switch || token.starts_with("/");
    has_dash = has_dash || token.starts_with("-");
  }
  const bool has_slash = has_switch || has_dash;
  if (has_dash) {
    try {
      CommandLineExtras extras;
      ApplyCommandLine(args, params, &extras);
      // A diff's reading of the server is the program's own step, never the command line's.
      FUZZ_CHECK(params.command != Command::kReadServer);
      for (size_t index : extras.password_args) {
        FUZZ_CHECK(index < args.size() && Trim(args[index]).size() >= 2);
      }
    } catch (const RunError& error) {
      FUZZ_CHECK(error.number() == kErrorSyntax);
      FUZZ_CHECK(error.description().starts_with("Syntax Error - ") ||
                 error.description().ends_with(" cannot be used together"));
    }
    return;
  }
  // Read in order, the first token that is no switch is refused, and so is a second command
  // switch of another command than the one before (named as typed: "/D and /r").
  std::optional<std::string> expected_error;
  std::string command_typed;
  for (const std::string& arg : args) {
    const std::string token = Trim(arg);
    if (token.empty() || expected_error) continue;
    bool known = false;
    for (char letter : std::string("CDRSUP")) known = known || IsSwitch(token, letter);
    if (!known) {
      const std::string hint =
          token.find('/', 1) != std::string::npos
              ? "; to name a file by its path, use --dump FILE or --restore FILE"
              : "";
      expected_error =
          "Syntax Error - Unrecognized parameter in command line ('" + token + "')" + hint;
      continue;
    }
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(token[1])));
    if (letter != 'C' && letter != 'D' && letter != 'R') continue;
    if (!command_typed.empty() &&
        std::toupper(static_cast<unsigned char>(command_typed[1])) != letter) {
      expected_error = command_typed + " and " + token.substr(0, 2) + " cannot be used together";
      continue;
    }
    command_typed = token.substr(0, 2);
  }

  try {
    ApplyCommandLine(args, params);
  } catch (const RunError& error) {
    FUZZ_CHECK(has_slash && expected_error.has_value());
    FUZZ_CHECK(error.number() == kErrorSyntax);
    FUZZ_CHECK(error.description() == *expected_error);
    return;
  }

  if (args.empty()) {
    FUZZ_CHECK(params.dump_file.empty() && params.command == Command::kNone);
    FUZZ_CHECK(params.password == before.password);
    return;
  }
  if (!has_slash) {
    FUZZ_CHECK(params.dump_file == Join(args, " "));
    FUZZ_CHECK(params.password.empty() && params.command == Command::kNone);
    FUZZ_CHECK(params.server == before.server && params.user == before.user);
    return;
  }
  FUZZ_CHECK(!expected_error.has_value());
  FUZZ_CHECK(params.server == LastValue(args, 'S').value_or(before.server));
  FUZZ_CHECK(params.user == LastValue(args, 'U').value_or(before.user));
  FUZZ_CHECK(params.password == LastValue(args, 'P').value_or(before.password));
  // The last of /C, /D and /R sets both the command and the file.
  constexpr std::pair<char, Command> kSwitches[] = {
      {'C', Command::kReset}, {'D', Command::kDump}, {'R', Command::kRestore}};
  Command command = Command::kNone;
  std::optional<std::string> file;
  for (const std::string& arg : args) {
    const std::string token = Trim(arg);
    for (const auto& [letter, its_command] : kSwitches) {
      if (IsSwitch(token, letter)) {
        command = its_command;
        file = Trim(token.substr(2));
      }
    }
  }
  FUZZ_CHECK(params.command == command);
  FUZZ_CHECK(params.dump_file == file.value_or(""));
}

}  // namespace
}  // namespace cubesec

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cubesec;
  const std::vector<std::string> args = ArgumentsOf(data, size);
  CheckRequest(args);
  CheckParameters(args);

  // The whole gathering, with client defaults that come from the settings file.
  FakePlatform platform;
  platform.ini["/etc/essbase.ini|LOGIN|SERVER"] = "ini-server";
  try {
    const RunParameters params = GatherFromCommandLine(platform, args);
    FUZZ_CHECK(params.command != Command::kReadServer);
  } catch (const RunError& error) {
    FUZZ_CHECK(error.number() == kErrorSyntax);
  }
  return 0;
}
