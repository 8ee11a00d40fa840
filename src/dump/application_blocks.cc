#include <string>
#include <vector>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "dump/dump.h"
#include "dump/name_list.h"
#include "tools/text.h"

namespace cubesec {

void WriteApplicationBlocks(RunState& state) {
  uint32_t count = 0;
  CheckStatus(state.client, "EsbListApplications",
              state.client.api->EsbListApplications(state.client.context, &count));
  const std::vector<std::string> apps =
      FetchNames(state, count, kItemAppName, "EsbListApplications");
  for (const std::string& app : apps) {
    state.BeginBlock("Application");
    // The head goes out before the state is read, so a failed read never leaves a block
    // without its head.
    WriteLine(state, "Application: %1", QuoteName(app));
    EsbAppState app_state;
    CheckStatus(state.client, "EsbGetApplicationState",
                state.client.api->EsbGetApplicationState(state.client.context, app, &app_state));
    WriteLine(state, "   Description: %1",
              CarriedText(state, CutAtNul(app_state.description),
                          FormatMsg("the description of application '%1'", {app})));
    WriteLine(state, "   Loadable: %1", YesNo(app_state.loadable));
    WriteLine(state, "   Autoload: %1", YesNo(app_state.autoload));
    WriteLine(state, "   Default Access: %1", AccessName(app_state.default_access));
    WriteLine(state, "   Connects: %1", YesNo(app_state.connects));
    WriteLine(state, "   Commands: %1", YesNo(app_state.commands));
    WriteLine(state, "   Updates: %1", YesNo(app_state.updates));
    WriteLine(state, "   Security: %1", YesNo(app_state.security));
    state.WriteDumpLine("");
    WriteDatabaseBlocks(state, app);
  }
}

void WriteDatabaseBlocks(RunState& state, const std::string& app) {
  if (app.empty()) return;
  uint32_t count = 0;
  CheckStatus(state.client, "EsbListDatabases",
              state.client.api->EsbListDatabases(state.client.context, app, &count));
  const std::vector<std::string> dbs = FetchNames(state, count, kItemAppDb, "EsbListDatabases");
  for (const std::string& db : dbs) {
    state.BeginBlock("Database");
    WriteLine(state, "Database: %1", QuoteName(db));
    EsbDbState db_state;
    CheckStatus(state.client, "EsbGetDatabaseState",
                state.client.api->EsbGetDatabaseState(state.client.context, app, db, &db_state));
    WriteLine(state, "   Description: %1",
              CarriedText(state, CutAtNul(db_state.description),
                          FormatMsg("the description of database '%1:%2'", {app, db})));
    WriteLine(state, "   Loadable: %1", YesNo(db_state.loadable));
    WriteLine(state, "   Autoload: %1", YesNo(db_state.autoload));
    WriteLine(state, "   Default Access: %1", AccessName(db_state.default_access));
    state.WriteDumpLine("");
    WriteFilterBlocks(state, app, db);
    WriteAccessBlocks(state, app, db);
  }
}

}  // namespace cubesec
