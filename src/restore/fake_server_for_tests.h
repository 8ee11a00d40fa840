#pragma once
// A small in-memory server for the restore's unit tests: it keeps what the restore reads and
// writes, records every call, and fails chosen calls on request.

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "client/esb_api.h"
#include "tools/text.h"

namespace cubesec::fake {

struct Principal {
  EsbUserInfo info;
  std::string password;
  std::vector<std::string> groups;  // as added
};

struct Filter {
  int16_t active = 0;
  uint16_t access = 0;
  std::vector<std::pair<uint16_t, std::string>> rows;
  std::vector<std::string> users;
};

struct Database {
  EsbDbState state;
  std::map<std::string, Filter> filters;  // lower-cased name
};

struct Application {
  EsbAppState state;
  std::map<std::string, Database> databases;  // lower-cased name
};

class FakeServer : public EsbApi {
 public:
  EsbGlobalState global;
  std::map<std::string, Principal> principals;        // lower-cased name
  std::map<std::string, Application> applications;    // lower-cased name
  std::map<std::string, EsbUserDb> db_access;         // "app/db/user" lower-cased
  std::map<std::string, uint16_t> app_access;         // "app/user" lower-cased
  std::map<std::string, std::string> calc_lists;      // "app/db/user" -> "all" or names
  std::string unknown_member = "Atlantis";            // rows naming it do not verify
  std::vector<std::string> calls;                     // "Name arg|arg"
  std::map<std::string, std::deque<EsbStatus>> fail;  // call name -> next statuses
  bool messages_have_numbers = true;

  void AddUser(const std::string& name, uint16_t access = 0, uint16_t type = kUserTypeUser) {
    Principal& p = principals[ToLower(name)];
    CopyToField(name, p.info.name);
    p.info.access = access;
    p.info.type = type;
  }
  Database& AddDatabase(const std::string& app, const std::string& db) {
    Application& a = applications[ToLower(app)];
    return a.databases[ToLower(db)];
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& call : calls) n += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  std::vector<std::string> CallNames() const {
    std::vector<std::string> names;
    for (const std::string& call : calls) names.push_back(call.substr(0, call.find(' ')));
    return names;
  }

  EsbStatus EsbInit(const EsbInitRecord&, EsbHandle* instance) override {
    *instance = 1;
    return 0;
  }
  EsbStatus EsbGetAPIVersion(uint32_t* version) override {
    *version = kEsbApiVersion;
    return 0;
  }
  EsbStatus EsbLogin(EsbHandle, const std::string&, const std::string&, const std::string&,
                     uint16_t*, EsbHandle* context) override {
    *context = 2;
    return 0;
  }
  EsbStatus EsbLogout(EsbHandle) override { return 0; }
  EsbStatus EsbTerm(EsbHandle) override { return 0; }
  EsbStatus EsbGetMessage(EsbHandle, int32_t* level, int32_t* number, char* buffer,
                          size_t size) override {
    if (!pending_) return 1030001;
    *level = 2;
    *number = messages_have_numbers ? *pending_ : 0;
    CopyToField("Failure " + std::to_string(*pending_) + "\r\nsecond line", buffer, size);
    pending_.reset();
    return 0;
  }

