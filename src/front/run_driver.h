#pragma once
// The run driver: one run from validation to the closing step.

#include <optional>
#include <string>

#include "client/run_state.h"
#include "front/run_outcome.h"
#include "front/run_parameters.h"

namespace cubesec {

/// Carries out one run: validation, client start and login, the command, and the closing
/// step that reports the error, closes the dump file, logs out and ends the client.
RunOutcome CarryOutRun(RunState& state, const RunParameters& params);

/// The message for the first empty parameter, in the order command, dump file name, server,
/// user, password; nullopt when all are given.
std::optional<std::string> FirstMissingParameter(const RunParameters& params);

}  // namespace cubesec
