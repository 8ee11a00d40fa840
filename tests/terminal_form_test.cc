// The terminal form of the built program, driven through a pseudo-terminal as a user at
// the keyboard would: the prompts, the defaults from the client settings, the password
// that is never echoed, the command, and the run that follows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "support/e2e.h"

namespace cubesec::e2e {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class TerminalFormRunTest : public ::testing::Test {
 protected:
  TerminalFormRunTest() {
    box_.LoadFixture("demo", "examples/demo-server.json");
    // The client's settings: the defaults of the server and user fields.
    WriteFile(box_.Path("essbase.ini"), "[Login]\r\nServer=demo\r\nUser=admin\r\n");
    box_.env()["WINDIR"] = box_.dir().path();
  }
  std::unique_ptr<TerminalSession> Start(const std::vector<std::string>& args = {}) {
    return std::make_unique<TerminalSession>(box_.cubesec(), args, box_.Options());
  }
  // Answers the four field prompts: Enter keeps the default.
  void FillFields(TerminalSession& form, const std::string& dump_file,
                  const std::string& password) {
    ASSERT_TRUE(form.WaitFor("Dump File [demo.DAT]: ")) << form.output();
    form.Send(dump_file + "\n");
    ASSERT_TRUE(form.WaitFor("Server [demo]: ")) << form.output();
    form.Send("\n");
    ASSERT_TRUE(form.WaitFor("User [admin]: ")) << form.output();
    form.Send("\n");
    ASSERT_TRUE(form.WaitFor("Password: ")) << form.output();
    EXPECT_FALSE(form.Echoes()) << "the password prompt must not echo";
    form.Send(password + "\n");
    ASSERT_TRUE(form.WaitFor("Command (")) << form.output();
    EXPECT_TRUE(form.Echoes()) << "the echo must be back after the password";
  }