  EsbStatus EsbListUsers(EsbHandle, const std::string&, const std::string&,
                         uint32_t* count) override {
    return List("EsbListUsers", ListOf(false), count);
  }
  EsbStatus EsbListGroups(EsbHandle, const std::string&, const std::string&,
                          uint32_t* count) override {
    return List("EsbListGroups", ListOf(true), count);
  }
  EsbStatus EsbListApplications(EsbHandle, uint32_t* count) override {
    return List("EsbListApplications", {}, count);
  }
  EsbStatus EsbListDatabases(EsbHandle, const std::string&, uint32_t* count) override {
    std::vector<EsbItem> items;
    for (auto& [app_key, app] : applications) {
      for (auto& [db_key, db] : app.databases) {
        EsbItem item;
        CopyToField(app_key, item.app_db.app);
        CopyToField(db_key, item.app_db.db);
        items.push_back(item);
      }
    }
    return List("EsbListDatabases", items, count);
  }
  EsbStatus EsbListFilters(EsbHandle, const std::string& app, const std::string& db,
                           uint32_t* count) override {
    std::vector<EsbItem> items;
    for (auto& [key, filter] : FindDb(app, db)->filters) items.push_back(Named(key));
    return List("EsbListFilters " + app + "|" + db, items, count);
  }
  EsbStatus EsbGetGroupList(EsbHandle, const std::string& name, uint32_t* count) override {
    std::vector<EsbItem> items;
    for (const std::string& group : principals[ToLower(name)].groups) items.push_back(Named(group));
    return List("EsbGetGroupList " + name, items, count);
  }
  EsbStatus EsbGetFilterList(EsbHandle, const std::string&, const std::string&, const std::string&,
                             uint32_t*) override {
    return Record("EsbGetFilterList");
  }
  EsbStatus EsbGetCalcList(EsbHandle, const std::string&, const std::string&, const std::string&,
                           int16_t*, uint32_t*) override {
    return Record("EsbGetCalcList");
  }
  EsbStatus EsbGetNextItem(EsbHandle, uint16_t, EsbItem* item) override {
    if (EsbStatus s = Record("EsbGetNextItem")) return s;
    if (next_ >= list_.size()) return Failed(1030004);
    *item = list_[next_++];
    return 0;
  }

  EsbStatus EsbGetGlobalState(EsbHandle, EsbGlobalState* state) override {
    if (EsbStatus s = Record("EsbGetGlobalState")) return s;
    *state = global;
    return 0;
  }
  EsbStatus EsbGetUser(EsbHandle, const std::string& name, EsbUserInfo* info) override {
    if (EsbStatus s = Record("EsbGetUser " + name)) return s;
    auto it = principals.find(ToLower(name));
    if (it == principals.end()) return Failed(1051012);
    *info = it->second.info;
    return 0;
  }
  EsbStatus EsbGetGroup(EsbHandle, const std::string& name, EsbUserInfo* info) override {
    if (EsbStatus s = Record("EsbGetGroup " + name)) return s;
    auto it = principals.find(ToLower(name));
    if (it == principals.end() || it->second.info.type != kUserTypeGroup) return Failed(1051013);
    *info = it->second.info;
    return 0;
  }
  EsbStatus EsbGetApplicationState(EsbHandle, const std::string& app, EsbAppState* state) override {
    if (EsbStatus s = Record("EsbGetApplicationState " + app)) return s;
    auto it = applications.find(ToLower(app));
    if (it == applications.end()) return Failed(1051030);
    *state = it->second.state;
    return 0;
  }
  EsbStatus EsbGetDatabaseState(EsbHandle, const std::string& app, const std::string& db,
                                EsbDbState* state) override {
    if (EsbStatus s = Record("EsbGetDatabaseState " + app + "|" + db)) return s;
    Database* found = FindDb(app, db);
    if (found == &missing_) return Failed(1023003);
    *state = found->state;
    return 0;
  }
  EsbStatus EsbGetApplicationAccess(EsbHandle, const std::string&, const std::string&,
                                    uint32_t*) override {
    return Record("EsbGetApplicationAccess");
  }
  EsbStatus EsbGetDatabaseAccess(EsbHandle, const std::string&, const std::string&,
                                 const std::string&, uint32_t*) override {
    return Record("EsbGetDatabaseAccess");
  }
  EsbStatus EsbGetFilter(EsbHandle, const std::string&, const std::string&, const std::string&,
                         int16_t*, uint16_t*) override {
    return Record("EsbGetFilter");
  }
  EsbStatus EsbGetFilterRow(EsbHandle, std::string*, uint16_t*) override {
    return Record("EsbGetFilterRow");
  }

