#include "client/api_decorators.h"

#include <gtest/gtest.h>

#include <functional>

#include "client/call_check.h"
#include "client/scripted_api.h"

namespace cubesec {
namespace {

using Call = std::function<EsbStatus(EsbApi&)>;

// One call of every API function, with the name it must be reported under.
std::vector<std::pair<std::string, Call>> EveryCall() {
  static EsbInitRecord init;
  static EsbHandle handle;
  static uint16_t u16;
  static int16_t i16;
  static uint32_t u32;
  static int32_t i32a, i32b;
  static char buffer[16];
  static EsbItem item;
  static EsbGlobalState global;
  static EsbUserInfo info;
  static EsbAppState app;
  static EsbDbState db;
  static EsbUserApp user_app;
  static EsbUserDb user_db;
  static std::string row;
  return {
      {"EsbInit", [](EsbApi& a) { return a.EsbInit(init, &handle); }},
      {"EsbGetAPIVersion", [](EsbApi& a) { return a.EsbGetAPIVersion(&u32); }},
      {"EsbLogin", [](EsbApi& a) { return a.EsbLogin(1, "s", "u", "p", &u16, &handle); }},
      {"EsbLogout", [](EsbApi& a) { return a.EsbLogout(1); }},
      {"EsbTerm", [](EsbApi& a) { return a.EsbTerm(1); }},
      {"EsbGetMessage",
       [](EsbApi& a) { return a.EsbGetMessage(1, &i32a, &i32b, buffer, sizeof buffer); }},
      {"EsbListUsers", [](EsbApi& a) { return a.EsbListUsers(1, "a", "d", &u32); }},
      {"EsbListGroups", [](EsbApi& a) { return a.EsbListGroups(1, "a", "d", &u32); }},
      {"EsbListApplications", [](EsbApi& a) { return a.EsbListApplications(1, &u32); }},
      {"EsbListDatabases", [](EsbApi& a) { return a.EsbListDatabases(1, "a", &u32); }},
      {"EsbListFilters", [](EsbApi& a) { return a.EsbListFilters(1, "a", "d", &u32); }},
      {"EsbGetGroupList", [](EsbApi& a) { return a.EsbGetGroupList(1, "g", &u32); }},
      {"EsbGetFilterList", [](EsbApi& a) { return a.EsbGetFilterList(1, "a", "d", "f", &u32); }},
      {"EsbGetCalcList", [](EsbApi& a) { return a.EsbGetCalcList(1, "n", "a", "d", &i16, &u32); }},
      {"EsbGetNextItem", [](EsbApi& a) { return a.EsbGetNextItem(1, kItemUserName, &item); }},
      {"EsbGetGlobalState", [](EsbApi& a) { return a.EsbGetGlobalState(1, &global); }},
      {"EsbGetUser", [](EsbApi& a) { return a.EsbGetUser(1, "u", &info); }},
      {"EsbGetGroup", [](EsbApi& a) { return a.EsbGetGroup(1, "g", &info); }},
      {"EsbGetApplicationState", [](EsbApi& a) { return a.EsbGetApplicationState(1, "a", &app); }},
      {"EsbGetDatabaseState", [](EsbApi& a) { return a.EsbGetDatabaseState(1, "a", "d", &db); }},
      {"EsbGetApplicationAccess",
       [](EsbApi& a) { return a.EsbGetApplicationAccess(1, "u", "a", &u32); }},
      {"EsbGetDatabaseAccess",
       [](EsbApi& a) { return a.EsbGetDatabaseAccess(1, "u", "a", "d", &u32); }},
      {"EsbGetFilter", [](EsbApi& a) { return a.EsbGetFilter(1, "a", "d", "f", &i16, &u16); }},
      {"EsbGetFilterRow", [](EsbApi& a) { return a.EsbGetFilterRow(1, &row, &u16); }},
      {"EsbSetGlobalState", [](EsbApi& a) { return a.EsbSetGlobalState(1, global); }},
      {"EsbCreateUser", [](EsbApi& a) { return a.EsbCreateUser(1, "u", "p"); }},
      {"EsbSetUser", [](EsbApi& a) { return a.EsbSetUser(1, info); }},
      {"EsbCreateGroup", [](EsbApi& a) { return a.EsbCreateGroup(1, "g"); }},
      {"EsbSetGroup", [](EsbApi& a) { return a.EsbSetGroup(1, info); }},
      {"EsbAddToGroup", [](EsbApi& a) { return a.EsbAddToGroup(1, "g", "u"); }},
      {"EsbSetApplicationState", [](EsbApi& a) { return a.EsbSetApplicationState(1, "a", app); }},
      {"EsbSetDatabaseState", [](EsbApi& a) { return a.EsbSetDatabaseState(1, "a", "d", db); }},
      {"EsbSetApplicationAccess", [](EsbApi& a) { return a.EsbSetApplicationAccess(1, user_app); }},
      {"EsbSetDatabaseAccess", [](EsbApi& a) { return a.EsbSetDatabaseAccess(1, user_db); }},
      {"EsbSetFilter", [](EsbApi& a) { return a.EsbSetFilter(1, "a", "d", "f", 1, 0); }},
      {"EsbSetFilterRow", [](EsbApi& a) { return a.EsbSetFilterRow(1, true, "r", 0); }},
      {"EsbVerifyFilter", [](EsbApi& a) { return a.EsbVerifyFilter(1, "a", "d"); }},
      {"EsbVerifyFilterRow", [](EsbApi& a) { return a.EsbVerifyFilterRow(1, true, "r"); }},
      {"EsbSetFilterList", [](EsbApi& a) { return a.EsbSetFilterList(1, "a", "d", "f", "u", 1); }},
      {"EsbSetCalcList", [](EsbApi& a) { return a.EsbSetCalcList(1, "n", "a", "d", 0, "c", 1); }},
      {"EsbDeleteUser", [](EsbApi& a) { return a.EsbDeleteUser(1, "u"); }},
      {"EsbDeleteGroup", [](EsbApi& a) { return a.EsbDeleteGroup(1, "g"); }},
      {"EsbDeleteFilter", [](EsbApi& a) { return a.EsbDeleteFilter(1, "a", "d", "f"); }},
  };
}

TEST(ApiTracer, ForwardsEveryCallToItsOwnFunctionAndReportsIt) {
  testing::ScriptedApi inner;
  std::vector<std::string> lines;
  ApiTracer tracer(inner, [&lines](const std::string& line) { lines.push_back(line); });
  auto calls = EveryCall();
  ASSERT_EQ(calls.size(), 43u);
  // A distinct status per function shows that each call reached the right inner function.
  for (size_t i = 0; i < calls.size(); ++i) inner.statuses[calls[i].first] = EsbStatus(i + 100);
  for (size_t i = 0; i < calls.size(); ++i) {
    const auto& [name, call] = calls[i];
    EXPECT_EQ(call(tracer), EsbStatus(i + 100)) << name;
    ASSERT_EQ(inner.calls.size(), i + 1);
    EXPECT_EQ(inner.calls.back(), name);
    ASSERT_EQ(lines.size(), i + 1);
    EXPECT_EQ(lines.back(), name + " " + std::to_string(i + 100));
  }
}

TEST(ParseFaultSpecs, AcceptsListsWithBlanks) {
  std::string error;
  auto faults = ParseFaultSpecs(
      " EsbListGroups#2=1051012 , *#7=-5,EsbLogin#1=2147483647 ,EsbGetUser#3=8/nomsg", &error);
  ASSERT_TRUE(faults) << error;
  ASSERT_EQ(faults->size(), 4u);
  EXPECT_TRUE((*faults)[0].with_message);
  EXPECT_EQ((*faults)[0].call_name, "EsbListGroups");
  EXPECT_EQ((*faults)[0].occurrence, 2u);
  EXPECT_EQ((*faults)[0].status, 1051012);
  EXPECT_EQ((*faults)[1].call_name, "*");
  EXPECT_EQ((*faults)[1].occurrence, 7u);
  EXPECT_EQ((*faults)[1].status, -5);
  EXPECT_EQ((*faults)[2].status, 2147483647);
  EXPECT_EQ((*faults)[3].status, 8);
  EXPECT_FALSE((*faults)[3].with_message);
  faults = ParseFaultSpecs("   ", &error);
  ASSERT_TRUE(faults);
  EXPECT_TRUE(faults->empty());
  // Counted within a unit of work: a named one, or "" for the calls outside any.
  faults = ParseFaultSpecs("*@a2.d1#3=5,EsbGetUser@#2=6", &error);
  ASSERT_TRUE(faults) << error;
  ASSERT_EQ(faults->size(), 2u);
  EXPECT_EQ((*faults)[0].call_name, "*");
  EXPECT_TRUE((*faults)[0].in_unit);
  EXPECT_EQ((*faults)[0].unit, "a2.d1");
  EXPECT_EQ((*faults)[0].occurrence, 3u);
  EXPECT_EQ((*faults)[1].call_name, "EsbGetUser");
  EXPECT_TRUE((*faults)[1].in_unit);
  EXPECT_EQ((*faults)[1].unit, "");
  EXPECT_FALSE(ParseFaultSpecs("EsbGetUser#2=6", &error)->front().in_unit);
}

TEST(ParseFaultSpecs, RejectsMalformedItemsWithAReason) {
  for (const char* bad : {"EsbLogin#1=0",        "EsbLogin#0=5",
                          "EsbLogin#-1=5",       "EsbLogin#x=5",
                          "EsbLogin#1=abc",      "EsbLogin#1=",
                          "EsbLogin=5",          "#1=5",
                          "EsbLogin#1",          "EsbLogin#1=5,",
                          ",EsbLogin#1=5",       "EsbLogin#1=2147483648",
                          "EsbLogin#1=+5",       "EsbLogin#1=5x",
                          "Esb Login#1=5",       "EsbLogin #1=5",
                          "EsbLogin#1=/nomsg",   "EsbLogin#1=0/nomsg",
                          "EsbLogin#1=5/NOMSG",  "EsbLogin#1=5/nomsg/nomsg",
                          "EsbLogin#1=5 /nomsg", "@a1#1=5",
                          "*@a 1#1=5",           "*@a1@b#1=5"}) {
    std::string error;
    EXPECT_EQ(ParseFaultSpecs(bad, &error), std::nullopt) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(FaultInjector, FailsPlannedCallsWithoutRunningThem) {
  testing::ScriptedApi inner;
  FaultInjector injector(inner, {{"EsbListUsers", 2, 1051012}, {"*", 6, -7}});
  uint32_t count = 0;
  EXPECT_EQ(injector.EsbListUsers(1, "", "", &count), 0);        // call 1
  EXPECT_EQ(injector.EsbListUsers(1, "", "", &count), 1051012);  // call 2: planned
  EXPECT_EQ(inner.Count("EsbListUsers"), 1);                     // not forwarded

  // The next EsbGetMessage hands out the injected message once (call 3).
  ClientContext client(injector);
  std::string text;
  EXPECT_EQ(GetMessageText(client, text), 1051012);
  EXPECT_EQ(text, "Injected fault");
  EXPECT_EQ(inner.Count("EsbGetMessage"), 0);
  // Then it forwards again (call 4).
  inner.message_number = 33;
  inner.message_text = "real";
  EXPECT_EQ(GetMessageText(client, text), 33);
  EXPECT_EQ(text, "real");

  EXPECT_EQ(injector.EsbListGroups(1, "", "", &count), 0);   // call 5
  EXPECT_EQ(injector.EsbListGroups(1, "", "", &count), -7);  // call 6: any call
  EXPECT_EQ(inner.Count("EsbListGroups"), 1);
  EXPECT_EQ(injector.EsbListUsers(1, "", "", &count), 0);  // third of its name: forwarded
  EXPECT_EQ(inner.Count("EsbListUsers"), 2);
}

// Sessions of one run make their calls in an order left to chance; counted within the unit
// that makes them, a planned call is the same in every run. The tracer names the unit.
TEST(FaultInjector, CountsWithinAUnitOfWorkWhenTheFaultNamesOne) {
  testing::ScriptedApi inner;
  FaultInjector injector(
      inner,
      {{"*", 2, -1, true, true, "a1"}, {"EsbListUsers", 2, -2, true, true, ""}, {"*", 4, -3}});
  std::vector<std::string> lines;
  ApiTracer tracer(injector, [&](const std::string& line) { lines.push_back(line); });
  uint32_t count = 0;
  EXPECT_EQ(tracer.EsbListUsers(1, "", "", &count), 0);  // outside: first of its name
  {
    CallUnit unit("a0");
    EXPECT_EQ(tracer.EsbListUsers(1, "", "", &count), 0);  // a0's first
    EXPECT_EQ(tracer.EsbListUsers(1, "", "", &count), 0);  // a0's second: not a1's
  }
  {
    CallUnit unit("a1");
    EXPECT_EQ(tracer.EsbListGroups(1, "", "", &count), -3);  // the run's fourth
    {
      CallUnit inner_unit("a1.d0");
      EXPECT_EQ(tracer.EsbListGroups(1, "", "", &count), 0);  // a unit of its own
    }
    EXPECT_EQ(tracer.EsbListGroups(1, "", "", &count), -1);  // a1's second
  }
  EXPECT_EQ(tracer.EsbListUsers(1, "", "", &count), -2);  // outside: second of its name
  EXPECT_EQ(lines,
            (std::vector<std::string>{"EsbListUsers 0", "EsbListUsers 0 a0", "EsbListUsers 0 a0",
                                      "EsbListGroups -3 a1", "EsbListGroups 0 a1.d0",
                                      "EsbListGroups -1 a1", "EsbListUsers -2"}));
}

TEST(FaultInjector, AFaultWithoutAMessageLeavesNoneAndStillRaises) {
  testing::ScriptedApi inner;
  inner.statuses["EsbGetMessage"] = 1030001;  // the inner library holds no message either
  FaultInjector injector(inner, {{"EsbListUsers", 1, 1051012}, {"EsbGetUser", 1, 77, false}});
  uint32_t count = 0;
  EsbUserInfo info;
  EXPECT_EQ(injector.EsbListUsers(1, "", "", &count), 1051012);
  // The second fault takes the first one's message away: none is pending after it.
  EXPECT_EQ(injector.EsbGetUser(1, "u", &info), 77);
  EXPECT_EQ(inner.Count("EsbGetUser"), 0);
  ClientContext client(injector);
  try {
    CheckStatus(client, "EsbGetUser", 77);
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.description(), "Essbase Error calling EsbGetUser (ref=77)\r\n");
  }
  EXPECT_EQ(inner.Count("EsbGetMessage"), 1);  // asked the inner library, which had none
}

TEST(FaultInjector, ACheckedInjectedFaultRaisesError99) {
  testing::ScriptedApi inner;
  FaultInjector injector(inner, {{"esblogin", 1, 1051293}});  // names ignore case
  ClientContext client(injector);
  uint16_t apps = 0;
  EsbStatus status = injector.EsbLogin(1, "s", "u", "p", &apps, &client.context);
  try {
    CheckStatus(client, "EsbLogin", status);
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.description(), "Essbase Error calling EsbLogin (ref=1051293)\r\nInjected fault");
  }
  EXPECT_EQ(inner.Count("EsbLogin"), 0);
}

TEST(FaultInjector, ALaterRealFailureKeepsItsOwnMessage) {
  testing::ScriptedApi inner;
  FaultInjector injector(inner, {{"EsbTerm", 1, 9}});
  inner.statuses["EsbLogout"] = 4;
  inner.message_number = 44;
  inner.message_text = "logout failed";
  EXPECT_EQ(injector.EsbTerm(1), 9);
  EXPECT_EQ(injector.EsbLogout(1), 4);
  ClientContext client(injector);
  std::string text;
  EXPECT_EQ(GetMessageText(client, text), 44);
  EXPECT_EQ(text, "logout failed");
}

}  // namespace
}  // namespace cubesec