  Sandbox box_;
};

TEST_F(TerminalFormRunTest, CompletesADumpWithDefaultsAndAnUnseenPassword) {
  auto form = Start();
  ASSERT_TRUE(form->WaitFor("This utility supports batch operation via:")) << form->output();
  ASSERT_TRUE(
      form->WaitFor("Dump Security: cubesec  /Ddumpfile /Sservername /Uusername /Ppassword"));
  FillFields(*form, "form.txt", "demo-password");
  form->Send("d\n");
  ASSERT_EQ(form->Wait(), 0) << form->output();

  EXPECT_THAT(form->output(), HasSubstr("Security dump completed.\r\nRun log: " + box_.LogPath()));
  EXPECT_THAT(form->output(), Not(HasSubstr("demo-password")));
  EXPECT_THAT(box_.Log(), HasSubstr("\tCreating security dump of demo to form.txt\r\n"));
  EXPECT_THAT(box_.Log(), HasSubstr("\tCompleted security dump of demo to form.txt\r\n"));

  // The same dump in batch, without any display or terminal, writes the same file.
  const RunResult batch = box_.Cubesec({"/Dbatch.txt", "/Sdemo", "/Uadmin", "/Pdemo-password"});
  ASSERT_EQ(batch.exit_code, 0) << batch.err;
  EXPECT_EQ(ReadFile(box_.Path("form.txt")), ReadFile(box_.Path("batch.txt")));
}

TEST_F(TerminalFormRunTest, ABatchRunWithoutPasswordAsksForItWithoutEcho) {
  // Lacking only the password, and with "--password-file -" typed at the terminal.
  const std::vector<std::vector<std::string>> command_lines = {
      {"/Dasked.txt", "/Sdemo", "/Uadmin"},
      {"--dump", "piped.txt", "--server", "demo", "--user", "admin", "--password-file", "-"}};
  for (const std::vector<std::string>& args : command_lines) {
    auto run = Start(args);
    ASSERT_TRUE(run->WaitFor("Password for admin on demo: ")) << run->output();
    EXPECT_FALSE(run->Echoes()) << "the password prompt must not echo";
    run->Send("demo-password\n");
    EXPECT_EQ(run->Wait(), 0) << run->output();
    EXPECT_THAT(run->output(), Not(HasSubstr("demo-password")));
    EXPECT_THAT(run->output(), Not(HasSubstr("Command (")));  // no form: a batch run
  }
  EXPECT_TRUE(FileExists(box_.Path("asked.txt")));
  EXPECT_TRUE(FileExists(box_.Path("piped.txt")));

  // Nothing typed: said, and nothing run.
  std::filesystem::remove(box_.LogPath());
  auto empty = Start(command_lines[0]);
  ASSERT_TRUE(empty->WaitFor("Password for admin on demo: ")) << empty->output();
  empty->Send("\n");
  EXPECT_EQ(empty->Wait(), 2) << empty->output();
  EXPECT_THAT(empty->output(), HasSubstr("no password was typed; nothing was run"));
  EXPECT_FALSE(FileExists(box_.LogPath()));
}

// How often the output shows a progress line of one of a run's phases.
int ProgressShowings(const std::string& output) {
  int showings = 0;
  for (const char* phase : {"\rgroups ", "\rusers ", "\rapplications ", "\rblocks "}) {
    for (size_t at = output.find(phase); at != std::string::npos; at = output.find(phase, at + 1)) {
      ++showings;
    }
  }
  return showings;
}

TEST_F(TerminalFormRunTest, ABatchRunShowsOneProgressLineAndWipesItBeforeTheSummary) {
  // Slow calls, as over a network, so that the run lasts long enough to show progress.
  box_.env()["CUBESEC_SIM_LATENCY_US"] = "5000";
  const std::vector<std::string> login = {"--server", "demo", "--user", "admin", "/Pdemo-password"};
  std::vector<std::string> dump = {"--dump", "slow.txt"};
  dump.insert(dump.end(), login.begin(), login.end());
  const auto started = std::chrono::steady_clock::now();
  auto run = Start(dump);
  ASSERT_EQ(run->Wait(), 0) << run->output();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const std::string& output = run->output();
  const int showings = ProgressShowings(output);
  EXPECT_GE(showings, 1) << output;
  // Paced by the clock, a few times a second, however many items went by.
  EXPECT_LE(showings, static_cast<int>(seconds * 4) + 1) << seconds << " s: " << output;
  // The last showing is wiped with blanks, and the summary starts where it stood.
  EXPECT_THAT(output, ::testing::ContainsRegex("\r +\rDumped the security of demo to slow.txt"))
      << output;

  // A restore counts the blocks of the file it checked.
  std::vector<std::string> restore = {"--restore", "slow.txt"};
  restore.insert(restore.end(), login.begin(), login.end());
  auto restoring = Start(restore);
  ASSERT_EQ(restoring->Wait(), 0) << restoring->output();
  EXPECT_THAT(restoring->output(), ::testing::ContainsRegex("\rblocks [0-9]+/53 "))
      << restoring->output();

  // --quiet: no progress line and no summary.
  dump.push_back("--quiet");
  auto quiet = Start(dump);
  ASSERT_EQ(quiet->Wait(), 0) << quiet->output();
  EXPECT_EQ(quiet->output(), "");

  // Standard error that is no terminal gets no progress line; the summary stays.
  const RunResult piped = box_.Cubesec(restore);
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.err, "");
  EXPECT_THAT(piped.out, HasSubstr("Restored the security of demo from slow.txt"));
}

TEST_F(TerminalFormRunTest, VerboseShowsEachRunLogLineButNoTemporaryPassword) {
  const std::vector<std::string> login = {"--server", "copy", "--user", "admin", "/Pdemo-password"};
  ASSERT_EQ(box_.Cubesec({"/Ddemo.txt", "/Sdemo", "/Uadmin", "/Pdemo-password"}).exit_code, 0);
  box_.LoadFixture("copy", "examples/demo-server.json");
  std::vector<std::string> reset = {"--reset", "--yes"};
  reset.insert(reset.end(), login.begin(), login.end());
  ASSERT_EQ(box_.Cubesec(reset).exit_code, 0);

  // Standard error is a pipe here, as in a scheduled job: the lines, and no progress line.
  std::vector<std::string> restore = {"--restore", "demo.txt", "--verbose"};
  restore.insert(restore.end(), login.begin(), login.end());
  const RunResult run = box_.Cubesec(restore);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::string log = box_.Log();
  const size_t created = log.find("\tCreated user 'jsmith' with temporary password '");
  ASSERT_NE(created, std::string::npos) << log;
  const std::string password =
      log.substr(created + 48, log.find('\'', created + 48) - created - 48);
  ASSERT_GE(password.size(), 16u) << password;
  EXPECT_THAT(run.err, HasSubstr("\tRestoring security of copy from demo.txt\n"));
  EXPECT_THAT(run.err, HasSubstr("\tCreated user 'jsmith' with a temporary password (in the run "
                                 "log)\n"));
  EXPECT_THAT(run.err, HasSubstr("\tCompleted security Restore of copy from demo.txt\n"));
  EXPECT_THAT(run.err, Not(HasSubstr(password)));
  EXPECT_THAT(run.err, Not(HasSubstr("\r")));
  EXPECT_THAT(run.out, HasSubstr("Restored the security of copy from demo.txt"));
}

