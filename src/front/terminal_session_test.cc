#include "front/terminal_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "front/batch_observer.h"
#include "front/main_window_model.h"
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
  std::vector<std::string> prompts;  // the text written on each answer's line before it
  bool ReadLine(std::string& line) override {
    const size_t line_start = output.find_last_of('\n');
    const size_t from = line_start == std::string::npos ? 0 : line_start + 1;
    prompts.push_back(output.substr(std::max(from, answered_at_)));
    return Answer(line);
  }
  bool ReadSecretLine(std::string_view prompt, std::string& line) override {
    prompts.emplace_back(prompt);
    return Answer(line);
  }
  void Write(std::string_view text) override { output += text; }

 private:
  size_t answered_at_ = 0;  // the length of the output at the last answer (never echoed)
  bool Answer(std::string& line) {
    answered_at_ = output.size();
    if (next >= lines.size()) return false;
    line = lines[next++];
    return true;
  }
};

TEST(TerminalSessionTest, AskFillsTheParametersOrLeavesThemOnCancel) {
  PresenterPlatform platform;
  std::istringstream in;
  std::ostringstream out;
  LineTerminal terminal;
  terminal.lines = {"f.txt", "srv", "usr", "pw", "D"};
  TerminalSession session(platform, "cubesec", terminal, in, out);
  RunParameters params;
  ASSERT_EQ(session.Ask(params, {}), InteractiveResult::kRun);
  EXPECT_EQ(params.command, Command::kDump);
  EXPECT_EQ(params.dump_file, "f.txt");
  EXPECT_EQ(params.password, "pw");
  EXPECT_TRUE(params.Complete());

  LineTerminal cancelling;
  cancelling.lines = {"f.txt", "srv", "usr", "pw", ""};
  TerminalSession second(platform, "cubesec", cancelling, in, out);
  RunParameters untouched;
  untouched.dump_file = "keep.txt";
  EXPECT_EQ(second.Ask(untouched, {}), InteractiveResult::kCancelled);
  EXPECT_EQ(untouched.dump_file, "keep.txt");
  EXPECT_EQ(untouched.command, Command::kNone);
}

