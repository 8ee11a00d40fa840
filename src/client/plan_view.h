#pragma once
// A view of a server for a restore plan: the restore's own code runs against it unchanged.
// Reads (filter verification included) are answered by the server, as the restore would see
// them; writes stay in the view, which compares each with what the server (or an earlier
// write of the same run) holds and notes a change only where a value would differ. Later
// reads see the kept writes, so a user that the plan creates can be found, and added to a
// group, as in the restore itself. Nothing that writes, creates, assigns or deletes is ever
// forwarded.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "client/api_decorators.h"

namespace cubesec {

class PlanView : public EsbApiDecorator {
 public:
  /// Status of a delete, which a plan never forwards and a restore never asks for.
  static constexpr EsbStatus kStatusRefused = 1059999;

  explicit PlanView(EsbApi& server) : EsbApiDecorator(server) {}

  /// One line per change, in the order the writes came: "create user 'carol'",
  /// "change user 'bob' access: Read -> Write", ...
  const std::vector<std::string>& changes() const { return changes_; }
  /// Groups, users and filters that would be created.
  int created() const { return created_; }
  /// Every other value that would differ.
  int changed() const { return static_cast<int>(changes_.size()) - created_; }

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

 protected:
  EsbStatus Intercept(const char* name, const std::function<EsbStatus()>& call) override;

 private:
  struct FilterRow {
    std::string text;
    uint16_t access = 0;
  };
  struct Filter {
    int16_t active = 0;
    uint16_t access = 0;
    std::vector<FilterRow> rows;
  };
  struct Grant {
    uint16_t access = 0;
    std::string filter;  // empty: none
  };
  struct Calcs {
    int16_t all = 0;
    std::vector<std::string> names;
  };
  struct PendingFilter {
    std::string app, db, name;
    Filter definition;
  };

  // Runs a list call on the server and takes all its items at once, so that the view's own
  // look-ups never disturb a list that the restore is reading.
  EsbStatus DrainList(EsbHandle context, uint16_t type, EsbStatus status, uint32_t count,
                      std::vector<EsbItem>* items);
  EsbStatus Serve(uint16_t type, std::vector<EsbItem> items, uint32_t* count);
  EsbStatus Fail(EsbStatus status, const std::string& message);
  void Note(std::string line, bool creation = false);

  // The items of the access lists, with the kept writes applied.
  EsbStatus AppAccessItems(EsbHandle context, const std::string& user, const std::string& app,
                           std::vector<EsbItem>& items);
  EsbStatus DbAccessItems(EsbHandle context, const std::string& user, const std::string& app,
                          const std::string& db, std::vector<EsbItem>& items);
  EsbStatus HeldPrincipal(EsbHandle context, const std::string& name, EsbUserInfo* info);
  EsbStatus HeldGroupsOf(EsbHandle context, const std::string& user,
                         std::vector<std::string>* groups);
  EsbStatus HeldGrant(EsbHandle context, const std::string& user, const std::string& app,
                      const std::string& db, Grant* grant);
  EsbStatus HeldAppAccess(EsbHandle context, const std::string& user, const std::string& app,
                          uint16_t* access);
  EsbStatus HeldFilter(EsbHandle context, const std::string& app, const std::string& db,
                       const std::string& name, Filter* filter);
  EsbStatus HeldHolders(EsbHandle context, const std::string& app, const std::string& db,
                        const std::string& name, std::vector<std::string>* holders);
  EsbStatus HeldCalcs(EsbHandle context, const std::string& user, const std::string& app,
                      const std::string& db, Calcs* calcs);
  void EndFilter(EsbHandle context);

  std::vector<std::string> changes_;
  int created_ = 0;
  std::optional<std::pair<EsbStatus, std::string>> message_;  // of a failure the view made

  // Kept writes; keys are lower-cased names, joined by '\n'.
  std::optional<EsbGlobalState> global_;
  std::map<std::string, EsbUserInfo> principals_;
  std::set<std::string> new_principals_;
  std::map<std::string, std::vector<std::string>> added_groups_;  // user key -> groups
  std::map<std::string, EsbAppState> apps_;
  std::map<std::string, EsbDbState> dbs_;
  std::map<std::string, uint16_t> app_access_;
  std::map<std::string, Grant> grants_;
  std::map<std::string, Filter> filters_;
  std::map<std::string, std::string> new_filters_;  // key -> name as written
  std::map<std::string, std::vector<std::string>> holders_;
  std::map<std::string, Calcs> calcs_;
  std::optional<PendingFilter> pending_filter_;

  // The list the restore is reading, served by the view.
  uint16_t list_type_ = 0;
  std::vector<EsbItem> list_;
  size_t next_item_ = 0;
  // The filter the restore is reading.
  std::vector<FilterRow> rows_read_;
  size_t next_row_ = 0;
};

}  // namespace cubesec