TEST_F(TerminalFormRunTest, CommandLineFileNameIsTheDefaultAndAnEmptyCommandCancels) {
  // No "/" on the command line: the arguments are the dump file name, which is not asked
  // again.
  auto form = Start({"given.txt"});
  ASSERT_TRUE(form->WaitFor("Server [demo]: ")) << form->output();
  EXPECT_THAT(form->output(), Not(HasSubstr("Dump File")));
  form->Send("\n\n");
  ASSERT_TRUE(form->WaitFor("Password: ")) << form->output();
  form->Send("demo-password\n");
  ASSERT_TRUE(form->WaitFor("Command (")) << form->output();
  form->Send("\n");
  EXPECT_EQ(form->Wait(), 0) << form->output();
  EXPECT_THAT(form->Rest(), HasSubstr("Cancelled: nothing was run."));  // not silently
  EXPECT_FALSE(FileExists(box_.Path("given.txt")));
  EXPECT_FALSE(FileExists(box_.LogPath())) << "a cancelled form leaves no run log";

  // A command and a server on the command line, and no default user: only the user and the
  // password are asked, and Enter takes the command line's dump.
  WriteFile(box_.Path("essbase.ini"), "[Login]\r\nServer=demo\r\n");
  auto dump = Start({"/Dasked.txt", "/Sdemo"});
  ASSERT_TRUE(dump->WaitFor("User: ")) << dump->output();
  EXPECT_THAT(dump->output(), Not(HasSubstr("Dump File")));
  EXPECT_THAT(dump->output(), Not(HasSubstr("Server")));
  dump->Send("admin\n");
  ASSERT_TRUE(dump->WaitFor("Password: ")) << dump->output();
  dump->Send("demo-password\n");
  ASSERT_TRUE(dump->WaitFor("Enter = Dump Security): ")) << dump->output();
  dump->Send("\n");
  EXPECT_EQ(dump->Wait(), 0) << dump->output();
  EXPECT_TRUE(FileExists(box_.Path("asked.txt")));
}

TEST_F(TerminalFormRunTest, AFailedRunShowsItsErrorOnTheTerminal) {
  auto form = Start();
  FillFields(*form, "form.txt", "wrong-password");
  form->Send("D\n");
  // A refused login changed nothing: the form is back, the error shown, and only the
  // password is asked again; Enter then takes the dump that was chosen.
  ASSERT_TRUE(form->WaitFor("Essbase Error calling EsbLogin")) << form->output();
  ASSERT_TRUE(form->WaitFor("Password: ")) << form->output();
  EXPECT_FALSE(form->Echoes());
  EXPECT_THAT(form->output(), Not(HasSubstr("did not complete")));
  form->Send("demo-password\n");
  ASSERT_TRUE(form->WaitFor("Enter = Dump Security): ")) << form->output();
  form->Send("\n");
  EXPECT_EQ(form->Wait(), 0) << form->output();
  EXPECT_THAT(form->output(), HasSubstr("Security dump completed."));
  EXPECT_TRUE(FileExists(box_.Path("form.txt")));
  EXPECT_THAT(box_.Log(), HasSubstr("Error: 99 - Essbase Error calling EsbLogin"));

  // A restore of a file that is not there goes back to the dump file, with its name as the
  // default; ending the input there ends the program as the failed run left it.
  auto restore = Start();
  FillFields(*restore, "missing.txt", "demo-password");
  restore->Send("r\n");
  ASSERT_TRUE(restore->WaitFor("Security Dump File (missing.txt) Not Found")) << restore->output();
  ASSERT_TRUE(restore->WaitFor("Dump File [missing.txt]: ")) << restore->output();
  restore->Send("\x04");  // Ctrl+D: the end of input
  EXPECT_EQ(restore->Wait(), 1) << restore->output();
  EXPECT_THAT(restore->output(), Not(HasSubstr("did not complete")));
}

