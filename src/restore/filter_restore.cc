// Filter blocks: a filter is verified against the target's outline first; one that does not
// verify is skipped with the server's reason and remembered, so that no access is granted
// through it. So is one that the target gives to names the file does not: a new definition
// would reach them too.
#include <algorithm>
#include <limits>
#include <vector>

#include "client/access_levels.h"
#include "restore/name_lists.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/text.h"

namespace cubesec {
namespace {

struct FilterRow {
  uint16_t access = 0;
  std::string text;
};

struct FilterDefinition {
  int16_t active = 0;
  uint16_t default_access = 0;
  std::vector<FilterRow> rows;  // any number, in file order
  std::vector<std::string> users;
};

// A row line's key is its access word; a number stands for a code of its own.
uint16_t RowAccess(const std::string& key) {
  if (LeadingNumber(key) == 0) return AccessCode(key);
  return static_cast<uint16_t>(LeadingWholeNumber(key, std::numeric_limits<int16_t>::min(),
                                                  std::numeric_limits<uint16_t>::max()));
}

FilterDefinition ReadDefinition(RunState& state, const RestoreFileState& file) {
  FilterDefinition filter;
  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (key == "Active") {
      filter.active = ParseFlag(value);
    } else if (key == "Default Access") {
      filter.default_access = AccessCode(value);
    } else if (key == "Users") {
      filter.users = SplitUsersValue(file, value);
    } else if (key == "None" || key == "Read" || key == "Write" || key == "Meta" ||
               !value.empty()) {
      // An access word makes a row even when empty; other lines without a value (the
      // "not used" notice, the validity notices) carry nothing.
      filter.rows.push_back({RowAccess(key), value});
    }
  }
  return filter;
}

// Asks the server whether every row names what the target's outline holds. A verification
// that cannot even start says nothing of the filter: it is a failed call.
bool Verifies(RunState& state, const std::string& app, const std::string& db,
              const FilterDefinition& filter) {
  EsbApi& api = *state.client.api;
  EsbHandle context = state.client.context;
  state.client.last_status = api.EsbVerifyFilter(context, app, db);
  CheckStatus(state.client, "EsbVerifyFilter", state.client.last_status);
  for (const FilterRow& row : filter.rows) {
    state.client.last_status = api.EsbVerifyFilterRow(context, true, row.text);
    if (state.client.last_status != 0) return false;
  }
  state.client.last_status = api.EsbVerifyFilterRow(context, false, "");
  return state.client.last_status == 0;
}

// Sends the definition; the first failure raises.
void Write(RunState& state, const std::string& app, const std::string& db, const std::string& name,
           const FilterDefinition& filter) {
  EsbApi& api = *state.client.api;
  EsbHandle context = state.client.context;
  EsbStatus status = api.EsbSetFilter(context, app, db, name, filter.active, filter.default_access);
  for (size_t i = 0; status == 0 && i < filter.rows.size(); ++i) {
    status = api.EsbSetFilterRow(context, true, filter.rows[i].text, filter.rows[i].access);
  }
  if (status == 0) status = api.EsbSetFilterRow(context, false, "", 0);
  CheckStatus(state.client, "EsbSetFilter", status);
}

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

bool Holds(const std::vector<std::string>& names, const std::string& name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& have) { return EqualsIgnoreCase(have, name); });
}

// The definition that the target holds for an existing filter (its holders aside).
FilterDefinition TargetDefinition(RunState& state, const std::string& app, const std::string& db,
                                  const std::string& name) {
  EsbApi& api = *state.client.api;
  FilterDefinition target;
  CheckStatus(state.client, "EsbGetFilter",
              api.EsbGetFilter(state.client.context, app, db, name, &target.active,
                               &target.default_access));
  for (;;) {
    std::string row;
    uint16_t access = 0;
    CheckStatus(state.client, "EsbGetFilterRow",
                api.EsbGetFilterRow(state.client.context, &row, &access));
    if (row.empty()) break;
    target.rows.push_back({access, CutAtNul(row)});
  }
  return target;
}

bool SameDefinition(const FilterDefinition& a, const FilterDefinition& b) {
  return (a.active != 0) == (b.active != 0) && a.default_access == b.default_access &&
         std::equal(a.rows.begin(), a.rows.end(), b.rows.begin(), b.rows.end(),
                    [](const FilterRow& x, const FilterRow& y) {
                      return x.access == y.access && x.text == y.text;
                    });
}

// The users and groups that the target assigns the filter to; none for a new filter.
std::vector<std::string> ReadHolders(RunState& state, const std::string& app, const std::string& db,
                                     const std::string& name) {
  EsbApi& api = *state.client.api;
  uint32_t count = 0;
  std::vector<std::string> holders;
  EsbStatus status = api.EsbGetFilterList(state.client.context, app, db, name, &count);
  state.client.last_status = status;
  if (status == kStatusFilterNotFound) return holders;
  CheckStatus(state.client, "EsbGetFilterList", status);
  for (uint32_t i = 0; i < count; ++i) {
    EsbItem item;
    CheckStatus(state.client, "EsbGetFilterList",
                api.EsbGetNextItem(state.client.context, kItemName, &item));
    holders.push_back(CutAtNul(item.name));
  }
  return holders;
}

