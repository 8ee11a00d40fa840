#include "client/call_check.h"

#include <gtest/gtest.h>

#include "client/scripted_api.h"

namespace cubesec {
namespace {

class CallCheckTest : public ::testing::Test {
 protected:
  testing::ScriptedApi api_;
  ClientContext client_{api_};
};

TEST_F(CallCheckTest, SuccessDoesNothing) {
  client_.last_status = 42;
  CheckStatus(client_, "EsbListGroups", 0);
  EXPECT_EQ(api_.Count("EsbGetMessage"), 0);
  EXPECT_EQ(client_.last_status, 42);
}

TEST_F(CallCheckTest, FailureRaisesTheLibrarysMessage) {
  api_.message_number = 1051012;
  api_.message_text = "  Group list failed  ";
  try {
    CheckStatus(client_, "EsbListGroups", 1051012);
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorClientCall);
    EXPECT_EQ(e.description(),
              "Essbase Error calling EsbListGroups (ref=1051012)\r\nGroup list failed");
  }
  EXPECT_EQ(client_.last_status, 1051012);
  EXPECT_EQ(api_.Count("EsbGetMessage"), 1);
}

TEST_F(CallCheckTest, PlaceholdersInTheMessageStayAsTheyAre) {
  api_.message_number = 7;
  api_.message_text = "bad %1 and %3";
  try {
    CheckStatus(client_, "EsbGetUser", -3);
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.description(), "Essbase Error calling EsbGetUser (ref=7)\r\nbad %1 and %3");
  }
}

TEST_F(CallCheckTest, AMessageThatFillsTheBufferIsKeptWhole) {
  api_.message_number = 5;
  api_.message_fills_buffer = true;
  api_.message_text = " start";
  std::string text;
  EXPECT_EQ(GetMessageText(client_, text), 5);
  EXPECT_EQ(text, "start" + std::string(kEsbMessageSize - 6, 'x'));
  EXPECT_EQ(client_.last_status, 0);
}

// A failure is raised whether or not the library explains it: with a message number of
// 0, or with no message to fetch at all, the call's own status is the reference.
TEST_F(CallCheckTest, AFailureWithoutAMessageNumberRaisesItsOwnStatus) {
  struct Case {
    const char* what;
    int32_t message_number;
    EsbStatus get_message_status;
    const char* description;
  };
  for (const Case& c : {
           Case{"number 0", 0, 0, "Essbase Error calling EsbLogin (ref=1051293)\r\nignored"},
           Case{"no message", 99, 1030001, "Essbase Error calling EsbLogin (ref=1051293)\r\n"},
       }) {
    SCOPED_TRACE(c.what);
    api_.message_number = c.message_number;
    api_.message_text = "ignored";
    api_.statuses["EsbGetMessage"] = c.get_message_status;
    try {
      CheckStatus(client_, "EsbLogin", 1051293);
      ADD_FAILURE() << "nothing raised";
    } catch (const RunError& e) {
      EXPECT_EQ(e.number(), kErrorClientCall);
      EXPECT_EQ(e.description(), c.description);
    }
    EXPECT_EQ(client_.last_status, 1051293);
  }
}

TEST_F(CallCheckTest, AFailingGetMessageLeavesTheText) {
  api_.statuses["EsbGetMessage"] = 1030001;
  api_.message_number = 99;
  std::string text = "as before";
  EXPECT_EQ(GetMessageText(client_, text), 0);
  EXPECT_EQ(text, "as before");
  EXPECT_EQ(client_.last_status, 1030001);
}

}  // namespace
}  // namespace cubesec
