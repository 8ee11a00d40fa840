#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;

class FilterRestoreTest : public RestoreTest {
 protected:
  FilterRestoreTest() {
    restore.current_app = "Sample";
    restore.current_db = "Basic";
  }
  nlohmann::json Filter(const std::string& name) { return Named(Basic()["filters"], name); }
};

TEST_F(FilterRestoreTest, RowLinesOfEveryFormBecomeRowsInFileOrder) {
  Dump(
      "Active: Yes\nMeta: Market\n2: \"Sales\"\nWrite: @IDESCENDANTS(\"East\"), \"Q1:Jan\"\nNone: "
      "\n"
      "Detail: \n*** Filter row 3 failed validity check (ref=1)\nUsers: Analysts, bob\n\n"
      "Filter: next");
  RestoreFilter(state, restore, "Rows");
  nlohmann::json rows = Filter("Rows")["rows"];
  EXPECT_EQ(Count("EsbSetFilterRow"), 5);  // four rows, the empty one among them, and the end
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(rows[0]["access"], 0x0110);
  EXPECT_EQ(rows[1]["access"], 2);
  EXPECT_EQ(rows[2]["text"], "@IDESCENDANTS(\"East\"), \"Q1:Jan\"");
  EXPECT_EQ(Basic()["access"]["bob"]["filter"], "Rows");
  EXPECT_EQ(NextLine(), "Filter: next");
}

TEST_F(FilterRestoreTest, AFilterWithoutRowsOrUsersIsVerifiedWrittenAndAssignedToNoOne) {
  Dump("Active: No\n* Filter is not used by any users/groups *\n\n");
  RestoreFilter(state, restore, "Empty");
  EXPECT_THAT(calls,
              ElementsAre("EsbVerifyFilter 0", "EsbVerifyFilterRow 0", "EsbGetFilterList 1053003",
                          "EsbSetFilter 0", "EsbSetFilterRow 0", "EsbSetFilterList 0"));
  EXPECT_EQ(LogLines().back(), "\tAssigned filter 'Empty' to 0 user/groups");
}

TEST_F(FilterRestoreTest, VerificationStopsAtTheFirstFailingRowAndTheFilterIsRemembered) {
  Dump("Read: East\nRead: Atlantis\nRead: West\n\n");
  RestoreFilter(state, restore, "Bad");
  EXPECT_THAT(calls, ElementsAre("EsbVerifyFilter 0", "EsbVerifyFilterRow 0",
                                 "EsbVerifyFilterRow 1053001", "EsbGetMessage 0"));
  EXPECT_EQ(restore.skipped_filters.count(RestoreState::FilterKey("sample", "BASIC", "bad")), 1u);
  EXPECT_THAT(LogLines(), ElementsAre("\tRestoration of Filter 'Bad' skipped (ref=1053001, "
                                      "msg=Unknown member Atlantis in filter row)"));
  // The filter of that name that the target holds is left as it was.
  Dump("Read: Atlantis\n\n");
  RestoreFilter(state, restore, "Old");
  EXPECT_EQ(Filter("Old")["rows"][0]["text"], "East");
}

TEST_F(FilterRestoreTest, HoldersAreAddedToThoseOfTheTargetAndMissingOnesAreLeftOut) {
  // The target's holder, which the next block does not name: the definition stays the same,
  // or the next block would not be applied.
  Dump("Read: West\nUsers: carol\n\n");
  RestoreFilter(state, restore, "Old");
  restore.file.other_kind_names.Insert("planners");
  Dump("Read: West\nUsers: bob, ghost, Planners, Analysts, BOB\n\n");
  RestoreFilter(state, restore, "Old");
  nlohmann::json access = Basic()["access"];
  for (const char* holder : {"bob", "carol", "Analysts"}) {
    EXPECT_EQ(access[holder]["filter"], "Old") << holder;
  }
  EXPECT_FALSE(access.contains("Planners"));
  EXPECT_EQ(Filter("Old")["rows"][0]["text"], "West");
  std::vector<std::string> log = LogLines();
  EXPECT_THAT(std::vector<std::string>(log.end() - 4, log.end()),
              ElementsAre("\tRestored filter 'Old' for database 'Sample:Basic'",
                          "\tAssigned filter 'Old' to 2 user/groups",
                          "\tFilter 'Old' was NOT assigned to: ghost, Planners (users/groups "
                          "were not present)",
                          "\tFilter 'Old' still assigned to: carol (users/groups that held it "
                          "already)"));
  // Once the names are known to be missing, the same block changes nothing.
  nlohmann::json before = Export();
  Dump("Read: West\nUsers: bob, ghost, Planners, Analysts, BOB\n\n");
  RestoreFilter(state, restore, "Old");
  EXPECT_EQ(Export(), before);
}

