#include "client/access_levels.h"
#include "dump/dump.h"
#include "dump/dump_test_fixture.h"

namespace cubesec::testing {
namespace {

using ::testing::ElementsAre;

class FilterBlocksTest : public DumpTest {
 protected:
  FilterBlocksTest() {
    ScriptedApp app;
    app.name = "Sample";
    app.dbs.emplace_back();
    app.dbs[0].name = "Basic";
    api_.apps = {app};
  }
  std::vector<ScriptedFilter>& filters() { return api_.apps[0].dbs[0].filters; }
  void Write() { WriteFilterBlocks(state_, "Sample", "Basic"); }
};

TEST_F(FilterBlocksTest, RowsAssignmentsAndNameOrder) {
  ScriptedFilter east{"East", 1, kAccessNone, {}, {"zed", "Analysts"}};
  east.rows = {{kAccessRead, "@IDESCENDANTS(\"East\")  "},
               {kAccessFiltered, "Market"},
               {kAccessWrite, "\"New York\": Sales"},
               {kAccessNone, "West"}};
  ScriptedFilter bare{"Bare", 0, kAccessRead, {}, {}};
  filters() = {east, bare};
  Write();
  EXPECT_THAT(Lines(), ElementsAre("Filter: Bare", "   Active: No", "   Default Access: Read",
                                   "   * Filter is not used by any users/groups *", "",  //
                                   "Filter: East", "   Active: Yes", "   Default Access: None",
                                   "   Read: @IDESCENDANTS(\"East\")", "   Meta: Market",
                                   "   Write: \"New York\": Sales", "   None: West",
                                   "   Users: Analysts, zed", ""));
  EXPECT_EQ(state_.blocks, 2);
}

TEST_F(FilterBlocksTest, FilterWithoutRowsIsVerifiedByStartAndEndAlone) {
  filters() = {{"F", 1, kAccessNone, {}, {}}};
  Write();
  EXPECT_EQ(api_.Count("EsbVerifyFilter"), 1);
  EXPECT_EQ(api_.Count("EsbVerifyFilterRow"), 0);
  EXPECT_EQ(api_.Count("EsbVerifyFilterRow(end)"), 1);
}

TEST_F(FilterBlocksTest, FailingMiddleRowAndWholeFilter) {
  filters() = {
      {"F", 1, kAccessNone, {{kAccessRead, "a"}, {kAccessRead, "b"}, {kAccessRead, "c"}}, {"u"}}};
  api_.Fail("EsbVerifyFilterRow", 2, 1054011, 1054011);
  api_.Fail("EsbVerifyFilterRow(end)", 1, 1054012, 1054012);
  Write();
  const std::vector<std::string> lines = Lines();
  EXPECT_THAT(std::vector<std::string>(lines.end() - 3, lines.end()),
              ElementsAre("   *** Filter row 2 failed validity check (ref=1054011)",
                          "   *** Filter failed validity check (ref=1054012)", ""));
  EXPECT_EQ(state_.client.last_status, 1054012);
  // Verification results go to the file only: nothing asked for a message.
  EXPECT_EQ(api_.Count("EsbGetMessage"), 0);
}

TEST_F(FilterBlocksTest, FailingLastRowSkipsTheClosingCall) {
  filters() = {{"F", 1, kAccessNone, {{kAccessRead, "a"}, {kAccessRead, "b"}}, {"u"}}};
  api_.Fail("EsbVerifyFilterRow", 2, 1054011, 1054011);
  Write();
  EXPECT_EQ(api_.Count("EsbVerifyFilterRow(end)"), 0);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.at(lines.size() - 2), "   *** Filter row 2 failed validity check (ref=1054011)");
  EXPECT_EQ(state_.client.last_status, 1054011);
}

TEST_F(FilterBlocksTest, AnyNumberOfRowsIsDumpedAndVerifiedWhole) {
  ScriptedFilter big{"Big", 1, kAccessNone, {}, {"u"}};
  // Appended rather than "m" + to_string(i): GCC 12 at -O3 reports a false -Wrestrict there.
  for (int i = 1; i <= 250; ++i) {
    big.rows.push_back({kAccessRead, std::string("m").append(std::to_string(i))});
  }
  filters() = {big};
  api_.Fail("EsbVerifyFilterRow", 250, 1054011, 1054011);
  Write();
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 256u);
  EXPECT_EQ(lines.at(3), "   Read: m1");
  EXPECT_EQ(lines.at(252), "   Read: m250");
  EXPECT_EQ(lines.at(254), "   *** Filter row 250 failed validity check (ref=1054011)");
  EXPECT_EQ(api_.Count("EsbVerifyFilterRow"), 250);
}

TEST_F(FilterBlocksTest, FailedRowReadEndsTheDumpInsideTheBlock) {
  filters() = {{"F", 1, kAccessNone, {{kAccessRead, "a"}, {kAccessRead, "b"}}, {}}};
  api_.Fail("EsbGetFilterRow", 2, 1054020, 1054020);
  EXPECT_EQ(Raised([&] { Write(); }).number(), 99);
  EXPECT_THAT(Lines(),
              ElementsAre("Filter: F", "   Active: Yes", "   Default Access: None", "   Read: a"));
}

TEST_F(FilterBlocksTest, RowReadFailureWithoutMessageNumberEndsTheDump) {
  filters() = {{"F", 1, kAccessNone, {{kAccessRead, "a"}, {kAccessRead, "b"}}, {}}};
  api_.Fail("EsbGetFilterRow", 2, 1054020, 0);
  EXPECT_EQ(Raised([&] { Write(); }).description(),
            "Essbase Error calling EsbGetFilterRow (ref=1054020)\r\nScripted failure");
  EXPECT_THAT(Lines(),
              ElementsAre("Filter: F", "   Active: Yes", "   Default Access: None", "   Read: a"));
}

// A verification that cannot start tells nothing of the filter; its rows must not be written
// as failing the check.
TEST_F(FilterBlocksTest, AFailedStartOfTheVerificationEndsTheDump) {
  filters() = {{"F", 1, kAccessNone, {{kAccessRead, "a"}}, {}}};
  api_.Fail("EsbVerifyFilter", 1, 1051032, 1051032);
  const RunError error = Raised([&] { Write(); });
  EXPECT_EQ(error.number(), kErrorClientCall);
  EXPECT_EQ(error.description(),
            "Essbase Error calling EsbVerifyFilter (ref=1051032)\r\nScripted failure");
  EXPECT_EQ(api_.Count("EsbVerifyFilterRow"), 0);
  for (const std::string& line : Lines()) EXPECT_EQ(line.find("validity"), std::string::npos);
}

TEST_F(FilterBlocksTest, ARowWithALineBreakIsWrittenOnItsOwnLine) {
  filters() = {{"F", 1, kAccessNone, {{kAccessRead, "\"East\"\r\nGroup: x"}}, {}}};
  state_.run_log.SetPath("run.log");
  Write();
  EXPECT_EQ(Lines().at(3), "   Read: \"East\"  Group: x");
}

TEST_F(FilterBlocksTest, NamesWithControlCharactersEndTheDumpNamingThem) {
  filters() = {{"F\nUser: x", 1, kAccessNone, {}, {}}};
  const RunError error = Raised([&] { Write(); });
  EXPECT_EQ(error.number(), kErrorUncarriedName);
  EXPECT_EQ(error.description(),
            "The name 'F\\x0AUser: x' holds a line break or another control character; no dump "
            "file can carry it");
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
}  // namespace cubesec::testing
