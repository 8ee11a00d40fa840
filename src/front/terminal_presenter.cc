#include "front/terminal_presenter.h"

#include <istream>
#include <ostream>
#include <string>

#include "tools/text.h"

namespace cubesec {

MessageBoxAnswer TerminalMessageBoxPresenter::Show(const MessageBoxRequest& request) {
  out_ << "\n" << request.title << "\n" << request.text << "\n";
  if (request.buttons == MessageBoxButtons::kOk) {
    out_.flush();
    return MessageBoxAnswer::kOk;
  }
  const bool no_default = request.default_is_no;
  for (;;) {
    out_ << (no_default ? "[y/N] " : "[Y/n] ") << std::flush;
    std::string line;
    if (!std::getline(in_, line)) return MessageBoxAnswer::kNo;  // end of input: the safe answer
    const std::string answer = ToLower(Trim(line));
    if (answer.empty()) return no_default ? MessageBoxAnswer::kNo : MessageBoxAnswer::kYes;
    if (answer == "y" || answer == "yes") return MessageBoxAnswer::kYes;
    if (answer == "n" || answer == "no") return MessageBoxAnswer::kNo;
  }
}

}  // namespace cubesec
