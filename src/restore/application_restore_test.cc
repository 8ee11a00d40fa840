#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"
#include "tools/text.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using ApplicationRestoreTest = RestoreTest;

TEST_F(ApplicationRestoreTest, SetsEveryKeyOfTheApplicationAndItsDatabase) {
  server.AddDatabase("Sample", "Basic");
  server.applications.at("sample").state.updates = 1;
  Dump(
      "Description: Demo: east and west\nLoadable: Yes\nAutoload: Yes\nDefault Access: Read\n"
      "Connects: Yes\nCommands: Yes\nUpdates: No\nSecurity: Yes\nsecurity: No\n\n");
  RestoreApplication(state, "Sample");
  Dump("Description: \nLoadable: Yes\nAutoload: No\nDefault Access: Write\n\n");
  RestoreDatabase(state, "Basic");

  const EsbAppState& app = server.applications.at("sample").state;
  EXPECT_EQ(CutAtNul(app.description), "Demo: east and west");
  EXPECT_EQ(app.description[kEsbDescriptionSize - 1], ' ');  // padded with blanks
  EXPECT_EQ(app.description[kEsbDescriptionSize], '\0');
  EXPECT_EQ(app.loadable + app.autoload + app.connects + app.commands + app.security, 5);
  EXPECT_EQ(app.updates, 0);
  EXPECT_EQ(app.default_access, 0x0111);
  const EsbDbState& db = server.applications.at("sample").databases.at("basic").state;
  EXPECT_EQ(db.loadable, 1);
  EXPECT_EQ(db.autoload, 0);
  EXPECT_EQ(db.default_access, 0x0113);
  EXPECT_EQ(state.current_app, "Sample");
  EXPECT_EQ(state.current_db, "Basic");
  EXPECT_THAT(LogLines(), ElementsAre("\tRestored application state for 'Sample'",
                                      "\tRestored database state for 'Sample:Basic'"));
}

TEST_F(ApplicationRestoreTest, ALongDescriptionIsCutToTheField) {
  server.AddDatabase("Sample", "Basic");
  Dump("Description: " + std::string(400, 'x') + "\n\n");
  RestoreApplication(state, "Sample");
  EXPECT_EQ(CutAtNul(server.applications.at("sample").state.description),
            std::string(kEsbDescriptionSize, 'x'));
}

TEST_F(ApplicationRestoreTest, AMissingApplicationLogsOneLineForItAndItsWholeSubtree) {
  server.AddDatabase("Sample", "Basic");
  state.current_app = "Sample";
  state.current_db = "Basic";
  Dump("Description: gone\nLoadable: Yes\n\nDatabase: Basic");
  RestoreApplication(state, "Gone");
  EXPECT_EQ(NextLine(), "Database: Basic");
  Dump("Loadable: Yes\n\nFilter: F\n");
  RestoreDatabase(state, "Basic");
  EXPECT_EQ(NextLine(), "Filter: F");
  Dump("Active: Yes\nRead: East\nUsers: bob\n\nUser Access: bob\n");
  RestoreFilter(state, "F");
  EXPECT_EQ(NextLine(), "User Access: bob");
  Dump("Access: Read\nFilter: F\n\nGroup Access: G\n");
  RestoreAccess(state, "bob");
  EXPECT_EQ(NextLine(), "Group Access: G");

  EXPECT_THAT(server.calls, ElementsAre("EsbGetApplicationState Gone"));
  EXPECT_THAT(LogLines(),
              ElementsAre("\tRestoration of application 'Gone' skipped (application does not "
                          "exist)"));
}

TEST_F(ApplicationRestoreTest, AMissingDatabaseIsSkippedWithItsFiltersAndAccess) {
  server.AddDatabase("Sample", "Basic");
  Dump("\n");
  RestoreApplication(state, "Sample");
  Dump("Loadable: No\n\n");
  RestoreDatabase(state, "Interim");
  Dump("Read: East\n\n");
  RestoreFilter(state, "F");
  Dump("Access: Read\n\n");
  RestoreAccess(state, "bob");
  EXPECT_EQ(server.Count("EsbSetDatabaseState"), 0);
  EXPECT_EQ(server.Count("EsbVerifyFilter"), 0);
  EXPECT_EQ(server.Count("EsbSetDatabaseAccess"), 0);
  EXPECT_THAT(LogLines(),
              ElementsAre("\tRestored application state for 'Sample'",
                          "\tRestoration of database 'Sample:Interim' skipped (database does not "
                          "exist)"));
}

TEST_F(ApplicationRestoreTest, AReadFailureThatTheCheckLetsThroughKeepsTheCurrentApplication) {
  server.AddDatabase("Sample", "Basic");
  server.AddDatabase("Other", "Basic");
  state.current_app = "Sample";
  server.messages_have_numbers = false;
  server.fail["EsbGetApplicationState"] = {1051002};
  Dump("Loadable: No\n\n");
  RestoreApplication(state, "Other");
  EXPECT_EQ(state.current_app, "Sample");
  EXPECT_EQ(server.Count("EsbSetApplicationState"), 0);
  EXPECT_THAT(LogLines(), IsEmpty());
}

}  // namespace
}  // namespace cubesec
