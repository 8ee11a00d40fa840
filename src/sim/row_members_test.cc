#include "sim/row_members.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace cubesec::sim {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(RowMembersTest, QuotedTextsAndPlainRunsAreMembers) {
  EXPECT_THAT(MembersNamedBy("\"New York\", Sales"), ElementsAre("New York", "Sales"));
  EXPECT_THAT(MembersNamedBy("@IDESCENDANTS(\"East\")"), ElementsAre("East"));
  EXPECT_THAT(MembersNamedBy("@CHILDREN(Market),Qtr1\tJan\n100-10"),
              ElementsAre("Market", "Qtr1", "Jan", "100-10"));
}

TEST(RowMembersTest, FunctionsVariablesAndNumbersAreNotMembers) {
  EXPECT_THAT(MembersNamedBy("@ATTRIBUTE(Blue), &CurMonth, 2024, 100"), ElementsAre("Blue"));
  EXPECT_THAT(MembersNamedBy("  , ( ) "), IsEmpty());
  EXPECT_THAT(MembersNamedBy(""), IsEmpty());
}

TEST(RowMembersTest, QuotesKeepWhatAPlainRunWouldSplitOrSkip) {
  EXPECT_THAT(MembersNamedBy("\"2024\", \"@odd\", \"a,b(c)\""),
              ElementsAre("2024", "@odd", "a,b(c)"));
  EXPECT_THAT(MembersNamedBy("\"\""), ElementsAre(""));
  EXPECT_THAT(MembersNamedBy("Sales \"unclosed, text"), ElementsAre("Sales", "unclosed, text"));
  EXPECT_THAT(MembersNamedBy("a\"b\"c"), ElementsAre("a", "b", "c"));
}

}  // namespace
}  // namespace cubesec::sim
