// The security reset: every user but the logged-in one, every group and every filter go.
// Each list is fetched whole before anything is deleted from it, since a deletion may change
// the server-side list being read. Every deletion, and every one that failed, is logged: the
// run log is the only trace of what the server lost.
#include <utility>
#include <vector>

#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/dates.h"
#include "tools/text.h"

namespace cubesec {
namespace {

constexpr int kErrorNoConfirmation = 53;

// Hands out `count` items of the list just filled; stops early when a fetch fails.
std::vector<EsbItem> FetchAll(RunState& state, uint16_t item_type, uint32_t count) {
  std::vector<EsbItem> items;
  for (uint32_t i = 0; i < count; ++i) {
    EsbItem item;
    state.client.last_status =
        state.client.api->EsbGetNextItem(state.client.context, item_type, &item);
    if (state.client.last_status != 0) break;
    items.push_back(item);
  }
  return items;
}

// Tells whether the last call succeeded; when it did not, logs that `what` (the object, or
// the objects of the list, that the call was for) was not deleted, with the server's message,
// and counts the failure in `failures`.
bool Succeeded(RunState& state, const std::string& what, int& failures) {
  if (state.client.last_status == 0) return true;
  ++failures;
  std::string message;
  const int32_t ref = GetMessageText(state.client, state.client.last_status, message);
  LogTabbed(state, "%1%2 NOT deleted (ref=%3, msg=%4)",
            {what, std::to_string(ref), message.substr(0, message.find_first_of("\r\n"))});
  return false;
}

// What the reset will delete, listed whole before the question, so that the question can
// say how much and no list changes under the deletions.
struct ResetTargets {
  std::vector<std::string> users;  // every user but the logged-in one
  std::vector<std::string> groups;
  struct Database {
    std::string app, db;
    std::vector<std::string> filters;
  };
  std::vector<Database> databases;  // those whose filters could be listed

