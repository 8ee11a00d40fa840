// Access blocks: a user's or group's access to the current database, its filter and the
// calc scripts it may run there.
#include "client/access_levels.h"
#include "restore/name_lists.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/text.h"

namespace cubesec {
namespace {

constexpr uint16_t kAppAccessDesigner = 0x0200;  // goes with Application Designer on a database
constexpr uint16_t kAppAccessMember = 0x0100;

struct AccessDefinition {
  uint16_t access = 0;
  std::string filter;
  int16_t all_calcs = 0;
  std::vector<std::string> calcs;
};

AccessDefinition ReadDefinition(RunState& state) {
  AccessDefinition access;
  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (key == "Access") {
      access.access = AccessCode(value);
    } else if (key == "Filter") {
      access.filter = value;
    } else if (key == "Calcs") {
      access.all_calcs = value == "<All>" ? 1 : 0;
      access.calcs = access.all_calcs ? std::vector<std::string>{} : SplitCalcsValue(value);
    }
  }
  return access;
}

}  // namespace

void RestoreAccess(RunState& state, const std::string& name) {
  state.BeginBlock("Access");
  const std::string app = state.current_app;
  const std::string db = state.current_db;
  // Under a skipped database nothing is sent and nothing is logged.
  if (app.empty() || db.empty() || name.empty()) return SkipRestOfBlock(state);
  AccessDefinition access = ReadDefinition(state);

  // Granting the access without its filter could widen it, so none is granted at all.
  if (!access.filter.empty() &&
      state.skipped_filters.count(RunState::FilterKey(app, db, access.filter)) != 0) {
    LogTabbed(state,
              "%1Restoration of access for '%2' to '%3:%4' skipped (filter '%5' was not restored)",
              {name, app, db, access.filter});
    return;
  }

  EsbApi& api = *state.client.api;
  EsbUserApp app_access;
  CopyToField(name, app_access.user);
  CopyToField(app, app_access.app);
  app_access.access = access.access == kAccessAppDesign ? kAppAccessDesigner : kAppAccessMember;
  if (!CallSucceeded(state, "EsbSetApplicationAccess",
                     api.EsbSetApplicationAccess(state.client.context, app_access))) {
    return;
  }

  EsbUserDb db_access;
  CopyToField(app, db_access.app);
  CopyToField(db, db_access.db);
  CopyToField(name, db_access.user);
  CopyToField(access.filter, db_access.filter);
  db_access.access = access.access;
  if (!CallSucceeded(state, "EsbSetDatabaseAccess",
                     api.EsbSetDatabaseAccess(state.client.context, db_access))) {
    return;
  }
  LogTabbed(state, "%1Granted '%2' access to '%3:%4' for '%5'",
            {AccessName(access.access), app, db, name});

  if ((access.access & kAccessCalcBit) == 0) return;
  CheckStatus(
      state.client, "EsbSetCalcList",
      api.EsbSetCalcList(state.client.context, name, app, db, access.all_calcs,
                         JoinLines(access.calcs), static_cast<uint32_t>(access.calcs.size())));
}

}  // namespace cubesec
