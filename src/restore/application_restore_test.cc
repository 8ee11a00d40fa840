#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::IsEmpty;

using ApplicationRestoreTest = RestoreTest;

TEST_F(ApplicationRestoreTest, ADescriptionIsCutToItsField) {
  Dump("Description: " + std::string(400, 'x') + "\n\n");
  RestoreApplication(state, "Sample");
  std::string description = Named(Export()["applications"], "Sample")["description"];
  EXPECT_EQ(description, std::string(kEsbDescriptionSize, 'x'));
}

TEST_F(ApplicationRestoreTest, AReadFailureWithoutAMessageNumberEndsTheRestore) {
  state.current_app = "Sample";
  Connect("EsbGetApplicationState#1=1051002", /*numbered=*/false);
  Dump("Loadable: No\n\n");
  EXPECT_THROW(RestoreApplication(state, "Finance"), RunError);
  EXPECT_EQ(state.current_app, "Sample");
  EXPECT_EQ(Count("EsbSetApplicationState"), 0);
  EXPECT_THAT(LogLines(), IsEmpty());
}

}  // namespace
}  // namespace cubesec
