#include "client/plan_view.h"

#include <algorithm>
#include <cstring>

#include "client/access_levels.h"
#include "client/esb_status.h"
#include "tools/text.h"

namespace cubesec {
namespace {

std::string Key(std::initializer_list<std::string_view> names) {
  std::string key;
  for (std::string_view name : names) {
    if (!key.empty()) key += '\n';
    key += ToLower(Trim(name));
  }
  return key;
}

std::string Quoted(std::string_view name) { return "'" + std::string(name) + "'"; }

std::string Place(const std::string& app, const std::string& db) { return Quoted(app + ":" + db); }

std::string Field(const char* field) { return Trim(CutAtNul(std::string_view(field))); }

bool Holds(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [&](const std::string& have) { return EqualsIgnoreCase(have, name); });
}

// A row as the dump writes it ("Read: @CHILDREN(\"East\")"), or "(none)".
std::string RowText(const std::string* text, uint16_t access) {
  if (text == nullptr) return "(none)";
  const std::string word = access == kAccessFiltered ? "Meta" : AccessName(access);
  return word + ": " + *text;
}

std::vector<std::string> SplitNames(const std::string& names, uint32_t count) {
  std::vector<std::string> list;
  if (count == 0) return list;
  for (std::string& name : Split(names, "\r\n")) {
    if (!Trim(name).empty()) list.push_back(Trim(name));
  }
  return list;
}

std::string NamesText(int16_t all, const std::vector<std::string>& names) {
  if (all) return "<All>";
  return names.empty() ? std::string("(none)") : Join(names, ", ");
}

// Application access is one of two levels beside none.
std::string AppAccessName(uint16_t code) {
  if (code == kAppAccessMember) return "Access";
  if (code == kAppAccessDesigner) return "Application Designer";
  return AccessName(code);
}

std::string Count(int32_t value, const char* unit) { return std::to_string(value) + unit; }

}  // namespace

EsbStatus PlanView::Intercept(const char*, const std::function<EsbStatus()>& call) {
  // Calls that the view does not override only read, or start and end the session. A failure
  // of the server's replaces a message that the view left, as the server's own would.
  message_.reset();
  return call();
}

EsbStatus PlanView::Fail(EsbStatus status, const std::string& message) {
  message_ = std::make_pair(status, message);
  return status;
}

void PlanView::Note(std::string line, bool creation) {
  changes_.push_back(std::move(line));
  if (creation) ++created_;
}

EsbStatus PlanView::EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number, char* buffer,
                                  size_t size) {
  if (!message_) return inner_.EsbGetMessage(instance, level, number, buffer, size);
  if (level) *level = 2;
  if (number) *number = message_->first;
  if (buffer && size > 0) {
    const size_t n = std::min(size - 1, message_->second.size());
    std::memcpy(buffer, message_->second.data(), n);
    buffer[n] = '\0';
  }
  message_.reset();
  return 0;
}

// Lists ----------------------------------------------------------------------------------

EsbStatus PlanView::DrainList(EsbHandle context, uint16_t type, EsbStatus status, uint32_t count,
                              std::vector<EsbItem>* items) {
  if (status != 0) return status;
  for (uint32_t i = 0; i < count; ++i) {
    EsbItem item;
    status = inner_.EsbGetNextItem(context, type, &item);
    if (status != 0) return status;
    items->push_back(item);
  }
  return 0;
}

EsbStatus PlanView::Serve(uint16_t type, std::vector<EsbItem> items, uint32_t* count) {
  list_type_ = type;
  list_ = std::move(items);
  next_item_ = 0;
  if (count) *count = static_cast<uint32_t>(list_.size());
  return 0;
}

EsbStatus PlanView::EsbGetNextItem(EsbHandle, uint16_t item_type, EsbItem* item) {
  if (next_item_ >= list_.size()) return Fail(kStatusListExhausted, "No more items in the list");
  if (item_type != list_type_) return Fail(kStatusWrongItemType, "Wrong item type");
  *item = list_[next_item_++];
  return 0;
}

