#pragma once
// For the tests of every layer above the client: a small in-memory server behind the client
// API whose content a test writes directly, which records every call, and which fails chosen
// calls with a chosen status and message number (0 included, which no real fault injector
// offers).

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "client/esb_api.h"
#include "tools/text.h"

namespace cubesec::testing {

struct ScriptedFilter {
  std::string name;
  int16_t active = 1;
  uint16_t access = 0;
  std::vector<std::pair<uint16_t, std::string>> rows;  // access code, row text
  std::vector<std::string> assigned;
};

struct ScriptedDbAccess {
  uint16_t access = 0;
  uint16_t max_access = 0;
  std::string filter;
  int16_t all_calcs = 0;
  std::vector<std::string> calcs;
};

struct ScriptedDb {
  std::string name;
  EsbDbState state;
  std::vector<ScriptedFilter> filters;
  std::map<std::string, ScriptedDbAccess> access;
};

struct ScriptedApp {
  std::string name;
  EsbAppState state;
  std::vector<ScriptedDb> dbs;
  std::vector<std::pair<std::string, uint16_t>> access;  // every user and group, in list order
};

struct ScriptedPrincipal {
  EsbUserInfo info;
  std::vector<std::string> list;  // a group's members, a user's groups
};

class ScriptedApi : public EsbApi {
 public:
  // The server's content.
  uint32_t version = kEsbApiVersion;
  EsbGlobalState global;
  std::vector<ScriptedPrincipal> groups;
  std::vector<ScriptedPrincipal> users;
  std::vector<ScriptedApp> apps;
  std::string password = "pw";

  // Every call's name, in order (EsbGetMessage included).
  std::vector<std::string> calls;

  /// The `occurrence`-th call (from 1) of `call` fails with `status`; the message it leaves
  /// has `message_number` and the text "Scripted failure".
  void Fail(const std::string& call, int occurrence, EsbStatus status, int32_t message_number) {
    faults_[{call, occurrence}] = {status, message_number};
  }

  ScriptedPrincipal& AddGroup(const std::string& name, uint16_t access,
                              std::vector<std::string> members = {}) {
    ScriptedPrincipal group;
    CopyToField(name, group.info.name);
    group.info.type = kUserTypeGroup;
    group.info.access = access;
    group.list = std::move(members);
    groups.push_back(group);
    return groups.back();
  }
  ScriptedPrincipal& AddUser(const std::string& name, uint16_t access, int32_t last_login,
                             std::vector<std::string> in_groups = {}) {
    ScriptedPrincipal user;
    CopyToField(name, user.info.name);
    user.info.type = kUserTypeUser;
    user.info.access = access;
    user.info.last_login = last_login;
    user.list = std::move(in_groups);
    users.push_back(user);
    return users.back();
  }

  int Count(const std::string& call) const {
    int n = 0;
    for (const std::string& c : calls) n += c == call;
    return n;
  }

  EsbStatus EsbInit(const EsbInitRecord&, EsbHandle* instance) override {
    if (EsbStatus s = Enter("EsbInit")) return s;
    *instance = 7;
    return 0;
  }
  EsbStatus EsbGetAPIVersion(uint32_t* out) override {
    if (EsbStatus s = Enter("EsbGetAPIVersion")) return s;
    *out = version;
    return 0;
  }
  EsbStatus EsbLogin(EsbHandle, const std::string&, const std::string&, const std::string& pw,
                     uint16_t* app_count, EsbHandle* context) override {
    if (EsbStatus s = Enter("EsbLogin")) return s;
    if (pw != password) return Failure(1051093, 1051093);
    *app_count = static_cast<uint16_t>(apps.size());
    *context = 11;
    return 0;
  }
  EsbStatus EsbLogout(EsbHandle) override { return Enter("EsbLogout"); }
  EsbStatus EsbTerm(EsbHandle) override { return Enter("EsbTerm"); }
  EsbStatus EsbGetMessage(EsbHandle, int32_t* level, int32_t* number, char* buffer,
                          size_t size) override {
    calls.push_back("EsbGetMessage");
    if (!pending_) return 1;
    pending_ = false;
    *level = 2;
    *number = pending_number_;
    CopyToField("Scripted failure", buffer, size);
    return 0;
  }

