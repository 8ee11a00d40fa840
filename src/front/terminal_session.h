#pragma once
// The interactive session of a machine without a display: the terminal form, progress as
// one updating terminal line, and message boxes as terminal questions.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>

#include "front/interactive.h"
#include "front/terminal_io.h"
#include "front/terminal_presenter.h"

namespace cubesec {

/// Progress on one terminal line, rewritten in place a few times a second (paced by the
/// platform's clock, whatever the number of items) and wiped by Finish. Used by the
/// terminal form's runs and by batch runs whose standard error is a terminal.
class TerminalProgressLine : public RunObserver {
 public:
  /// The line is shown this long after the last showing at the soonest; a run shorter
  /// than that shows none.
  static constexpr int64_t kIntervalMs = 250;
  /// The longest line shown, in characters: an 80-column terminal never wraps it, and a
  /// wrapped line could not be rewritten in place.
  static constexpr size_t kWidth = 79;

  TerminalProgressLine(Platform& platform, TerminalIo& io);
  void OnProgress(const RunProgress& progress) override;
  /// Wipes the progress line, if one is shown, so the next text starts on an empty line.
  void Finish();

 private:
  Platform& platform_;
  TerminalIo& io_;
  int64_t last_shown_ms_;
  size_t shown_length_ = 0;  // characters on the line now
};

class TerminalSession : public InteractiveSession {
 public:
  /// `io` shows the form and the progress; `in` and `out` carry the message boxes. The
  /// session installs its presenter on `platform` and removes it when it goes.
  TerminalSession(Platform& platform, std::string program_name, TerminalIo& io, std::istream& in,
                  std::ostream& out);
  ~TerminalSession() override;
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  InteractiveResult Ask(RunParameters& params, const FormRequest& request) override;
  RunObserver& observer() override { return progress_; }
  void ShowCompletion(Command command, RunEnd end, const std::string& log_path) override;

 private:
  Platform& platform_;
  std::string program_name_;
  TerminalIo& io_;
  TerminalMessageBoxPresenter presenter_;
  TerminalProgressLine progress_;
};

}  // namespace cubesec

namespace cubesec {

/// The terminal session on the process's own standard input and standard error.
std::unique_ptr<InteractiveSession> MakeTerminalSession(Platform& platform,
                                                        const std::string& program_name);

}  // namespace cubesec
