#include "front/batch_observer.h"

#include <string>

#include "client/dump_format.h"
#include "tools/text.h"

namespace cubesec {

void BatchObserver::OnProgress(const RunProgress& progress) {
  if (progress_) line_.OnProgress(progress);
}

void BatchObserver::OnLogLine(std::string_view shown) {
  if (!verbose_) return;
  line_.Finish();
  // A line that ends the run's part of the log carries its empty line with it. Whatever a
  // name brought into the line reaches the terminal as \xNN, never as a control sequence.
  std::string text;
  for (const std::string& piece : Split(shown, "\r\n")) {
    AppendShowingControlCharacters(text, piece);
    text += '\n';
  }
  err_.Write(text);
}

}  // namespace cubesec
