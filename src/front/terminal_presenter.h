#pragma once
// Message boxes on the terminal, for runs without a window.

#include <iosfwd>

#include "tools/platform.h"

namespace cubesec {

/// Writes the box's title and text to `out` and, for Yes/No boxes, reads the answer from
/// `in` ("y"/"yes" or "n"/"no", without regard to case; an empty line takes the default).
class TerminalMessageBoxPresenter : public MessageBoxPresenter {
 public:
  TerminalMessageBoxPresenter(std::istream& in, std::ostream& out) : in_(in), out_(out) {}
  MessageBoxAnswer Show(const MessageBoxRequest& request) override;

 private:
  std::istream& in_;
  std::ostream& out_;
};

}  // namespace cubesec
