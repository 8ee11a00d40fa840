#include <gmock/gmock.h>

#include <algorithm>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class AccessRestoreTest : public RestoreTest {
 protected:
  AccessRestoreTest() {
    restore.current_app = "Sample";
    restore.current_db = "Basic";
  }
};

TEST_F(AccessRestoreTest, ApplicationDesignerOnOneDatabaseIsNotLoweredByTheNext) {
  Dump("Access: Application Designer\n\n");
  RestoreAccess(state, restore, "carol");
  Dump("Access: Read\n\n");
  RestoreAccess(state, restore, "Planners");
  restore.current_db = "Interim";
  Dump("Access: Read\n\n");
  RestoreAccess(state, restore, "CAROL");
  Dump("Access: Application Designer\n\n");
  RestoreAccess(state, restore, "Planners");
  nlohmann::json sample = Named(Export()["applications"], "Sample");
  EXPECT_EQ(sample["access"]["carol"], 0x0200);
  EXPECT_EQ(sample["access"]["Planners"], 0x0200);  // raised by the later database
  EXPECT_EQ(Named(sample["databases"], "Basic")["access"]["carol"]["access"], 0x0377);
  EXPECT_EQ(Named(sample["databases"], "Interim")["access"]["carol"]["access"], 0x0111);
  EXPECT_EQ(Count("EsbSetApplicationAccess"), 3);  // none for carol's Read
}

TEST_F(AccessRestoreTest, ACalcsLineSetsTheListWhateverTheBlocksOwnAccess) {
  Dump("Access: Read\nMax Access: Calc\nCalcs: CalcAll\n\n");
  RestoreAccess(state, restore, "bob");
  Dump("Access: Calc\nMax Access: Calc\nCalcs: Gone, calcall, Lost\n\n");
  RestoreAccess(state, restore, "Analysts");
  Dump("Access: Read\nMax Access: Read\n\n");
  RestoreAccess(state, restore, "carol");
  nlohmann::json access = Basic()["access"];
  EXPECT_EQ(access["bob"]["access"], 0x0111);
  EXPECT_EQ(access["bob"]["calcs"], nlohmann::json::array({"CalcAll"}));
  EXPECT_EQ(access["Analysts"]["calcs"], nlohmann::json::array({"CalcAll"}));
  EXPECT_EQ(Count("EsbSetCalcList"), 1 + 5);  // carol's block has neither a list nor the bit
  EXPECT_THAT(LogLines(),
              ElementsAre("\tGranted 'Read' access to 'Sample:Basic' for 'bob'",
                          "\tGranted 'Calc' access to 'Sample:Basic' for 'Analysts'",
                          "\tCalc scripts NOT granted to 'Analysts' on 'Sample:Basic': Gone, "
                          "Lost (calc scripts were not present)",
                          "\tGranted 'Read' access to 'Sample:Basic' for 'carol'"));
}

TEST_F(AccessRestoreTest, AFailureWhileTryingEachCalcScriptEndsTheBlockAndARunAgainMendsIt) {
  const std::string block = "Access: Calc\nCalcs: CalcAll, Gone\n\n";
  Connect("EsbSetCalcList#2=1054001");  // the first script tried alone
  Dump(block);
  EXPECT_THROW(RestoreAccess(state, restore, "Analysts"), RunError);
  Connect("");
  Dump(block);
  RestoreAccess(state, restore, "Analysts");
  EXPECT_EQ(Basic()["access"]["Analysts"]["calcs"], nlohmann::json::array({"CalcAll"}));
}

TEST_F(AccessRestoreTest, ABlockWithoutAFilterKeepsTheOneThatTheTargetAssigns) {
  Dump("   Access: Read\n   Filter: Old\n\n");
  RestoreAccess(state, restore, "bob");
  Dump("Access: Write\n\n");
  RestoreAccess(state, restore, "bob");
  EXPECT_EQ(Basic()["access"]["bob"]["access"], 0x0113);
  EXPECT_EQ(Basic()["access"]["bob"]["filter"], "Old");
  EXPECT_EQ(LogLines().back(),
            "\tKept filter 'Old' of 'bob' on 'Sample:Basic' (the dump file names no filter)");
}