  EsbStatus EsbSetGlobalState(EsbHandle, const EsbGlobalState& state) override {
    if (EsbStatus s = Record("EsbSetGlobalState")) return s;
    global = state;
    return 0;
  }
  EsbStatus EsbCreateUser(EsbHandle, const std::string& name,
                          const std::string& password) override {
    if (EsbStatus s = Record("EsbCreateUser " + name)) return s;
    if (static_cast<int>(password.size()) < global.min_length) return Failed(1051019);
    AddUser(name);
    principals[ToLower(name)].password = password;
    return 0;
  }
  EsbStatus EsbSetUser(EsbHandle, const EsbUserInfo& info) override {
    if (EsbStatus s = Record("EsbSetUser " + CutAtNul(info.name))) return s;
    principals[ToLower(CutAtNul(info.name))].info = info;
    return 0;
  }
  EsbStatus EsbCreateGroup(EsbHandle, const std::string& name) override {
    if (EsbStatus s = Record("EsbCreateGroup " + name)) return s;
    AddUser(name, 0, kUserTypeGroup);
    return 0;
  }
  EsbStatus EsbSetGroup(EsbHandle, const EsbUserInfo& info) override {
    if (EsbStatus s = Record("EsbSetGroup " + CutAtNul(info.name))) return s;
    principals[ToLower(CutAtNul(info.name))].info = info;
    return 0;
  }
  EsbStatus EsbAddToGroup(EsbHandle, const std::string& group, const std::string& user) override {
    if (EsbStatus s = Record("EsbAddToGroup " + group + "|" + user)) return s;
    auto it = principals.find(ToLower(group));
    if (it == principals.end() || it->second.info.type != kUserTypeGroup) return Failed(1051013);
    principals[ToLower(user)].groups.push_back(CutAtNul(it->second.info.name));
    return 0;
  }
  EsbStatus EsbSetApplicationState(EsbHandle, const std::string& app,
                                   const EsbAppState& state) override {
    if (EsbStatus s = Record("EsbSetApplicationState " + app)) return s;
    applications[ToLower(app)].state = state;
    return 0;
  }
  EsbStatus EsbSetDatabaseState(EsbHandle, const std::string& app, const std::string& db,
                                const EsbDbState& state) override {
    if (EsbStatus s = Record("EsbSetDatabaseState " + app + "|" + db)) return s;
    AddDatabase(app, db).state = state;
    return 0;
  }
  EsbStatus EsbSetApplicationAccess(EsbHandle, const EsbUserApp& access) override {
    if (EsbStatus s = Record("EsbSetApplicationAccess " + CutAtNul(access.user))) return s;
    app_access[ToLower(CutAtNul(access.app) + "/" + CutAtNul(access.user))] = access.access;
    return 0;
  }
  EsbStatus EsbSetDatabaseAccess(EsbHandle, const EsbUserDb& access) override {
    if (EsbStatus s = Record("EsbSetDatabaseAccess " + CutAtNul(access.user))) return s;
    db_access[ToLower(CutAtNul(access.app) + "/" + CutAtNul(access.db) + "/" +
                      CutAtNul(access.user))] = access;
    return 0;
  }
  EsbStatus EsbSetFilter(EsbHandle, const std::string& app, const std::string& db,
                         const std::string& filter, int16_t active, uint16_t access) override {
    if (EsbStatus s = Record("EsbSetFilter " + filter)) return s;
    writing_ = &AddDatabase(app, db).filters[ToLower(filter)];
    writing_->active = active;
    writing_->access = access;
    writing_->rows.clear();
    return 0;
  }
  EsbStatus EsbSetFilterRow(EsbHandle, bool has_row, const std::string& row,
                            uint16_t access) override {
    if (EsbStatus s = Record(has_row ? "EsbSetFilterRow " + row : "EsbSetFilterRow <end>"))
      return s;
    if (has_row) writing_->rows.emplace_back(access, row);
    return 0;
  }
  EsbStatus EsbVerifyFilter(EsbHandle, const std::string& app, const std::string& db) override {
    if (EsbStatus s = Record("EsbVerifyFilter " + app + "|" + db)) return s;
    verify_failed_ = false;
    return 0;
  }
  EsbStatus EsbVerifyFilterRow(EsbHandle, bool has_row, const std::string& row) override {
    if (EsbStatus s = Record(has_row ? "EsbVerifyFilterRow " + row : "EsbVerifyFilterRow <end>"))
      return s;
    if (has_row && row.find(unknown_member) != std::string::npos) {
      verify_failed_ = true;
      return Failed(1053001);
    }
    return !has_row && verify_failed_ ? Failed(1053002) : 0;
  }
  EsbStatus EsbSetFilterList(EsbHandle, const std::string& app, const std::string& db,
                             const std::string& filter, const std::string& names,
                             uint32_t count) override {
    if (EsbStatus s = Record("EsbSetFilterList " + filter + "|" + std::to_string(count) + "|" +
                             ReplaceAll(names, "\r\n", ";")))
      return s;
    AddDatabase(app, db).filters[ToLower(filter)].users =
        names.empty() ? std::vector<std::string>{} : Split(names, "\r\n");
    return 0;
  }
  EsbStatus EsbSetCalcList(EsbHandle, const std::string& name, const std::string& app,
                           const std::string& db, int16_t all_calcs, const std::string& names,
                           uint32_t count) override {
    if (EsbStatus s = Record("EsbSetCalcList " + name)) return s;
    calc_lists[ToLower(app + "/" + db + "/" + name)] =
        all_calcs ? "all" : std::to_string(count) + ":" + ReplaceAll(names, "\r\n", ";");
    return 0;
  }
  EsbStatus EsbDeleteUser(EsbHandle, const std::string& name) override {
    if (EsbStatus s = Record("EsbDeleteUser " + name)) return s;
    principals.erase(ToLower(name));
    return 0;
  }
  EsbStatus EsbDeleteGroup(EsbHandle, const std::string& name) override {
    if (EsbStatus s = Record("EsbDeleteGroup " + name)) return s;
    principals.erase(ToLower(name));
    return 0;
  }
  EsbStatus EsbDeleteFilter(EsbHandle, const std::string& app, const std::string& db,
                            const std::string& filter) override {
    if (EsbStatus s = Record("EsbDeleteFilter " + app + "|" + db + "|" + filter)) return s;
    FindDb(app, db)->filters.erase(ToLower(filter));
    return 0;
  }