// Assigns the filter to the names of the dump that the target has, and keeps it for those
// that hold it there already: a restore never takes a filter from anyone, since that would
// let them see all that their access allows.
void Assign(RunState& state, RestoreState& restore, const std::string& app, const std::string& db,
            const std::string& name, const std::vector<std::string>& listed,
            const std::vector<std::string>& held) {
  EsbApi& api = *state.client.api;
  std::vector<std::string> assigned, kept;
  for (const std::string& holder : listed) {
    if (!Holds(assigned, holder) && !IsOtherKindOnTarget(restore, holder)) {
      assigned.push_back(holder);
    }
  }
  for (const std::string& holder : held) {
    if (!Holds(assigned, holder)) kept.push_back(holder);
  }
  auto send = [&] {
    std::vector<std::string> all = assigned;
    all.insert(all.end(), kept.begin(), kept.end());
    return api.EsbSetFilterList(state.client.context, app, db, name, JoinLines(all),
                                static_cast<uint32_t>(all.size()));
  };
  EsbStatus status = send();
  if (status == kStatusUserNotFound) {
    // The server names only the first name that it lacks: each of the dump's is looked up.
    std::vector<std::string> present;
    for (const std::string& holder : assigned) {
      EsbUserInfo info;
      EsbStatus found = api.EsbGetUser(state.client.context, holder, &info);
      if (found == kStatusUserNotFound || found == kStatusGroupNotFound) continue;
      CheckStatus(state.client, "EsbGetUser", found);
      present.push_back(holder);
    }
    assigned = std::move(present);
    status = send();
  }
  CheckStatus(state.client, "EsbSetFilterList", status);
  for (const std::string& holder : assigned) {
    restore.filters_assigned[RestoreState::FilterKey(app, db, holder)] = name;
  }
  std::vector<std::string> not_present;  // in file order
  for (const std::string& holder : listed) {
    if (!Holds(assigned, holder) && !Holds(not_present, holder)) not_present.push_back(holder);
  }
  ++restore.restored.values_changed;
  LogTabbed(state, "%1Assigned filter '%2' to %3 user/groups",
            {name, std::to_string(assigned.size())});
  if (!not_present.empty()) {
    LogTabbed(state, "%1Filter '%2' was NOT assigned to: %3 (users/groups were not present)",
              {name, Join(not_present, ", ")});
  }
  if (!kept.empty()) {
    LogTabbed(state, "%1Filter '%2' still assigned to: %3 (users/groups that held it already)",
              {name, Join(kept, ", ")});
  }
}

}  // namespace

void RestoreFilter(RunState& state, RestoreState& restore, const std::string& name) {
  state.BeginBlock("Filter");
  const std::string app = restore.current_app;
  const std::string db = restore.current_db;
  // Under a skipped database nothing is sent and nothing is logged.
  if (app.empty() || db.empty() || name.empty()) return SkipRestOfBlock(state);
  FilterDefinition filter = ReadDefinition(state, restore.file);

  std::string key = RestoreState::FilterKey(app, db, name);
  restore.file_filters.insert(key);
  if (!Verifies(state, app, db, filter)) {
    std::string message;
    int32_t ref = GetMessageText(state.client, state.client.last_status, message);
    restore.skipped_filters.insert(key);
    ++restore.restored.blocks_skipped;
    LogTabbed(state, "%1Restoration of Filter '%2' skipped (ref=%3, msg=%4)",
              {name, std::to_string(ref), FirstLine(message)});
    return;
  }
  const std::vector<std::string> held = ReadHolders(state, app, db, name);
  // The target's holders keep the filter (see Assign), so a changed definition would change
  // what those the file does not name may see: widened, perhaps, for someone unknown here.
  std::vector<std::string> unnamed;
  for (const std::string& holder : held) {
    if (!Holds(filter.users, holder)) unnamed.push_back(holder);
  }
  if (!unnamed.empty() && !SameDefinition(filter, TargetDefinition(state, app, db, name))) {
    restore.skipped_filters.insert(key);
    LogTabbed(state,
              "%1Restoration of Filter '%2' skipped (held on the target by %3, which the dump "
              "file does not name)",
              {name, Join(unnamed, ", ")});
    return;
  }
  Write(state, app, db, name, filter);
  restore.skipped_filters.erase(key);
  ++restore.restored.filters_restored;
  LogTabbed(state, "%1Restored filter '%2' for database '%3:%4'", {name, app, db});
  Assign(state, restore, app, db, name, filter.users, held);
}

}  // namespace cubesec
