#include "restore/restore_support.h"

#include <mutex>

#include "tools/text.h"

namespace cubesec {

void LogTabbed(RunState& state, std::string_view tmpl, std::initializer_list<std::string> values) {
  std::vector<MsgValue> all;
  all.reserve(values.size() + 1);
  all.emplace_back(std::string("\t"));
  for (const std::string& value : values) all.emplace_back(value);
  state.Log(FormatMsg(tmpl, all));
}

bool IsRunUser(const RunState& state, std::string_view name) {
  return EqualsIgnoreCase(name, state.user);
}

bool IsOtherKindOnTarget(const RestoreState& restore, std::string_view name) {
  return restore.file.other_kind_names.Contains(name);
}

void SkipRestOfBlock(RunState& state) {
  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
  }
}

std::string JoinLines(const std::vector<std::string>& names) { return Join(names, "\r\n"); }

int64_t LeadingWholeNumber(std::string_view text, int64_t low, int64_t high) {
  double rounded = RoundHalfEven(LeadingNumber(text));
  // Written so that NaN fails the test too.
  if (!(rounded >= static_cast<double>(low) && rounded <= static_cast<double>(high))) {
    throw RunError(kErrorOverflow, "Overflow");
  }
  return static_cast<int64_t>(rounded);
}

int TargetMinPasswordLength(RunState& state, RestoreFileState& file) {
  std::lock_guard<std::mutex> lock(file.min_password_length_mutex);
  if (file.min_password_length >= 0) return file.min_password_length;
  EsbGlobalState global;
  EsbStatus status = state.client.api->EsbGetGlobalState(state.client.context, &global);
  CheckStatus(state.client, "EsbGetGlobalState", status);
  file.min_password_length = global.min_length > 0 ? global.min_length : 0;
  return file.min_password_length;
}

}  // namespace cubesec