TEST_F(TerminalFormRunTest, AnInterruptAtThePasswordLeavesTheEchoOn) {
  auto form = Start();
  for (const char* prompt : {"Dump File [demo.DAT]: ", "Server [demo]: ", "User [admin]: "}) {
    ASSERT_TRUE(form->WaitFor(prompt)) << form->output();
    form->Send("\n");
  }
  ASSERT_TRUE(form->WaitFor("Password: ")) << form->output();
  ASSERT_FALSE(form->Echoes());
  form->Send("half");
  form->Send("\x03");  // Ctrl+C: the terminal interrupts the program
  EXPECT_EQ(form->Wait(), 128 + SIGINT) << form->output();
  EXPECT_TRUE(form->Echoes());
  EXPECT_FALSE(FileExists(box_.LogPath()));
}

TEST_F(TerminalFormRunTest, ADisplayThatCannotBeOpenedLeavesTheTerminalForm) {
#ifdef CUBESEC_QT_MODULE_BIN
  // The window module where the package puts it, relative to the program.
  const std::filesystem::path module = box_.Path("bin/" CUBESEC_QT_MODULE_FROM_BIN);
  std::filesystem::create_directories(module.parent_path());
  std::filesystem::create_symlink(CUBESEC_QT_MODULE_BIN, module);
  const std::string note = "cubesec: the window cannot be shown: cannot open X display \":9797\"";
#else
  const std::string note = "This utility supports batch operation via:";
#endif
  box_.env()["DISPLAY"] = ":9797";
  auto form = Start();
  ASSERT_TRUE(form->WaitFor(note)) << form->output();
  FillFields(*form, "form.txt", "demo-password");
  form->Send("\n");
  EXPECT_EQ(form->Wait(), 0) << form->output() << "\nthe program must not abort";

  // Without a terminal either, nothing can be asked: a usage error, not an abort.
  const RunResult batch = box_.Cubesec({"/Sdemo"});
  EXPECT_EQ(batch.exit_code, 2) << batch.err;
  EXPECT_EQ(batch.signal, 0);
  EXPECT_THAT(batch.err, HasSubstr("No command provided")) << batch.err;
}

// The names of the users and groups that the simulated server holds now.
std::vector<std::string> Names(Sandbox& box, const char* kind) {
  std::vector<std::string> names;
  const nlohmann::json server = nlohmann::json::parse(box.Export("demo"));
  for (const auto& entry : server.at(kind)) {
    names.push_back(entry.at("name").get<std::string>());
  }
  return names;
}

TEST_F(TerminalFormRunTest, CIsTheResetAndItsWarningIsAnsweredOnTheTerminal) {
  const size_t users_before = Names(box_, "users").size();
  ASSERT_GT(users_before, 1u);
  {
    auto form = Start();
    FillFields(*form, "", "demo-password");
    form->Send("c\n");
    ASSERT_TRUE(form->WaitFor("Reset Security")) << form->output();
    ASSERT_TRUE(form->WaitFor("ARE YOU SURE???")) << form->output();
    ASSERT_TRUE(form->WaitFor("[y/N] ")) << form->output();
    form->Send("\n");  // the default is No
    // Nothing was deleted: the form is back, with the password to type again.
    ASSERT_TRUE(form->WaitFor("Security reset not confirmed; nothing was deleted."))
        << form->output();
    ASSERT_TRUE(form->WaitFor("Password: ")) << form->output();
    form->Send("\x04");
    EXPECT_EQ(form->Wait(), 1) << form->output();
    EXPECT_EQ(Names(box_, "users").size(), users_before);
  }
  auto form = Start();
  FillFields(*form, "", "demo-password");
  form->Send("C\n");
  ASSERT_TRUE(form->WaitFor("[y/N] ")) << form->output();
  form->Send("y\n");
  EXPECT_EQ(form->Wait(), 0) << form->output();
  EXPECT_THAT(form->output(), HasSubstr("Security reset completed."));
  EXPECT_EQ(Names(box_, "users"), std::vector<std::string>{"admin"});
  EXPECT_TRUE(Names(box_, "groups").empty());
}

}  // namespace
}  // namespace cubesec::e2e
