#pragma once
// The client API served by simulated servers: handles, logins, messages, server-side lists
// and the security calls, on top of one Store per server.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/esb_api.h"
#include "sim/store.h"

namespace cubesec::sim {

/// Where the servers that a login names are found.
class ServerSource {
 public:
  virtual ~ServerSource() = default;
  /// The store of `server`; nullptr when it cannot be reached. `problem` is then empty when
  /// there is no such server, and says why when there is one that cannot be opened.
  virtual std::shared_ptr<Store> Connect(const std::string& server, std::string* problem) = 0;
  /// What EsbGetAPIVersion reports before any login.
  virtual uint32_t ApiVersion() = 0;
  /// Where a server that cannot be reached was looked for, for the login's message; empty
  /// when every name reaches a server.
  virtual std::string SearchedPlace() const { return {}; }
};

/// Servers kept as files <folder>/<lower-cased name>.sqlite; each login opens its own
/// connection.
std::unique_ptr<ServerSource> MakeFolderSource(std::string folder);

/// One server in memory that every server name reaches.
std::unique_ptr<ServerSource> MakeMemorySource(std::shared_ptr<Store> store);

class SimulatedApi : public EsbApi {
 public:
  explicit SimulatedApi(std::unique_ptr<ServerSource> source);
  ~SimulatedApi() override;

  EsbStatus EsbInit(const EsbInitRecord& init, EsbHandle* instance) override;
  EsbStatus EsbGetAPIVersion(uint32_t* version) override;
  EsbStatus EsbLogin(EsbHandle instance, const std::string& server, const std::string& user,
                     const std::string& password, uint16_t* app_count, EsbHandle* context) override;
  EsbStatus EsbLogout(EsbHandle context) override;
  EsbStatus EsbTerm(EsbHandle instance) override;
  EsbStatus EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number, char* buffer,
                          size_t size) override;
  EsbStatus EsbListUsers(EsbHandle context, const std::string& app, const std::string& db,
                         uint32_t* count) override;
  EsbStatus EsbListGroups(EsbHandle context, const std::string& app, const std::string& db,
                          uint32_t* count) override;
  EsbStatus EsbListApplications(EsbHandle context, uint32_t* count) override;
  EsbStatus EsbListDatabases(EsbHandle context, const std::string& app, uint32_t* count) override;
  EsbStatus EsbListFilters(EsbHandle context, const std::string& app, const std::string& db,
                           uint32_t* count) override;
  EsbStatus EsbGetGroupList(EsbHandle context, const std::string& name, uint32_t* count) override;
  EsbStatus EsbGetFilterList(EsbHandle context, const std::string& app, const std::string& db,
                             const std::string& filter, uint32_t* count) override;
  EsbStatus EsbGetCalcList(EsbHandle context, const std::string& name, const std::string& app,
                           const std::string& db, int16_t* all_calcs, uint32_t* count) override;
  EsbStatus EsbGetNextItem(EsbHandle context, uint16_t item_type, EsbItem* item) override;
  EsbStatus EsbGetGlobalState(EsbHandle context, EsbGlobalState* state) override;
  EsbStatus EsbGetUser(EsbHandle context, const std::string& name, EsbUserInfo* info) override;
  EsbStatus EsbGetGroup(EsbHandle context, const std::string& name, EsbUserInfo* info) override;
  EsbStatus EsbGetApplicationState(EsbHandle context, const std::string& app,
                                   EsbAppState* state) override;
  EsbStatus EsbGetDatabaseState(EsbHandle context, const std::string& app, const std::string& db,
                                EsbDbState* state) override;
  EsbStatus EsbGetApplicationAccess(EsbHandle context, const std::string& user,
                                    const std::string& app, uint32_t* count) override;
  EsbStatus EsbGetDatabaseAccess(EsbHandle context, const std::string& user, const std::string& app,
                                 const std::string& db, uint32_t* count) override;
  EsbStatus EsbGetFilter(EsbHandle context, const std::string& app, const std::string& db,
                         const std::string& filter, int16_t* active, uint16_t* access) override;
  EsbStatus EsbGetFilterRow(EsbHandle context, std::string* row, uint16_t* access) override;
  EsbStatus EsbSetGlobalState(EsbHandle context, const EsbGlobalState& state) override;
  EsbStatus EsbCreateUser(EsbHandle context, const std::string& name,
                          const std::string& password) override;
  EsbStatus EsbSetUser(EsbHandle context, const EsbUserInfo& info) override;
  EsbStatus EsbCreateGroup(EsbHandle context, const std::string& name) override;
  EsbStatus EsbSetGroup(EsbHandle context, const EsbUserInfo& info) override;
  EsbStatus EsbAddToGroup(EsbHandle context, const std::string& group,
                          const std::string& user) override;
  EsbStatus EsbSetApplicationState(EsbHandle context, const std::string& app,
                                   const EsbAppState& state) override;
  EsbStatus EsbSetDatabaseState(EsbHandle context, const std::string& app, const std::string& db,
                                const EsbDbState& state) override;
  EsbStatus EsbSetApplicationAccess(EsbHandle context, const EsbUserApp& access) override;
  EsbStatus EsbSetDatabaseAccess(EsbHandle context, const EsbUserDb& access) override;
  EsbStatus EsbSetFilter(EsbHandle context, const std::string& app, const std::string& db,
                         const std::string& filter, int16_t active, uint16_t access) override;
  EsbStatus EsbSetFilterRow(EsbHandle context, bool has_row, const std::string& row,
                            uint16_t access) override;
  EsbStatus EsbVerifyFilter(EsbHandle context, const std::string& app,
                            const std::string& db) override;
  EsbStatus EsbVerifyFilterRow(EsbHandle context, bool has_row, const std::string& row) override;
  EsbStatus EsbSetFilterList(EsbHandle context, const std::string& app, const std::string& db,
                             const std::string& filter, const std::string& names,
                             uint32_t count) override;
  EsbStatus EsbSetCalcList(EsbHandle context, const std::string& name, const std::string& app,
                           const std::string& db, int16_t all_calcs, const std::string& names,
                           uint32_t count) override;
  EsbStatus EsbDeleteUser(EsbHandle context, const std::string& name) override;
  EsbStatus EsbDeleteGroup(EsbHandle context, const std::string& name) override;
  EsbStatus EsbDeleteFilter(EsbHandle context, const std::string& app, const std::string& db,
                            const std::string& filter) override;

