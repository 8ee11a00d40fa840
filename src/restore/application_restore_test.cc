#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::IsEmpty;

using ApplicationRestoreTest = RestoreTest;

TEST_F(ApplicationRestoreTest, ADescriptionIsStoredAsItsTextCutToItsField) {
  for (const std::string& text : {std::string(400, 'x'), std::string(), std::string("Plans")}) {
    Dump("Description: " + text + "\n\n");
    RestoreApplication(state, restore, "Sample");
    Dump("Description: " + text + "\n\n");
    RestoreDatabase(state, restore, "Basic");
    std::string stored = text.substr(0, kEsbDescriptionSize);
    nlohmann::json sample = Named(Export()["applications"], "Sample");
    EXPECT_EQ(sample["description"], stored);
    EXPECT_EQ(Basic()["description"], stored);
  }
}

TEST_F(ApplicationRestoreTest, AReadFailureWithoutAMessageNumberEndsTheRestore) {
  restore.current_app = "Sample";
  Connect("EsbGetApplicationState#1=1051002", /*numbered=*/false);
  Dump("Loadable: No\n\n");
  EXPECT_THROW(RestoreApplication(state, restore, "Finance"), RunError);
  EXPECT_EQ(restore.current_app, "Sample");
  EXPECT_EQ(Count("EsbSetApplicationState"), 0);
  EXPECT_THAT(LogLines(), IsEmpty());
}

}  // namespace
}  // namespace cubesec
