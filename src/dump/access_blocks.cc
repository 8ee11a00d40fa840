#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "dump/dump.h"
#include "dump/name_list.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// The application access code that makes a name's database access count as Application
// Designer, whatever the database entry says.

}  // namespace

std::vector<AccessHolder> ReadAccessHolders(RunState& state, const std::string& app) {
  EsbApi& api = *state.client.api;
  uint32_t count = 0;
  CheckStatus(state.client, "EsbGetApplicationAccess",
              api.EsbGetApplicationAccess(state.client.context, "", app, &count));
  // Codes by name, in the order fetched, so that the sorted names find their own entries.
  std::map<std::string, std::vector<uint16_t>> codes;
  std::vector<std::string> names;
  for (uint32_t i = 0; i < count; ++i) {
    EsbItem item;
    CheckStatus(state.client, "EsbGetApplicationAccess",
                api.EsbGetNextItem(state.client.context, kItemUserApp, &item));
    std::string name = CutAtNul(item.user_app.user);
    if (item.user_app.access == 0 || name.empty()) continue;  // no access: no block
    CarriedName(name);
    codes[name].push_back(item.user_app.access);
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  std::map<std::string, size_t> taken;
  std::vector<AccessHolder> holders;
  for (const std::string& name : names) {
    holders.push_back({name, codes[name][taken[name]++]});
  }
  return holders;
}

namespace {

void WriteCalcs(RunState& state, const std::string& name, const std::string& app,
                const std::string& db) {
  int16_t all_calcs = 0;
  uint32_t count = 0;
  CheckStatus(
      state.client, "EsbGetCalcList",
      state.client.api->EsbGetCalcList(state.client.context, name, app, db, &all_calcs, &count));
  if (all_calcs == 1) {
    state.WriteDumpLine("   Calcs: <All>");
  } else if (count > 0) {
    const std::vector<std::string> calcs =
        FetchNames(state, count, kItemCalcName, "EsbGetCalcList");
    WriteLine(state, "   Calcs: %1", JoinNames(calcs));
  }
}

}  // namespace

void WriteAccessBlocks(RunState& state, const std::string& app, const std::string& db) {
  if (app.empty() || db.empty()) return;
  WriteAccessBlocks(state, app, db, ReadAccessHolders(state, app));
}

void WriteAccessBlocks(RunState& state, const std::string& app, const std::string& db,
                       const std::vector<AccessHolder>& holders) {
  if (app.empty() || db.empty()) return;
  EsbApi& api = *state.client.api;
  for (const AccessHolder& holder : holders) {
    uint32_t count = 0;
    CheckStatus(state.client, "EsbGetDatabaseAccess",
                api.EsbGetDatabaseAccess(state.client.context, holder.name, app, db, &count));
    EsbItem item;
    if (count > 0) {
      CheckStatus(state.client, "EsbGetDatabaseAccess",
                  api.EsbGetNextItem(state.client.context, kItemUserDb, &item));
    }
    const EsbUserDb& entry = item.user_db;
    // The group list, read before any access block, tells a group from a user without a
    // call per name; it also tells a supervisor group, whose record says supervisor.
    const bool group = state.dumped_groups.count(ToLower(holder.name)) != 0;
    const char* head = group ? "Group Access" : "User Access";
    state.BeginBlock(head);
    state.WriteDumpLine(FormatMsg("%1: %2", {std::string(head), QuoteName(holder.name)}));
    const uint16_t access =
        holder.app_access == kAppAccessDesigner ? kAccessAppDesign : entry.access;
    WriteLine(state, "   Access: %1", AccessName(access));
    WriteLine(state, "   Max Access: %1", AccessName(entry.max_access));
    const std::string filter = CarriedName(CutAtNul(entry.filter));
    if (!filter.empty()) WriteLine(state, "   Filter: %1", QuoteName(filter));
    if (entry.max_access & kAccessCalcBit) WriteCalcs(state, holder.name, app, db);
    state.WriteDumpLine("");
  }
}

}  // namespace cubesec
