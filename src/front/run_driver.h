#pragma once
// The run driver: one run from validation to the closing step.

#include "client/run_state.h"
#include "front/run_parameters.h"

namespace cubesec {

/// Carries out one run. Returns true when the command completed, false when the run
/// ended with an error (which the run log, and for interactive runs a message box, holds).
bool RunDriver(RunState& state, const RunParameters& params);

}  // namespace cubesec
