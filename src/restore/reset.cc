// The security reset: every user but the logged-in one, every group and every filter go.
// Each list is fetched whole before anything is deleted from it, since a deletion may change
// the server-side list being read.
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

bool Confirmed(RunState& state) {
  if (state.reset_confirmed) {
    // Automation confirms in advance; the log says so, since nobody was asked.
    state.Log(FormatMsg("%1%2Security reset of %3 confirmed in advance (--yes)",
                        {NowText(state.platform), "\t", state.server}));
    return true;
  }
  MessageBoxRequest request;
  request.title = "Reset Security";
  // The name of the server comes first: the question is asked of one server only.
  request.text = FormatMsg("Server: %1\n", {state.server}) +
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

void DeleteUsers(RunState& state) {
  EsbApi& api = *state.client.api;
  uint32_t count = 0;
  state.client.last_status = api.EsbListUsers(state.client.context, "", "", &count);
  if (state.client.last_status != 0) return;
  for (const EsbItem& item : FetchAll(state, kItemUserName, count)) {
    std::string name = CutAtNul(item.name);
    if (EqualsIgnoreCase(name, state.user)) continue;
    state.client.last_status = api.EsbDeleteUser(state.client.context, name);
  }
}

void DeleteGroups(RunState& state) {
  EsbApi& api = *state.client.api;
  uint32_t count = 0;
  state.client.last_status = api.EsbListGroups(state.client.context, "", "", &count);
  if (state.client.last_status != 0) return;
  for (const EsbItem& item : FetchAll(state, kItemGroupName, count)) {
    state.client.last_status = api.EsbDeleteGroup(state.client.context, CutAtNul(item.name));
  }
}

void DeleteFilters(RunState& state) {
  EsbApi& api = *state.client.api;
  uint32_t count = 0;
  EsbStatus status = api.EsbListDatabases(state.client.context, "", &count);
  state.client.last_status = status;
  if (!CallSucceeded(state, "EsbListDatabases", status)) return;
  std::vector<std::pair<std::string, std::string>> databases;
  for (const EsbItem& item : FetchAll(state, kItemAppDb, count)) {
    databases.emplace_back(CutAtNul(item.app_db.app), CutAtNul(item.app_db.db));
  }
  for (const auto& [app, db] : databases) {
    state.client.last_status = api.EsbListFilters(state.client.context, app, db, &count);
    // A database whose filters cannot be listed keeps them; the others are still cleared.
    if (state.client.last_status != 0) continue;
    for (const EsbItem& item : FetchAll(state, kItemFilterName, count)) {
      state.client.last_status =
          api.EsbDeleteFilter(state.client.context, app, db, CutAtNul(item.name));
    }
  }
}

}  // namespace

bool ResetSecurity(RunState& state) {
  if (!Confirmed(state)) return false;
  DeleteUsers(state);
  DeleteGroups(state);
  DeleteFilters(state);
  return true;
}

}  // namespace cubesec