TEST(TerminalSessionTest, AsksOnlyWhatTheCommandLineLeftEmptyInTheWindowsOrder) {
  const std::string dump = "Command (D = Dump Security, R = Restore Security, C = Reset Security, ";
  struct Case {
    const char* name;
    RunParameters given;
    std::vector<std::string> answers;
    std::vector<std::string> prompts;
    RunParameters expected;  // command, dump file, server, user, password
  };
  const Case cases[] = {
      {"nothing given",
       {},
       {"f.txt", "srv", "usr", "pw", "r"},
       {"Dump File: ", "Server: ", "User: ", "Password: ", dump + "Enter = Cancel): "},
       {Command::kRestore, "f.txt", "srv", "usr", "pw"}},
      {"a dump to a file of a server: Enter takes the dump",
       {Command::kDump, "x.txt", "demo", "", ""},
       {"usr", "pw", ""},
       {"User: ", "Password: ", dump + "Enter = Dump Security): "},
       {Command::kDump, "x.txt", "demo", "usr", "pw"}},
      {"a given password is kept, unseen and not asked",
       {Command::kNone, "", "demo", "admin", "given"},
       {"x.txt", "d"},
       {"Dump File: ", dump + "Enter = Cancel): "},
       {Command::kDump, "x.txt", "demo", "admin", "given"}},
      {"a reset asks for no dump file",
       {Command::kReset, "", "demo", "", ""},
       {"usr", "pw", ""},
       {"User: ", "Password: ", dump + "Enter = Reset Security): "},
       {Command::kReset, "", "demo", "usr", "pw"}},
      {"a dump chosen instead of the reset asks for its file, then the command again",
       {Command::kReset, "", "demo", "admin", ""},
       {"pw", "D", "late.txt", "d"},
       {"Password: ", dump + "Enter = Reset Security): ", "Dump File: ",
        dump + "Enter = Reset Security): "},
       {Command::kDump, "late.txt", "demo", "admin", "pw"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PresenterPlatform platform;
    std::istringstream in;
    std::ostringstream out;
    LineTerminal terminal;
    terminal.lines = c.answers;
    TerminalSession session(platform, "cubesec", terminal, in, out);
    RunParameters params = c.given;
    ASSERT_EQ(session.Ask(params, {}), InteractiveResult::kRun) << terminal.output;
    EXPECT_EQ(terminal.prompts, c.prompts) << terminal.output;
    EXPECT_EQ(terminal.next, c.answers.size());
    EXPECT_EQ(params.command, c.expected.command);
    EXPECT_EQ(params.dump_file, c.expected.dump_file);
    EXPECT_EQ(params.server, c.expected.server);
    EXPECT_EQ(params.user, c.expected.user);
    EXPECT_EQ(params.password, c.expected.password);
  }
}

TEST(TerminalSessionTest, BackAfterAFailedRunAsksTheFieldToMendThenThePassword) {
  PresenterPlatform platform;
  std::istringstream in;
  std::ostringstream out;
  LineTerminal terminal;
  terminal.lines = {"", "pw2", ""};
  TerminalSession session(platform, "cubesec", terminal, in, out);
  RunParameters params{Command::kRestore, "gone.txt", "srv", "usr", ""};
  FormRequest again;
  again.mend_field = MainWindowModel::kDumpFile;
  again.error = "Security Dump File (gone.txt) Not Found\r\nsecond line";
  ASSERT_EQ(session.Ask(params, again), InteractiveResult::kRun) << terminal.output;
  EXPECT_EQ(terminal.prompts,
            (std::vector<std::string>{"Dump File [gone.txt]: ", "Password: ",
                                      "Command (D = Dump Security, R = Restore Security, C = "
                                      "Reset Security, Enter = Restore Security): "}));
  // The error instead of the title and the help, its line ends those of the terminal.
  EXPECT_EQ(terminal.output.find("Security Dump File (gone.txt) Not Found\nsecond line\n\n"), 0u)
      << terminal.output;
  EXPECT_EQ(terminal.output.find("batch operation"), std::string::npos);
  EXPECT_EQ(params.command, Command::kRestore);
  EXPECT_EQ(params.dump_file, "gone.txt");
  EXPECT_EQ(params.password, "pw2");
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
  ASSERT_EQ(session.Ask(params, {}), InteractiveResult::kRun);
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
  session.ShowCompletion(Command::kDump, RunEnd::kCompleted, "/opt/cubesec/bin/cubesec.log");
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
  session.ShowCompletion(Command::kReset, RunEnd::kFailed, "/x/cubesec.log");
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
  EXPECT_EQ(CompletionText(Command::kRestore, RunEnd::kCompleted, "/l.log"),
            "Security restore completed.\nRun log: /l.log");
  EXPECT_EQ(CompletionText(Command::kDump, RunEnd::kFailed, "/l.log"),
            "Security dump did not complete.\nRun log: /l.log");
  EXPECT_EQ(CompletionText(Command::kReset, RunEnd::kDeclined, "/l.log"),
            "Security reset not confirmed: nothing was deleted.\nRun log: /l.log");
  EXPECT_EQ(CompletionText(Command::kDump, RunEnd::kCancelled, "/l.log"),
            "Security dump cancelled.\nRun log: /l.log");
  EXPECT_EQ(CompletionNote(Command::kRestore, RunEnd::kCancelled, "/l.log").icon,
            MessageBoxIcon::kInformation);

  // The windows' note: a failure is a warning, anything else is information.
  const MessageBoxRequest failed = CompletionNote(Command::kDump, RunEnd::kFailed, "/l.log");
  EXPECT_EQ(failed.title, "Security Dump");
  EXPECT_EQ(failed.text, "Security dump did not complete.\nRun log: /l.log");
  EXPECT_EQ(failed.icon, MessageBoxIcon::kExclamation);
  EXPECT_EQ(failed.buttons, MessageBoxButtons::kOk);
  EXPECT_EQ(CompletionNote(Command::kReset, RunEnd::kDeclined, "/l.log").icon,
            MessageBoxIcon::kInformation);

  // Every box of the windows says whose it is.
  EXPECT_EQ(BoxTitle("Reset Security", "cubesec"), "Reset Security - cubesec");
  EXPECT_EQ(BoxTitle("cubesec", "cubesec"), "cubesec");
  EXPECT_EQ(BoxTitle("", "cubesec"), "cubesec");
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
