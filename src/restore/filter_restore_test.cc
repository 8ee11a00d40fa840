#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"
#include "tools/text.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

class FilterRestoreTest : public RestoreTest {
 protected:
  FilterRestoreTest() {
    server.AddDatabase("Sample", "Basic");
    state.current_app = "Sample";
    state.current_db = "Basic";
  }
  const fake::Filter& Stored(const std::string& name) {
    return server.applications.at("sample").databases.at("basic").filters.at(name);
  }
};

TEST_F(FilterRestoreTest, RowsOfEveryWordAreWrittenInFileOrderAndTheFilterAssigned) {
  Dump(
      "Active: Yes\nDefault Access: Read\nRead: @IDESCENDANTS(\"East\")\nMeta: Market\n"
      "Write: \"Sales\": Actual\n2: Budget\nNone: \nFiltered: Year\nDetail: \n"
      "*** Filter row 3 failed validity check (ref=1053001)\n"
      "Users: Analysts, bob\n\nFilter: next");
  RestoreFilter(state, "EastRead");
  const fake::Filter& filter = Stored("eastread");
  EXPECT_EQ(filter.active, 1);
  EXPECT_EQ(filter.access, 0x0111);
  EXPECT_THAT(filter.rows, ElementsAre(Pair(0x0111, "@IDESCENDANTS(\"East\")"),
                                       Pair(0x0110, "Market"), Pair(0x0113, "\"Sales\": Actual"),
                                       Pair(2, "Budget"), Pair(0, ""), Pair(0x0110, "Year")));
  EXPECT_EQ(server.Count("EsbSetFilterList EastRead|2|Analysts;bob"), 1);
  EXPECT_THAT(LogLines(), ElementsAre("\tRestored filter 'EastRead' for database 'Sample:Basic'",
                                      "\tAssigned filter 'EastRead' to 2 user/groups"));
  EXPECT_EQ(NextLine(), "Filter: next");
}

TEST_F(FilterRestoreTest, AFilterWithoutRowsOrUsersIsVerifiedWrittenAndAssignedToNoOne) {
  Dump("Active: No\nDefault Access: None\n* Filter is not used by any users/groups *\n\n");
  RestoreFilter(state, "Empty");
  EXPECT_THAT(server.calls, ElementsAre("EsbVerifyFilter Sample|Basic", "EsbVerifyFilterRow <end>",
                                        "EsbSetFilter Empty", "EsbSetFilterRow <end>",
                                        "EsbSetFilterList Empty|0|"));
  EXPECT_THAT(LogLines(), ElementsAre("\tRestored filter 'Empty' for database 'Sample:Basic'",
                                      "\tAssigned filter 'Empty' to 0 user/groups"));
}

TEST_F(FilterRestoreTest, AFilterThatFailsVerificationIsSkippedAndRemembered) {
  Dump("Active: Yes\nRead: East\nRead: Atlantis\nRead: West\nUsers: bob\n\n");
  RestoreFilter(state, "Bad");
  // Verification stops at the first failing row.
  EXPECT_THAT(server.calls, ElementsAre("EsbVerifyFilter Sample|Basic", "EsbVerifyFilterRow East",
                                        "EsbVerifyFilterRow Atlantis"));
  EXPECT_EQ(state.client.last_status, 0);  // the message was fetched after the failure
  EXPECT_EQ(state.skipped_filters.count(RunState::FilterKey("sample", "BASIC", "bad")), 1u);
  EXPECT_THAT(LogLines(),
              ElementsAre("\tRestoration of Filter 'Bad' skipped (ref=1053001, msg=Failure "
                          "1053001)"));

  // A failure of the closing call skips the filter too.
  server.fail["EsbVerifyFilterRow"] = {0, 1053002};
  Dump("Read: East\n\n");
  RestoreFilter(state, "Whole");
  EXPECT_EQ(server.Count("EsbSetFilter"), 0);
  EXPECT_EQ(LogLines().back(),
            "\tRestoration of Filter 'Whole' skipped (ref=1053002, msg=Failure 1053002)");
}

TEST_F(FilterRestoreTest, AFilterOfAnyLengthIsWrittenWhole) {
  std::string lines;
  for (int i = 1; i <= 150; ++i) lines += "Read: Member" + std::to_string(i) + "\n";
  Dump(lines + "\n");
  RestoreFilter(state, "Long");
  EXPECT_EQ(Stored("long").rows.size(), 150u);
  EXPECT_EQ(Stored("long").rows.back().second, "Member150");
}

TEST_F(FilterRestoreTest, AWriteFailureIsCheckedAsSetFilterAndStopsTheFilter) {
  server.fail["EsbSetFilterRow"] = {0, 1053006};
  Dump("Read: East\nRead: West\nRead: North\nUsers: bob\n\n");
  try {
    RestoreFilter(state, "Half");
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_THAT(error.description(),
                ::testing::StartsWith("Essbase Error calling EsbSetFilter (ref=1053006)"));
  }
  EXPECT_EQ(server.Count("EsbSetFilterRow"), 2);
  EXPECT_EQ(server.Count("EsbSetFilterList"), 0);
}

}  // namespace
}  // namespace cubesec
