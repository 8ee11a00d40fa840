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

TEST_F(ApplicationBlocksTest, StateFailureWithoutMessageNumberWritesTheBlockFromTheRecord) {
  ScriptedApp app = App("A");
  app.dbs = {Db("D", "x")};
  api_.apps = {app};
  api_.Fail("EsbGetDatabaseState", 1, 3, 0);
  EXPECT_EQ(Raised([&] { WriteApplicationBlocks(state_); }).number(), 0);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 10, lines.end()),
              ElementsAre("Database: D", "   Description: ", "   Loadable: No", "   Autoload: No",
                          "   Default Access: None", ""));
}

TEST_F(ApplicationBlocksTest, EmptyApplicationNameHasNoDatabases) {
  WriteDatabaseBlocks(state_, "");
  EXPECT_TRUE(api_.calls.empty());
}

}  // namespace
}  // namespace cubesec::testing
