#include <optional>
#include <string>
#include <vector>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "dump/dump.h"
#include "dump/name_list.h"
#include "tools/text.h"

namespace cubesec {

void WriteApplicationBlock(RunState& state, const std::string& app) {
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
}

std::vector<std::string> ReadApplicationNames(RunState& state) {
  uint32_t count = 0;
  CheckStatus(state.client, "EsbListApplications",
              state.client.api->EsbListApplications(state.client.context, &count));
  return FetchNames(state, count, kItemAppName, "EsbListApplications");
}

std::vector<std::string> ReadDatabaseNames(RunState& state, const std::string& app) {
  uint32_t count = 0;
  CheckStatus(state.client, "EsbListDatabases",
              state.client.api->EsbListDatabases(state.client.context, app, &count));
  return FetchNames(state, count, kItemAppDb, "EsbListDatabases");
}

void WriteApplicationBlocks(RunState& state, SessionPool* pool) {
  const std::vector<std::string> apps = ReadApplicationNames(state);
  if (state.sessions > 1 && !apps.empty()) {
    return WriteApplicationBlocksInSessions(state, apps, pool);
  }
  const int total = static_cast<int>(apps.size());
  for (int done = 1; const std::string& app : apps) {
    // The server's count of databases would take a list of every application's databases
    // first; the applications' count is known without a call of its own.
    state.ReportProgress("applications", done, total, app);
    WriteApplicationBlock(state, app);
    WriteDatabaseBlocks(state, app, done, total);
    ++done;
  }
}

void WriteDatabaseBlock(RunState& state, const std::string& app, const std::string& db,
                        const std::function<const std::vector<AccessHolder>&()>& holders) {
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
  WriteAccessBlocks(state, app, db, holders());
}

void WriteDatabaseBlocks(RunState& state, const std::string& app, int app_number, int app_count) {
  if (app.empty()) return;
  const std::vector<std::string> dbs = ReadDatabaseNames(state, app);
  // Read at the first database that needs them, as before, and kept for the others.
  std::optional<std::vector<AccessHolder>> holders;
  for (const std::string& db : dbs) {
    state.ReportProgress("applications", app_number, app_count, app + ":" + db);
    WriteDatabaseBlock(state, app, db, [&]() -> const std::vector<AccessHolder>& {
      if (!holders) holders = ReadAccessHolders(state, app);
      return *holders;
    });
  }
}

}  // namespace cubesec
