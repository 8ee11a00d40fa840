// Access blocks: a user's or group's access to the current database, its filter and the
// calc scripts it may run there. On another server a block never takes access away that the
// target gives through a filter, and never lowers application access that this run has set.
#include "client/access_levels.h"
#include "restore/name_lists.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/text.h"

namespace cubesec {
namespace {

struct AccessDefinition {
  uint16_t access = 0;
  std::string filter;
  bool has_calcs = false;  // the block has a "Calcs" line
  int16_t all_calcs = 0;
  std::vector<std::string> calcs;
};

AccessDefinition ReadDefinition(RunState& state, const RestoreFileState& file) {
  AccessDefinition access;
  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (key == "Access") {
      access.access = AccessCode(value);
    } else if (key == "Filter") {
      access.filter = HeadName(file, value);
    } else if (key == "Calcs") {
      access.has_calcs = true;
      access.all_calcs = IsAllCalcs(value) ? 1 : 0;
      access.calcs = access.all_calcs ? std::vector<std::string>{} : SplitCalcsValue(file, value);
    }
  }
  return access;
}

class AccessRestore {
 public:
  AccessRestore(RunState& state, RestoreState& restore, std::string name)
      : state_(state),
        restore_(restore),
        api_(*state.client.api),
        name_(std::move(name)),
        app_(restore.current_app),
        db_(restore.current_db) {}

  void Run() {
    // The run's own user keeps its rights, or the rest of the restore could not be done.
    if (IsRunUser(state_, name_)) {
      SkipRestOfBlock(state_);
      LogTabbed(state_, "%1Access of '%2' to '%3:%4' kept (the restore is logged in as that user)",
                {name_, app_, db_});
      return;
    }
    if (IsOtherKindOnTarget(restore_, name_)) {
      SkipRestOfBlock(state_);
      return NotRestored("user/group '" + name_ + "' was not restored");
    }
    AccessDefinition access = ReadDefinition(state_, restore_.file);

    // Granting the access without its filter could widen it, so none is granted at all.
    if (!access.filter.empty() &&
        restore_.skipped_filters.count(RestoreState::FilterKey(app_, db_, access.filter)) != 0) {
      return NotRestored("filter '" + access.filter + "' was not restored");
    }
    if (!access.filter.empty() && !FilterPresent(access.filter)) {
      return NotRestored("filter '" + access.filter + "' is not present");
    }
    // A block without a filter leaves the one that the target assigns: taking it away would
    // let the name see all that its access allows.
    std::string kept_filter;
    if (access.filter.empty()) {
      EsbStatus status = HeldFilter(&kept_filter);
      if (status == kStatusUserNotFound) return NotPresent();
      CheckStatus(state_.client, "EsbGetDatabaseAccess", status);
    }
    EsbStatus status = SetApplicationAccess(access.access);
    if (status == kStatusUserNotFound) return NotPresent();
    CheckStatus(state_.client, "EsbSetApplicationAccess", status);

    EsbUserDb db_access;
    CopyToField(app_, db_access.app);
    CopyToField(db_, db_access.db);
    CopyToField(name_, db_access.user);
    CopyToField(access.filter, db_access.filter);
    db_access.access = access.access;
    CheckStatus(state_.client, "EsbSetDatabaseAccess",
                api_.EsbSetDatabaseAccess(state_.client.context, db_access));
    if (!access.filter.empty()) {
      restore_.filters_assigned[RestoreState::FilterKey(app_, db_, name_)] = access.filter;
    }
    ++restore_.restored.values_changed;
    LogTabbed(state_, "%1Granted '%2' access to '%3:%4' for '%5'",
              {AccessName(access.access), app_, db_, name_});
    if (!kept_filter.empty()) {
      LogTabbed(state_, "%1Kept filter '%2' of '%3' on '%4:%5' (the dump file names no filter)",
                {kept_filter, name_, app_, db_});
    }
    // The dump writes the calc list by the highest access, which may come from a group or
    // the database's default; the list is the name's own either way.
    if (access.has_calcs || (access.access & kAccessCalcBit) != 0) SetCalcs(access);
  }

 private:
  void NotRestored(const std::string& reason) {
    ++restore_.restored.blocks_skipped;
    LogTabbed(state_, "%1Restoration of access for '%2' to '%3:%4' skipped (%5)",
              {name_, app_, db_, reason});
  }
  void NotPresent() { NotRestored("user/group '" + name_ + "' was not present"); }

