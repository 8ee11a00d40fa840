#include <gmock/gmock.h>

#include <algorithm>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

class ResetTest : public RestoreTest {
 protected:
  ResetTest() {
    server.AddUser("ADMIN", 0xFFFF, kUserTypeSupervisor);
    server.AddUser("bob");
    server.AddUser("carol");
    server.AddUser("Analysts", 0, kUserTypeGroup);
    server.AddDatabase("Sample", "Basic").filters["f1"];
    server.AddDatabase("Sample", "Basic").filters["f2"];
    server.AddDatabase("Finance", "Plan").filters["f3"];
  }
  std::vector<std::string> Principals() {
    std::vector<std::string> names;
    for (const auto& [key, p] : server.principals) names.push_back(key);
    return names;
  }
  int FilterCount() {
    int n = 0;
    for (auto& [k, app] : server.applications)
      for (auto& [d, db] : app.databases) n += static_cast<int>(db.filters.size());
    return n;
  }
};

TEST_F(ResetTest, AskingFirstAndNoDeletesNothing) {
  platform.answers = {MessageBoxAnswer::kNo};
  EXPECT_FALSE(ResetSecurity(state));
  ASSERT_EQ(platform.shown.size(), 1u);
  const MessageBoxRequest& box = platform.shown[0];
  EXPECT_EQ(box.title, "Reset Security");
  EXPECT_EQ(box.text,
            "Warning! This will delete all (other) users, all groups, and all security filters, "
            "ARE YOU SURE???");
  EXPECT_EQ(box.buttons, MessageBoxButtons::kYesNo);
  EXPECT_EQ(box.icon, MessageBoxIcon::kExclamation);
  EXPECT_TRUE(box.default_is_no);
  EXPECT_THAT(server.calls, IsEmpty());
}

TEST_F(ResetTest, NoWayToAskIsAnErrorThatDeletesNothing) {
  try {
    ResetSecurity(state);
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_EQ(error.number(), 53);
    EXPECT_EQ(error.description(),
              "Security reset needs a confirmation, but there is no window or terminal to ask it "
              "on; nothing was deleted.");
  }
  EXPECT_THAT(server.calls, IsEmpty());
}

TEST_F(ResetTest, YesDeletesAllButTheLoggedInUserFetchingEachListWholeFirst) {
  platform.answers = {MessageBoxAnswer::kYes};
  EXPECT_TRUE(ResetSecurity(state));
  EXPECT_THAT(Principals(), ElementsAre("admin"));  // logged in as "admin", listed as "ADMIN"
  EXPECT_EQ(FilterCount(), 0);
  EXPECT_THAT(LogLines(), IsEmpty());
  // No list is read after a deletion from it has begun.
  std::vector<std::string> names = server.CallNames();
  auto first_user_delete = std::find(names.begin(), names.end(), "EsbDeleteUser");
  EXPECT_EQ(std::count(names.begin(), first_user_delete, "EsbGetNextItem"), 3);
  EXPECT_EQ(server.Count("EsbDeleteFilter Sample|Basic|f"), 0);  // names are as listed
  EXPECT_EQ(server.Count("EsbDeleteFilter sample|basic|f"), 2);
}

TEST_F(ResetTest, ADatabaseWhoseFiltersCannotBeListedKeepsThem) {
  platform.answers = {MessageBoxAnswer::kYes};
  server.fail["EsbListFilters"] = {1051002};
  server.fail["EsbDeleteUser"] = {1051002};  // a failed deletion is passed over
  EXPECT_TRUE(ResetSecurity(state));
  EXPECT_EQ(FilterCount(), 1);  // the first database listed keeps its filter
  EXPECT_EQ(server.applications.at("finance").databases.at("plan").filters.size(), 1u);
  EXPECT_THAT(Principals(), UnorderedElementsAre("admin", "bob"));
}

TEST_F(ResetTest, AFailedDatabaseListIsReported) {
  platform.answers = {MessageBoxAnswer::kYes};
  server.fail["EsbListDatabases"] = {1051002};
  EXPECT_THROW(ResetSecurity(state), RunError);
  EXPECT_THAT(Principals(), ElementsAre("admin"));
  EXPECT_EQ(FilterCount(), 3);
}

}  // namespace
}  // namespace cubesec
