// The security reset run: its question on the terminal, and what each answer leaves.
#include <gmock/gmock.h>

#include "restore_e2e.h"

namespace cubesec::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using json = nlohmann::json;

class ResetRunTest : public ::testing::Test {
 protected:
  ResetRunTest() {
    sandbox.LoadFixture("target", "tests/fixtures/restore/target.json");
    WriteFile(sandbox.Path("blocks.txt"),
              ReadFile(SourcePath("tests/fixtures/restore/blocks.txt")));
    // Give the server filters and a second group to lose.
    RunResult run = sandbox.Cubesec({"/Rblocks.txt", "/Starget", "/Uadmin", "/Ptarget-password"});
    if (run.exit_code != 0) ADD_FAILURE() << run.err;
    before_ = Export(sandbox, "target");
  }
  RunResult Reset(const std::string& user, const std::string& typed) {
    return RunOnTerminal(sandbox, {"/Cx", "/Starget", "/U" + user, "/Ptarget-password"}, typed);
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
  // Applications and databases stay; the reset itself writes nothing to the run log.
  EXPECT_EQ(after["applications"].size(), before_["applications"].size());
  EXPECT_EQ(Lines(sandbox.Log()).size(), log_lines);
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
