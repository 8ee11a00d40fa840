#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"
#include "tools/regex_matchers.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using GroupUserRestoreTest = RestoreTest;

TEST_F(GroupUserRestoreTest, TheHeadLineMarkersAreCutFromTheNameAndDisabledIsApplied) {
  Dump("Access: Write\n\n");
  RestoreUser(state, restore, "bob * Account Disabled * Password Expired *");
  Dump("Access: None\n\n");
  RestoreUser(state, restore, "carol * Password Expired * Inactive *");
  Dump("* Account Disabled *\n\n");
  RestoreUser(state, restore, "carol * Inactive *");
  nlohmann::json users = Export()["users"];
  EXPECT_EQ(Named(users, "bob")["disabled"], true);
  EXPECT_EQ(Named(users, "carol")["disabled"], true);
  EXPECT_EQ(Named(users, "carol")["password_expired"], false);  // that marker is not applied
  EXPECT_THAT(LogLines(), ElementsAre("\tDisabled user 'bob'", "\tDisabled user 'carol'"));
}

TEST_F(GroupUserRestoreTest, AUserInSyncChangesAndLogsNothing) {
  Dump("Access: Write\nLast Login: Tuesday, December 8, 2026\nGroups: analysts\naccess: Read\n\n");
  RestoreUser(state, restore, "bob * Inactive *");
  Dump("Access: None\nUsers: bob\n\n");
  RestoreGroup(state, restore, "Analysts");
  EXPECT_EQ(Count("EsbSetUser") + Count("EsbAddToGroup") + Count("EsbSetGroup"), 0);
  EXPECT_THAT(LogLines(), IsEmpty());
}

TEST_F(GroupUserRestoreTest, ACreatedUserJoinsItsGroupsWithoutReadingThemBack) {
  Dump("Access: None\nGroups: Analysts,Ghosts,analysts\n\n");
  RestoreUser(state, restore, "newbie");
  EXPECT_EQ(Count("EsbGetGroupList"), 0);  // a user created a moment ago is in no group
  EXPECT_EQ(Count("EsbAddToGroup"), 2);    // the repeated name is not sent again
  EXPECT_EQ(Named(Export()["users"], "newbie")["groups"], nlohmann::json::array({"Analysts"}));
  const std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "\tAssigned user 'newbie' to security groups: Analysts");
  EXPECT_EQ(
      log[2],
      "\tUser 'newbie' was NOT assigned to security groups: Ghosts (groups were not present)");
}

// Every member of a group gets what the group gets: its change is logged as a user's is.
TEST_F(GroupUserRestoreTest, AChangedAccessIsAppliedAndLoggedForAUserAndForAGroup) {
  Dump("Access: Read\n\n");
  RestoreUser(state, restore, "carol");
  Dump("Access: Write\n\n");
  RestoreGroup(state, restore, "Planners");
  Dump("Access: Write\n\n");
  RestoreGroup(state, restore, "Planners");  // in sync now: nothing more
  nlohmann::json exported = Export();
  EXPECT_EQ(Named(exported["users"], "carol")["access"], 0x0111);
  EXPECT_EQ(Named(exported["groups"], "Planners")["access"], 0x0113);
  EXPECT_EQ(Count("EsbSetGroup"), 1);
  EXPECT_THAT(LogLines(), ElementsAre("\tAssigned 'Read' access to user 'carol'",
                                      "\tAssigned 'Write' access to group 'Planners'"));
}

TEST_F(GroupUserRestoreTest, ABlockWhoseNameIsTheOtherKindOnTheTargetIsSkipped) {
  nlohmann::json before = Export();
  Dump("Access: Write\nGroups: Planners\n* Account Disabled *\n\nGroup: next");
  RestoreUser(state, restore, "analysts * Account Disabled *");
  EXPECT_EQ(NextLine(), "Group: next");
  Dump("Access: Write\nUsers: carol\n\nUser: next");
  RestoreGroup(state, restore, "Bob");
  EXPECT_EQ(NextLine(), "User: next");
  EXPECT_EQ(Export(), before);
  EXPECT_THAT(restore.file.other_kind_names.Names(), ElementsAre("analysts", "bob"));
  EXPECT_THAT(LogLines(),
              ElementsAre("\tRestoration of user 'analysts' skipped (a group of that name exists)",
                          "\tRestoration of group 'Bob' skipped (a user of that name exists)"));
}

TEST_F(GroupUserRestoreTest, TemporaryPasswordsFollowTheMinimumThatTheServerBlockSet) {
  Dump("\n");
  RestoreUser(state, restore, "first");  // the minimum is read from the server here
  Dump("MinLength: 24 Characters\n");
  RestoreServerState(state, restore);
  Dump("\n");
  RestoreUser(state, restore, "second");
  EXPECT_EQ(Count("EsbGetGlobalState"), 2);
  std::vector<std::string> log = LogLines();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_THAT(log[0], MatchesWholly("\tCreated user 'first' with temporary password "
                                    "'TP[A-Za-z0-9]{14}'"));
  EXPECT_THAT(log[2], MatchesWholly("\tCreated user 'second' with temporary password "
                                    "'TP[A-Za-z0-9]{22}'"));
}

}  // namespace
}  // namespace cubesec
