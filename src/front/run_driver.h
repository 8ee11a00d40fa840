#pragma once
// The run driver: one run from validation to the closing step.

#include "client/run_state.h"
#include "front/run_parameters.h"

namespace cubesec {

/// Carries out one run. Returns true when the command completed, false when the run
/// ended with an error (which the run log holds).
bool RunDriver(RunState& state, const RunParameters& params);

}  // namespace cubesec
