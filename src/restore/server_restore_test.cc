#include <gmock/gmock.h>

#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using ServerRestoreTest = RestoreTest;

TEST_F(ServerRestoreTest, ConvertsEveryKeyAndKeepsWhatTheBlockDoesNotName) {
  server.global.reserved = 7;
  server.global.security = 1;
  Dump(
      "Date Made: 2026-12-08 14:41:42\n"
      "Security: No\nLogins: yes\nlogins: No\nDefault Access: Read\n"
      "Validity: 30 Days\nValidity: 45 Days\nMinLength: 8 Characters\n"
      "TimeOut: 2.5 Seconds\nCheck Frequency: 3.5 Seconds\n\nGroup: next");
  RestoreServerState(state);

  EXPECT_EQ(server.global.security, 0);
  EXPECT_EQ(server.global.logins, 1);  // the key in another case is passed over
  EXPECT_EQ(server.global.default_access, 0x0111);
  EXPECT_EQ(server.global.validity, 45);  // the later line wins
  EXPECT_EQ(server.global.reserved, 7);
  EXPECT_EQ(server.global.min_length, 8);
  EXPECT_EQ(server.global.timeout, 2);          // half to even
  EXPECT_EQ(server.global.check_frequency, 4);  // half to even
  EXPECT_EQ(state.min_password_length, 8);
  EXPECT_THAT(LogLines(), ElementsAre("\tRestored Global Server State"));
  EXPECT_EQ(NextLine(), "Group: next");
}

TEST_F(ServerRestoreTest, AnEmptyBlockWritesTheServersOwnStateBack) {
  server.global.timeout = 900;
  server.global.default_access = 0x0113;
  Dump("\n");
  RestoreServerState(state);
  EXPECT_EQ(server.Count("EsbSetGlobalState"), 1);
  EXPECT_EQ(server.global.timeout, 900);
  EXPECT_EQ(server.global.default_access, 0x0113);
  EXPECT_THAT(LogLines(), ElementsAre("\tRestored Global Server State"));
}

TEST_F(ServerRestoreTest, ANumberBeyondItsFieldIsAnOverflowAndTheServerStaysUnchanged) {
  for (const char* line :
       {"Validity: 32768 Days", "MinLength: -32769 Characters", "TimeOut: 2147483648 Seconds",
        "Check Frequency: 2147483647.5", "TimeOut: 1e300"}) {
    SCOPED_TRACE(line);
    server.calls.clear();
    server.global = EsbGlobalState{};
    Dump(std::string("Security: Yes\n") + line + "\n");
    try {
      RestoreServerState(state);
      ADD_FAILURE() << "no overflow";
    } catch (const RunError& error) {
      EXPECT_EQ(error.number(), kErrorOverflow);
      EXPECT_EQ(error.description(), "Overflow");
    }
    EXPECT_EQ(server.Count("EsbSetGlobalState"), 0);
    EXPECT_EQ(server.global.security, 0);
  }
  // The largest values that fit are taken.
  Dump("Validity: 32767\nMinLength: -32768\nTimeOut: 2147483647\nCheck Frequency: -2147483648\n");
  RestoreServerState(state);
  EXPECT_EQ(server.global.validity, 32767);
  EXPECT_EQ(server.global.min_length, -32768);
  EXPECT_EQ(server.global.timeout, 2147483647);
  EXPECT_EQ(server.global.check_frequency, -2147483647 - 1);
}

TEST_F(ServerRestoreTest, AFailedReadThatTheCheckLetsThroughWritesNothing) {
  server.messages_have_numbers = false;
  server.fail["EsbGetGlobalState"] = {1051002};
  Dump("Security: No\nLogins: No\n\nGroup: next");
  RestoreServerState(state);
  EXPECT_EQ(server.Count("EsbSetGlobalState"), 0);
  EXPECT_THAT(LogLines(), IsEmpty());
  EXPECT_EQ(NextLine(), "Group: next");
}

TEST_F(ServerRestoreTest, AFailedWriteIsRaisedWithTheLibrarysMessage) {
  server.fail["EsbSetGlobalState"] = {1051002};
  Dump("Security: No\n");
  try {
    RestoreServerState(state);
    ADD_FAILURE() << "nothing raised";
  } catch (const RunError& error) {
    EXPECT_EQ(error.number(), kErrorClientCall);
    EXPECT_EQ(error.description(),
              "Essbase Error calling EsbSetGlobalState (ref=1051002)\r\nFailure 1051002\r\n"
              "second line");
  }
  EXPECT_THAT(LogLines(), IsEmpty());
}

}  // namespace
}  // namespace cubesec