  EsbStatus EsbListUsers(EsbHandle, const std::string&, const std::string&,
                         uint32_t* count) override {
    if (EsbStatus s = Enter("EsbListUsers")) return s;
    return Names(kItemUserName, Principals(users), count);
  }
  EsbStatus EsbListGroups(EsbHandle, const std::string&, const std::string&,
                          uint32_t* count) override {
    if (EsbStatus s = Enter("EsbListGroups")) return s;
    return Names(kItemGroupName, Principals(groups), count);
  }
  EsbStatus EsbListApplications(EsbHandle, uint32_t* count) override {
    if (EsbStatus s = Enter("EsbListApplications")) return s;
    std::vector<std::string> names;
    for (const ScriptedApp& app : apps) names.push_back(app.name);
    return Names(kItemAppName, names, count);
  }
  EsbStatus EsbListDatabases(EsbHandle, const std::string& app, uint32_t* count) override {
    if (EsbStatus s = Enter("EsbListDatabases")) return s;
    list_.clear();
    next_ = 0;
    list_type_ = kItemAppDb;
    for (const ScriptedApp& a : apps) {
      if (!app.empty() && a.name != app) continue;
      for (const ScriptedDb& db : a.dbs) {
        EsbItem item;
        CopyToField(a.name, item.app_db.app);
        CopyToField(db.name, item.app_db.db);
        list_.push_back(item);
      }
    }
    *count = static_cast<uint32_t>(list_.size());
    return 0;
  }
  EsbStatus EsbListFilters(EsbHandle, const std::string& app, const std::string& db,
                           uint32_t* count) override {
    if (EsbStatus s = Enter("EsbListFilters")) return s;
    std::vector<std::string> names;
    for (const ScriptedFilter& f : Db(app, db)->filters) names.push_back(f.name);
    return Names(kItemFilterName, names, count);
  }
  EsbStatus EsbGetGroupList(EsbHandle, const std::string& name, uint32_t* count) override {
    if (EsbStatus s = Enter("EsbGetGroupList")) return s;
    ScriptedPrincipal* p = Find(groups, name);
    if (!p) p = Find(users, name);
    if (!p) return Failure(1051012, 1051012);
    return Names(kItemName, p->list, count);
  }
  EsbStatus EsbGetFilterList(EsbHandle, const std::string& app, const std::string& db,
                             const std::string& filter, uint32_t* count) override {
    if (EsbStatus s = Enter("EsbGetFilterList")) return s;
    for (const ScriptedFilter& f : Db(app, db)->filters) {
      if (f.name == filter) return Names(kItemName, f.assigned, count);
    }
    return Failure(1054003, 1054003);
  }
  EsbStatus EsbGetCalcList(EsbHandle, const std::string& name, const std::string& app,
                           const std::string& db, int16_t* all_calcs, uint32_t* count) override {
    if (EsbStatus s = Enter("EsbGetCalcList")) return s;
    const ScriptedDbAccess& entry = Db(app, db)->access[name];
    *all_calcs = entry.all_calcs;
    return Names(kItemCalcName, entry.calcs, count);
  }
  EsbStatus EsbGetNextItem(EsbHandle, uint16_t item_type, EsbItem* item) override {
    if (EsbStatus s = Enter("EsbGetNextItem")) return s;
    if (item_type != list_type_ || next_ >= list_.size()) return Failure(1051100, 1051100);
    *item = list_[next_++];
    return 0;
  }

