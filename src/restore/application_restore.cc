// Application and database blocks: their security-relevant state. Neither is ever created;
// one that the target lacks is skipped, and so is everything under it.
#include "client/access_levels.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/text.h"

namespace cubesec {

void RestoreApplication(RunState& state, RestoreState& restore, const std::string& name) {
  state.BeginBlock("Application");
  // No database block of this application has been read yet.
  restore.current_db.clear();
  EsbAppState app_state;
  EsbStatus status =
      state.client.api->EsbGetApplicationState(state.client.context, name, &app_state);
  state.client.last_status = status;
  bool apply = false;
  if (status == 0) {
    restore.current_app = name;
    // Opened only for the blocks under it, its state stays as the target has it.
    apply = restore.block_use != BlockUse::kPlace;
  } else if (status == kStatusAppNotFound) {
    restore.current_app.clear();
    ++restore.restored.blocks_skipped;
    LogTabbed(state, "%1Restoration of application '%2' skipped (application does not exist)",
              {name});
  } else {
    // When the check lets the failure through, the current application stays as it was and
    // this block writes nothing: its record was never read.
    CheckStatus(state.client, "EsbGetApplicationState", status);
  }

  // A description is sent as its text: blank padding would be stored as part of it.
  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (!apply) continue;
    if (key == "Description") {
      CopyToField(value, app_state.description);
    } else if (key == "Loadable") {
      app_state.loadable = ParseFlag(value);
    } else if (key == "Autoload") {
      app_state.autoload = ParseFlag(value);
    } else if (key == "Default Access") {
      app_state.default_access = AccessCode(value);
    } else if (key == "Connects") {
      app_state.connects = ParseFlag(value);
    } else if (key == "Commands") {
      app_state.commands = ParseFlag(value);
    } else if (key == "Updates") {
      app_state.updates = ParseFlag(value);
    } else if (key == "Security") {
      app_state.security = ParseFlag(value);
    }
  }
  if (!apply) return;
  status = state.client.api->EsbSetApplicationState(state.client.context, restore.current_app,
                                                    app_state);
  CheckStatus(state.client, "EsbSetApplicationState", status);
  ++restore.restored.values_changed;
  LogTabbed(state, "%1Restored application state for '%2'", {restore.current_app});
}

void RestoreDatabase(RunState& state, RestoreState& restore, const std::string& name) {
  state.BeginBlock("Database");
  restore.current_db.clear();
  const std::string app = restore.current_app;
  EsbDbState db_state;
  bool apply = false;
  // Under a skipped application the server is not asked and nothing is logged.
  if (!app.empty()) {
    EsbStatus status =
        state.client.api->EsbGetDatabaseState(state.client.context, app, name, &db_state);
    state.client.last_status = status;
    if (status == 0) {
      restore.current_db = name;
      apply = restore.block_use != BlockUse::kPlace;
    } else if (status == kStatusDbNotFound) {
      ++restore.restored.blocks_skipped;
      LogTabbed(state, "%1Restoration of database '%2:%3' skipped (database does not exist)",
                {app, name});
    } else {
      CheckStatus(state.client, "EsbGetDatabaseState", status);
    }
  }

  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (!apply) continue;
    if (key == "Description") {
      CopyToField(value, db_state.description);
    } else if (key == "Loadable") {
      db_state.loadable = ParseFlag(value);
    } else if (key == "Autoload") {
      db_state.autoload = ParseFlag(value);
    } else if (key == "Default Access") {
      db_state.default_access = AccessCode(value);
    }
  }
  if (!apply) return;
  EsbStatus status =
      state.client.api->EsbSetDatabaseState(state.client.context, app, name, db_state);
  CheckStatus(state.client, "EsbSetDatabaseState", status);
  ++restore.restored.values_changed;
  LogTabbed(state, "%1Restored database state for '%2:%3'", {app, name});
}

}  // namespace cubesec
