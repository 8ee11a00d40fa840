// The security diff: two dumps of a server before and after known changes differ in exactly
// those; a file against itself, against a copy with other dates and last logins, and against
// the server it was just dumped from does not differ at all.
#include <gmock/gmock.h>

#include "restore_e2e.h"

namespace cubesec::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using json = nlohmann::json;

class DiffTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox.LoadFixture("prod", "examples/demo-server.json");
    Dump("before.txt");
  }
  void Dump(const std::string& file) {
    RunResult run = sandbox.Cubesec(
        {"--dump", file, "--server", "prod", "--user", "admin", "--password-file", "-"},
        "demo-password\n");
    ASSERT_EQ(run.exit_code, 0) << run.err;
  }
  RunResult Diff(std::vector<std::string> args) {
    args.insert(args.begin(), "--diff");
    return sandbox.Cubesec(args, "demo-password\n");
  }
  Sandbox sandbox;
};

TEST_F(DiffTest, TwoDumpsDifferInExactlyTheChangesMadeBetweenThem) {
  json server = json::parse(ReadFile(SourcePath("examples/demo-server.json")));
  json& users = server["users"];
  users.push_back({{"name", "gina"}, {"password", "gina-password"}});
  for (json& user : users) {
    if (user["name"] == "jsmith") user["access"] = 4096;
    if (user["name"] == "achen") user["groups"].push_back("Analysts");
  }
  json& groups = server["groups"];
  groups.erase(std::remove_if(groups.begin(), groups.end(),
                              [](const json& group) { return group["name"] == "Contractors"; }),
               groups.end());
  json& basic = server["applications"][0]["databases"][0];
  basic["access"]["jsmith"]["filter"] = "EastRead";
  basic["filters"][0]["rows"][1]["text"] = "\"West\"";
  sandbox.LoadFixtureText("prod", server.dump());
  Dump("after.txt");

  RunResult diff = Diff({"before.txt", "after.txt"});
  EXPECT_EQ(diff.exit_code, 1) << diff.err;
  EXPECT_THAT(
      Lines(diff.out),
      ElementsAre(
          "~ Group: Analysts: Users: + achen", "- Group: Contractors",
          "~ User: achen: Groups: + Analysts", "+ User: gina",
          "~ User: jsmith: Access: None -> None (Can Create Users)",
          "~ Filter: EastRead on Sample:Basic: row 2: None: \"West\", \"South\" -> None: \"West\"",
          "~ Filter: EastRead on Sample:Basic: Users: + jsmith",
          "~ User Access: jsmith on Sample:Basic: Filter: (none) -> EastRead"));
  // The other way round every sign turns.
  RunResult back = Diff({"after.txt", "before.txt"});
  EXPECT_EQ(back.exit_code, 1);
  EXPECT_THAT(Lines(back.out), ::testing::Contains("- User: gina"));
  EXPECT_THAT(Lines(back.out), ::testing::Contains("~ User: achen: Groups: - Analysts"));
  // Limited to a part, only its objects are compared.
  RunResult user = Diff({"before.txt", "after.txt", "--only", "user=JSMITH"});
  EXPECT_EQ(user.exit_code, 1);
  EXPECT_THAT(Lines(user.out),
              ElementsAre("~ User: jsmith: Access: None -> None (Can Create Users)",
                          "~ User Access: jsmith on Sample:Basic: Filter: (none) -> EastRead"));
  RunResult interim = Diff({"before.txt", "after.txt", "--only", "db=Sample:Interim"});
  EXPECT_EQ(interim.exit_code, 0) << interim.out;
  EXPECT_EQ(interim.out, "");
}

TEST_F(DiffTest, WhatChangesWithoutAnyoneChangingSecurityIsNoDifference) {
  // Itself.
  RunResult same = Diff({"before.txt", "before.txt"});
  EXPECT_EQ(same.exit_code, 0) << same.out << same.err;
  EXPECT_EQ(same.out, "");

  // A copy with other dates, last logins and inactive markers, names in another case.
  std::string copy;
  for (const std::string& line : Lines(ReadFile(sandbox.Path("before.txt")))) {
    std::string changed = line;
    if (changed.starts_with("   Date Made: ")) changed = "   Date Made: 2001-01-01 00:00:00";
    if (changed.starts_with("   Last Login: ")) changed = "   Last Login: <Unknown>";
    if (changed.starts_with("User: ") && changed.find(" * Inactive *") == std::string::npos &&
        changed.find('*') == std::string::npos) {
      changed += " * Inactive *";
    }
    if (changed == "Group: Analysts") changed = "Group: ANALYSTS";
    copy += changed + "\r\n";
  }
  WriteFile(sandbox.Path("copy.txt"), copy);
  RunResult dates = Diff({"before.txt", "copy.txt"});
  EXPECT_EQ(dates.exit_code, 0) << dates.out;
  EXPECT_EQ(dates.out, "");
  RunResult all = Diff({"before.txt", "copy.txt", "--all"});
  EXPECT_EQ(all.exit_code, 1);
  EXPECT_THAT(all.out, HasSubstr("~ Server: Date Made: "));
  EXPECT_THAT(all.out, HasSubstr("~ User: achen: Inactive: No -> Yes\n"));

  // The server it was just dumped from, read in memory: no dump file, no backup.
  sandbox.env()["CUBESEC_SIM_TRACE"] = sandbox.Path("diff.trace");
  RunResult server =
      Diff({"before.txt", "--server", "prod", "--user", "admin", "--password-file", "-"});
  EXPECT_EQ(server.exit_code, 0) << server.out << server.err;
  EXPECT_EQ(server.out, "");
  EXPECT_THAT(WritingCalls(ReadFile(sandbox.Path("diff.trace"))), ::testing::IsEmpty());
  EXPECT_FALSE(FileExists(sandbox.Path("before.txt.bak")));
  EXPECT_THAT(sandbox.Log(), HasSubstr("\tReading security of prod to compare it with before.txt"));
}

TEST_F(DiffTest, AFileThatCannotBeReadOrFailsTheCheckIsTrouble) {
  RunResult missing = Diff({"before.txt", "nowhere.txt"});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_THAT(missing.err, HasSubstr("cannot read dump file 'nowhere.txt'"));

  WriteFile(sandbox.Path("bad.txt"), "Server: prod\r\n   Security: Perhaps\r\n\r\n");
  RunResult bad = Diff({"bad.txt", "before.txt"});
  EXPECT_EQ(bad.exit_code, 2);
  RunResult check = sandbox.Cubesec({"--check", "bad.txt"});
  EXPECT_EQ(bad.out, check.out);  // the problems as --check prints them

  RunResult nothing = Diff({"before.txt", "before.txt", "--only", "user=nobody"});
  EXPECT_EQ(nothing.exit_code, 2);
  EXPECT_THAT(nothing.err, HasSubstr("--only user=nobody names nothing"));
}

}  // namespace
}  // namespace cubesec::e2e
