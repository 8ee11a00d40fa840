#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using ServerRestoreTest = RestoreTest;

TEST_F(ServerRestoreTest, ConvertsEachKeyAndKeepsWhatTheBlockDoesNotName) {
  Dump(
      "Date Made: 2026-12-08 14:41:42\nSecurity: No\nlogins: No\nDefault Access: Read\n"
      "Validity: 45 Days\nValidity: 60 Days\nMinLength: 8 Characters\nTimeOut: 2.5 Seconds\n"
      "Check Frequency: 3.5 Seconds\n\nGroup: next");
  RestoreServerState(state, restore);
  nlohmann::json global = Export()["global"];
  EXPECT_EQ(global["security"], false);
  EXPECT_EQ(global["logins"], true);  // the key in another case is passed over
  EXPECT_EQ(global["default_access"], 0x0111);
  EXPECT_EQ(global["validity"], 60);  // the later line wins
  EXPECT_EQ(global["reserved"], 7);
  EXPECT_EQ(global["min_length"], 8);
  EXPECT_EQ(global["timeout"], 2);          // half to even
  EXPECT_EQ(global["check_frequency"], 4);  // half to even
  EXPECT_EQ(restore.file.min_password_length, 8);
  EXPECT_THAT(LogLines(), ElementsAre("\tRestored Global Server State"));
  EXPECT_EQ(NextLine(), "Group: next");
}

TEST_F(ServerRestoreTest, ANumberBeyondItsFieldIsAnOverflowRaisedBeforeAnythingIsWritten) {
  nlohmann::json before = Export()["global"];
  for (const char* line :
       {"Validity: 32768 Days", "MinLength: -32769 Characters", "TimeOut: 2147483648 Seconds",
        "Check Frequency: 2147483647.5", "TimeOut: 1e300"}) {
    SCOPED_TRACE(line);
    Dump(std::string("Security: No\n") + line + "\n");
    try {
      RestoreServerState(state, restore);
      ADD_FAILURE() << "no overflow";
    } catch (const RunError& error) {
      EXPECT_EQ(error.number(), kErrorOverflow);
      EXPECT_EQ(error.description(), "Overflow");
    }
  }
  EXPECT_EQ(Count("EsbSetGlobalState"), 0);
  EXPECT_EQ(Export()["global"], before);
  // The extremes that fit are taken.
  Dump("Validity: 32767\nMinLength: -32768\nTimeOut: 2147483647\nCheck Frequency: -2147483648\n");
  RestoreServerState(state, restore);
  nlohmann::json global = Export()["global"];
  EXPECT_EQ(global["validity"], 32767);
  EXPECT_EQ(global["timeout"], 2147483647);
  EXPECT_EQ(global["check_frequency"], -2147483648LL);
}

TEST_F(ServerRestoreTest, AFailedReadWithoutAMessageNumberEndsTheRestoreAndWritesNothing) {
  Connect("EsbGetGlobalState#1=1051002", /*numbered=*/false);
  Dump("Security: No\n\nGroup: next");
  try {
    RestoreServerState(state, restore);
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_EQ(error.description(),
              "Essbase Error calling EsbGetGlobalState (ref=1051002)\r\nInjected fault");
  }
  EXPECT_EQ(Count("EsbSetGlobalState"), 0);
  EXPECT_EQ(Export()["global"]["security"], true);
  EXPECT_THAT(LogLines(), IsEmpty());
}

}  // namespace
}  // namespace cubesec