  EsbStatus EsbGetGlobalState(EsbHandle, EsbGlobalState* state) override {
    if (EsbStatus s = Enter("EsbGetGlobalState")) return s;
    *state = global;
    return 0;
  }
  EsbStatus EsbGetUser(EsbHandle, const std::string& name, EsbUserInfo* info) override {
    if (EsbStatus s = Enter("EsbGetUser")) return s;
    ScriptedPrincipal* p = Find(users, name);
    if (!p) p = Find(groups, name);
    if (!p) return Failure(1051012, 1051012);
    *info = p->info;
    return 0;
  }
  EsbStatus EsbGetGroup(EsbHandle, const std::string& name, EsbUserInfo* info) override {
    if (EsbStatus s = Enter("EsbGetGroup")) return s;
    ScriptedPrincipal* p = Find(groups, name);
    if (!p) return Failure(1051013, 1051013);
    *info = p->info;
    return 0;
  }
  EsbStatus EsbGetApplicationState(EsbHandle, const std::string& app, EsbAppState* state) override {
    if (EsbStatus s = Enter("EsbGetApplicationState")) return s;
    *state = App(app)->state;
    return 0;
  }
  EsbStatus EsbGetDatabaseState(EsbHandle, const std::string& app, const std::string& db,
                                EsbDbState* state) override {
    if (EsbStatus s = Enter("EsbGetDatabaseState")) return s;
    *state = Db(app, db)->state;
    return 0;
  }
  EsbStatus EsbGetApplicationAccess(EsbHandle, const std::string&, const std::string& app,
                                    uint32_t* count) override {
    if (EsbStatus s = Enter("EsbGetApplicationAccess")) return s;
    list_.clear();
    next_ = 0;
    list_type_ = kItemUserApp;
    for (const auto& [name, access] : App(app)->access) {
      EsbItem item;
      CopyToField(name, item.user_app.user);
      CopyToField(app, item.user_app.app);
      item.user_app.access = access;
      list_.push_back(item);
    }
    *count = static_cast<uint32_t>(list_.size());
    return 0;
  }
  EsbStatus EsbGetDatabaseAccess(EsbHandle, const std::string& user, const std::string& app,
                                 const std::string& db, uint32_t* count) override {
    if (EsbStatus s = Enter("EsbGetDatabaseAccess")) return s;
    const ScriptedDbAccess& entry = Db(app, db)->access[user];
    EsbItem item;
    CopyToField(app, item.user_db.app);
    CopyToField(db, item.user_db.db);
    CopyToField(user, item.user_db.user);
    CopyToField(entry.filter, item.user_db.filter, ' ');
    item.user_db.access = entry.access;
    item.user_db.max_access = entry.max_access;
    list_ = {item};
    next_ = 0;
    list_type_ = kItemUserDb;
    *count = 1;
    return 0;
  }
  EsbStatus EsbGetFilter(EsbHandle, const std::string& app, const std::string& db,
                         const std::string& filter, int16_t* active, uint16_t* access) override {
    if (EsbStatus s = Enter("EsbGetFilter")) return s;
    for (const ScriptedFilter& f : Db(app, db)->filters) {
      if (f.name != filter) continue;
      *active = f.active;
      *access = f.access;
      rows_ = f.rows;
      next_row_ = 0;
      return 0;
    }
    return Failure(1054003, 1054003);
  }
  EsbStatus EsbGetFilterRow(EsbHandle, std::string* row, uint16_t* access) override {
    if (EsbStatus s = Enter("EsbGetFilterRow")) return s;
    if (next_row_ >= rows_.size()) {
      row->clear();
      *access = 0;
      return 0;
    }
    *access = rows_[next_row_].first;
    *row = rows_[next_row_].second;
    ++next_row_;
    return 0;
  }

