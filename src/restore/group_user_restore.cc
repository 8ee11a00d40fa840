// Group and user blocks: missing ones are created, access, memberships and disabled
// accounts are applied. A restore never enables an account, never removes a membership and
// never deletes anything.
#include <stdexcept>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "client/session_pool.h"
#include "restore/name_lists.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/temp_password.h"
#include "tools/text.h"

namespace cubesec {
namespace {

constexpr std::string_view kDisabledMarker = "* Account Disabled *";

bool IsNotFound(EsbStatus status) {
  return status == kStatusUserNotFound || status == kStatusGroupNotFound;
}

class UserRestore {
 public:
  UserRestore(RunState& state, RestoreState& restore, std::string name)
      : state_(state), restore_(restore), name_(std::move(name)) {}

  // Reads the user, creating it when missing (unless `create` is false). False when no record
  // could be read.
  bool Load(bool create = true) {
    EsbApi& api = *state_.client.api;
    EsbStatus status = api.EsbGetUser(state_.client.context, name_, &info_);
    state_.client.last_status = status;
    if (status == 0 || !create) EndTurn(CreationTurn());
    if (status == 0 && info_.type == kUserTypeGroup) {
      // Whatever the block says is about another object than the target's group.
      restore_.file.other_kind_names.Insert(name_);
      ++restore_.restored.blocks_skipped;
      LogTabbed(state_, "%1Restoration of user '%2' skipped (a group of that name exists)",
                {name_});
      return false;
    }
    if (status == 0) return true;
    if (!IsNotFound(status)) CheckStatus(state_.client, "EsbGetUser", status);
    if (!create) return false;
    created_ = true;

    std::string password = NewPassword();
    // Users are created in the file's order, whichever sessions create them.
    restore_.file.turns.Await(CreationTurn(), restore_.unit);
    status = api.EsbCreateUser(state_.client.context, name_, password);
    EndTurn(CreationTurn());
    CheckStatus(state_.client, "EsbCreateUser", status);
    // Once the user exists, the calls that give it the flag below go out even when another
    // session's failure stops this one: the user is not left half made.
    const UninterruptedCalls flag;
    ++restore_.restored.users_created;
    restore_.users_created.emplace_back(name_, password);
    LogCreatedUser(state_, name_, password);
    restore_.file.created_names.Insert(name_);
    CheckStatus(state_.client, "EsbGetUser", api.EsbGetUser(state_.client.context, name_, &info_));
    // The user is to choose a password of their own at the first login.
    if (info_.password_expired != 1) {
      info_.password_expired = 1;
      Store();
    }
    return true;
  }

  void SetAccess(const std::string& value) {
    uint16_t code = AccessCode(value);
    if (code == info_.access) return;
    if (IsRunUser()) {
      LogTabbed(state_, "%1Access of user '%2' kept (the restore is logged in as that user)",
                {name_});
      return;
    }
    info_.access = code;
    Store();
    ++restore_.restored.values_changed;
    LogTabbed(state_, "%1Assigned '%2' access to user '%3'", {value, name_});
  }

  void Disable() {
    if (info_.disabled == 1) return;
    if (IsRunUser()) {
      LogTabbed(state_, "%1User '%2' not disabled (the restore is logged in as that user)",
                {name_});
      return;
    }
    info_.disabled = 1;
    Store();
    ++restore_.restored.values_changed;
    LogTabbed(state_, "%1Disabled user '%2'", {name_});
  }

  bool created() const { return created_; }

  // Adds the user to the groups of `value`; in a limited restore's kMemberships block only to
  // the group parts' groups.
  void AddToGroups(const std::string& value) {
    std::vector<std::string> current = CurrentGroups();
    std::vector<std::string> assigned, not_present;
    for (const std::string& group : SplitGroupsValue(restore_.file, value)) {
      if (restore_.block_use == BlockUse::kMemberships &&
          restore_.file.part_groups.count(ToLower(group)) == 0) {
        continue;
      }
      // A membership the user already has is left alone, so a user in sync logs nothing.
      bool member = false;
      for (const std::string& have : current) member = member || EqualsIgnoreCase(have, group);
      if (member) {
        EndTurn(MembershipTurn(group));
        continue;
      }
      // A group's members are added in the file's order, whichever sessions add them.
      restore_.file.turns.Await(MembershipTurn(group), restore_.unit);
      EsbStatus status = state_.client.api->EsbAddToGroup(state_.client.context, group, name_);
      EndTurn(MembershipTurn(group));
      state_.client.last_status = status;
      if (status == 0) {
        assigned.push_back(group);
        current.push_back(group);
      } else if (status == kStatusGroupNotFound) {
        not_present.push_back(group);
      } else {
        CheckStatus(state_.client, "EsbAddToGroup", status);
      }
    }
    if (!assigned.empty()) {
      restore_.restored.values_changed += static_cast<int>(assigned.size());
      LogTabbed(state_, "%1Assigned user '%2' to security groups: %3",
                {name_, Join(assigned, ", ")});
    }
    if (!not_present.empty()) {
      LogTabbed(state_,
                "%1User '%2' was NOT assigned to security groups: %3 (groups were not present)",
                {name_, Join(not_present, ", ")});
    }
  }

