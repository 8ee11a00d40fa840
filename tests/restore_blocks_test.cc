// A restore of a dump file that holds one case of each kind onto a server that lacks some of
// what the file names: the run log's lines and the server's state afterwards.
#include <gmock/gmock.h>

#include <regex>

#include "restore_e2e.h"

namespace cubesec::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using json = nlohmann::json;

class RestoreBlocksTest : public ::testing::Test {
 protected:
  RestoreBlocksTest() { LoadRestoreFixtures(sandbox); }
  RunResult Restore(const std::string& file) {
    return sandbox.Cubesec({"/R" + file, "/Starget", "/Uadmin", "/Ptarget-password"});
  }
  Sandbox sandbox;
};

TEST_F(RestoreBlocksTest, LogsOneLinePerChangeAndSkipsWhatTheTargetLacks) {
  RunResult run = Restore("blocks.txt");
  ASSERT_EQ(run.exit_code, 0) << run.err << sandbox.Log();
  std::vector<std::string> log = LogBody(sandbox);
  ASSERT_GE(log.size(), 4u);
  EXPECT_THAT(log[3],
              MatchesRegex("\tCreated user 'carol' with temporary password 'TP[A-Za-z0-9]{14,}'"));
  log[3] = "<created carol>";
  EXPECT_THAT(log,
              ElementsAreArray(Lines(ReadFile(SourcePath("tests/fixtures/restore/blocks.log")))));

  // The start and completion lines frame the run, and the run log is the user's to read.
  std::vector<std::string> all = Lines(sandbox.Log());
  ASSERT_GE(all.size(), 2u);
  EXPECT_THAT(all.front(), MatchesRegex(".*\tRestoring security of target from blocks.txt"));
  EXPECT_THAT(all[all.size() - 2],
              MatchesRegex(".*\tCompleted security Restore of target from blocks.txt"));
}

TEST_F(RestoreBlocksTest, TheServerHoldsWhatTheFileSaysAndNothingOfWhatWasSkipped) {
  ASSERT_EQ(Restore("blocks.txt").exit_code, 0) << sandbox.Log();
  json server = Export(sandbox, "target");
  const json& global = server["global"];
  EXPECT_EQ(global["validity"], 90);
  EXPECT_EQ(global["min_length"], 8);
  EXPECT_EQ(global["timeout"], 2);          // 2.5 rounded half to even
  EXPECT_EQ(global["check_frequency"], 4);  // 3.5 likewise
  EXPECT_EQ(global["default_access"], 273);
  EXPECT_EQ(global["reserved"], 3);  // no key sets it

  EXPECT_EQ(Named(server["groups"], "Auditors")["access"], 273);
  json carol = Named(server["users"], "carol");
  EXPECT_EQ(carol["disabled"], true);
  EXPECT_EQ(carol["password_expired"], true);
  EXPECT_EQ(carol["access"], 275);
  EXPECT_THAT(carol["groups"], ElementsAre("Analysts", "Auditors"));

  json sample = Named(server["applications"], "Sample");
  EXPECT_EQ(sample["updates"], false);
  json basic = Named(sample["databases"], "Basic");
  EXPECT_EQ(basic["autoload"], true);
  EXPECT_TRUE(Named(basic["filters"], "Broken").is_null());
  json east = Named(basic["filters"], "EastRead");
  ASSERT_FALSE(east.is_null());
  json rows = json::array();
  rows.push_back({{"access", 273}, {"text", "@IDESCENDANTS(\"East\")"}});
  rows.push_back({{"access", 272}, {"text", "Market"}});
  rows.push_back({{"access", 275}, {"text", "\"Sales\", \"Year\""}});
  EXPECT_EQ(east["rows"], rows);
  EXPECT_EQ(Named(basic["filters"], "Empty")["default_access"], 273);

  const json& access = basic["access"];
  EXPECT_EQ(access["Analysts"]["access"], 279);
  EXPECT_EQ(access["Analysts"]["filter"], "EastRead");
  EXPECT_EQ(access["Analysts"]["all_calcs"], true);
  EXPECT_EQ(access["Auditors"]["calcs"], json::array());
  EXPECT_EQ(access["bob"]["access"], 275);
  // Write has no calc bit, but bob calculates through a group: the dump's list is his.
  EXPECT_EQ(access["bob"]["calcs"], json::array({"CalcAll"}));
  EXPECT_FALSE(access.contains("carol"));  // its filter was not restored
  // Finance:Plan has no filter "Nowhere": Auditors gets no access there at all.
  json plan = Named(server["applications"], "Finance")["databases"][0];
  EXPECT_TRUE(plan["filters"].empty());
  EXPECT_FALSE(plan["access"].contains("Auditors"));
}

TEST_F(RestoreBlocksTest, RestoringTheSameFileAgainCreatesAndAssignsNoAccess) {
  ASSERT_EQ(Restore("blocks.txt").exit_code, 0) << sandbox.Log();
  json before = Export(sandbox, "target");
  size_t first_run = Lines(sandbox.Log()).size();
  ASSERT_EQ(Restore("blocks.txt").exit_code, 0) << sandbox.Log();
  std::vector<std::string> all = Lines(sandbox.Log());
  std::vector<std::string> second(all.begin() + static_cast<long>(first_run), all.end());
  for (const std::string& line : second) {
    EXPECT_THAT(line, ::testing::Not(MatchesRegex(".*(Created|Assigned '.*' access|Disabled).*")));
  }
  EXPECT_EQ(Export(sandbox, "target"), before);
}

TEST_F(RestoreBlocksTest, AMissingDumpFileIsReportedAfterLoggingIn) {
  std::string trace = sandbox.Path("trace.txt");
  sandbox.env()["CUBESEC_SIM_TRACE"] = trace;
  RunResult run = Restore("missing.txt");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(LogBody(sandbox),
              ElementsAre("\tError: 56 - Security Dump File (missing.txt) Not Found"));
  std::vector<std::string> calls = Lines(ReadFile(trace));
  EXPECT_THAT(calls, ::testing::Contains("EsbLogin 0"));
  EXPECT_THAT(calls, ::testing::Contains("EsbLogout 0"));
  EXPECT_TRUE(sandbox.Log().find("Restoring") == std::string::npos);
}

}  // namespace
}  // namespace cubesec::e2e
