#include "front/terminal_session.h"

#include <gtest/gtest.h>

#include <sstream>

#include "front/batch_observer.h"
#include "front/session_texts.h"
#include "front/terminal_io.h"
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

TEST(TerminalSessionTest, ProgressIsOneRewrittenLineWipedBeforeTheCompletionNote) {
  PresenterPlatform platform;
  std::istringstream in;
  std::ostringstream out;
  LineTerminal terminal;
  terminal.lines = {"f.txt", "srv", "usr", "pw", "d"};
  TerminalSession session(platform, "cubesec", terminal, in, out);
  RunParameters params;
  ASSERT_EQ(session.Ask(params), InteractiveResult::kRun);
  terminal.output.clear();

  // Shown a few times a second by the clock, not once per item.
  RunObserver& observer = session.observer();
  observer.OnProgress({"users", 1, 1005, {}});  // too soon after the start: not shown
  platform.steady_ms += TerminalProgressLine::kIntervalMs;
  observer.OnProgress({"users", 340, 1005, {}});
  for (int user = 341; user <= 1005; ++user) {
    platform.steady_ms += 1;
    observer.OnProgress({"users", user, 1005, {}});
  }
  platform.steady_ms += TerminalProgressLine::kIntervalMs;
  observer.OnProgress({"applications", 2, 5, "Sample:Basic"});
  platform.steady_ms += TerminalProgressLine::kIntervalMs;
  observer.OnProgress({"applications", 3, 5, "Zoo"});
  observer.PumpEvents();
  session.ShowCompletion("D", RunEnd::kCompleted, "/opt/cubesec/bin/cubesec.log");
  EXPECT_EQ(terminal.output,
            "\rusers 340/1,005"
            "\rusers 590/1,005"  // 665 reports over 665 ms: two more showings
            "\rusers 840/1,005"
            "\rapplications 2/5 Sample:Basic"
            "\rapplications 3/5 Zoo         "
            "\r                    \r"
            "Security dump completed.\nRun log: /opt/cubesec/bin/cubesec.log\n");
}

TEST(TerminalSessionTest, ProgressLineHoldsNoControlCharacterAndFitsEightyColumns) {
  FakePlatform platform;
  LineTerminal terminal;
  TerminalProgressLine line(platform, terminal);
  platform.steady_ms = TerminalProgressLine::kIntervalMs;
  // A server's name with an escape sequence, a tab, and non-ASCII letters past the width.
  const std::string item = "\x1b[31mred\tapp:" + std::string(100, 'x') + "\xc3\xa9\xc3\xa9";
  line.OnProgress({"applications", 1, 2, item});
  ASSERT_FALSE(terminal.output.empty());
  EXPECT_EQ(terminal.output.find('\x1b'), std::string::npos) << terminal.output;
  EXPECT_EQ(terminal.output.find('\t'), std::string::npos) << terminal.output;
  EXPECT_EQ(terminal.output, "\r" + std::string("applications 1/2 \\x1B[31mred app:") +
                                 std::string(TerminalProgressLine::kWidth - 33, 'x'));

  // Within the width, a UTF-8 letter is never cut in two.
  terminal.output.clear();
  platform.steady_ms += TerminalProgressLine::kIntervalMs;
  line.OnProgress({"applications", 2, 2, std::string(61, 'y') + "\xc3\xa9\xc3\xa9"});
  EXPECT_EQ(terminal.output, "\rapplications 2/2 " + std::string(61, 'y') + "\xc3\xa9");
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

TEST(SessionTextsTest, ProgressNamesThePhaseTheCountAndTheItem) {
  EXPECT_EQ(ProgressText({"users", 340, 1005, {}}), "users 340/1,005");
  EXPECT_EQ(ProgressText({"applications", 12, 20, "Sample:Basic"}),
            "applications 12/20 Sample:Basic");
  EXPECT_EQ(ProgressText({"blocks", 1234567, 0, "Group Access"}), "blocks 1,234,567 Group Access");
  EXPECT_EQ(ProgressText({"blocks", 1, 1, "%2"}), "blocks 1/1 %2");
  EXPECT_EQ(GroupedNumber(0), "0");
  EXPECT_EQ(GroupedNumber(999), "999");
  EXPECT_EQ(GroupedNumber(1000), "1,000");
  EXPECT_EQ(GroupedNumber(-12345), "-12,345");
  // The bar: the items before the one at hand are done.
  EXPECT_EQ(ProgressPercent({"users", 1, 4, {}}), 0);
  EXPECT_EQ(ProgressPercent({"users", 3, 4, {}}), 50);
  EXPECT_EQ(ProgressPercent({"users", 9, 4, {}}), 100);
  EXPECT_EQ(ProgressPercent({"blocks", 7, 0, {}}), 0);
  EXPECT_EQ(CompletionText("R", RunEnd::kCompleted, "/l.log"),
            "Security restore completed.\nRun log: /l.log");
  EXPECT_EQ(CompletionText("D", RunEnd::kFailed, "/l.log"),
            "Security dump did not complete.\nRun log: /l.log");
  EXPECT_EQ(CompletionText("C", RunEnd::kDeclined, "/l.log"),
            "Security reset not confirmed: nothing was deleted.\nRun log: /l.log");
  EXPECT_EQ(CompletionText("D", RunEnd::kCancelled, "/l.log"),
            "Security dump cancelled.\nRun log: /l.log");
  EXPECT_EQ(CompletionNote("R", RunEnd::kCancelled, "/l.log").icon, MessageBoxIcon::kInformation);

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

namespace cubesec {
namespace {

TEST(BatchObserverTest, VerboseLinesWipeTheProgressLineAndShowNoSecretOrControlCharacter) {
  FakePlatform platform;
  LineTerminal err;
  BatchObserver observer(platform, err, /*progress=*/true, /*verbose=*/true);
  platform.steady_ms = TerminalProgressLine::kIntervalMs;
  observer.OnProgress({"blocks", 3, 9, "User"});
  observer.OnLogLine("\tCreated user 'bob' with a temporary password (in the run log)");
  observer.OnLogLine("when\tCompleted security Restore of x from \x1b[2Jy.txt\r\n");
  platform.steady_ms += TerminalProgressLine::kIntervalMs;
  observer.OnProgress({"blocks", 9, 9, "End"});
  observer.Finish();
  EXPECT_EQ(err.output,
            "\rblocks 3/9 User\r               \r"
            "\tCreated user 'bob' with a temporary password (in the run log)\n"
            "when\tCompleted security Restore of x from \\x1B[2Jy.txt\n\n"
            "\rblocks 9/9 End\r              \r");

  // Without a terminal (or with --quiet) no progress line; without --verbose no log lines.
  LineTerminal quiet;
  BatchObserver lines_only(platform, quiet, /*progress=*/false, /*verbose=*/true);
  platform.steady_ms += TerminalProgressLine::kIntervalMs;
  lines_only.OnProgress({"users", 1, 2, {}});
  lines_only.OnLogLine("a line");
  lines_only.Finish();
  EXPECT_EQ(quiet.output, "a line\n");
  LineTerminal progress;
  BatchObserver progress_only(platform, progress, /*progress=*/true, /*verbose=*/false);
  platform.steady_ms += TerminalProgressLine::kIntervalMs;
  progress_only.OnLogLine("a line");
  progress_only.OnProgress({"users", 1, 2, {}});
  progress_only.Finish();
  EXPECT_EQ(progress.output, "\rusers 1/2\r         \r");
}

}  // namespace
}  // namespace cubesec