 private:
  // Records the call; returns the scripted status for it (0: carry on).
  EsbStatus Record(const std::string& call) {
    calls.push_back(call);
    auto it = fail.find(call.substr(0, call.find(' ')));
    if (it == fail.end() || it->second.empty()) return 0;
    EsbStatus status = it->second.front();
    it->second.pop_front();
    return status == 0 ? 0 : Failed(status);
  }
  EsbStatus Failed(EsbStatus status) {
    pending_ = status;
    return status;
  }
  EsbStatus List(const std::string& call, std::vector<EsbItem> items, uint32_t* count) {
    if (EsbStatus s = Record(call)) return s;
    list_ = std::move(items);
    next_ = 0;
    *count = static_cast<uint32_t>(list_.size());
    return 0;
  }
  static EsbItem Named(const std::string& name) {
    EsbItem item;
    CopyToField(name, item.name);
    return item;
  }
  std::vector<EsbItem> ListOf(bool groups) {
    std::vector<EsbItem> items;
    for (auto& [key, p] : principals) {
      if ((p.info.type == kUserTypeGroup) == groups) items.push_back(Named(CutAtNul(p.info.name)));
    }
    return items;
  }
  Database* FindDb(const std::string& app, const std::string& db) {
    auto a = applications.find(ToLower(app));
    if (a == applications.end()) return &missing_;
    auto d = a->second.databases.find(ToLower(db));
    return d == a->second.databases.end() ? &missing_ : &d->second;
  }

  std::vector<EsbItem> list_;
  size_t next_ = 0;
  std::optional<EsbStatus> pending_;
  Filter* writing_ = nullptr;
  bool verify_failed_ = false;
  Database missing_;
};

}  // namespace cubesec::fake
