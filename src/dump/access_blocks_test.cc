#include "client/access_levels.h"
#include "dump/dump.h"
#include "dump/dump_test_fixture.h"

namespace cubesec::testing {
namespace {

using ::testing::ElementsAre;

class AccessBlocksTest : public DumpTest {
 protected:
  AccessBlocksTest() {
    ScriptedApp app;
    app.name = "Sample";
    app.dbs.emplace_back();
    app.dbs[0].name = "Basic";
    api_.apps = {app};
  }
  ScriptedApp& app() { return api_.apps[0]; }
  std::map<std::string, ScriptedDbAccess>& db_access() { return api_.apps[0].dbs[0].access; }
  void Write() { WriteAccessBlocks(state_, "Sample", "Basic"); }
};

TEST_F(AccessBlocksTest, GroupToldFromUserByTheGroupListAndNoneLeftOut) {
  api_.AddUser("zed", kAccessNone, 0);
  api_.AddUser("nobody", kAccessNone, 0);
  api_.AddGroup("Analysts", kAccessNone);
  // A supervisor group's record has the supervisor type; the group list tells it is a group.
  api_.AddGroup("Supers", kAccessNone).info.type = kUserTypeSupervisor;
  api_.AddUser("boss", kAccessNone, 0).info.type = kUserTypeSupervisor;
  state_.dumped_groups = {"analysts", "supers"};
  app().access = {
      {"zed", 0x0100}, {"nobody", 0}, {"Analysts", 0x0100}, {"Supers", 0x0100}, {"boss", 0x0100}};
  db_access()["zed"] = {kAccessRead, kAccessRead, "", 0, {}};
  db_access()["Analysts"] = {kAccessWrite, kAccessWrite, "EastOnly", 0, {}};
  db_access()["Supers"] = {kAccessRead, kAccessRead, "", 0, {}};
  db_access()["boss"] = {kAccessRead, kAccessRead, "", 0, {}};
  Write();
  EXPECT_THAT(Lines(),
              ElementsAre("Group Access: Analysts", "   Access: Write", "   Max Access: Write",
                          "   Filter: EastOnly", "", "Group Access: Supers", "   Access: Read",
                          "   Max Access: Read", "", "User Access: boss", "   Access: Read",
                          "   Max Access: Read", "", "User Access: zed", "   Access: Read",
                          "   Max Access: Read", ""));
  EXPECT_EQ(state_.blocks, 4);
  // The group list read before tells: no name is looked up one by one.
  EXPECT_EQ(api_.Count("EsbGetUser"), 0);
}

TEST_F(AccessBlocksTest, ApplicationDesignerRuleTakesEachNamesOwnEntry) {
  api_.AddUser("alice", kAccessNone, 0);
  api_.AddUser("bob", kAccessNone, 0);
  // alice's entry comes first and bob's last: each name is judged by its own entry.
  app().access = {{"alice", 0x0200}, {"bob", 0x0100}};
  db_access()["alice"] = {kAccessRead, kAccessRead, "", 0, {}};
  db_access()["bob"] = {kAccessRead, kAccessRead, "", 0, {}};
  Write();
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.at(1), "   Access: Application Designer");
  EXPECT_EQ(lines.at(2), "   Max Access: Read");
  EXPECT_EQ(lines.at(5), "   Access: Read");
}

TEST_F(AccessBlocksTest, CalcsOnlyWithTheCalculationBit) {
  for (const char* name : {"all", "none", "nobit", "some"}) api_.AddUser(name, kAccessNone, 0);
  app().access = {{"some", 0x100}, {"all", 0x100}, {"none", 0x100}, {"nobit", 0x100}};
  db_access()["all"] = {kAccessCalc, kAccessCalc, "", 1, {"x"}};
  db_access()["some"] = {kAccessCalc, kAccessCalc, "", 0, {"Zcalc", "Acalc"}};
  db_access()["none"] = {kAccessCalc, kAccessCalc, "", 0, {}};
  db_access()["nobit"] = {kAccessCalc, kAccessWrite, "", 1, {"Acalc"}};
  Write();
  EXPECT_THAT(Lines(),
              ElementsAre("User Access: all", "   Access: Calc", "   Max Access: Calc",
                          "   Calcs: <All>", "",                                                //
                          "User Access: nobit", "   Access: Calc", "   Max Access: Write", "",  //
                          "User Access: none", "   Access: Calc", "   Max Access: Calc",
                          "",  //
                          "User Access: some", "   Access: Calc", "   Max Access: Calc",
                          "   Calcs: Acalc, Zcalc", ""));
  EXPECT_EQ(api_.Count("EsbGetCalcList"), 3);
}

TEST_F(AccessBlocksTest, EmptyNamesDoNothing) {
  WriteAccessBlocks(state_, "", "Basic");
  WriteAccessBlocks(state_, "Sample", "");
  EXPECT_TRUE(api_.calls.empty());
}

TEST_F(AccessBlocksTest, FailedDatabaseAccessEndsTheDumpBeforeTheHead) {
  api_.AddUser("a", kAccessNone, 0);
  api_.AddUser("b", kAccessNone, 0);
  app().access = {{"a", 0x100}, {"b", 0x100}};
  api_.Fail("EsbGetDatabaseAccess", 2, 1051012, 1051012);
  const RunError error = Raised([&] { Write(); });
  EXPECT_EQ(error.description(),
            "Essbase Error calling EsbGetDatabaseAccess (ref=1051012)\r\nScripted failure");
  EXPECT_THAT(Lines(), ElementsAre("User Access: a", "   Access: None", "   Max Access: None", ""));
}

}  // namespace
}  // namespace cubesec::testing