EsbStatus PlanView::EsbListUsers(EsbHandle context, const std::string& app, const std::string& db,
                                 uint32_t* count) {
  uint32_t n = 0;
  std::vector<EsbItem> items;
  EsbStatus status = inner_.EsbListUsers(context, app, db, &n);
  status = DrainList(context, kItemUserName, status, n, &items);
  return status ? status : Serve(kItemUserName, std::move(items), count);
}

EsbStatus PlanView::EsbListGroups(EsbHandle context, const std::string& app, const std::string& db,
                                  uint32_t* count) {
  uint32_t n = 0;
  std::vector<EsbItem> items;
  EsbStatus status = inner_.EsbListGroups(context, app, db, &n);
  status = DrainList(context, kItemGroupName, status, n, &items);
  return status ? status : Serve(kItemGroupName, std::move(items), count);
}

EsbStatus PlanView::EsbListApplications(EsbHandle context, uint32_t* count) {
  uint32_t n = 0;
  std::vector<EsbItem> items;
  EsbStatus status = inner_.EsbListApplications(context, &n);
  status = DrainList(context, kItemAppName, status, n, &items);
  return status ? status : Serve(kItemAppName, std::move(items), count);
}

EsbStatus PlanView::EsbListDatabases(EsbHandle context, const std::string& app, uint32_t* count) {
  uint32_t n = 0;
  std::vector<EsbItem> items;
  EsbStatus status = inner_.EsbListDatabases(context, app, &n);
  status = DrainList(context, kItemAppDb, status, n, &items);
  return status ? status : Serve(kItemAppDb, std::move(items), count);
}

EsbStatus PlanView::EsbListFilters(EsbHandle context, const std::string& app, const std::string& db,
                                   uint32_t* count) {
  uint32_t n = 0;
  std::vector<EsbItem> items;
  EsbStatus status = inner_.EsbListFilters(context, app, db, &n);
  status = DrainList(context, kItemFilterName, status, n, &items);
  if (status) return status;
  // Filters that the plan creates are listed too.
  const std::string prefix = Key({app, db}) + '\n';
  for (const auto& [key, name] : new_filters_) {
    if (!key.starts_with(prefix)) continue;
    EsbItem item;
    CopyToField(name, item.name);
    items.push_back(item);
  }
  return Serve(kItemFilterName, std::move(items), count);
}

EsbStatus PlanView::EsbGetGroupList(EsbHandle context, const std::string& name, uint32_t* count) {
  std::vector<std::string> names;
  EsbStatus status = HeldGroupsOf(context, name, &names);
  if (status) return status;
  std::vector<EsbItem> items;
  for (const std::string& group : names) {
    EsbItem item;
    CopyToField(group, item.name);
    items.push_back(item);
  }
  return Serve(kItemName, std::move(items), count);
}

EsbStatus PlanView::EsbGetFilterList(EsbHandle context, const std::string& app,
                                     const std::string& db, const std::string& filter,
                                     uint32_t* count) {
  std::vector<std::string> names;
  EsbStatus status = HeldHolders(context, app, db, filter, &names);
  if (status) return status;
  std::vector<EsbItem> items;
  for (const std::string& holder : names) {
    EsbItem item;
    CopyToField(holder, item.name);
    items.push_back(item);
  }
  return Serve(kItemName, std::move(items), count);
}

EsbStatus PlanView::EsbGetCalcList(EsbHandle context, const std::string& name,
                                   const std::string& app, const std::string& db,
                                   int16_t* all_calcs, uint32_t* count) {
  Calcs calcs;
  EsbStatus status = HeldCalcs(context, name, app, db, &calcs);
  if (status) return status;
  if (all_calcs) *all_calcs = calcs.all;
  std::vector<EsbItem> items;
  for (const std::string& calc : calcs.names) {
    EsbItem item;
    CopyToField(calc, item.name);
    items.push_back(item);
  }
  return Serve(kItemCalcName, std::move(items), count);
}

