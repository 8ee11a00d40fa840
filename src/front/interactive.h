#pragma once
// The interactive side of parameter gathering: the main window when a display is there,
// the terminal form otherwise.

#include <memory>
#include <optional>
#include <string>
#include <vector>

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

/// How the form is to be shown.
struct FormRequest {
  /// The fields (MainWindowModel indexes) that the command line left empty, in the window's
  /// order; the terminal form asks for these only (and the window shows every field).
  /// Without them, the fields that the parameters leave empty.
  std::optional<std::vector<int>> fields;
  /// When the form is shown again after a run that failed before it changed anything: the
  /// field to mend, which gets the focus (the terminal form asks it first), and the error,
  /// shown in the form. -1 and empty the first time.
  int mend_field = -1;
  std::string error;
};

/// An interactive session: it shows the form, and, when the run goes ahead, stays up to
/// show progress and message boxes until it is destroyed. A run that failed before it
/// changed anything brings the form back.
class InteractiveSession {
 public:
  virtual ~InteractiveSession() = default;
  /// Shows the form filled from `params` (the password field emptied) and reads it back.
  virtual InteractiveResult Ask(RunParameters& params, const FormRequest& request) = 0;
  /// Progress and event pumping for the run that follows.
  virtual RunObserver& observer() = 0;
  /// Tells the user that the run completed (or failed), naming the run log.
  virtual void ShowCompletion(Command command, RunEnd end, const std::string& log_path) = 0;
};

/// The session that fits this machine (the window when a display is set and the window
/// module can open it, else the terminal form), or nullptr when neither can be shown.
/// Installs its message-box presenter on `platform`. When a display is set but the window
/// cannot be shown there, `no_window` (when given) says why.
std::unique_ptr<InteractiveSession> MakeInteractiveSession(Platform& platform,
                                                           const std::string& program_name,
                                                           int argc, char** argv,
                                                           std::string* no_window = nullptr);

}  // namespace cubesec
