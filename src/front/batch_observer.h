#pragma once
// What a batch run shows on standard error while it works: one progress line when standard
// error is a terminal, and with --verbose each run log line as it is written.

#include <string_view>

#include "client/run_state.h"
#include "front/terminal_io.h"
#include "front/terminal_session.h"
#include "tools/platform.h"

namespace cubesec {

class BatchObserver : public RunObserver {
 public:
  /// `progress`: show the progress line (standard error is a terminal, no --quiet);
  /// `verbose`: show each run log line (--verbose).
  BatchObserver(Platform& platform, TerminalIo& err, bool progress, bool verbose)
      : err_(err), line_(platform, err), progress_(progress), verbose_(verbose) {}
  void OnProgress(const RunProgress& progress) override;
  void OnLogLine(std::string_view shown) override;
  /// Wipes the progress line, so that a summary or an error message starts a clean line.
  void Finish() { line_.Finish(); }

 private:
  TerminalIo& err_;
  TerminalProgressLine line_;
  bool progress_;
  bool verbose_;
};

}  // namespace cubesec
