#include <gmock/gmock.h>

#include <algorithm>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;

class ResetTest : public RestoreTest {
 protected:
  ResetTest() {
    platform.answers = {MessageBoxAnswer::kYes};
    state.server = "t";
  }
  std::vector<std::string> Names(const nlohmann::json& array) {
    std::vector<std::string> names;
    for (const nlohmann::json& entry : array) names.push_back(entry["name"]);
    return names;
  }
  size_t Filters(const std::string& app, const std::string& db) {
    return Named(Named(Export()["applications"], app)["databases"], db)["filters"].size();
  }
};

TEST_F(ResetTest, EveryListIsFetchedWholeAndAFailedDeletionIsPassedOver) {
  Connect("EsbDeleteUser#1=1051002");
  state.user = "ADMIN";  // the server lists it as "admin"
  const ResetResult result = ResetSecurity(state);
  EXPECT_TRUE(result.confirmed);
  EXPECT_EQ(result.failures, 1);
  EXPECT_EQ(Count("EsbDeleteUser"), 2);  // bob and carol, never the logged-in user
  auto first_delete = std::find(calls.begin(), calls.end(), "EsbDeleteUser 1051002");
  ASSERT_NE(first_delete, calls.end());
  // Every list, of users, groups, databases and filters, is fetched before the first
  // deletion: the question counts them all.
  EXPECT_EQ(std::count(calls.begin(), first_delete, "EsbGetNextItem 0"), 10);
  EXPECT_EQ(std::count(first_delete, calls.end(), "EsbGetNextItem 0"), 0);
  EXPECT_THAT(Names(Export()["users"]), ElementsAre("admin", "bob"));  // bob's deletion failed
  EXPECT_TRUE(Export()["groups"].empty());
  EXPECT_EQ(Filters("Sample", "Basic") + Filters("Finance", "Plan"), 0u);
  // Every deletion leaves a line, and so does the one that failed; the last line counts it
  // instead of calling the reset completed.
  EXPECT_THAT(LogLines(), ElementsAre("2026-11-30 00:53:20\tResetting security of t",
                                      "\t2 users, 2 groups and 2 filters will be deleted",
                                      "\tUser 'bob' NOT deleted (ref=1051002, msg=Injected fault)",
                                      "\tDeleted user 'carol'", "\tDeleted user group 'Analysts'",
                                      "\tDeleted user group 'Planners'",
                                      "\tDeleted filter 'Old' for database 'Sample:Basic'",
                                      "\tDeleted filter 'F1' for database 'Finance:Plan'",
                                      "2026-11-30 00:53:20\tSecurity reset of t incomplete: 1 "
                                      "failure(s), each logged as NOT deleted above",
                                      ""));
}

TEST_F(ResetTest, ADeclinedResetDeletesNothingAndSaysSo) {
  platform.answers = {MessageBoxAnswer::kNo};
  nlohmann::json before = Export();
  EXPECT_FALSE(ResetSecurity(state).confirmed);
  EXPECT_EQ(Export(), before);
  // The question says what would go, counted after login, the logged-in user left out.
  ASSERT_EQ(platform.shown.size(), 1u);
  EXPECT_EQ(platform.shown[0].text,
            "Server: t\n2 users, 2 groups and 2 filters will be deleted\nWarning! This will "
            "delete all (other) users, all groups, and all security filters, ARE YOU SURE???");
  EXPECT_THAT(LogLines(), ElementsAre("2026-11-30 00:53:20\tResetting security of t",
                                      "\t2 users, 2 groups and 2 filters will be deleted",
                                      "2026-11-30 00:53:20\tSecurity reset of t declined: nothing "
                                      "was deleted",
                                      ""));
}

TEST_F(ResetTest, AResetWhoseRunLogCannotBeWrittenDoesNotStart) {
  state.run_log.SetPath("/nonexistent-folder/cubesec.log");
  nlohmann::json before = Export();
  try {
    ResetSecurity(state);
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_EQ(error.number(), kErrorFileIo);
  }
  EXPECT_EQ(platform.answers.size(), 1u);  // the question was not even asked
  EXPECT_EQ(Export(), before);
  EXPECT_TRUE(calls.empty());
}

TEST_F(ResetTest, ADatabaseWhoseFiltersCannotBeListedKeepsThem) {
  Connect("EsbListFilters#1=1051002");
  EXPECT_EQ(ResetSecurity(state).failures, 1);
  EXPECT_EQ(Filters("Sample", "Basic") + Filters("Finance", "Plan"), 1u);
}

// A list that cannot be read keeps all of its objects; each such list counts as one
// failure, whose line gives the call's own status and message, never an older one.
TEST_F(ResetTest, ListsThatCannotBeReadAreCountedAndGiveTheirOwnStatus) {
  EsbUserInfo info;
  ASSERT_NE(state.client.api->EsbGetUser(state.client.context, "ghost", &info), 0);
  Connect("EsbListUsers#1=1051002/nomsg,EsbListGroups#1=1051003");
  const ResetResult result = ResetSecurity(state);
  EXPECT_TRUE(result.confirmed);
  EXPECT_EQ(result.failures, 2);
  EXPECT_EQ(Export()["users"].size(), 3u);
  EXPECT_EQ(Export()["groups"].size(), 2u);
  std::vector<std::string> log = LogLines();
  EXPECT_EQ(log[1], "\tUsers NOT deleted (ref=1051002, msg=)");
  EXPECT_EQ(log[2], "\tGroups NOT deleted (ref=1051003, msg=Injected fault)");
  EXPECT_EQ(log[log.size() - 2],
            "2026-11-30 00:53:20\tSecurity reset of t incomplete: 2 failure(s), each logged as "
            "NOT deleted above");
}

TEST_F(ResetTest, AFailedDatabaseListIsReported) {
  Connect("EsbListDatabases#1=1051002");
  EXPECT_THROW(ResetSecurity(state), RunError);
  EXPECT_EQ(Filters("Sample", "Basic"), 1u);
}

}  // namespace
}  // namespace cubesec
