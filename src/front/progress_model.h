#pragma once
// What a progress window shows while a run works, apart from any toolkit: the Qt and the
// Win32 windows are thin views of it.

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

 private:
  Platform& platform_;
  bool shown_ = false;
  int64_t last_shown_ms_ = 0;
  std::string text_;
  int percent_ = 0;
};

}  // namespace cubesec
