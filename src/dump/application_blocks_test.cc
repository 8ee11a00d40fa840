#include <algorithm>

#include "client/access_levels.h"
#include "dump/dump.h"
#include "dump/dump_test_fixture.h"

namespace cubesec::testing {
namespace {

using ::testing::ElementsAre;

using ApplicationBlocksTest = DumpTest;

ScriptedApp App(const std::string& name) {
  ScriptedApp app;
  app.name = name;
  return app;
}

ScriptedDb Db(const std::string& name, const std::string& description) {
  ScriptedDb db;
  db.name = name;
  CopyToField(description, db.state.description, ' ');  // padded as a server pads it
  db.state.loadable = 1;
  db.state.default_access = kAccessRead;
  return db;
}

TEST_F(ApplicationBlocksTest, ApplicationsWithTheirDatabasesInNameOrder) {
  ScriptedApp sample = App("Sample");
  CopyToField("Demo: sales", sample.state.description);
  sample.state.loadable = 1;
  sample.state.autoload = 0;
  sample.state.default_access = kAccessNone;
  sample.state.connects = 1;
  sample.state.commands = 1;
  sample.state.updates = 0;
  sample.state.lock_timeout = 77;  // never written
  sample.state.security = 1;
  sample.dbs = {Db("Interntl", ""), Db("Basic", "Main cube")};
  api_.apps = {sample, App("Empty")};
  WriteApplicationBlocks(state_);
  EXPECT_THAT(Lines(),
              ElementsAre("Application: Empty", "   Description: ", "   Loadable: No",
                          "   Autoload: No", "   Default Access: None", "   Connects: No",
                          "   Commands: No", "   Updates: No", "   Security: No", "",  //
                          "Application: Sample", "   Description: Demo: sales", "   Loadable: Yes",
                          "   Autoload: No", "   Default Access: None", "   Connects: Yes",
                          "   Commands: Yes", "   Updates: No", "   Security: Yes", "",  //
                          "Database: Basic", "   Description: Main cube", "   Loadable: Yes",
                          "   Autoload: No", "   Default Access: Read", "",  //
                          "Database: Interntl", "   Description: ", "   Loadable: Yes",
                          "   Autoload: No", "   Default Access: Read", ""));
  EXPECT_EQ(state_.blocks, 4);
}

TEST_F(ApplicationBlocksTest, ApplicationAccessIsReadOnceForAllItsDatabases) {
  ScriptedApp sample = App("Sample");
  sample.dbs = {Db("Basic", ""), Db("Interntl", ""), Db("Xchg", "")};
  sample.access = {{"jo", 0x0100}};
  for (ScriptedDb& db : sample.dbs) db.access["jo"] = {kAccessRead, kAccessRead, "", 0, {}};
  api_.AddUser("jo", kAccessNone, 0);
  api_.apps = {sample, App("Empty")};
  WriteApplicationBlocks(state_);
  EXPECT_EQ(api_.Count("EsbGetApplicationAccess"), 1);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "User Access: jo"), 3);
}

TEST_F(ApplicationBlocksTest, HeadIsWrittenBeforeAFailedStateRead) {
  api_.apps = {App("A"), App("B")};
  api_.Fail("EsbGetApplicationState", 2, 1051030, 1051030);
  const RunError error = Raised([&] { WriteApplicationBlocks(state_); });
  EXPECT_EQ(error.number(), 99);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines.at(0), "Application: A");
  EXPECT_EQ(lines.at(10), "Application: B");
}

TEST_F(ApplicationBlocksTest, StateFailureWithoutMessageNumberEndsTheDumpAfterTheHead) {
  ScriptedApp app = App("A");
  app.dbs = {Db("D", "x")};
  api_.apps = {app};
  api_.Fail("EsbGetDatabaseState", 1, 3, 0);
  const RunError error = Raised([&] { WriteApplicationBlocks(state_); });
  EXPECT_EQ(error.description(),
            "Essbase Error calling EsbGetDatabaseState (ref=3)\r\nScripted failure");
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines.back(), "Database: D");
}

TEST_F(ApplicationBlocksTest, ControlCharactersInDescriptionsBecomeBlanksAndAreLogged) {
  ScriptedApp app = App("A");
  CopyToField("line one\r\n   Loadable: No\r\nGroup: Injected\tend\x7f", app.state.description);
  app.dbs = {Db("D", "plain")};
  CopyToField("x\ny", app.dbs[0].state.description);
  api_.apps = {app};
  state_.run_log.SetPath("run.log");
  WriteApplicationBlocks(state_);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.at(1), "   Description: line one     Loadable: No  Group: Injected\tend ");
  EXPECT_EQ(lines.at(11), "   Description: x y");
  state_.run_log.Close();
  EXPECT_EQ(platform_.files["run.log"],
            "\tLine breaks and control characters in the description of application 'A' written "
            "as blanks\r\n\tLine breaks and control characters in the description of database "
            "'A:D' written as blanks\r\n");
}

TEST_F(ApplicationBlocksTest, EmptyApplicationNameHasNoDatabases) {
  WriteDatabaseBlocks(state_, "");
  EXPECT_TRUE(api_.calls.empty());
}

}  // namespace
}  // namespace cubesec::testing
