#pragma once
// The command line: switches into run parameters, and the help and version requests that
// come before any run.

#include <iosfwd>
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
};

/// The program's name: the executable's file name without its extension.
std::string ProgramNameOf(const std::string& executable_path);

/// What the arguments (argv[1..]) ask for before any parsing.
CommandLineRequest RequestOf(const std::vector<std::string>& args);

/// The usage text: the batch help lines with `program` in place of "%1", the long options,
/// the interactive use, the exit statuses, the run log's place `log_path` and the
/// environment, one variable a line.
std::string UsageText(const std::string& program, const std::string& log_path);
/// "<program> <version>".
std::string VersionText(const std::string& program);

/// What the command line says beyond the five run parameters.
struct CommandLineExtras {
  std::optional<std::string> password_file;  // --password-file FILE; "-" is standard input
  std::optional<std::string> check_file;     // --check FILE: check a dump file, no login
  std::vector<size_t> password_args;         // indexes in args of arguments holding a password
  std::vector<std::string> diff_files;       // --diff OLD [NEW]: one file is compared with
                                             // the server
  bool diff_all = false;                     // --all: the diff compares dates and notices too
  bool quiet = false;    // --quiet: no progress line and no summary at the end of a run
  bool verbose = false;  // --verbose: each run log line on standard error as it is written
};

/// Applies the arguments to `params`: slash switches ("/Dfile", letters of either case,
/// values trimmed) and long options ("--dump FILE" or "--dump=FILE", --restore, --reset,
/// --server, --user, --password-file, --yes, --check, --quiet, --verbose). --quiet and
/// --verbose together raise error 50 "--quiet and --verbose cannot be used together". Two different commands
/// raise error 50 "X and Y cannot be used together", each named as it was typed. Each argument is
/// one token, so a value with blanks stays whole; the last of a repeated switch wins. When no
/// argument begins with "/" or "-", the arguments joined by single blanks are the dump file name
/// and the password is cleared. An unknown token raises error 50 "Syntax Error - Unrecognized
/// parameter in command line ('TOKEN')", with a hint to --dump when it looks like a path.
void ApplyCommandLine(const std::vector<std::string>& args, RunParameters& params,
                      CommandLineExtras* extras = nullptr);

/// The run parameters of a process: the client's default server and user, then the
/// command line on top.
RunParameters GatherFromCommandLine(Platform& platform, const std::vector<std::string>& args,
                                    CommandLineExtras* extras = nullptr);

/// Fills in the password that the command line did not give: from the password file (its
/// first line; "-" reads it from `in`), else from CUBESEC_PASSWORD when the password is
/// still empty. False, with `error`, when the password file cannot be read or is empty.
bool ResolvePassword(Platform& platform, const CommandLineExtras& extras, std::istream& in,
                     RunParameters& params, std::string* error);

/// Overwrites, in the process's own argument memory, the password of every argument that
/// `password_args` names (indexes of argv[1..]), so that process listings do not show it.
void HidePasswordArguments(int argc, char** argv, const std::vector<size_t>& password_args);

}  // namespace cubesec