 private:
  // The user the run is logged in as keeps its access and its account: a dump from another
  // server would otherwise take the run's own rights away half-way, leaving the rest of the
  // restore undone and the server perhaps without an administrator who can log in.
  bool IsRunUser() const { return cubesec::IsRunUser(state_, name_); }

  std::string NewPassword() {
    try {
      return MakeTempPassword(state_.platform, TargetMinPasswordLength(state_, restore_.file));
    } catch (const std::runtime_error& error) {
      throw RunError(kErrorNoRandomSource,
                     FormatMsg("Cannot make a temporary password for '%1': %2",
                               {name_, std::string(error.what())}));
    }
  }

  void EndTurn(const std::string& key) { restore_.file.turns.End(key, restore_.unit); }

  void Store() {
    CheckStatus(state_.client, "EsbSetUser",
                state_.client.api->EsbSetUser(state_.client.context, info_));
  }

  std::vector<std::string> CurrentGroups() {
    EsbApi& api = *state_.client.api;
    uint32_t count = 0;
    std::vector<std::string> groups;
    // A user this run created is in no group yet.
    if (restore_.file.created_names.Contains(name_)) return groups;
    CheckStatus(state_.client, "EsbGetGroupList",
                api.EsbGetGroupList(state_.client.context, name_, &count));
    for (uint32_t i = 0; i < count; ++i) {
      EsbItem item;
      CheckStatus(state_.client, "EsbGetGroupList",
                  api.EsbGetNextItem(state_.client.context, kItemName, &item));
      groups.push_back(CutAtNul(item.name));
    }
    return groups;
  }

  RunState& state_;
  RestoreState& restore_;
  std::string name_;
  EsbUserInfo info_;
  bool created_ = false;
};

}  // namespace

void LogCreatedUser(RunState& state, const std::string& name, const std::string& password) {
  // The log is its owner's alone; a copy shown on a terminal or in a job's output is not.
  state.Log(
      FormatMsg("%1Created user '%2' with temporary password '%3'", {"\t", name, password}),
      FormatMsg("%1Created user '%2' with a temporary password (in the run log)", {"\t", name}));
}

void RestoreGroup(RunState& state, RestoreState& restore, const std::string& name) {
  state.BeginBlock("Group");
  if (name.empty()) return SkipRestOfBlock(state);
  EsbApi& api = *state.client.api;
  EsbUserInfo info;
  EsbStatus status = api.EsbGetGroup(state.client.context, name, &info);
  state.client.last_status = status;
  // A group that a limited restore only needs is left as the target has it.
  bool loaded = status == 0 && restore.block_use != BlockUse::kCreate;
  if (IsNotFound(status)) {
    status = api.EsbCreateGroup(state.client.context, name);
    state.client.last_status = status;
    if (status == kStatusAlreadyExists) {
      // No group has the name, so a user has: the block is about another object.
      restore.file.other_kind_names.Insert(name);
      ++restore.restored.blocks_skipped;
      LogTabbed(state, "%1Restoration of group '%2' skipped (a user of that name exists)", {name});
    } else {
      CheckStatus(state.client, "EsbCreateGroup", status);
      ++restore.restored.groups_created;
      LogTabbed(state, "%1Created user group '%2'", {name});
      restore.file.created_names.Insert(name);
      CheckStatus(state.client, "EsbGetGroup", api.EsbGetGroup(state.client.context, name, &info));
      loaded = true;
    }
  } else if (status != 0) {
    CheckStatus(state.client, "EsbGetGroup", status);
  }

  // Members are passed over: memberships come back from the user blocks.
  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (!loaded || key != "Access") continue;
    uint16_t code = AccessCode(value);
    if (code == info.access) continue;
    info.access = code;
    // Each member gets what the group gets: a change of it is worth a line like a user's.
    CheckStatus(state.client, "EsbSetGroup", api.EsbSetGroup(state.client.context, info));
    ++restore.restored.values_changed;
    LogTabbed(state, "%1Assigned '%2' access to group '%3'", {value, name});
  }
}

void RestoreUser(RunState& state, RestoreState& restore, const std::string& head_value) {
  state.BeginBlock("User");
  // The markers come off the end of the head value, so a name holding " * " stays whole.
  const UserHead head = UserHeadOf(restore.file, head_value);
  if (head.name.empty()) return SkipRestOfBlock(state);
  UserRestore user(state, restore, head.name);
  const BlockUse use = restore.block_use;
  // A limited restore adds memberships only to users that are there, and leaves a user that
  // it only needs as the target has it; one that it creates gets its block but its groups,
  // which lie outside the parts.
  bool loaded = user.Load(/*create=*/use != BlockUse::kMemberships);
  if (use == BlockUse::kCreate && !user.created()) loaded = false;
  const bool settings = use != BlockUse::kMemberships;
  const bool groups = use != BlockUse::kCreate;
  if (loaded && settings && head.markers.disabled) user.Disable();

  std::string key, value;
  while (state.ReadKeyLine(key, value)) {
    if (!loaded) continue;
    if (!settings && key != "Groups") continue;
    if (key == "Groups" && !groups) continue;
    if (key == "Access") {
      user.SetAccess(value);
    } else if (key == "Groups") {
      user.AddToGroups(value);
    } else if (key == kDisabledMarker) {
      user.Disable();
    }
  }
}

}  // namespace cubesec
