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
  // Earlier units first: what they set decides whether this one sends at all.
  const std::string turn = ApplicationAccessTurn(key);
  turns.Await(turn, unit);
  bool raise = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto set = app_access_set_.find(key);
    raise = set == app_access_set_.end() || set->second < wanted;
  }
  EsbStatus status = 0;
  if (raise) {
    // Later units of the key wait for this one's turn to end; others go on meanwhile.
    try {
      status = send();
    } catch (...) {
      turns.End(turn, unit);
      throw;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (status == 0) app_access_set_[key] = wanted;
  }
  turns.End(turn, unit);
  return status;
}

void NameSet::Insert(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  names_.insert(ToLower(name));
}

bool NameSet::Contains(std::string_view name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return names_.count(ToLower(name)) != 0;
}

std::set<std::string> NameSet::Names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return names_;
}

std::string CreationTurn() { return "create"; }

std::string MembershipTurn(std::string_view group) { return "member\t" + ToLower(group); }

std::string ApplicationAccessTurn(std::string_view name_key) {
  return "access\t" + std::string(name_key);
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
