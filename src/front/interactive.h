#pragma once
// The interactive side of parameter gathering: the main window when a display is there,
// the terminal form otherwise.

#include <memory>
#include <string>

#include "client/run_state.h"
#include "front/run_parameters.h"
#include "front/session_texts.h"
#include "tools/platform.h"

namespace cubesec {

enum class InteractiveResult {
  kRun,          // the user chose a command; the parameters are filled in
  kCancelled,    // the user cancelled: no run
  kUnavailable,  // no window and no terminal to ask on
};

/// An interactive session: it shows the form once, and, when the run goes ahead, stays up
/// to show progress and message boxes until it is destroyed.
class InteractiveSession {
 public:
  virtual ~InteractiveSession() = default;
  /// Shows the form filled from `params` (the password field emptied) and reads it back.
  virtual InteractiveResult Ask(RunParameters& params) = 0;
  /// Progress and event pumping for the run that follows.
  virtual RunObserver& observer() = 0;
  /// Tells the user that the run completed (or failed), naming the run log.
  virtual void ShowCompletion(const std::string& command, RunEnd end,
                              const std::string& log_path) = 0;
};

/// The session that fits this machine (Qt window, terminal form), or nullptr when
/// neither can be shown. Installs its message-box presenter on `platform`.
std::unique_ptr<InteractiveSession> MakeInteractiveSession(Platform& platform,
                                                           const std::string& program_name,
                                                           int argc, char** argv);

}  // namespace cubesec
