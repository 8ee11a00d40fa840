#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"
#include "tools/text.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class AccessRestoreTest : public RestoreTest {
 protected:
  AccessRestoreTest() {
    server.AddDatabase("Sample", "Basic");
    state.current_app = "Sample";
    state.current_db = "Basic";
  }
  const EsbUserDb& DbAccess(const std::string& name) {
    return server.db_access.at("sample/basic/" + name);
  }
};

TEST_F(AccessRestoreTest, GrantsAccessFilterAndCalcScripts) {
  Dump("Access: Calc\nMax Access: Calc\nFilter: EastRead\nCalcs: CalcAll, Rollup\n\n");
  RestoreAccess(state, "Analysts");
  EXPECT_EQ(server.app_access.at("sample/analysts"), 0x0100);
  EXPECT_EQ(DbAccess("analysts").access, 0x0117);
  EXPECT_EQ(CutAtNul(DbAccess("analysts").filter), "EastRead");
  EXPECT_EQ(server.calc_lists.at("sample/basic/analysts"), "2:CalcAll;Rollup");
  EXPECT_THAT(LogLines(), ElementsAre("\tGranted 'Calc' access to 'Sample:Basic' for 'Analysts'"));
}

TEST_F(AccessRestoreTest, CalcsAllEmptyOrIgnoredWithoutTheCalcBit) {
  Dump("Access: Calc\nCalcs: <All>\n\n");
  RestoreAccess(state, "a");
  Dump("Access: Calc\nCalcs: \n\n");
  RestoreAccess(state, "b");
  Dump("Access: Write\nCalcs: <All>\n\n");
  RestoreAccess(state, "c");
  EXPECT_EQ(server.calc_lists.at("sample/basic/a"), "all");
  EXPECT_EQ(server.calc_lists.at("sample/basic/b"), "0:");
  EXPECT_EQ(server.calc_lists.count("sample/basic/c"), 0u);
  EXPECT_EQ(server.Count("EsbSetCalcList"), 2);
  EXPECT_EQ(DbAccess("c").access, 0x0113);
  EXPECT_EQ(CutAtNul(DbAccess("c").filter), "");
}

TEST_F(AccessRestoreTest, ApplicationDesignerOnTheDatabaseGoesWithDesignerOnTheApplication) {
  Dump("Access: Application Designer\n\n");
  RestoreAccess(state, "designer");
  EXPECT_EQ(server.app_access.at("sample/designer"), 0x0200);
  EXPECT_EQ(DbAccess("designer").access, 0x0377);
}

TEST_F(AccessRestoreTest, AccessThroughAFilterThatWasNotRestoredIsNotGrantedAtAll) {
  state.skipped_filters.insert(RunState::FilterKey("Sample", "Basic", "Bad"));
  Dump("Access: Read\nFilter: bad\n\nUser Access: next");
  RestoreAccess(state, "bob");
  EXPECT_THAT(server.calls, IsEmpty());
  EXPECT_THAT(LogLines(), ElementsAre("\tRestoration of access for 'bob' to 'Sample:Basic' "
                                      "skipped (filter 'bad' was not restored)"));
  EXPECT_EQ(NextLine(), "User Access: next");
  // The same filter name on another database is no reason to skip.
  state.current_db = "Other";
  server.AddDatabase("Sample", "Other");
  Dump("Access: Read\nFilter: Bad\n\n");
  RestoreAccess(state, "bob");
  EXPECT_EQ(server.Count("EsbSetDatabaseAccess"), 1);
}

}  // namespace
}  // namespace cubesec