EsbStatus PlanView::AppAccessItems(EsbHandle context, const std::string& user,
                                   const std::string& app, std::vector<EsbItem>& items) {
  uint32_t n = 0;
  if (user.empty() || new_principals_.count(Key({user})) == 0) {
    EsbStatus status = inner_.EsbGetApplicationAccess(context, user, app, &n);
    status = DrainList(context, kItemUserApp, status, n, &items);
    if (status) return status;
  } else {
    EsbItem item;
    CopyToField(user, item.user_app.user);
    CopyToField(app, item.user_app.app);
    items.push_back(item);
  }
  for (EsbItem& item : items) {
    auto kept = app_access_.find(Key({app, Field(item.user_app.user)}));
    if (kept != app_access_.end()) item.user_app.access = kept->second;
  }
  return 0;
}

EsbStatus PlanView::EsbGetApplicationAccess(EsbHandle context, const std::string& user,
                                            const std::string& app, uint32_t* count) {
  std::vector<EsbItem> items;
  EsbStatus status = AppAccessItems(context, user, app, items);
  return status ? status : Serve(kItemUserApp, std::move(items), count);
}

EsbStatus PlanView::DbAccessItems(EsbHandle context, const std::string& user,
                                  const std::string& app, const std::string& db,
                                  std::vector<EsbItem>& items) {
  uint32_t n = 0;
  if (user.empty() || new_principals_.count(Key({user})) == 0) {
    EsbStatus status = inner_.EsbGetDatabaseAccess(context, user, app, db, &n);
    status = DrainList(context, kItemUserDb, status, n, &items);
    if (status) return status;
  } else {
    EsbItem item;
    CopyToField(app, item.user_db.app);
    CopyToField(db, item.user_db.db);
    CopyToField(user, item.user_db.user);
    items.push_back(item);
  }
  for (EsbItem& item : items) {
    auto kept = grants_.find(Key({app, db, Field(item.user_db.user)}));
    if (kept == grants_.end()) continue;
    item.user_db.access = kept->second.access;
    item.user_db.max_access = std::max(item.user_db.max_access, kept->second.access);
    CopyToField(kept->second.filter, item.user_db.filter);
  }
  return 0;
}

EsbStatus PlanView::EsbGetDatabaseAccess(EsbHandle context, const std::string& user,
                                         const std::string& app, const std::string& db,
                                         uint32_t* count) {
  std::vector<EsbItem> items;
  EsbStatus status = DbAccessItems(context, user, app, db, items);
  return status ? status : Serve(kItemUserDb, std::move(items), count);
}

// Reads --------------------------------------------------------------------------------

EsbStatus PlanView::EsbGetGlobalState(EsbHandle context, EsbGlobalState* state) {
  if (global_) {
    *state = *global_;
    return 0;
  }
  return inner_.EsbGetGlobalState(context, state);
}

EsbStatus PlanView::HeldPrincipal(EsbHandle context, const std::string& name, EsbUserInfo* info) {
  auto kept = principals_.find(Key({name}));
  if (kept != principals_.end()) {
    *info = kept->second;
    return 0;
  }
  return inner_.EsbGetUser(context, name, info);
}

EsbStatus PlanView::EsbGetUser(EsbHandle context, const std::string& name, EsbUserInfo* info) {
  if (principals_.count(Key({name})) == 0) return inner_.EsbGetUser(context, name, info);
  return HeldPrincipal(context, name, info);
}

EsbStatus PlanView::EsbGetGroup(EsbHandle context, const std::string& name, EsbUserInfo* info) {
  auto kept = principals_.find(Key({name}));
  if (kept == principals_.end()) return inner_.EsbGetGroup(context, name, info);
  if (kept->second.type != kUserTypeGroup) {
    return Fail(kStatusGroupNotFound, "Group " + name + " does not exist");
  }
  *info = kept->second;
  return 0;
}

