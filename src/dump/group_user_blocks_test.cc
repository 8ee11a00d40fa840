#include "client/access_levels.h"
#include "dump/dump.h"
#include "dump/dump_test_fixture.h"

namespace cubesec::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr int32_t kDay = 24 * 60 * 60;

using GroupBlocksTest = DumpTest;

TEST_F(GroupBlocksTest, GroupsAndMembersInNameOrder) {
  api_.AddGroup("Writers", kAccessWrite, {"zoe", "adam", "Mia"});
  api_.AddGroup("Empty", kAccessNone);
  api_.AddGroup("Admins", kAccessRead).info.type = kUserTypeSupervisor;
  WriteGroupBlocks(state_);
  EXPECT_THAT(Lines(),
              ElementsAre("Group: Admins", "   Access: *** Supervisor ***",
                          "   *** No users in this group ***", "", "Group: Empty",
                          "   Access: None", "   *** No users in this group ***", "",  //
                          "Group: Writers", "   Access: Write", "   Users: Mia, adam, zoe", ""));
  EXPECT_EQ(state_.blocks, 3);
}

TEST_F(GroupBlocksTest, NoGroupsWritesNothing) {
  WriteGroupBlocks(state_);
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(api_.Count("EsbGetNextItem"), 0);
}

TEST_F(GroupBlocksTest, GroupNameFetchIsReportedWithSmallFirstLetter) {
  api_.AddGroup("A", kAccessNone);
  api_.Fail("EsbGetNextItem", 1, 1051100, 1051100);
  const RunError error = Raised([&] { WriteGroupBlocks(state_); });
  EXPECT_EQ(error.number(), 99);
  EXPECT_THAT(error.description(), HasSubstr("calling esbListGroups (ref=1051100)"));
}

TEST_F(GroupBlocksTest, MemberListFailureWithoutMessageNumberEndsTheDump) {
  api_.AddGroup("A", kAccessRead, {"x"});
  api_.Fail("EsbGetGroupList", 1, 7, 0);
  EXPECT_EQ(Raised([&] { WriteGroupBlocks(state_); }).number(), kErrorClientCall);
  EXPECT_THAT(Lines(), ElementsAre("Group: A", "   Access: Read"));
}

using UserBlocksTest = DumpTest;

TEST_F(UserBlocksTest, MarkersShareTheirAsterisks) {
  ScriptedPrincipal& user = api_.AddUser("ann", kAccessRead, 0);
  user.info.disabled = 1;
  user.info.password_expired = 1;
  WriteUserBlocks(state_);
  EXPECT_EQ(Lines().at(0), "User: ann * Account Disabled * Password Expired * Inactive *");
}

TEST_F(UserBlocksTest, EachMarkerAlone) {
  const int32_t recent = static_cast<int32_t>(platform_.now) - kDay;
  api_.AddUser("a", kAccessNone, recent).info.disabled = 1;
  api_.AddUser("b", kAccessNone, recent).info.password_expired = 1;
  api_.AddUser("c", kAccessNone, recent).info.disabled = 2;  // only 1 means disabled
  WriteUserBlocks(state_);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.at(0), "User: a * Account Disabled *");
  EXPECT_EQ(lines.at(4), "User: b * Password Expired *");
  EXPECT_EQ(lines.at(8), "User: c");
}

TEST_F(UserBlocksTest, NamesHoldingAsterisksAreQuotedBeforeTheMarkers) {
  const int32_t recent = static_cast<int32_t>(platform_.now) - kDay;
  api_.AddUser("star * * name", kAccessNone, recent);
  api_.AddUser("trail*", kAccessNone, recent).info.disabled = 1;
  // A name that ends as markers do would read back as another user, bare.
  api_.AddUser("bob * Inactive *", kAccessNone, recent);
  WriteUserBlocks(state_);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.at(0), "User: \"bob * Inactive *\"");
  EXPECT_EQ(lines.at(4), "User: \"star * * name\"");
  EXPECT_EQ(lines.at(8), "User: \"trail*\" * Account Disabled *");
}

TEST_F(UserBlocksTest, InactiveOnlyAfterMoreThan180Days) {
  const int32_t now = static_cast<int32_t>(platform_.now);
  api_.AddUser("at180", kAccessNone, now - 180 * kDay);
  api_.AddUser("past180", kAccessNone, now - 180 * kDay - 1);
  WriteUserBlocks(state_);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.at(0), "User: at180");
  EXPECT_EQ(lines.at(4), "User: past180 * Inactive *");
}

TEST_F(UserBlocksTest, WholeBlocksInNameOrder) {
  // 2026-06-15 10:00:00 UTC, a Monday.
  api_.AddUser("zed", kAccessWrite, 1781517600, {"Writers", "Analysts"});
  api_.AddUser("admin", kAccessRead, 1781517600).info.type = kUserTypeSupervisor;
  api_.AddUser("Neo", kAccessRead | kAccessCanCreateUsers, 0);
  WriteUserBlocks(state_);
  EXPECT_THAT(Lines(),
              ElementsAre("User: Neo * Inactive *", "   Access: Read (Can Create Users)",
                          "   Last Login: <Unknown>", "",  //
                          "User: admin", "   Access: *** Supervisor ***",
                          "   Last Login: Monday, June 15, 2026", "",  //
                          "User: zed", "   Access: Write", "   Last Login: Monday, June 15, 2026",
                          "   Groups: Analysts, Writers", ""));
}

TEST_F(UserBlocksTest, LastLoginIsALocalDate) {
  platform_.utc_offset_minutes = -11 * 60;
  api_.AddUser("u", kAccessNone, 1781517600);  // 10:00 UTC is the day before at UTC-11
  WriteUserBlocks(state_);
  EXPECT_EQ(Lines().at(2), "   Last Login: Sunday, June 14, 2026");
}

TEST_F(UserBlocksTest, FailedUserReadEndsTheDumpAfterTheBlocksBefore) {
  const int32_t recent = static_cast<int32_t>(platform_.now) - kDay;
  api_.AddUser("a", kAccessNone, recent);
  api_.AddUser("b", kAccessNone, recent);
  api_.Fail("EsbGetUser", 2, 1051012, 1051012);
  const RunError error = Raised([&] { WriteUserBlocks(state_); });
  EXPECT_EQ(error.description(),
            "Essbase Error calling EsbGetUser (ref=1051012)\r\nScripted failure");
  EXPECT_THAT(Lines(), ElementsAre("User: a", "   Access: None",
                                   "   Last Login: Sunday, November 29, 2026", ""));
}

}  // namespace
}  // namespace cubesec::testing
