#include "client/access_levels.h"
#include "dump/dump.h"
#include "dump/dump_test_fixture.h"

namespace cubesec::testing {
namespace {

using ::testing::ElementsAre;

using ServerBlockTest = DumpTest;

TEST_F(ServerBlockTest, WritesEverySettingInItsForm) {
  api_.global.security = 0;
  api_.global.logins = 1;
  api_.global.default_access = kAccessRead;
  api_.global.validity = 0;
  api_.global.reserved = 99;  // never written
  api_.global.min_length = 8;
  api_.global.timeout = 3600;
  api_.global.check_frequency = 300;
  WriteServerBlock(state_);
  EXPECT_THAT(Lines(),
              ElementsAre("Server: Prod", "   Date Made: 2026-11-30 00:53:20", "   Security: No",
                          "   Logins: Yes", "   Default Access: Read", "   Validity: 0 Days",
                          "   MinLength: 8 Characters", "   TimeOut: 3600 Seconds",
                          "   Check Frequency: 300 Seconds", "   Format: 2", ""));
  EXPECT_EQ(state_.blocks, 1);
}

TEST_F(ServerBlockTest, FailedStateReadWritesNoBlock) {
  api_.Fail("EsbGetGlobalState", 1, 1051001, 1051001);
  const RunError error = Raised([&] { WriteServerBlock(state_); });
  EXPECT_EQ(error.number(), 99);
  EXPECT_EQ(error.description(),
            "Essbase Error calling EsbGetGlobalState (ref=1051001)\r\nScripted failure");
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(state_.blocks, 0);
}

TEST_F(ServerBlockTest, FailureWithoutMessageNumberEndsTheDumpWithItsStatus) {
  api_.Fail("EsbGetGlobalState", 1, 5, 0);
  EXPECT_EQ(Raised([&] { WriteServerBlock(state_); }).description(),
            "Essbase Error calling EsbGetGlobalState (ref=5)\r\nScripted failure");
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
}  // namespace cubesec::testing