EsbStatus PlanView::EsbGetApplicationState(EsbHandle context, const std::string& app,
                                           EsbAppState* state) {
  auto kept = apps_.find(Key({app}));
  if (kept == apps_.end()) return inner_.EsbGetApplicationState(context, app, state);
  *state = kept->second;
  return 0;
}

EsbStatus PlanView::EsbGetDatabaseState(EsbHandle context, const std::string& app,
                                        const std::string& db, EsbDbState* state) {
  auto kept = dbs_.find(Key({app, db}));
  if (kept == dbs_.end()) return inner_.EsbGetDatabaseState(context, app, db, state);
  *state = kept->second;
  return 0;
}

EsbStatus PlanView::HeldFilter(EsbHandle context, const std::string& app, const std::string& db,
                               const std::string& name, Filter* filter) {
  auto kept = filters_.find(Key({app, db, name}));
  if (kept != filters_.end()) {
    *filter = kept->second;
    return 0;
  }
  EsbStatus status = inner_.EsbGetFilter(context, app, db, name, &filter->active, &filter->access);
  if (status) return status;
  for (;;) {
    FilterRow row;
    status = inner_.EsbGetFilterRow(context, &row.text, &row.access);
    if (status) return status;
    if (row.text.empty()) break;
    filter->rows.push_back(row);
  }
  return 0;
}

EsbStatus PlanView::EsbGetFilter(EsbHandle context, const std::string& app, const std::string& db,
                                 const std::string& filter, int16_t* active, uint16_t* access) {
  Filter held;
  EsbStatus status = HeldFilter(context, app, db, filter, &held);
  if (status) return status;
  if (active) *active = held.active;
  if (access) *access = held.access;
  rows_read_ = std::move(held.rows);
  next_row_ = 0;
  return 0;
}

EsbStatus PlanView::EsbGetFilterRow(EsbHandle, std::string* row, uint16_t* access) {
  if (next_row_ >= rows_read_.size()) {
    row->clear();
    if (access) *access = 0;
    return 0;
  }
  *row = rows_read_[next_row_].text;
  if (access) *access = rows_read_[next_row_].access;
  ++next_row_;
  return 0;
}

EsbStatus PlanView::HeldGroupsOf(EsbHandle context, const std::string& user,
                                 std::vector<std::string>* groups) {
  const std::string key = Key({user});
  if (new_principals_.count(key) == 0) {
    uint32_t n = 0;
    std::vector<EsbItem> items;
    EsbStatus status = inner_.EsbGetGroupList(context, user, &n);
    status = DrainList(context, kItemName, status, n, &items);
    if (status) return status;
    for (const EsbItem& item : items) groups->push_back(Field(item.name));
  }
  auto added = added_groups_.find(key);
  if (added != added_groups_.end()) {
    groups->insert(groups->end(), added->second.begin(), added->second.end());
  }
  return 0;
}

EsbStatus PlanView::HeldGrant(EsbHandle context, const std::string& user, const std::string& app,
                              const std::string& db, Grant* grant) {
  std::vector<EsbItem> items;
  if (EsbStatus status = DbAccessItems(context, user, app, db, items)) return status;
  if (!items.empty()) {
    grant->access = items[0].user_db.access;
    grant->filter = Field(items[0].user_db.filter);
  }
  return 0;
}

EsbStatus PlanView::HeldAppAccess(EsbHandle context, const std::string& user,
                                  const std::string& app, uint16_t* access) {
  std::vector<EsbItem> items;
  if (EsbStatus status = AppAccessItems(context, user, app, items)) return status;
  *access = items.empty() ? 0 : items[0].user_app.access;
  return 0;
}

EsbStatus PlanView::HeldHolders(EsbHandle context, const std::string& app, const std::string& db,
                                const std::string& name, std::vector<std::string>* holders) {
  const std::string key = Key({app, db, name});
  auto kept = holders_.find(key);
  if (kept != holders_.end()) {
    *holders = kept->second;
    return 0;
  }
  uint32_t n = 0;
  std::vector<EsbItem> items;
  EsbStatus status = inner_.EsbGetFilterList(context, app, db, name, &n);
  status = DrainList(context, kItemName, status, n, &items);
  if (status) return status;
  for (const EsbItem& item : items) holders->push_back(Field(item.name));
  return 0;
}

