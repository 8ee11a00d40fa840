#pragma once
// The command line: switches into run parameters, and the help and version requests that
// come before any run.

#include <optional>
#include <string>
#include <vector>

#include "front/run_parameters.h"
#include "tools/platform.h"

namespace cubesec {

enum class CommandLineRequest {
  kRun,      // gather the parameters and run
  kHelp,     // "/?", "-h" or "--help" anywhere: print the usage
  kVersion,  // "--version": print the version
  kCheck,    // "--check FILE" as the first argument: check a dump file, no login
};

/// The program's name: the executable's file name without its extension.
std::string ProgramNameOf(const std::string& executable_path);

/// What the arguments (argv[1..]) ask for before any parsing.
CommandLineRequest RequestOf(const std::vector<std::string>& args);

/// The file of a "--check FILE" request; nullopt when the arguments are not exactly that.
std::optional<std::string> CheckFileOf(const std::vector<std::string>& args);

/// The usage text: the batch help lines with `program` in place of "%1", one per line.
std::string UsageText(const std::string& program);
/// "<program> <version>".
std::string VersionText(const std::string& program);

/// Applies the switches of `args` to `params`. Each argument is one token, so a value with
/// blanks stays whole. When no argument holds a "/", the arguments joined by single blanks
/// are the dump file name and the password is cleared. Switch letters may be of either
/// case, values are trimmed, the last of a repeated switch wins. An unknown token raises
/// error 50 "Syntax Error - Unrecognized parameter in command line ('TOKEN')".
void ApplyCommandLine(const std::vector<std::string>& args, RunParameters& params);

/// The run parameters of a process: the client's default server and user, then the
/// command line on top.
RunParameters GatherFromCommandLine(Platform& platform, const std::vector<std::string>& args);

}  // namespace cubesec
