// A restore plan: run against a server with security of its own it changes nothing and sends
// no write, a restore right after it does what it listed, and a plan after that restore is
// empty but for the same skips.
#include <gmock/gmock.h>

#include <regex>

#include "restore_e2e.h"

namespace cubesec::e2e {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox.LoadFixture("source", "tests/fixtures/merge/source.json");
    sandbox.LoadFixture("target", "tests/fixtures/plan/target.json");
    RunResult dumped = sandbox.Cubesec(
        {"--dump", "source.txt", "--server", "source", "--user", "admin", "--password-file", "-"},
        "source-password\n");
    ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
  }
  RunResult Target(std::vector<std::string> args) {
    args.insert(args.end(), {"--server", "target", "--user", "admin", "--password-file", "-"});
    return sandbox.Cubesec(args, "target-password\n");
  }
  // The lines of a plan before its last ("Plan: ..."), which is checked and dropped.
  static std::vector<std::string> PlanLines(const RunResult& plan, const std::string& last) {
    std::vector<std::string> lines = Lines(plan.out);
    EXPECT_FALSE(lines.empty());
    if (lines.empty()) return lines;
    EXPECT_EQ(lines.back(), last);
    lines.pop_back();
    return lines;
  }
  // The lines that tell of something not done, as the restore logs them and the plan lists
  // them.
  static bool IsNotDone(const std::string& line) {
    for (const char* words :
         {" skipped (", " NOT ", " kept (", "Kept filter ", " still assigned ", " not disabled "}) {
      if (line.find(words) != std::string::npos) return true;
    }
    return false;
  }
  Sandbox sandbox;
};

TEST_F(PlanTest, APlanChangesNothingAndTheRestoreAfterItDoesWhatItListed) {
  // The dump gives gina a right that the target's gina lacks.
  std::string dump = ReadFile(sandbox.Path("source.txt"));
  const std::string gina = "User: gina * Inactive *\r\n   Access: None\r\n";
  ASSERT_NE(dump.find(gina), std::string::npos);
  dump.replace(dump.find(gina), gina.size(),
               "User: gina * Inactive *\r\n   Access: None (Can Create Users)\r\n");
  WriteFile(sandbox.Path("source.txt"), dump);

  const nlohmann::json before = Export(sandbox, "target");
  const size_t logged_before = Lines(sandbox.Log()).size();
  sandbox.env()["CUBESEC_SIM_TRACE"] = sandbox.Path("plan.trace");
  RunResult plan = Target({"--plan", "source.txt"});
  sandbox.env().erase("CUBESEC_SIM_TRACE");
  ASSERT_EQ(plan.exit_code, 0) << plan.err;
  EXPECT_EQ(Export(sandbox, "target"), before);
  const std::string trace = ReadFile(sandbox.Path("plan.trace"));
  EXPECT_THAT(WritingCalls(trace), IsEmpty());
  EXPECT_NE(trace.find("EsbVerifyFilterRow 0"), std::string::npos);  // the server verified
  // Only a start and a completion line, and no temporary password.
  std::vector<std::string> plan_log = Lines(sandbox.Log());
  plan_log.erase(plan_log.begin(), plan_log.begin() + logged_before);
  ASSERT_EQ(plan_log.size(), 3u) << sandbox.Log();
  EXPECT_NE(plan_log[0].find("\tPlanning security restore of target from source.txt"),
            std::string::npos);
  EXPECT_NE(plan_log[1].find("\tCompleted security restore plan of target from source.txt"),
            std::string::npos);

  const std::vector<std::string> listed =
      PlanLines(plan, "Plan: 3 to create, 14 to change, 10 skipped.");
  for (const char* expected :
       {"create group 'Calcers'", "create user 'dana'", "create user 'erin'",
        "add user 'dana' to group 'Calcers'",
        "change user 'gina' access: None -> None (Can Create Users)",
        "change application 'Sales' Description: \"before the restore\" -> \"Sales cubes\"",
        "Restoration of Filter 'EastRead' skipped (held on the target by Locals, which the dump "
        "file does not name)",

        "change access of 'erin' on 'Sales:East': None -> Application Designer",
        "change database 'Sales:West' Default Access: None -> Calc",
        "change calc scripts of 'Calcers' on 'Sales:East': (none) -> AllocQ1, Rollup",
        "Restoration of user 'beta' skipped (a group of that name exists)"}) {
    EXPECT_THAT(listed, Contains(expected));
  }

  RunResult restore = Target({"--restore", "source.txt"});
  ASSERT_EQ(restore.exit_code, 0) << restore.err;
  std::vector<std::string> log;
  for (const std::string& line : LogBody(sandbox)) log.push_back(line.substr(line.find('\t') + 1));
  // Each creation, access change, membership and skip of the plan, in the restore's words.
  std::vector<std::string> from_plan, from_log;
  const std::regex create_user("create user '(.*)'"), create_group("create group '(.*)'"),
      user_access("change (user|group) '(.*)' access: .* -> (.*)"),
      db_access("change access of '(.*)' on '(.*)': .* -> (.*)"),
      member("add user '(.*)' to group '(.*)'");
  std::smatch m;
  for (const std::string& line : listed) {
    if (std::regex_match(line, m, create_user)) {
      from_plan.push_back("Created user '" + m[1].str() + "'");
    } else if (std::regex_match(line, m, create_group)) {
      from_plan.push_back("Created user group '" + m[1].str() + "'");
    } else if (std::regex_match(line, m, user_access)) {
      from_plan.push_back("Assigned '" + m[3].str() + "' access to " + m[1].str() + " '" +
                          m[2].str() + "'");
    } else if (std::regex_match(line, m, db_access)) {
      from_plan.push_back("Granted '" + m[3].str() + "' access to '" + m[2].str() + "' for '" +
                          m[1].str() + "'");
    } else if (std::regex_match(line, m, member)) {
      from_plan.push_back("Assigned user '" + m[1].str() + "' to security groups: " + m[2].str());
    } else if (IsNotDone(line)) {
      from_plan.push_back(line);
    }
  }
  std::vector<std::string> skips_logged;
  for (const std::string& line : log) {
    if (line.starts_with("Created user '")) {
      from_log.push_back(line.substr(0, line.find(" with temporary password")));
    } else if (line.starts_with("Created ") || line.starts_with("Assigned user ") ||
               line.starts_with("Assigned '") || IsNotDone(line)) {
      from_log.push_back(line);
    } else if (line.starts_with("Granted ")) {
      // A grant is logged for every block; the plan lists those that change a value.
      if (std::find(from_plan.begin(), from_plan.end(), line) != from_plan.end()) {
        from_log.push_back(line);
      }
    }
    if (IsNotDone(line)) skips_logged.push_back(line);
  }
  EXPECT_THAT(from_log, UnorderedElementsAreArray(from_plan));

  // Plan after restore: nothing to create or change, the same skips.
  RunResult again = Target({"--plan", "source.txt"});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_THAT(PlanLines(again, "Plan: 0 to create, 0 to change, 10 skipped."),
              ElementsAreArray(skips_logged));
}