EsbStatus PlanView::HeldCalcs(EsbHandle context, const std::string& user, const std::string& app,
                              const std::string& db, Calcs* calcs) {
  auto kept = calcs_.find(Key({app, db, user}));
  if (kept != calcs_.end()) {
    *calcs = kept->second;
    return 0;
  }
  if (new_principals_.count(Key({user})) != 0) return 0;
  uint32_t n = 0;
  std::vector<EsbItem> items;
  EsbStatus status = inner_.EsbGetCalcList(context, user, app, db, &calcs->all, &n);
  status = DrainList(context, kItemCalcName, status, n, &items);
  if (status) return status;
  for (const EsbItem& item : items) calcs->names.push_back(Field(item.name));
  return 0;
}

// Writes, kept ---------------------------------------------------------------------------

EsbStatus PlanView::EsbSetGlobalState(EsbHandle context, const EsbGlobalState& state) {
  EsbGlobalState held;
  if (EsbStatus status = EsbGetGlobalState(context, &held)) return status;
  auto compare = [&](const char* key, const std::string& before, const std::string& after) {
    if (before != after) Note(FormatMsg("change server %1: %2 -> %3", {key, before, after}));
  };
  compare("Security", YesNo(held.security), YesNo(state.security));
  compare("Logins", YesNo(held.logins), YesNo(state.logins));
  compare("Default Access", AccessName(held.default_access), AccessName(state.default_access));
  compare("Validity", Count(held.validity, " Days"), Count(state.validity, " Days"));
  compare("MinLength", Count(held.min_length, " Characters"),
          Count(state.min_length, " Characters"));
  compare("TimeOut", Count(held.timeout, " Seconds"), Count(state.timeout, " Seconds"));
  compare("Check Frequency", Count(held.check_frequency, " Seconds"),
          Count(state.check_frequency, " Seconds"));
  global_ = state;
  return 0;
}

EsbStatus PlanView::EsbCreateUser(EsbHandle context, const std::string& name, const std::string&) {
  EsbUserInfo held;
  if (HeldPrincipal(context, name, &held) == 0) {
    return Fail(kStatusAlreadyExists, "User or group " + name + " already exists");
  }
  EsbUserInfo info;
  info.type = kUserTypeUser;
  CopyToField(name, info.name);
  principals_[Key({name})] = info;
  new_principals_.insert(Key({name}));
  Note("create user " + Quoted(name), /*creation=*/true);
  return 0;
}

EsbStatus PlanView::EsbCreateGroup(EsbHandle context, const std::string& name) {
  EsbUserInfo held;
  if (HeldPrincipal(context, name, &held) == 0) {
    return Fail(kStatusAlreadyExists, "User or group " + name + " already exists");
  }
  EsbUserInfo info;
  info.type = kUserTypeGroup;
  CopyToField(name, info.name);
  principals_[Key({name})] = info;
  new_principals_.insert(Key({name}));
  Note("create group " + Quoted(name), /*creation=*/true);
  return 0;
}

EsbStatus PlanView::EsbSetUser(EsbHandle context, const EsbUserInfo& info) {
  const std::string name = Field(info.name);
  EsbUserInfo held;
  if (EsbStatus status = HeldPrincipal(context, name, &held)) return status;
  const std::string who = "change user " + Quoted(name);
  if (held.access != info.access) {
    Note(FormatMsg("%1 access: %2 -> %3", {who, AccessName(held.access), AccessName(info.access)}));
  }
  if (held.disabled != info.disabled) {
    Note(FormatMsg("%1 disabled: %2 -> %3", {who, YesNo(held.disabled), YesNo(info.disabled)}));
  }
  // A new user is made to choose a password at the first login: part of its creation.
  if (held.password_expired != info.password_expired && new_principals_.count(Key({name})) == 0) {
    Note(FormatMsg("%1 password expired: %2 -> %3",
                   {who, YesNo(held.password_expired), YesNo(info.password_expired)}));
  }
  held.access = info.access;
  held.disabled = info.disabled;
  held.password_expired = info.password_expired;
  principals_[Key({name})] = held;
  return 0;
}

