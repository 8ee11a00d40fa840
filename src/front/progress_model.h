#pragma once
// What a progress window shows while a run works, and its Cancel button, apart from any
// toolkit: the Qt and the Win32 windows are thin views of it.

#include <cstdint>
#include <string>

#include "client/run_state.h"
#include "tools/platform.h"

namespace cubesec {

class ProgressModel {
 public:
  /// A window is repainted this often at most; the run reports every item.
  static constexpr int64_t kIntervalMs = 100;

  explicit ProgressModel(Platform& platform) : platform_(platform) {}

  /// Takes the run's latest progress. True when the window should show it now: the first
  /// report, and then at most once every kIntervalMs.
  bool Take(const RunProgress& progress);
  /// The line above the bar ("users 340/1,005") and the bar's share, from 0 to 100.
  const std::string& text() const { return text_; }
  int percent() const { return percent_; }

  /// The Cancel button was pressed, or the window closed: the run is asked to stop (a dump
  /// at its next line, a restore between two blocks) and ends as a failed run.
  void RequestCancel() { cancel_requested_ = true; }
  bool cancel_requested() const { return cancel_requested_; }
  /// The button's caption, which also says that the run has heard the request.
  const char* cancel_caption() const { return cancel_requested_ ? "Cancelling..." : "Cancel"; }

 private:
  Platform& platform_;
  bool shown_ = false;
  int64_t last_shown_ms_ = 0;
  std::string text_;
  int percent_ = 0;
  bool cancel_requested_ = false;
};

}  // namespace cubesec