  // Verification passes unless a test fails the calls; writing calls are not needed.
  EsbStatus EsbVerifyFilter(EsbHandle, const std::string&, const std::string&) override {
    return Enter("EsbVerifyFilter");
  }
  EsbStatus EsbVerifyFilterRow(EsbHandle, bool has_row, const std::string&) override {
    return Enter(has_row ? "EsbVerifyFilterRow" : "EsbVerifyFilterRow(end)");
  }
  // Every restore begins with the server block, so the server settings can be changed.
  EsbStatus EsbSetGlobalState(EsbHandle, const EsbGlobalState& state) override {
    if (EsbStatus s = Enter("EsbSetGlobalState")) return s;
    global = state;
    return 0;
  }
  EsbStatus EsbCreateUser(EsbHandle, const std::string&, const std::string&) override {
    return Refuse();
  }
  EsbStatus EsbSetUser(EsbHandle, const EsbUserInfo&) override { return Refuse(); }
  EsbStatus EsbCreateGroup(EsbHandle, const std::string&) override { return Refuse(); }
  EsbStatus EsbSetGroup(EsbHandle, const EsbUserInfo&) override { return Refuse(); }
  EsbStatus EsbAddToGroup(EsbHandle, const std::string&, const std::string&) override {
    return Refuse();
  }
  EsbStatus EsbSetApplicationState(EsbHandle, const std::string&, const EsbAppState&) override {
    return Refuse();
  }
  EsbStatus EsbSetDatabaseState(EsbHandle, const std::string&, const std::string&,
                                const EsbDbState&) override {
    return Refuse();
  }
  EsbStatus EsbSetApplicationAccess(EsbHandle, const EsbUserApp&) override { return Refuse(); }
  EsbStatus EsbSetDatabaseAccess(EsbHandle, const EsbUserDb&) override { return Refuse(); }
  EsbStatus EsbSetFilter(EsbHandle, const std::string&, const std::string&, const std::string&,
                         int16_t, uint16_t) override {
    return Refuse();
  }
  EsbStatus EsbSetFilterRow(EsbHandle, bool, const std::string&, uint16_t) override {
    return Refuse();
  }
  EsbStatus EsbSetFilterList(EsbHandle, const std::string&, const std::string&, const std::string&,
                             const std::string&, uint32_t) override {
    return Refuse();
  }
  EsbStatus EsbSetCalcList(EsbHandle, const std::string&, const std::string&, const std::string&,
                           int16_t, const std::string&, uint32_t) override {
    return Refuse();
  }
  EsbStatus EsbDeleteUser(EsbHandle, const std::string&) override { return Refuse(); }
  EsbStatus EsbDeleteGroup(EsbHandle, const std::string&) override { return Refuse(); }
  EsbStatus EsbDeleteFilter(EsbHandle, const std::string&, const std::string&,
                            const std::string&) override {
    return Refuse();
  }

 private:
  struct Fault {
    EsbStatus status;
    int32_t number;
  };

  // Records the call; a planned fault makes it fail without running.
  EsbStatus Enter(const std::string& call) {
    calls.push_back(call);
    auto it = faults_.find({call, Count(call)});
    if (it == faults_.end()) return 0;
    return Failure(it->second.status, it->second.number);
  }
  EsbStatus Failure(EsbStatus status, int32_t number) {
    pending_ = true;
    pending_number_ = number;
    return status;
  }
  EsbStatus Refuse() { return Failure(1051001, 1051001); }

  static std::vector<std::string> Principals(const std::vector<ScriptedPrincipal>& list) {
    std::vector<std::string> names;
    for (const ScriptedPrincipal& p : list) names.push_back(CutAtNul(p.info.name));
    return names;
  }
  static ScriptedPrincipal* Find(std::vector<ScriptedPrincipal>& list, const std::string& name) {
    for (ScriptedPrincipal& p : list) {
      if (CutAtNul(p.info.name) == name) return &p;
    }
    return nullptr;
  }
  ScriptedApp* App(const std::string& name) {
    for (ScriptedApp& app : apps) {
      if (app.name == name) return &app;
    }
    return &missing_app_;
  }
  ScriptedDb* Db(const std::string& app, const std::string& db) {
    for (ScriptedDb& d : App(app)->dbs) {
      if (d.name == db) return &d;
    }
    return &missing_db_;
  }
  EsbStatus Names(EsbItemType type, const std::vector<std::string>& names, uint32_t* count) {
    list_.clear();
    next_ = 0;
    list_type_ = type;
    for (const std::string& name : names) {
      EsbItem item;
      CopyToField(name, item.name);
      list_.push_back(item);
    }
    *count = static_cast<uint32_t>(list_.size());
    return 0;
  }

  std::map<std::pair<std::string, int>, Fault> faults_;
  bool pending_ = false;
  int32_t pending_number_ = 0;
  std::vector<EsbItem> list_;
  size_t next_ = 0;
  uint16_t list_type_ = 0;
  std::vector<std::pair<uint16_t, std::string>> rows_;
  size_t next_row_ = 0;
  ScriptedApp missing_app_;
  ScriptedDb missing_db_;
};

}  // namespace cubesec::testing
