#include "front/progress_model.h"

#include "front/session_texts.h"

namespace cubesec {

bool ProgressModel::Take(const RunProgress& progress) {
  const int64_t now = platform_.SteadyMilliseconds();
  if (shown_ && now - last_shown_ms_ < kIntervalMs) return false;
  shown_ = true;
  last_shown_ms_ = now;
  text_ = ProgressText(progress);
  percent_ = ProgressPercent(progress);
  return true;
}

}  // namespace cubesec