TEST_F(PlanTest, APlanNeedsTheWholeCommandLineAndAReadableFile) {
  RunResult no_password =
      sandbox.Cubesec({"--plan", "source.txt", "--server", "target", "--user", "admin"});
  EXPECT_EQ(no_password.exit_code, 2);
  EXPECT_NE(no_password.err.find("No password provided"), std::string::npos) << no_password.err;

  RunResult missing = Target({"--plan", "nothing.txt"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("Security Dump File (nothing.txt) Not Found"), std::string::npos)
      << missing.err;
}

// A restore limited to one database: the other databases, the applications' state and the
// users and groups that its access does not need stay as they were; the plan said so first.
TEST_F(PlanTest, ARestoreLimitedToADatabaseLeavesEveryOtherDatabaseAsItWas) {
  const nlohmann::json before = Export(sandbox, "target");
  RunResult plan = Target({"--plan", "source.txt", "--only", "db=sales:west"});
  ASSERT_EQ(plan.exit_code, 0) << plan.err;
  const std::vector<std::string> listed =
      PlanLines(plan, "Plan: 3 to create, 7 to change, 4 skipped.");
  // The access blocks of West name dana, erin and Calcers: they are created from their blocks.
  EXPECT_THAT(listed, Contains("create user 'erin'"));
  EXPECT_THAT(listed, Contains("change database 'Sales:West' Default Access: None -> Calc"));
  for (const std::string& line : listed) EXPECT_EQ(line.find("Sales:East"), std::string::npos);

  RunResult restore = Target({"--restore", "source.txt", "--only", "db=Sales:West"});
  ASSERT_EQ(restore.exit_code, 0) << restore.err;
  const nlohmann::json after = Export(sandbox, "target");
  EXPECT_EQ(after["global"], before["global"]);
  const nlohmann::json sales_before = Named(before["applications"], "Sales");
  const nlohmann::json sales_after = Named(after["applications"], "Sales");
  EXPECT_EQ(Named(sales_after["databases"], "East"), Named(sales_before["databases"], "East"));
  EXPECT_EQ(Named(after["applications"], "Ops"), Named(before["applications"], "Ops"));
  EXPECT_EQ(sales_after["description"], sales_before["description"]);
  const nlohmann::json west = Named(sales_after["databases"], "West");
  EXPECT_EQ(west["default_access"], 279);
  EXPECT_EQ(west["access"]["erin"]["calcs"], nlohmann::json::array({"Rollup"}));
  // Needed users are created, but join no group outside the part.
  EXPECT_EQ(Named(after["users"], "dana")["groups"], nlohmann::json::array());
  EXPECT_EQ(Named(after["users"], "gina"), Named(before["users"], "gina"));
  // The same limited plan now finds nothing to do.
  RunResult again = Target({"--plan", "source.txt", "--only", "db=Sales:West"});
  EXPECT_EQ(Lines(again.out).back(), "Plan: 0 to create, 0 to change, 4 skipped.");
}

TEST_F(PlanTest, APartThatNamesNothingInTheFileIsAWrongCommandLine) {
  const size_t logged_before = Lines(sandbox.Log()).size();
  for (const char* part : {"user=zed", "db=Sales:North", "group=Auditors", "app=Nope"}) {
    RunResult run = Target({"--restore", "source.txt", "--only", "user=dana", "--only", part});
    EXPECT_EQ(run.exit_code, 2) << part;
    EXPECT_EQ(run.err, std::string("cubesec: --only ") + part + " names nothing in source.txt\n");
  }
  RunResult bad = Target({"--plan", "source.txt", "--only", "table=x"});
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_NE(bad.err.find("('table=x')"), std::string::npos) << bad.err;
  RunResult dump = Target({"--dump", "other.txt", "--only", "server"});
  EXPECT_EQ(dump.exit_code, 2);
  EXPECT_EQ(Lines(sandbox.Log()).size(), logged_before);  // nothing was run
}

}  // namespace
}  // namespace cubesec::e2e