  // True when the file defines `filter` on this database, or else the target has it: the
  // server would refuse the access through a filter that exists nowhere.
  bool FilterPresent(const std::string& filter) {
    if (restore_.file_filters.count(RestoreState::FilterKey(app_, db_, filter)) != 0) return true;
    int16_t active = 0;
    uint16_t default_access = 0;
    const EsbStatus status =
        api_.EsbGetFilter(state_.client.context, app_, db_, filter, &active, &default_access);
    state_.client.last_status = status;
    if (status == kStatusFilterNotFound) return false;
    CheckStatus(state_.client, "EsbGetFilter", status);
    return true;
  }

  // The filter that the target assigns to the name on the database, in `filter`.
  EsbStatus HeldFilter(std::string* filter) {
    // A name this run created holds only the filter this run assigned to it.
    if (restore_.file.created_names.Contains(name_)) {
      auto assigned = restore_.filters_assigned.find(RestoreState::FilterKey(app_, db_, name_));
      if (assigned != restore_.filters_assigned.end()) *filter = assigned->second;
      return 0;
    }
    uint32_t count = 0;
    EsbStatus status = api_.EsbGetDatabaseAccess(state_.client.context, name_, app_, db_, &count);
    if (status != 0 || count == 0) return status;
    EsbItem item;
    status = api_.EsbGetNextItem(state_.client.context, kItemUserDb, &item);
    if (status == 0) *filter = Trim(CutAtNul(item.user_db.filter));
    return status;
  }

  // Sends the application access that goes with `db_access`, unless this run has already
  // set as much or more for the name; a later database never lowers it.
  EsbStatus SetApplicationAccess(uint16_t db_access) {
    const uint16_t wanted = db_access == kAccessAppDesign ? kAppAccessDesigner : kAppAccessMember;
    return restore_.file.RaiseApplicationAccess(
        RestoreState::NameKey(app_, name_), wanted,
        [&] {
          EsbUserApp app_access;
          CopyToField(name_, app_access.user);
          CopyToField(app_, app_access.app);
          app_access.access = wanted;
          return api_.EsbSetApplicationAccess(state_.client.context, app_access);
        },
        restore_.unit);
  }

  EsbStatus SetCalcList(int16_t all_calcs, const std::vector<std::string>& calcs) {
    return api_.EsbSetCalcList(state_.client.context, name_, app_, db_, all_calcs, JoinLines(calcs),
                               static_cast<uint32_t>(calcs.size()));
  }

  // Grants the calc scripts of the block that the target's database has, and logs the rest.
  void SetCalcs(const AccessDefinition& access) {
    EsbStatus status = SetCalcList(access.all_calcs, access.calcs);
    if (status != kStatusCalcNotFound || access.calcs.empty()) {
      CheckStatus(state_.client, "EsbSetCalcList", status);
      return;
    }
    // The server names only the first script that it lacks, and has no call that lists a
    // database's scripts, so each is tried alone; the list sent last is the one that stays.
    std::vector<std::string> present, missing;
    for (const std::string& calc : access.calcs) {
      status = SetCalcList(0, {calc});
      if (status == kStatusCalcNotFound) {
        missing.push_back(calc);
      } else {
        CheckStatus(state_.client, "EsbSetCalcList", status);
        present.push_back(calc);
      }
    }
    CheckStatus(state_.client, "EsbSetCalcList", SetCalcList(0, present));
    LogTabbed(state_,
              "%1Calc scripts NOT granted to '%2' on '%3:%4': %5 (calc scripts were not present)",
              {name_, app_, db_, Join(missing, ", ")});
  }

  RunState& state_;
  RestoreState& restore_;
  EsbApi& api_;
  const std::string name_;
  const std::string app_;
  const std::string db_;
};

}  // namespace

void RestoreAccess(RunState& state, RestoreState& restore, const std::string& name) {
  state.BeginBlock("Access");
  // Under a skipped database nothing is sent and nothing is logged.
  if (restore.current_app.empty() || restore.current_db.empty() || name.empty()) {
    return SkipRestOfBlock(state);
  }
  AccessRestore(state, restore, name).Run();
}

}  // namespace cubesec
