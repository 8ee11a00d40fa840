// The security reset run: its question on the terminal, and what each answer leaves.
#include <gmock/gmock.h>

#include "restore_e2e.h"

namespace cubesec::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::MatchesRegex;
using ::testing::Not;
using json = nlohmann::json;

class ResetRunTest : public ::testing::Test {
 protected:
  ResetRunTest() {
    LoadRestoreFixtures(sandbox);
    // Give the server filters and a second group to lose.
    RunResult run = sandbox.Cubesec({"/Rblocks.txt", "/Starget", "/Uadmin", "/Ptarget-password"});
    if (run.exit_code != 0) ADD_FAILURE() << run.err;
    before_ = Export(sandbox, "target");
  }
  RunResult Reset(const std::string& user, const std::string& typed) {
    return sandbox.CubesecOnTerminal({"/Cx", "/Starget", "/U" + user, "/Ptarget-password"}, typed);
  }
  Sandbox sandbox;
  json before_;
};

TEST_F(ResetRunTest, AnsweringNoDeletesNothing) {
  RunResult run = Reset("admin", "n\n");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("Reset Security"));
  EXPECT_THAT(run.out, HasSubstr("Warning! This will delete all (other) users, all groups, and "
                                 "all security filters, ARE YOU SURE???"));
  EXPECT_EQ(Export(sandbox, "target"), before_);
  // The question and the run log say what would have gone: all users but the logged-in one.
  size_t filters = 0;
  for (const json& app : before_["applications"]) {
    for (const json& db : app["databases"]) filters += db["filters"].size();
  }
  const std::string counts = std::to_string(before_["users"].size() - 1) + " users, " +
                             std::to_string(before_["groups"].size()) + " groups and " +
                             std::to_string(filters) + " filters will be deleted";
  EXPECT_THAT(run.out, HasSubstr("Server: target"));
  EXPECT_THAT(run.out, HasSubstr(counts));
  EXPECT_LT(run.out.find(counts), run.out.find("ARE YOU SURE???"));
  std::vector<std::string> log = Lines(sandbox.Log());
  ASSERT_GE(log.size(), 4u);
  EXPECT_THAT(
      std::vector<std::string>(log.end() - 4, log.end()),
      ElementsAre(MatchesRegex("[-0-9]+ [:0-9]+\tResetting security of target"), "\t" + counts,
                  MatchesRegex("[-0-9]+ [:0-9]+\tSecurity reset of target declined: "
                               "nothing was deleted"),
                  ""));
}

TEST_F(ResetRunTest, AnsweringYesKeepsOnlyTheLoggedInUserWhateverTheCaseOfItsName) {
  size_t log_lines = Lines(sandbox.Log()).size();
  RunResult run = Reset("ADMIN", "y\n");
  ASSERT_EQ(run.exit_code, 0) << run.out;
  json after = Export(sandbox, "target");
  ASSERT_EQ(after["users"].size(), 1u);
  EXPECT_EQ(after["users"][0]["name"], "admin");
  EXPECT_THAT(after["groups"], IsEmpty());
  for (const json& app : after["applications"]) {
    for (const json& db : app["databases"]) EXPECT_THAT(db["filters"], IsEmpty());
  }
  // Applications and databases stay.
  EXPECT_EQ(after["applications"].size(), before_["applications"].size());
  // The run log names every user, group and filter that went, between a start and an end.
  std::vector<std::string> all = Lines(sandbox.Log());
  ASSERT_GT(all.size(), log_lines + 2);
  std::vector<std::string> reset(all.begin() + static_cast<long>(log_lines), all.end());
  EXPECT_THAT(reset.front(), MatchesRegex("[-0-9]+ [:0-9]+\tResetting security of target"));
  EXPECT_THAT(reset[reset.size() - 2],
              MatchesRegex("[-0-9]+ [:0-9]+\tCompleted security reset of target"));
  EXPECT_EQ(reset.back(), "");
  EXPECT_THAT(reset[1], MatchesRegex("\t[0-9]+ users, [0-9]+ groups and [0-9]+ filters will be "
                                     "deleted"));
  std::vector<std::string> deleted(reset.begin() + 2, reset.end() - 2);
  std::vector<std::string> expected;
  for (const json& user : before_["users"]) {
    if (user["name"] != "admin")
      expected.push_back("\tDeleted user '" + user["name"].get<std::string>() + "'");
  }
  for (const json& group : before_["groups"]) {
    expected.push_back("\tDeleted user group '" + group["name"].get<std::string>() + "'");
  }
  for (const json& app : before_["applications"]) {
    for (const json& db : app["databases"]) {
      for (const json& filter : db["filters"]) {
        expected.push_back("\tDeleted filter '" + filter["name"].get<std::string>() +
                           "' for database '" + app["name"].get<std::string>() + ":" +
                           db["name"].get<std::string>() + "'");
      }
    }
  }
  EXPECT_THAT(deleted, ::testing::UnorderedElementsAreArray(expected));
  EXPECT_GE(expected.size(), 5u);
}

// A reset that left users behind did not do its job: it says how many failures, on its last
// line and on the terminal, and exits 1.
TEST_F(ResetRunTest, AResetWhoseDeletionsFailedSaysHowManyAndFails) {
  sandbox.env()["CUBESEC_SIM_FAULTS"] = "EsbListUsers#1=1051002,EsbDeleteGroup#1=1051003";
  RunResult run = Reset("admin", "y\n");
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.out, HasSubstr("cubesec: security reset incomplete: 2 failure(s); what was "
                                 "not deleted is in the run log: "));
  json after = Export(sandbox, "target");
  EXPECT_EQ(after["users"].size(), before_["users"].size());  // the list could not be read
  EXPECT_EQ(after["groups"].size(), 1u);
  std::vector<std::string> log = Lines(sandbox.Log());
  ASSERT_GE(log.size(), 2u);
  EXPECT_THAT(log[log.size() - 2],
              MatchesRegex("[-0-9]+ [:0-9]+\tSecurity reset of target incomplete: 2 "
                           "failure\\(s\\), each logged as NOT deleted above"));
  EXPECT_THAT(sandbox.Log(), Not(HasSubstr("Completed security reset")));
}

TEST_F(ResetRunTest, WithoutATerminalToAskOnNothingIsDeletedAndTheRunFails) {
  RunResult run = sandbox.Cubesec({"/Cx", "/Starget", "/Uadmin", "/Ptarget-password"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(sandbox.Log(),
              ::testing::EndsWith("\tError: 53 - Security reset needs a confirmation, but there "
                                  "is no window or terminal to ask it on; nothing was "
                                  "deleted.\r\n\r\n"));
  EXPECT_EQ(Export(sandbox, "target"), before_);
}

}  // namespace
}  // namespace cubesec::e2e
