// The helpers that the end-to-end tests stand on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/e2e.h"

namespace cubesec::e2e {
namespace {

RunResult Shell(const std::string& script, const RunOptions& options = {}) {
  return RunProgram("/bin/sh", {"-c", script}, options);
}

TEST(E2eSupportTest, CapturesOutputErrorAndExitStatus) {
  const RunResult run = Shell("echo out; echo err >&2; exit 3");
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.out, "out\n");
  EXPECT_EQ(run.err, "err\n");
  EXPECT_FALSE(run.timed_out);
}

TEST(E2eSupportTest, PassesArgumentsWithoutAShellAndOnlyTheGivenEnvironment) {
  RunOptions options;
  options.env = {{"ONLY", "this"}};
  const RunResult run = RunProgram("/usr/bin/env", {}, options);
  EXPECT_EQ(run.out, "ONLY=this\n");
  const RunResult args = RunProgram("/bin/echo", {"a  b", "$HOME", "*"}, {});
  EXPECT_EQ(args.out, "a  b $HOME *\n");
}

TEST(E2eSupportTest, FeedsStandardInputAndWorkingFolder) {
  TempDir dir;
  RunOptions options;
  options.stdin_text = "line one\nline two\n";
  options.cwd = dir.path();
  const RunResult run = Shell("cat; pwd", options);
  EXPECT_EQ(run.out, "line one\nline two\n" + dir.path() + "\n");
}

TEST(E2eSupportTest, StopsAProgramThatRunsTooLong) {
  RunOptions options;
  options.timeout_seconds = 1;
  const RunResult run = Shell("sleep 30", options);
  EXPECT_TRUE(run.timed_out);
  EXPECT_EQ(run.exit_code, -1);
  EXPECT_EQ(run.signal, 9);
}

TEST(E2eSupportTest, SandboxHasItsOwnProgramCopyAndIsRemoved) {
  std::string root;
  {
    Sandbox box;
    root = box.dir().path();
    EXPECT_TRUE(FileExists(box.cubesec()));
    EXPECT_NE(box.cubesec(), CubesecBinary());
    EXPECT_EQ(box.LogPath(), root + "/bin/cubesec.log");
    EXPECT_EQ(box.env().at("CUBESEC_SIM_DIR"), box.sim_dir());
    EXPECT_EQ(box.Log(), "");
  }
  EXPECT_FALSE(FileExists(root));
}

TEST(E2eSupportTest, FailedFixtureLoadNamesTheProblem) {
  Sandbox box;
  WriteFile(box.Path("bad.json"), "{\"users\": 5}");
  EXPECT_THROW(box.LoadFixture("bad", box.Path("bad.json")), std::runtime_error);
}

}  // namespace
}  // namespace cubesec::e2e
