#pragma once
// The interactive session of a machine without a display: the terminal form, progress as
// one updating terminal line, and message boxes as terminal questions.

#include <iosfwd>
#include <memory>
#include <string>

#include "front/interactive.h"
#include "front/terminal_io.h"
#include "front/terminal_presenter.h"

namespace cubesec {

/// Progress on one terminal line that is rewritten for every block.
class TerminalProgressLine : public RunObserver {
 public:
  explicit TerminalProgressLine(TerminalIo& io) : io_(io) {}
  /// The command of the run, which tells whether blocks are written or read.
  void SetCommand(std::string command) { command_ = std::move(command); }
  void OnBlock(std::string_view key_word, int blocks) override;
  /// Ends the progress line, if one was written, so the next text starts on its own line.
  void Finish();

 private:
  TerminalIo& io_;
  std::string command_;
  size_t shown_length_ = 0;
  bool open_ = false;
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
  void ShowCompletion(const std::string& command, RunEnd end, const std::string& log_path) override;

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
