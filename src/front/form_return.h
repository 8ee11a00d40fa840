#pragma once
// An interactive run that failed before it changed anything is not the end: the form comes
// back with what was typed, and the error is shown at the field that can mend it.

#include <optional>
#include <string>

#include "front/run_outcome.h"

namespace cubesec {

/// Where the form takes up a failed run again.
struct FormReturn {
  int field = -1;     // the field to mend (a MainWindowModel index); it gets the focus
  std::string error;  // what went wrong, as the run log says it
};

/// The form's return after a run that ended as `outcome`, or nullopt when the run ends
/// the program: it completed, it may have changed the server (a restore that sent a
/// change, a reset that deleted), a signal stopped it, or its run log could not be written
/// (no field mends that). A dump never changes the server; a refused login, a missing or
/// refused dump file and a declined reset change nothing.
std::optional<FormReturn> FormReturnFor(const RunOutcome& outcome);

}  // namespace cubesec
