#include <string>
#include <vector>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "dump/dump.h"
#include "dump/name_list.h"
#include "tools/dates.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// A user whose last login lies further back than this is marked inactive.
constexpr int64_t kInactiveAfterSeconds = int64_t{180} * 24 * 60 * 60;

uint16_t ShownAccess(const EsbUserInfo& info) {
  return info.type == kUserTypeSupervisor ? kAccessSupervisor : info.access;
}

// The members of a group, or the groups of a user.
std::vector<std::string> GroupList(RunState& state, const std::string& name, uint32_t* count) {
  *count = 0;
  CheckStatus(state.client, "EsbGetGroupList",
              state.client.api->EsbGetGroupList(state.client.context, name, count));
  return FetchNames(state, *count, kItemName, "EsbGetGroupList");
}

}  // namespace

void WriteGroupBlocks(RunState& state, SessionPool* pool) {
  uint32_t count = 0;
  CheckStatus(state.client, "EsbListGroups",
              state.client.api->EsbListGroups(state.client.context, "", "", &count));
  const std::vector<std::string> groups = FetchNames(state, count, kItemGroupName, "esbListGroups");
  for (const std::string& group : groups) state.dumped_groups.insert(ToLower(group));
  WriteNamedBlocks(state, "groups", groups, WriteGroupBlock, pool);
}

void WriteGroupBlock(RunState& state, const std::string& group) {
  EsbUserInfo info;
  CheckStatus(state.client, "EsbGetGroup",
              state.client.api->EsbGetGroup(state.client.context, group, &info));
  state.BeginBlock("Group");
  WriteLine(state, "Group: %1", QuoteName(group));
  WriteLine(state, "   Access: %1", AccessName(ShownAccess(info)));
  uint32_t members = 0;
  const std::vector<std::string> users = GroupList(state, group, &members);
  if (members != 0) {
    WriteLine(state, "   Users: %1", JoinNames(users));
  } else {
    state.WriteDumpLine("   *** No users in this group ***");
  }
  state.WriteDumpLine("");
}

void WriteUserBlocks(RunState& state, SessionPool* pool) {
  uint32_t count = 0;
  CheckStatus(state.client, "EsbListUsers",
              state.client.api->EsbListUsers(state.client.context, "", "", &count));
  const std::vector<std::string> users = FetchNames(state, count, kItemUserName, "EsbListUsers");
  WriteNamedBlocks(state, "users", users, WriteUserBlock, pool);
}

void WriteUserBlock(RunState& state, const std::string& user) {
  EsbUserInfo info;
  CheckStatus(state.client, "EsbGetUser",
              state.client.api->EsbGetUser(state.client.context, user, &info));
  UserMarkers markers;
  markers.disabled = info.disabled == 1;
  markers.expired = info.password_expired == 1;
  markers.inactive = state.platform.NowUtc() - int64_t{info.last_login} > kInactiveAfterSeconds;
  state.BeginBlock("User");
  // The markers share their asterisks; a name that could be taken for markers is quoted.
  WriteLine(state, "User: %1", UserHeadValue(user, markers));
  WriteLine(state, "   Access: %1", AccessName(ShownAccess(info)));
  if (info.last_login > 0) {
    WriteLine(state, "   Last Login: %1",
              FormatLongDate(ServerTimeToDate(state.platform, info.last_login)));
  } else {
    state.WriteDumpLine("   Last Login: <Unknown>");
  }
  uint32_t memberships = 0;
  const std::vector<std::string> groups = GroupList(state, user, &memberships);
  if (memberships > 0) WriteLine(state, "   Groups: %1", JoinNames(groups));
  state.WriteDumpLine("");
}

void WriteNamedBlocks(RunState& state, std::string_view phase,
                      const std::vector<std::string>& names, const NamedBlockWriter& write,
                      SessionPool* pool) {
  if (state.sessions > 1 && names.size() > 1) {
    return WriteNamedBlocksInSessions(state, phase, names, write, pool);
  }
  const int total = static_cast<int>(names.size());
  for (int done = 1; const std::string& name : names) {
    state.ReportProgress(phase, done++, total);
    write(state, name);
  }
}

}  // namespace cubesec
