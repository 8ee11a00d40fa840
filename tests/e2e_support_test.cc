// The helpers that the end-to-end tests stand on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

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

  // Error merged into output: in the order written.
  RunOptions merged;
  merged.merge_error = true;
  const RunResult both = Shell("echo one; echo two >&2; echo three", merged);
  EXPECT_EQ(both.out, "one\ntwo\nthree\n");
  EXPECT_EQ(both.err, "");

  // On a terminal session: what the terminal showed, the answers typed at its prompts (the
  // echo off while a secret is asked), and the exit status.
  TerminalSession session(
      "/bin/sh",
      {"-c",
       "printf 'Name: '; read n; stty -echo; printf 'Secret: '; read s; stty echo; echo; "
       "echo \"hello $n, ${#s} letters\"; exit 4"},
      {});
  ASSERT_TRUE(session.WaitFor("Name: ")) << session.output();
  session.Send("bob\n");
  ASSERT_TRUE(session.WaitFor("Secret: ")) << session.output();
  EXPECT_FALSE(session.Echoes());
  session.Send("hidden\n");
  EXPECT_EQ(session.Wait(), 4) << session.output();
  EXPECT_TRUE(session.Echoes());
  EXPECT_THAT(session.output(), ::testing::HasSubstr("bob"));  // echoed as typed
  EXPECT_THAT(session.output(), ::testing::Not(::testing::HasSubstr("hidden")));
  EXPECT_THAT(session.Rest(), ::testing::HasSubstr("hello bob, 6 letters"));
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

  // Standard input on a terminal, the rest still captured: the text is typed into it.
  options.stdin_terminal = true;
  options.stdin_text = "yes\n";
  const RunResult typed = Shell(
      "[ -t 0 ] && echo in-tty; [ -t 1 ] || echo out-piped; read a; "
      "echo \"got $a\"",
      options);
  EXPECT_EQ(typed.exit_code, 0);
  EXPECT_EQ(typed.out, "in-tty\nout-piped\ngot yes\n");
}

TEST(E2eSupportTest, StopsAProgramThatRunsTooLong) {
  RunOptions options;
  options.timeout_seconds = 1;
  const RunResult run = Shell("sleep 30", options);
  EXPECT_TRUE(run.timed_out);
  EXPECT_EQ(run.exit_code, -1);
  EXPECT_EQ(run.signal, 9);

  // Stopped when the test says so, with the signal it chose, which the program sees.
  TempDir dir;
  const std::string mark = dir.Path("started");
  options.timeout_seconds = 20;
  Process process(
      "/bin/sh",
      {"-c", "trap 'echo stopped; exit 7' TERM; : > " + mark + "; while :; do sleep 0.01; done"},
      options);
  const auto started = std::chrono::steady_clock::now();
  const RunResult stopped = process.Wait([&] { return FileExists(mark); }, SIGTERM);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_FALSE(stopped.timed_out);
  EXPECT_EQ(stopped.exit_code, 7);
  EXPECT_EQ(stopped.out, "stopped\n");
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
