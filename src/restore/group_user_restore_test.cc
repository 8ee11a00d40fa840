#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"
#include "tools/text.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::StartsWith;

using GroupUserRestoreTest = RestoreTest;

TEST_F(GroupUserRestoreTest, AMissingGroupIsCreatedAndGetsItsAccessWithoutALogLine) {
  Dump("Access: Write\nUsers: bob, carol\n\nUser: bob");
  RestoreGroup(state, "Writers");
  const fake::Principal& group = server.principals.at("writers");
  EXPECT_EQ(group.info.type, kUserTypeGroup);
  EXPECT_EQ(group.info.access, 0x0113);
  EXPECT_TRUE(group.groups.empty());  // members come from the user blocks
  EXPECT_THAT(LogLines(), ElementsAre("\tCreated user group 'Writers'"));
  EXPECT_EQ(NextLine(), "User: bob");

  // The same block again: the group is in sync, nothing is written or logged.
  server.calls.clear();
  Dump("Access: Write\n\n");
  RestoreGroup(state, "Writers");
  EXPECT_THAT(server.CallNames(), ElementsAre("EsbGetGroup"));
  EXPECT_THAT(LogLines(), ElementsAre("\tCreated user group 'Writers'"));
}

TEST_F(GroupUserRestoreTest, AnotherFailureOfTheGroupReadEndsTheRestore) {
  server.fail["EsbGetGroup"] = {1051002};
  Dump("Access: Write\n");
  try {
    RestoreGroup(state, "Writers");
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_THAT(error.description(), StartsWith("Essbase Error calling EsbGetGroup (ref=1051002)"));
  }
  EXPECT_EQ(server.Count("EsbCreateGroup"), 0);
}

TEST_F(GroupUserRestoreTest, AMissingUserIsCreatedWithATemporaryPasswordThatMustBeChanged) {
  Dump("Access: Read\nLast Login: <Unknown>\naccess: Write\n\n");
  RestoreUser(state, "bob");
  const fake::Principal& bob = server.principals.at("bob");
  EXPECT_THAT(bob.password, StartsWith("TP"));
  EXPECT_GE(bob.password.size(), 16u);
  EXPECT_EQ(bob.info.password_expired, 1);
  EXPECT_EQ(bob.info.access, 0x0111);  // "access" in lower case is passed over
  EXPECT_THAT(LogLines(),
              ElementsAre("\tCreated user 'bob' with temporary password '" + bob.password + "'",
                          "\tAssigned 'Read' access to user 'bob'"));
}

TEST_F(GroupUserRestoreTest, TemporaryPasswordsFollowTheMinimumThatTheServerBlockSet) {
  Dump("\n");
  RestoreUser(state, "first");  // the minimum (0) is read once here
  Dump("MinLength: 24 Characters\n");
  RestoreServerState(state);
  Dump("\n");
  RestoreUser(state, "second");
  EXPECT_EQ(server.Count("EsbGetGlobalState"), 2);
  EXPECT_EQ(server.principals.at("first").password.size(), 16u);
  EXPECT_EQ(server.principals.at("second").password.size(), 24u);
  EXPECT_NE(server.principals.at("first").password.substr(0, 16),
            server.principals.at("second").password.substr(0, 16));
}

TEST_F(GroupUserRestoreTest, TheHeadLineMarkersAreCutFromTheNameAndDisabledIsApplied) {
  server.AddUser("carol", 0x0111);
  Dump("Access: Read\n\n");
  RestoreUser(state, "carol * Account Disabled * Password Expired *");
  EXPECT_EQ(server.calls.front(), "EsbGetUser carol");
  EXPECT_EQ(server.principals.at("carol").info.disabled, 1);
  EXPECT_THAT(LogLines(), ElementsAre("\tDisabled user 'carol'"));

  // Markers that are not the disabled one change nothing; a marker line of its own does.
  server.AddUser("dave");
  Dump("* Account Disabled *\n\n");
  RestoreUser(state, "dave * Password Expired * Inactive *");
  Dump("* Account Disabled *\n\n");
  RestoreUser(state, "dave * Inactive *");
  EXPECT_EQ(server.Count("EsbSetUser dave"), 1);
  EXPECT_THAT(LogLines(), ElementsAre("\tDisabled user 'carol'", "\tDisabled user 'dave'"));
}

TEST_F(GroupUserRestoreTest, GroupsAreTrimmedAndMissingOnesAreNamedInTheirOwnLine) {
  server.AddUser("bob");
  for (const char* group : {"G1", "G2", "G3"}) server.AddUser(group, 0, kUserTypeGroup);
  Dump("Groups: G2 ,G1,  Nope ,G3,\n\n");
  RestoreUser(state, "bob");
  EXPECT_THAT(server.principals.at("bob").groups, ElementsAre("G2", "G1", "G3"));
  EXPECT_THAT(LogLines(),
              ElementsAre("\tAssigned user 'bob' to security groups: G2, G1, G3",
                          "\tUser 'bob' was NOT assigned to security groups: Nope (groups were "
                          "not present)"));
}

TEST_F(GroupUserRestoreTest, AUserInSyncWithTheServerChangesAndLogsNothing) {
  server.AddUser("bob", 0x0113);
  server.AddUser("Writers", 0, kUserTypeGroup);
  server.principals.at("bob").groups = {"Writers"};
  server.principals.at("bob").info.disabled = 1;
  Dump(
      "Access: Write\nLast Login: Tuesday, December 8, 2026\nGroups: writers\n"
      "* Account Disabled *\n\n");
  RestoreUser(state, "bob * Account Disabled *");
  EXPECT_EQ(server.Count("EsbSetUser"), 0);
  EXPECT_EQ(server.Count("EsbAddToGroup"), 0);
  EXPECT_THAT(LogLines(), IsEmpty());
}

}  // namespace
}  // namespace cubesec
