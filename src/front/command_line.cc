#include "front/command_line.h"

#include <filesystem>

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
  if (!args.empty() && args[0] == "--check") return CommandLineRequest::kCheck;
  return version ? CommandLineRequest::kVersion : CommandLineRequest::kRun;
}

std::optional<std::string> CheckFileOf(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0] != "--check" || args[1].empty()) return std::nullopt;
  return args[1];
}

std::string UsageText(const std::string& program) {
  static constexpr const char* kLines[] = {
      "This utility supports batch operation via:",
      "Dump Security: %1  /Ddumpfile /Sservername /Uusername /Ppassword",
      "Restore Security: %1  /Rdumpfile /Sservername /Uusername /Ppassword",
      "(the server being restored does not have to match the dumpfile's source)",
      "Reset Security: %1  /Cdumpfile /Sservername /Uusername /Ppassword (asks before it "
      "deletes all other users, all groups and all filters)",
      "Check a dump file: %1  --check dumpfile (no login; lists each problem with its line "
      "number; exit status 0 when a restore can read the file)",
      "Server and user default to the Essbase client's Login settings. Environment: "
      "CUBESEC_SIM_DIR (folder of the simulated servers), CUBESEC_SIM_TRACE=FILE (trace every "
      "client call), CUBESEC_SIM_FAULTS=CALL#N=STATUS,... (make chosen calls fail; "
      "STATUS/nomsg: fail without a message), "
      "CUBESEC_NOW (pin the clock, seconds since 1970), CUBESEC_EDITOR (editor for the run "
      "log).",
  };
  std::string text;
  for (const char* line : kLines) {
    text += FormatMsg(line, {program});
    text += "\n";
  }
  return text;
}

std::string VersionText(const std::string& program) { return program + " " + CUBESEC_VERSION; }

void ApplyCommandLine(const std::vector<std::string>& args, RunParameters& params) {
  if (args.empty()) return;
  bool has_slash = false;
  for (const std::string& arg : args) has_slash = has_slash || arg.find('/') != std::string::npos;
  if (!has_slash) {
    params.dump_file = Join(args, " ");
    params.password.clear();
    return;
  }
  for (const std::string& arg : args) {
    const std::string token = Trim(arg);
    if (token.empty()) continue;  // an empty argument names nothing
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
    } else {
      throw RunError(
          kErrorSyntax,
          FormatMsg("Syntax Error - Unrecognized parameter in command line ('%1')", {token}));
    }
  }
}

RunParameters GatherFromCommandLine(Platform& platform, const std::vector<std::string>& args) {
  RunParameters params;
  params.server = GetEssbaseSetting(platform, "Login", "Server");
  params.user = GetEssbaseSetting(platform, "Login", "User");
  ApplyCommandLine(args, params);
  return params;
}

}  // namespace cubesec
