#pragma once
// What one run came to, for the program's exit status and its messages on the terminal.

#include <optional>
#include <string>
#include <vector>

#include "client/call_check.h"
#include "client/run_state.h"
#include "front/run_parameters.h"
#include "restore/restore_state.h"

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
  RestoreCounts restored;           // what a completed restore did, for its summary
  // The run log took none of the run's lines. Every command logs its start line before it
  // touches a file or the server, so nothing was done.
  bool log_failed_before_run = false;
  // A call that may change the server's security was sent (a dump sends none).
  bool server_changed = false;
  // The status with which the server refused the login; 0 when it did not.
  EsbStatus refused_login = 0;
};

}  // namespace cubesec