// The target's holders keep the filter, so a new definition would reach names that the file
// does not give it: any difference (active, default access, a row's access, text or number)
// leaves the filter as it is, and no access is granted through it.
TEST_F(FilterRestoreTest, AFilterHeldByNamesTheFileDoesNotGiveItIsNotRedefined) {
  Dump("Read: East\nUsers: carol\n\n");
  RestoreFilter(state, restore, "Old");
  const nlohmann::json before = Export();
  for (const char* block : {"Active: Yes\nRead: East\n", "Default Access: Read\nRead: East\n",
                            "Write: East\n", "Read: West\n", "Read: East\nRead: West\n", ""}) {
    SCOPED_TRACE(block);
    Dump(std::string(block) + "Users: bob\n\n");
    RestoreFilter(state, restore, "Old");
    EXPECT_EQ(Export(), before);
    EXPECT_EQ(LogLines().back(),
              "\tRestoration of Filter 'Old' skipped (held on the target by carol, which the "
              "dump file does not name)");
    Dump("   Access: Read\n   Filter: Old\n\n");
    RestoreAccess(state, restore, "bob");
    EXPECT_EQ(LogLines().back(),
              "\tRestoration of access for 'bob' to 'Sample:Basic' skipped (filter 'Old' was not "
              "restored)");
  }
  // The same definition changes nothing for carol, and a block that names every holder is
  // theirs to change.
  Dump("Active: No\nDefault Access: None\nRead: East\nUsers: bob\n\n");
  RestoreFilter(state, restore, "Old");
  EXPECT_EQ(Basic()["access"]["bob"]["filter"], "Old");
  Dump("Write: East\nUsers: bob, CAROL\n\n");
  RestoreFilter(state, restore, "Old");
  EXPECT_EQ(Filter("Old")["rows"][0]["access"], 0x0113);
  EXPECT_EQ(restore.skipped_filters.size(), 0u);
}

// A verification that cannot start says nothing of the filter: the run ends as for any
// failed call, and the filter is not taken for one that does not verify.
TEST_F(FilterRestoreTest, AFailedStartOfTheVerificationIsAFailedCall) {
  Connect("EsbVerifyFilter#1=1051032");
  Dump("Read: East\nUsers: bob\n\n");
  try {
    RestoreFilter(state, restore, "New");
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_EQ(error.number(), kErrorClientCall);
    EXPECT_THAT(error.description(),
                ::testing::StartsWith("Essbase Error calling EsbVerifyFilter (ref=1051032)"));
  }
  EXPECT_THAT(restore.skipped_filters, ::testing::IsEmpty());
  EXPECT_THAT(LogLines(), ::testing::IsEmpty());
}

// A library may give a message without its number, or none for the failed call while it
// still holds an older one: the skip line gives the call's own status, and never that
// older message.
TEST_F(FilterRestoreTest, ASkipLineGivesTheFailedCallsOwnStatusAndMessageOnly) {
  Connect("EsbVerifyFilterRow#1=1053001", /*numbered=*/false);
  Dump("Read: East\n\n");
  RestoreFilter(state, restore, "Unnumbered");
  EXPECT_EQ(LogLines().back(),
            "\tRestoration of Filter 'Unnumbered' skipped (ref=1053001, msg=Injected fault)");

  Connect("");
  Dump("Read: East\n\n");
  RestoreFilter(state, restore,
                "Fresh");  // a new filter: its holders' list leaves "does not exist"
  Connect("EsbVerifyFilterRow#1=1053001/nomsg");
  Dump("Read: East\n\n");
  RestoreFilter(state, restore, "Silent");
  EXPECT_EQ(LogLines().back(), "\tRestoration of Filter 'Silent' skipped (ref=1053001, msg=)");
  EXPECT_EQ(restore.skipped_filters.count(RestoreState::FilterKey("Sample", "Basic", "Silent")),
            1u);
}

TEST_F(FilterRestoreTest, AFilterOfAnyLengthIsWrittenWhole) {
  std::string lines;
  for (int i = 0; i < 150; ++i) lines += "Read: East\n";
  Dump(lines + "Read: West\n\n");
  RestoreFilter(state, restore, "Long");
  nlohmann::json rows = Filter("Long")["rows"];
  ASSERT_EQ(rows.size(), 151u);
  EXPECT_EQ(rows[150]["text"], "West");
}

TEST_F(FilterRestoreTest, AWriteFailureIsCheckedAsSetFilter) {
  Connect("EsbSetFilterRow#2=1054001");
  Dump("Read: East\nRead: West\nUsers: bob\n\n");
  try {
    RestoreFilter(state, restore, "Half");
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_THAT(error.description(),
                ::testing::StartsWith("Essbase Error calling EsbSetFilter (ref=1054001)"));
  }
  EXPECT_EQ(Count("EsbSetFilterList"), 0);
}

}  // namespace
}  // namespace cubesec