EsbStatus PlanView::EsbSetGroup(EsbHandle context, const EsbUserInfo& info) {
  const std::string name = Field(info.name);
  EsbUserInfo held;
  if (EsbStatus status = EsbGetGroup(context, name, &held)) return status;
  if (held.access != info.access) {
    Note(FormatMsg("change group %1 access: %2 -> %3",
                   {Quoted(name), AccessName(held.access), AccessName(info.access)}));
  }
  held.access = info.access;
  principals_[Key({name})] = held;
  return 0;
}

EsbStatus PlanView::EsbAddToGroup(EsbHandle context, const std::string& group,
                                  const std::string& user) {
  EsbUserInfo found;
  if (EsbGetGroup(context, group, &found) != 0) {
    return Fail(kStatusGroupNotFound, "Group " + group + " does not exist");
  }
  if (HeldPrincipal(context, user, &found) != 0 || found.type == kUserTypeGroup) {
    return Fail(kStatusUserNotFound, "User " + user + " does not exist");
  }
  std::vector<std::string> groups;
  if (EsbStatus status = HeldGroupsOf(context, user, &groups)) return status;
  if (Holds(groups, group)) return 0;
  added_groups_[Key({user})].push_back(group);
  Note(FormatMsg("add user %1 to group %2", {Quoted(user), Quoted(group)}));
  return 0;
}

EsbStatus PlanView::EsbSetApplicationState(EsbHandle context, const std::string& app,
                                           const EsbAppState& state) {
  EsbAppState held;
  if (EsbStatus status = EsbGetApplicationState(context, app, &held)) return status;
  const std::string what = "change application " + Quoted(app);
  auto compare = [&](const char* key, const std::string& before, const std::string& after) {
    if (before != after) Note(FormatMsg("%1 %2: %3 -> %4", {what, key, before, after}));
  };
  compare("Description", "\"" + Field(held.description) + "\"",
          "\"" + Field(state.description) + "\"");
  compare("Loadable", YesNo(held.loadable), YesNo(state.loadable));
  compare("Autoload", YesNo(held.autoload), YesNo(state.autoload));
  compare("Default Access", AccessName(held.default_access), AccessName(state.default_access));
  compare("Connects", YesNo(held.connects), YesNo(state.connects));
  compare("Commands", YesNo(held.commands), YesNo(state.commands));
  compare("Updates", YesNo(held.updates), YesNo(state.updates));
  compare("Security", YesNo(held.security), YesNo(state.security));
  apps_[Key({app})] = state;
  return 0;
}

EsbStatus PlanView::EsbSetDatabaseState(EsbHandle context, const std::string& app,
                                        const std::string& db, const EsbDbState& state) {
  EsbDbState held;
  if (EsbStatus status = EsbGetDatabaseState(context, app, db, &held)) return status;
  const std::string what = "change database " + Place(app, db);
  auto compare = [&](const char* key, const std::string& before, const std::string& after) {
    if (before != after) Note(FormatMsg("%1 %2: %3 -> %4", {what, key, before, after}));
  };
  compare("Description", "\"" + Field(held.description) + "\"",
          "\"" + Field(state.description) + "\"");
  compare("Loadable", YesNo(held.loadable), YesNo(state.loadable));
  compare("Autoload", YesNo(held.autoload), YesNo(state.autoload));
  compare("Default Access", AccessName(held.default_access), AccessName(state.default_access));
  dbs_[Key({app, db})] = state;
  return 0;
}