  size_t FilterCount() const {
    size_t count = 0;
    for (const Database& database : databases) count += database.filters.size();
    return count;
  }
};

// "11 users, 5 groups and 6 filters will be deleted"
std::string DeletionCounts(const ResetTargets& targets) {
  return Counted(targets.users.size(), "user", "users") + ", " +
         Counted(targets.groups.size(), "group", "groups") + " and " +
         Counted(targets.FilterCount(), "filter", "filters") + " will be deleted";
}

bool Confirmed(RunState& state, const ResetTargets& targets) {
  if (state.reset_confirmed) {
    // Automation confirms in advance; the log says so, since nobody was asked.
    state.Log(FormatMsg("%1%2Security reset of %3 confirmed in advance (--yes)",
                        {NowText(state.platform), "\t", state.server}));
    return true;
  }
  MessageBoxRequest request;
  request.title = "Reset Security";
  // The name of the server comes first: the question is asked of one server only.
  request.text = FormatMsg("Server: %1\n%2\n", {state.server, DeletionCounts(targets)}) +
                 "Warning! This will delete all (other) users, all groups, and all security "
                 "filters, ARE YOU SURE???";
  request.buttons = MessageBoxButtons::kYesNo;
  request.icon = MessageBoxIcon::kExclamation;
  request.default_is_no = true;
  switch (state.platform.ShowMessageBox(request)) {
    case MessageBoxAnswer::kYes:
      return true;
    case MessageBoxAnswer::kUnavailable:
      throw RunError(kErrorNoConfirmation,
                     "Security reset needs a confirmation, but there is no window or terminal to "
                     "ask it on; nothing was deleted.");
    default:
      return false;
  }
}

void ListUsers(RunState& state, ResetTargets& targets, int& failures) {
  uint32_t count = 0;
  state.client.last_status = state.client.api->EsbListUsers(state.client.context, "", "", &count);
  if (!Succeeded(state, "Users", failures)) return;
  std::vector<EsbItem> items = FetchAll(state, kItemUserName, count);
  Succeeded(state, "Users past the first " + std::to_string(items.size()), failures);
  for (const EsbItem& item : items) {
    std::string name = CutAtNul(item.name);
    if (!EqualsIgnoreCase(name, state.user)) targets.users.push_back(std::move(name));
  }
}

void ListGroups(RunState& state, ResetTargets& targets, int& failures) {
  uint32_t count = 0;
  state.client.last_status = state.client.api->EsbListGroups(state.client.context, "", "", &count);
  if (!Succeeded(state, "Groups", failures)) return;
  std::vector<EsbItem> items = FetchAll(state, kItemGroupName, count);
  Succeeded(state, "Groups past the first " + std::to_string(items.size()), failures);
  for (const EsbItem& item : items) targets.groups.push_back(CutAtNul(item.name));
}

void ListFilters(RunState& state, ResetTargets& targets, int& failures) {
  EsbApi& api = *state.client.api;
  uint32_t count = 0;
  EsbStatus status = api.EsbListDatabases(state.client.context, "", &count);
  state.client.last_status = status;
  CheckStatus(state.client, "EsbListDatabases", status);
  std::vector<std::pair<std::string, std::string>> databases;
  for (const EsbItem& item : FetchAll(state, kItemAppDb, count)) {
    databases.emplace_back(CutAtNul(item.app_db.app), CutAtNul(item.app_db.db));
  }
  Succeeded(state, "Filters of the databases past the first " + std::to_string(databases.size()),
            failures);
  for (const auto& [app, db] : databases) {
    const std::string where = "'" + app + ":" + db + "'";
    state.client.last_status = api.EsbListFilters(state.client.context, app, db, &count);
    // A database whose filters cannot be listed keeps them; the others are still cleared.
    if (!Succeeded(state, "Filters of database " + where, failures)) continue;
    std::vector<EsbItem> items = FetchAll(state, kItemFilterName, count);
    Succeeded(state,
              "Filters of database " + where + " past the first " + std::to_string(items.size()),
              failures);
    ResetTargets::Database database{app, db, {}};
    for (const EsbItem& item : items) database.filters.push_back(CutAtNul(item.name));
    targets.databases.push_back(std::move(database));
  }
}

void DeleteAll(RunState& state, const ResetTargets& targets, int& failures) {
  EsbApi& api = *state.client.api;
  for (const std::string& name : targets.users) {
    state.client.last_status = api.EsbDeleteUser(state.client.context, name);
    if (Succeeded(state, "User '" + name + "'", failures)) {
      LogTabbed(state, "%1Deleted user '%2'", {name});
    }
  }
  for (const std::string& name : targets.groups) {
    state.client.last_status = api.EsbDeleteGroup(state.client.context, name);
    if (Succeeded(state, "User group '" + name + "'", failures)) {
      LogTabbed(state, "%1Deleted user group '%2'", {name});
    }
  }
  for (const ResetTargets::Database& database : targets.databases) {
    const std::string where = "'" + database.app + ":" + database.db + "'";
    for (const std::string& name : database.filters) {
      state.client.last_status =
          api.EsbDeleteFilter(state.client.context, database.app, database.db, name);
      if (Succeeded(state, "Filter '" + name + "' for database " + where, failures)) {
        LogTabbed(state, "%1Deleted filter '%2' for database '%3:%4'",
                  {name, database.app, database.db});
      }
    }
  }
}

}  // namespace

ResetResult ResetSecurity(RunState& state) {
  // Nothing is asked, let alone deleted, and nothing sent to the server, before the run log
  // has taken the start line.
  state.Log(
      FormatMsg("%1Resetting security of %2", {NowText(state.platform) + "\t", state.server}));
  // Every list is fetched whole before the question: it says what will go, counted on the
  // server as it is now, and the run log keeps the same count.
  ResetTargets targets;
  int list_failures = 0;
  ListUsers(state, targets, list_failures);
  ListGroups(state, targets, list_failures);
  ListFilters(state, targets, list_failures);
  LogTabbed(state, "%1%2", {DeletionCounts(targets)});
  if (!Confirmed(state, targets)) {
    // The line break at the end leaves an empty line after the run in the log.
    state.Log(FormatMsg("%1Security reset of %2 declined: nothing was deleted%3",
                        {NowText(state.platform) + "\t", state.server, "\r\n"}));
    return {};
  }
  ResetResult result;
  result.confirmed = true;
  result.failures = list_failures;
  DeleteAll(state, targets, result.failures);
  if (result.failures == 0) {
    state.Log(FormatMsg("%1Completed security reset of %2%3",
                        {NowText(state.platform) + "\t", state.server, "\r\n"}));
  } else {
    // What is left on the server is what the NOT deleted lines name; the run did not do its
    // job, and its last line must not read as if it had.
    state.Log(FormatMsg(
        "%1Security reset of %2 incomplete: %3 failure(s), each logged as NOT "
        "deleted above%4",
        {NowText(state.platform) + "\t", state.server, std::to_string(result.failures), "\r\n"}));
  }
  return result;
}

}  // namespace cubesec
