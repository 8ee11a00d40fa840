#pragma once
// The program from its arguments to its exit status, with its terminal streams passed in.

#include <iosfwd>

#include "front/api_choice.h"
#include "tools/platform.h"

namespace cubesec {

/// Exit statuses.
inline constexpr int kExitSuccess = 0;  // the run completed, help shown, or cancelled
inline constexpr int kExitFailed = 1;   // the run ended with an error or was not confirmed
inline constexpr int kExitUsage = 2;    // a wrong command line or environment: no run

/// Runs the program: help and version, the parameters from the command line (or from the
/// interactive session when some are missing), then exactly one run, against the client API
/// that `choose_api` picks (ChooseApi in the program; only the program links a server).
int ProgramMain(Platform& platform, ApiChooser choose_api, int argc, char** argv, std::istream& in,
                std::ostream& out, std::ostream& err);

}  // namespace cubesec