EsbStatus PlanView::EsbSetApplicationAccess(EsbHandle context, const EsbUserApp& access) {
  const std::string user = Field(access.user);
  const std::string app = Field(access.app);
  uint16_t held = 0;
  if (EsbStatus status = HeldAppAccess(context, user, app, &held)) return status;
  if (held != access.access) {
    Note(FormatMsg("change application access of %1 to %2: %3 -> %4",
                   {Quoted(user), Quoted(app), AppAccessName(held), AppAccessName(access.access)}));
  }
  app_access_[Key({app, user})] = access.access;
  return 0;
}

EsbStatus PlanView::EsbSetDatabaseAccess(EsbHandle context, const EsbUserDb& access) {
  const std::string user = Field(access.user);
  const std::string app = Field(access.app);
  const std::string db = Field(access.db);
  const std::string filter = Field(access.filter);
  Grant held;
  if (EsbStatus status = HeldGrant(context, user, app, db, &held)) return status;
  if (!filter.empty()) {
    Filter exists;
    if (HeldFilter(context, app, db, filter, &exists) != 0) {
      return Fail(kStatusFilterNotFound, "Filter " + filter + " does not exist");
    }
  }
  if (held.access != access.access) {
    Note(FormatMsg(
        "change access of %1 on %2: %3 -> %4",
        {Quoted(user), Place(app, db), AccessName(held.access), AccessName(access.access)}));
  }
  Grant now{access.access, held.filter};
  if (!filter.empty() && !EqualsIgnoreCase(filter, held.filter)) {
    Note(FormatMsg("assign filter %1 on %2 to %3", {Quoted(filter), Place(app, db), Quoted(user)}));
    // The name now holds this filter instead of the one it held.
    if (!held.filter.empty()) {
      std::vector<std::string> holders;
      if (HeldHolders(context, app, db, held.filter, &holders) == 0) {
        std::erase_if(holders, [&](const std::string& h) { return EqualsIgnoreCase(h, user); });
        holders_[Key({app, db, held.filter})] = holders;
      }
    }
    std::vector<std::string> holders;
    if (HeldHolders(context, app, db, filter, &holders) == 0) {
      holders.push_back(user);
      holders_[Key({app, db, filter})] = holders;
    }
    now.filter = filter;
  }
  grants_[Key({app, db, user})] = now;
  return 0;
}

EsbStatus PlanView::EsbSetFilter(EsbHandle, const std::string& app, const std::string& db,
                                 const std::string& filter, int16_t active, uint16_t access) {
  pending_filter_ = PendingFilter{app, db, filter, Filter{active, access, {}}};
  return 0;
}

EsbStatus PlanView::EsbSetFilterRow(EsbHandle context, bool has_row, const std::string& row,
                                    uint16_t access) {
  if (!pending_filter_) return Fail(kStatusNoFilterWrite, "No filter is being written");
  if (has_row) {
    pending_filter_->definition.rows.push_back({row, access});
    return 0;
  }
  EndFilter(context);
  return 0;
}

void PlanView::EndFilter(EsbHandle context) {
  PendingFilter pending = std::move(*pending_filter_);
  pending_filter_.reset();
  const std::string what = Quoted(pending.name) + " on " + Place(pending.app, pending.db);
  Filter held;
  const std::string key = Key({pending.app, pending.db, pending.name});
  if (HeldFilter(context, pending.app, pending.db, pending.name, &held) != 0) {
    Note("create filter " + what, /*creation=*/true);
    filters_[key] = pending.definition;
    new_filters_[key] = pending.name;
    holders_[key] = {};  // nobody holds a new filter yet
    return;
  }
  const Filter& now = pending.definition;
  if (held.active != now.active) {
    Note(FormatMsg("change filter %1 Active: %2 -> %3",
                   {what, YesNo(held.active), YesNo(now.active)}));
  }
  if (held.access != now.access) {
    Note(FormatMsg("change filter %1 Default Access: %2 -> %3",
                   {what, AccessName(held.access), AccessName(now.access)}));
  }
  for (size_t i = 0; i < std::max(held.rows.size(), now.rows.size()); ++i) {
    const FilterRow* before = i < held.rows.size() ? &held.rows[i] : nullptr;
    const FilterRow* after = i < now.rows.size() ? &now.rows[i] : nullptr;
    auto text = [](const FilterRow* row) {
      return row ? RowText(&row->text, row->access) : RowText(nullptr, 0);
    };
    if (text(before) != text(after)) {
      Note(FormatMsg("change filter %1 row %2: %3 -> %4",
                     {what, std::to_string(i + 1), text(before), text(after)}));
    }
  }
  filters_[key] = now;
}

