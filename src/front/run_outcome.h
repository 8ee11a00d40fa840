#pragma once
// What one run came to, for the program's exit status and its messages on the terminal.

#include <optional>
#include <string>
#include <vector>

#include "client/call_check.h"
#include "client/run_state.h"
#include "front/run_parameters.h"

namespace cubesec {

struct RunOutcome {
  bool completed = false;           // the command ran to its end
  bool declined = false;            // the security reset was not confirmed: nothing was done
  std::optional<RunError> error;    // the error that ended the run (also in the run log)
  std::string log_failure;          // why the run log could not be written; empty when it could
  int failed_deletions = 0;         // a reset's deletions that failed (run not completed)
  int interrupt_signal = 0;         // the signal that stopped the run, or 0
  bool cancelled = false;           // the user's Cancel stopped the run (error 62)
  std::vector<std::string> report;  // a plan's lines, for standard output
  // The run log took none of the run's lines. Every command logs its start line before it
  // touches a file or the server, so nothing was done.
  bool log_failed_before_run = false;
};

}  // namespace cubesec
