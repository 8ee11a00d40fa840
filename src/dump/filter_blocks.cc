#include <string>
#include <vector>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "dump/dump.h"
#include "dump/name_list.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// Writes the rows of the filter being read and returns their texts, in server order, for
// the verification. Rows are written as they come, however many there are.
std::vector<std::string> WriteRows(RunState& state, const std::string& app, const std::string& db,
                                   const std::string& filter) {
  std::vector<std::string> rows;
  for (;;) {
    std::string row;
    uint16_t access = 0;
    CheckStatus(state.client, "EsbGetFilterRow",
                state.client.api->EsbGetFilterRow(state.client.context, &row, &access));
    if (row.empty()) break;
    const std::string text = CutAtNul(row);
    rows.push_back(text);
    const std::string shown =
        CarriedText(state, text,
                    FormatMsg("row %1 of filter '%2' of database '%3:%4'",
                              {std::to_string(rows.size()), filter, app, db}));
    state.WriteDumpLine(
        FormatMsg("   %1: %2", {ReplaceAll(AccessName(access), "Filtered", "Meta"), shown}));
  }
  return rows;
}

// Asks the server to verify the rows against the database's outline. The outcome goes into
// the dump file only; a filter that does not verify is still dumped. A verification that
// cannot even start is a failed call: its rows would all read as failing.
void WriteVerification(RunState& state, const std::string& app, const std::string& db,
                       const std::vector<std::string>& rows) {
  EsbApi& api = *state.client.api;
  state.client.last_status = api.EsbVerifyFilter(state.client.context, app, db);
  CheckStatus(state.client, "EsbVerifyFilter", state.client.last_status);
  for (size_t i = 0; i < rows.size(); ++i) {
    state.client.last_status = api.EsbVerifyFilterRow(state.client.context, true, rows[i]);
    if (state.client.last_status != 0) {
      state.WriteDumpLine(
          FormatMsg("   *** Filter row %1 failed validity check (ref=%2)",
                    {std::to_string(i + 1), std::to_string(state.client.last_status)}));
    }
  }
  if (state.client.last_status != 0) return;
  const EsbStatus status = api.EsbVerifyFilterRow(state.client.context, false, "");
  if (status != 0) {
    state.client.last_status = status;
    WriteLine(state, "   *** Filter failed validity check (ref=%1)", std::to_string(status));
  }
}

}  // namespace

void WriteFilterBlocks(RunState& state, const std::string& app, const std::string& db) {
  EsbApi& api = *state.client.api;
  uint32_t count = 0;
  CheckStatus(state.client, "EsbListFilters",
              api.EsbListFilters(state.client.context, app, db, &count));
  const std::vector<std::string> filters =
      FetchNames(state, count, kItemFilterName, "EsbListFilters");
  for (const std::string& filter : filters) {
    state.BeginBlock("Filter");
    WriteLine(state, "Filter: %1", QuoteName(filter));
    int16_t active = 0;
    uint16_t access = 0;
    CheckStatus(state.client, "EsbGetFilter",
                api.EsbGetFilter(state.client.context, app, db, filter, &active, &access));
    WriteLine(state, "   Active: %1", YesNo(active));
    WriteLine(state, "   Default Access: %1", AccessName(access));
    const std::vector<std::string> rows = WriteRows(state, app, db, filter);

    uint32_t assigned = 0;
    CheckStatus(state.client, "EsbGetFilterList",
                api.EsbGetFilterList(state.client.context, app, db, filter, &assigned));
    const std::vector<std::string> names =
        FetchNames(state, assigned, kItemName, "EsbGetFilterList");
    if (assigned == 0) {
      state.WriteDumpLine("   * Filter is not used by any users/groups *");
    } else {
      WriteLine(state, "   Users: %1", JoinNames(names));
    }
    WriteVerification(state, app, db, rows);
    state.WriteDumpLine("");
  }
}

}  // namespace cubesec