EsbStatus PlanView::EsbSetFilterList(EsbHandle context, const std::string& app,
                                     const std::string& db, const std::string& filter,
                                     const std::string& names, uint32_t count) {
  Filter exists;
  if (HeldFilter(context, app, db, filter, &exists) != 0) {
    return Fail(kStatusFilterNotFound, "Filter " + filter + " does not exist");
  }
  const std::vector<std::string> wanted = SplitNames(names, count);
  for (const std::string& name : wanted) {
    EsbUserInfo info;
    if (HeldPrincipal(context, name, &info) != 0) {
      return Fail(kStatusUserNotFound, "User or group " + name + " does not exist");
    }
  }
  std::vector<std::string> held;
  if (EsbStatus status = HeldHolders(context, app, db, filter, &held)) return status;
  const std::string what = Quoted(filter) + " on " + Place(app, db);
  for (const std::string& name : wanted) {
    if (!Holds(held, name)) Note(FormatMsg("assign filter %1 to %2", {what, Quoted(name)}));
  }
  for (const std::string& name : held) {
    if (!Holds(wanted, name)) Note(FormatMsg("unassign filter %1 from %2", {what, Quoted(name)}));
  }
  holders_[Key({app, db, filter})] = wanted;
  // What each name holds on the database follows the list.
  auto hold = [&](const std::string& name, const std::string& held_filter) {
    Grant grant;
    if (HeldGrant(context, name, app, db, &grant) != 0) return;
    grant.filter = held_filter;
    grants_[Key({app, db, name})] = grant;
  };
  for (const std::string& name : held) {
    if (!Holds(wanted, name)) hold(name, "");
  }
  for (const std::string& name : wanted) hold(name, filter);
  return 0;
}

EsbStatus PlanView::EsbSetCalcList(EsbHandle context, const std::string& name,
                                   const std::string& app, const std::string& db, int16_t all_calcs,
                                   const std::string& names, uint32_t count) {
  EsbUserInfo info;
  if (HeldPrincipal(context, name, &info) != 0) {
    return Fail(kStatusUserNotFound, "User or group " + name + " does not exist");
  }
  Calcs held;
  if (EsbStatus status = HeldCalcs(context, name, app, db, &held)) return status;
  Calcs now{all_calcs, SplitNames(names, count)};
  bool same = (held.all != 0) == (now.all != 0) && held.names.size() == now.names.size();
  for (const std::string& calc : now.names) same = same && Holds(held.names, calc);
  if (!same) {
    Note(FormatMsg("change calc scripts of %1 on %2: %3 -> %4",
                   {Quoted(name), Place(app, db), NamesText(held.all, held.names),
                    NamesText(now.all, now.names)}));
  }
  calcs_[Key({app, db, name})] = now;
  return 0;
}

EsbStatus PlanView::EsbDeleteUser(EsbHandle, const std::string&) {
  return Fail(kStatusRefused, "A plan deletes nothing");
}
EsbStatus PlanView::EsbDeleteGroup(EsbHandle, const std::string&) {
  return Fail(kStatusRefused, "A plan deletes nothing");
}
EsbStatus PlanView::EsbDeleteFilter(EsbHandle, const std::string&, const std::string&,
                                    const std::string&) {
  return Fail(kStatusRefused, "A plan deletes nothing");
}

}  // namespace cubesec
