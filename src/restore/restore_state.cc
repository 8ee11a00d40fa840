#include "restore/restore_state.h"

#include <algorithm>
#include <utility>

#include "client/dump_format.h"
#include "tools/text.h"

namespace cubesec {

RestoreCounts& RestoreCounts::operator+=(const RestoreCounts& other) {
  groups_created += other.groups_created;
  users_created += other.users_created;
  filters_restored += other.filters_restored;
  values_changed += other.values_changed;
  blocks_skipped += other.blocks_skipped;
  return *this;
}

void RestoreFileState::NoteHeadLine(std::string_view line) {
  // Only an older file's lists are split by the names its head lines define.
  if (dump_format >= kDumpFormat || !IsHeadLine(line)) return;
  const KeyLine head = SplitKeyLine(line);
  std::string name;
  if (head.key == "Group") name = ToLower(head.value);
  if (head.key == "User") name = ToLower(ParseUserHeadValue(head.value).name);
  if (name.empty()) return;
  head_name_most_commas = std::max<size_t>(
      head_name_most_commas, static_cast<size_t>(std::count(name.begin(), name.end(), ',')));
  head_names.insert(std::move(name));
}

EsbStatus RestoreFileState::RaiseApplicationAccess(const std::string& key, uint16_t wanted,
                                                   const std::function<EsbStatus()>& send) {
  std::unique_lock<std::mutex> lock(mutex_);
  settled_.wait(lock, [&] { return setting_.count(key) == 0; });
  auto set = app_access_set_.find(key);
  if (set != app_access_set_.end() && set->second >= wanted) return 0;
  setting_.insert(key);
  lock.unlock();
  EsbStatus status = 0;
  try {
    status = send();
  } catch (...) {
    lock.lock();
    setting_.erase(key);
    lock.unlock();
    settled_.notify_all();
    throw;
  }
  lock.lock();
  setting_.erase(key);
  if (status == 0) app_access_set_[key] = wanted;
  lock.unlock();
  settled_.notify_all();
  return status;
}

std::string RestoreState::FilterKey(std::string_view app, std::string_view db,
                                    std::string_view filter) {
  std::string key;
  key.reserve(app.size() + db.size() + filter.size() + 2);
  key.append(app).append("\t").append(db).append("\t").append(filter);
  return ToLower(key);
}

std::string RestoreState::NameKey(std::string_view app, std::string_view name) {
  std::string key;
  key.reserve(app.size() + name.size() + 1);
  key.append(app).append("\t").append(name);
  return ToLower(key);
}

bool ReadRestoreLine(RunState& state, RestoreFileState& file, std::string& line) {
  if (!state.ReadDumpLine(line)) return false;
  file.NoteHeadLine(line);
  return true;
}

}  // namespace cubesec