 private:
  struct Message {
    EsbStatus status = 0;
    std::string text;
  };
  struct Instance {
    std::optional<Message> pending;
  };
  // One item of the context's server-side list; which texts are used depends on its type.
  struct ListItem {
    std::string a, b, c, d;
    uint16_t x = 0, y = 0;
  };
  struct FilterWrite {
    int64_t db_id = 0;
    std::string name;
    bool active = false;
    uint16_t access = 0;
    std::vector<ImageFilterRow> rows;
  };
  struct Context {
    EsbHandle instance = 0;
    std::shared_ptr<Store> store;
    int64_t user_id = 0;
    std::string user;
    uint16_t list_type = 0;
    std::vector<ListItem> list;
    size_t next_item = 0;
    std::optional<std::vector<ImageFilterRow>> reading;  // rows of the filter being read
    size_t next_row = 0;
    std::optional<FilterWrite> writing;
    std::optional<int64_t> verifying_db;
    bool verify_failed = false;
  };
  struct Target {
    AppRecord app;
    DbRecord db;
  };
  // kSession: the session's own state only (no supervisor needed, the store untouched).
  // kRead: a supervisor's call that only reads, run in one read transaction.
  // kWrite: a supervisor's call that changes the server, committed before it returns.
  enum class Privilege { kSession, kRead, kWrite };

  template <typename Body>
  EsbStatus Call(EsbHandle context, Privilege privilege, Body&& body);
  EsbStatus Fail(EsbHandle instance, EsbStatus status, std::string_view subject);
  EsbStatus Fail(Context& c, EsbStatus status, std::string_view subject);
  EsbStatus SetList(Context& c, uint16_t type, std::vector<ListItem> items, uint32_t* count);
  EsbStatus Names(Context& c, uint16_t type, const std::vector<std::string>& names,
                  uint32_t* count);
  /// Finds the application and database of a call; a failure's status otherwise.
  EsbStatus FindTarget(Context& c, const std::string& app, const std::string& db, Target* out);
  EsbStatus FindApp(Context& c, const std::string& app, AppRecord* out);
  /// The highest access of the name on the target database: its own, its groups', the
  /// database default and what Application Designer on the application gives.
  uint16_t HighestAccess(Store& store, const Principal& p, const Target& t);
  EsbStatus ListPrincipals(EsbHandle context, bool groups, const std::string& app,
                           const std::string& db, uint32_t* count);
  EsbStatus SetPrincipal(EsbHandle context, const EsbUserInfo& info, bool group);
  EsbStatus GetPrincipal(EsbHandle context, const std::string& name, EsbUserInfo* info,
                         bool groups_only);

  // Sessions call from threads of their own: the handles below are kept under
  // handles_mutex_, held only to find or change them, never during a call's work, so the
  // calls of different sessions run at the same time; a session's own state (its lists, its
  // filter being read or written) is touched by its own thread alone.
  std::unique_ptr<ServerSource> source_;
  std::atomic<uint32_t> api_version_;
  std::mutex handles_mutex_;
  EsbHandle next_handle_ = 1;
  std::map<EsbHandle, Instance> instances_;
  std::map<EsbHandle, Context> contexts_;
  std::set<EsbHandle> logged_out_;
};

}  // namespace cubesec::sim
