#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class AccessRestoreTest : public RestoreTest {
 protected:
  AccessRestoreTest() {
    state.current_app = "Sample";
    state.current_db = "Basic";
  }
};

TEST_F(AccessRestoreTest, ApplicationDesignerOnTheDatabaseGoesWithDesignerOnTheApplication) {
  Dump("Access: Application Designer\n\n");
  RestoreAccess(state, "carol");
  Dump("Access: Read\n\n");
  RestoreAccess(state, "Planners");
  nlohmann::json sample = Named(Export()["applications"], "Sample");
  EXPECT_EQ(sample["access"]["carol"], 0x0200);
  EXPECT_EQ(sample["access"]["Planners"], 0x0100);
  EXPECT_EQ(Named(sample["databases"], "Basic")["access"]["carol"]["access"], 0x0377);
}

TEST_F(AccessRestoreTest, AccessThroughAFilterThatWasNotRestoredIsNotGrantedAtAll) {
  state.skipped_filters.insert(RunState::FilterKey("Sample", "Basic", "Old"));
  Dump("   Access: Read\n   Filter: old\n   Calcs: <All>\n\nUser Access: next");
  RestoreAccess(state, "carol");
  EXPECT_THAT(calls, IsEmpty());
  EXPECT_THAT(LogLines(), ElementsAre("\tRestoration of access for 'carol' to 'Sample:Basic' "
                                      "skipped (filter 'old' was not restored)"));
  EXPECT_EQ(NextLine(), "User Access: next");
  // A filter of that name on another database is no reason to skip.
  state.current_app = "Finance";
  state.current_db = "Plan";
  Dump("Access: Read\nFilter: F1\n\n");
  RestoreAccess(state, "carol");
  EXPECT_EQ(Count("EsbSetDatabaseAccess"), 1);
}

}  // namespace
}  // namespace cubesec
