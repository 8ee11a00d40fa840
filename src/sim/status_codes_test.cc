#include "sim/status_codes.h"

#include <gtest/gtest.h>

#include <set>

namespace cubesec::sim {
namespace {

TEST(StatusCodesTest, TableHoldsEachStatusOnceWithText) {
  std::set<EsbStatus> seen;
  for (const StatusText& entry : kStatusTable) {
    EXPECT_TRUE(seen.insert(entry.status).second) << entry.status;
    EXPECT_FALSE(entry.text.empty()) << entry.status;
  }
  // The statuses that callers act on have their fixed numbers.
  EXPECT_EQ(kStatusUserNotFound, 1051012);
  EXPECT_EQ(kStatusGroupNotFound, 1051013);
  EXPECT_EQ(kStatusAppNotFound, 1051030);
  EXPECT_EQ(kStatusDbNotFound, 1023003);
}

TEST(StatusCodesTest, MessageNamesItsSubject) {
  EXPECT_EQ(StatusMessage(kStatusUserNotFound, "bob"), "User bob does not exist");
  EXPECT_EQ(StatusMessage(kStatusUnknownMember, "%1"), "Unknown member %1 in filter row");
  EXPECT_EQ(StatusMessage(kStatusFilterInvalid), "The filter has rows that failed verification");
  EXPECT_EQ(StatusMessage(42), "Unknown status 42");
}

}  // namespace
}  // namespace cubesec::sim
