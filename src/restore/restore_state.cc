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
                                                   const std::function<EsbStatus()>& send,
                                                   long unit) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Earlier units first: what they set decides whether this one sends at all.
  settled_.wait(lock, [&] {
    auto expected = expected_.find(key);
    return expected == expected_.end() || expected->second.empty() ||
           *expected->second.begin() >= unit;
  });
  EsbStatus status = 0;
  auto set = app_access_set_.find(key);
  if (set == app_access_set_.end() || set->second < wanted) {
    // Later units of the key wait for this one's turn to end; others go on meanwhile.
    lock.unlock();
    try {
      status = send();
    } catch (...) {
      EndTurn(key, unit);
      throw;
    }
    lock.lock();
    if (status == 0) app_access_set_[key] = wanted;
  }
  lock.unlock();
  EndTurn(key, unit);
  return status;
}

void RestoreFileState::EndTurn(const std::string& key, long unit) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto expected = expected_.find(key);
    if (expected == expected_.end() || expected->second.erase(unit) == 0) return;
    keys_of_unit_[unit].erase(key);
  }
  settled_.notify_all();
}

void RestoreFileState::ExpectApplicationAccess(const std::string& key, long unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  expected_[key].insert(unit);
  keys_of_unit_[unit].insert(key);
}

void RestoreFileState::EndApplicationAccess(long unit) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto keys = keys_of_unit_.find(unit);
    if (keys == keys_of_unit_.end()) return;
    for (const std::string& key : keys->second) expected_[key].erase(unit);
    keys_of_unit_.erase(keys);
  }
  settled_.notify_all();
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
