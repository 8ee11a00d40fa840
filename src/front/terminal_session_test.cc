#include "front/terminal_session.h"

#include <gtest/gtest.h>

#include <sstream>

#include "front/session_texts.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

// Keeps the presenter that the session installs, so the test can use it.
class PresenterPlatform : public FakePlatform {
 public:
  MessageBoxPresenter* presenter = nullptr;
  int installs = 0;
  void SetMessageBoxPresenter(MessageBoxPresenter* p) override {
    presenter = p;
    ++installs;
  }
};

// Answers in order, all as plain lines but the password; records every write.
class LineTerminal : public TerminalIo {
 public:
  std::vector<std::string> lines;
  size_t next = 0;
  std::string output;
  bool ReadLine(std::string& line) override {
    if (next >= lines.size()) return false;
    line = lines[next++];
    return true;
  }
  bool ReadSecretLine(std::string_view, std::string& line) override { return ReadLine(line); }
  void Write(std::string_view text) override { output += text; }
};

TEST(TerminalSessionTest, AskFillsTheParametersOrLeavesThemOnCancel) {
  PresenterPlatform platform;
  std::istringstream in;
  std::ostringstream out;
  LineTerminal terminal;
  terminal.lines = {"f.txt", "srv", "usr", "pw", "D"};
  TerminalSession session(platform, "cubesec", terminal, in, out);
  RunParameters params;
  ASSERT_EQ(session.Ask(params), InteractiveResult::kRun);
  EXPECT_EQ(params.command, "D");
  EXPECT_EQ(params.dump_file, "f.txt");
  EXPECT_EQ(params.password, "pw");
  EXPECT_TRUE(params.Complete());

  LineTerminal cancelling;
  cancelling.lines = {"f.txt", "srv", "usr", "pw", ""};
  TerminalSession second(platform, "cubesec", cancelling, in, out);
  RunParameters untouched;
  untouched.dump_file = "keep.txt";
  EXPECT_EQ(second.Ask(untouched), InteractiveResult::kCancelled);
  EXPECT_EQ(untouched.dump_file, "keep.txt");
  EXPECT_EQ(untouched.command, "");
}

TEST(TerminalSessionTest, InstallsItsPresenterForTheRunAndRemovesItAfter) {
  PresenterPlatform platform;
  std::istringstream in("maybe\ny\n");
  std::ostringstream out;
  LineTerminal terminal;
  {
    TerminalSession session(platform, "cubesec", terminal, in, out);
    ASSERT_NE(platform.presenter, nullptr);
    MessageBoxRequest warning;
    warning.title = "Reset Security";
    warning.text = "ARE YOU SURE???";
    warning.buttons = MessageBoxButtons::kYesNo;
    warning.default_is_no = true;
    EXPECT_EQ(platform.presenter->Show(warning), MessageBoxAnswer::kYes);
    EXPECT_NE(out.str().find("Reset Security"), std::string::npos);
    EXPECT_NE(out.str().find("[y/N]"), std::string::npos);
  }
  EXPECT_EQ(platform.presenter, nullptr);
  EXPECT_EQ(platform.installs, 2);
}

TEST(TerminalSessionTest, ProgressIsOneRewrittenLineEndedBeforeTheCompletionNote) {
  PresenterPlatform platform;
  std::istringstream in;
  std::ostringstream out;
  LineTerminal terminal;
  terminal.lines = {"f.txt", "srv", "usr", "pw", "d"};
  TerminalSession session(platform, "cubesec", terminal, in, out);
  RunParameters params;
  ASSERT_EQ(session.Ask(params), InteractiveResult::kRun);
  terminal.output.clear();

  session.observer().OnBlock("Application", 9);
  session.observer().OnBlock("User", 10);
  session.observer().PumpEvents();
  session.ShowCompletion("D", RunEnd::kCompleted, "/opt/cubesec/bin/cubesec.log");
  EXPECT_EQ(terminal.output,
            "\rWriting Application (block 9)"
            "\rWriting User (block 10)      "
            "\nSecurity dump completed.\nRun log: /opt/cubesec/bin/cubesec.log\n");
}

TEST(TerminalSessionTest, CompletionWithoutProgressStartsNoEmptyLine) {
  PresenterPlatform platform;
  std::istringstream in;
  std::ostringstream out;
  LineTerminal terminal;
  TerminalSession session(platform, "cubesec", terminal, in, out);
  session.ShowCompletion("C", RunEnd::kFailed, "/x/cubesec.log");
  EXPECT_EQ(terminal.output, "Security reset did not complete.\nRun log: /x/cubesec.log\n");
}

TEST(SessionTextsTest, ProgressNamesTheDirectionTheBlockAndTheCount) {
  EXPECT_EQ(ProgressText("D", "Group", 3), "Writing Group (block 3)");
  EXPECT_EQ(ProgressText("R", "Group Access", 120), "Reading Group Access (block 120)");
  EXPECT_EQ(ProgressText("R", "%2", 1), "Reading %2 (block 1)");
  EXPECT_EQ(CompletionText("R", RunEnd::kCompleted, "/l.log"),
            "Security restore completed.\nRun log: /l.log");
  EXPECT_EQ(CompletionText("D", RunEnd::kFailed, "/l.log"),
            "Security dump did not complete.\nRun log: /l.log");
  EXPECT_EQ(CompletionText("C", RunEnd::kDeclined, "/l.log"),
            "Security reset not confirmed: nothing was deleted.\nRun log: /l.log");

  // The windows' note: a failure is a warning, anything else is information.
  const MessageBoxRequest failed = CompletionNote("D", RunEnd::kFailed, "/l.log");
  EXPECT_EQ(failed.title, "Security Dump");
  EXPECT_EQ(failed.text, "Security dump did not complete.\nRun log: /l.log");
  EXPECT_EQ(failed.icon, MessageBoxIcon::kExclamation);
  EXPECT_EQ(failed.buttons, MessageBoxButtons::kOk);
  EXPECT_EQ(CompletionNote("C", RunEnd::kDeclined, "/l.log").icon, MessageBoxIcon::kInformation);
}

}  // namespace
}  // namespace cubesec