TEST_F(AccessRestoreTest, ANameThisRunCreatedHoldsOnlyTheFiltersThatTheRunGaveIt) {
  for (const char* user : {"newbie", "fresh", "plain"}) {
    Dump("   Access: None\n\n");
    RestoreUser(state, restore, user);
  }
  Dump("   Active: Yes\n   Default Access: None\n   Users: fresh\n\n");
  RestoreFilter(state, restore, "NoRows");
  Dump("   Access: Read\n   Filter: Old\n\n");
  RestoreAccess(state, restore, "newbie");
  for (const char* user : {"newbie", "fresh", "plain"}) {
    Dump("   Access: Write\n\n");
    RestoreAccess(state, restore, user);
  }
  // What the run gave them is known: nothing is read back, not even their groups.
  EXPECT_EQ(Count("EsbGetDatabaseAccess"), 0);
  EXPECT_EQ(Basic()["access"]["newbie"]["filter"], "Old");
  EXPECT_EQ(Basic()["access"]["fresh"]["filter"], "NoRows");
  EXPECT_EQ(Basic()["access"]["plain"]["filter"], "");
  const std::vector<std::string> log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "\tKept filter 'Old' of 'newbie' on 'Sample:Basic' (the dump file names no "
                       "filter)"),
            1);
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "\tKept filter 'NoRows' of 'fresh' on 'Sample:Basic' (the dump file names "
                       "no filter)"),
            1);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) {
                            return line.find("'plain' on") != std::string::npos;
                          }),
            0);
}

// Names that the block may not be applied to: each is skipped with one line, nothing changes
// on the server, and the next block is found.
TEST_F(AccessRestoreTest, NamesThatTheBlockMayNotReachAreSkippedWithALogLine) {
  restore.file.other_kind_names.Insert("planners");
  const struct {
    std::string name;
    std::string line;
  } cases[] = {
      {"ADMIN",
       "\tAccess of 'ADMIN' to 'Sample:Basic' kept (the restore is logged in as that "
       "user)"},
      {"Planners",
       "\tRestoration of access for 'Planners' to 'Sample:Basic' skipped "
       "(user/group 'Planners' was not restored)"},
      {"ghost",
       "\tRestoration of access for 'ghost' to 'Sample:Basic' skipped (user/group "
       "'ghost' was not present)"},
  };
  nlohmann::json before = Export();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dump("Access: Read\nCalcs: CalcAll\n\nUser Access: next");
    RestoreAccess(state, restore, c.name);
    EXPECT_EQ(LogLines().back(), c.line);
    EXPECT_EQ(NextLine(), "User Access: next");
  }
  EXPECT_EQ(Export(), before);
  for (const std::string& call : calls)
    EXPECT_THAT(call, ::testing::Not(::testing::StartsWith("EsbSet")));
}

TEST_F(AccessRestoreTest, AccessThroughAFilterThatWasNotRestoredIsNotGrantedAtAll) {
  restore.skipped_filters.insert(RestoreState::FilterKey("Sample", "Basic", "Old"));
  Dump("   Access: Read\n   Filter: old\n   Calcs: <All>\n\nUser Access: next");
  RestoreAccess(state, restore, "carol");
  EXPECT_THAT(calls, IsEmpty());
  EXPECT_THAT(LogLines(), ElementsAre("\tRestoration of access for 'carol' to 'Sample:Basic' "
                                      "skipped (filter 'old' was not restored)"));
  EXPECT_EQ(NextLine(), "User Access: next");
  // A filter of that name on another database is no reason to skip.
  restore.current_app = "Finance";
  restore.current_db = "Plan";
  Dump("   Access: Read\n   Filter: F1\n\n");
  RestoreAccess(state, restore, "carol");
  EXPECT_EQ(Count("EsbSetDatabaseAccess"), 1);
}

// The server refuses access through a filter that exists nowhere: such a block is skipped
// and the run goes on. A filter that the file defines on the database needs no question.
TEST_F(AccessRestoreTest, AccessThroughAFilterThatExistsNowhereIsSkipped) {
  const nlohmann::json before = Export();
  Dump("   Access: Read\n   Filter: Ghost\n   Calcs: CalcAll\n\nUser Access: next");
  RestoreAccess(state, restore, "bob");
  EXPECT_THAT(LogLines(), ElementsAre("\tRestoration of access for 'bob' to 'Sample:Basic' "
                                      "skipped (filter 'Ghost' is not present)"));
  EXPECT_EQ(NextLine(), "User Access: next");
  EXPECT_EQ(Export(), before);
  // The filter of another database is not this one's.
  restore.file_filters.insert(RestoreState::FilterKey("Finance", "Plan", "Ghost"));
  Dump("   Access: Read\n   Filter: ghost\n\n");
  RestoreAccess(state, restore, "bob");
  EXPECT_EQ(Export(), before);
  EXPECT_EQ(Count("EsbGetFilter"), 2);

  // The target's own filter, and one the file defines (the server then has it too).
  Dump("   Access: Read\n   Filter: old\n\n");
  RestoreAccess(state, restore, "bob");
  EXPECT_EQ(Basic()["access"]["bob"]["filter"], "Old");
  Dump("Read: East\n\n");
  RestoreFilter(state, restore, "Ghost");
  calls.clear();
  Dump("   Access: Read\n   Filter: GHOST\n\n");
  RestoreAccess(state, restore, "carol");
  EXPECT_EQ(Count("EsbGetFilter"), 0);
  EXPECT_EQ(Basic()["access"]["carol"]["filter"], "Ghost");
}

}  // namespace
}  // namespace cubesec
