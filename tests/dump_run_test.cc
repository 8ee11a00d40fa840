// Dump runs of the built program: its exit status, its messages, its run log and the calls it
// makes when something goes wrong.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/e2e.h"
#include "tools/text.h"

namespace cubesec::e2e {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const std::vector<std::string> kDumpArgs = {"/Ddump.txt", "/SApps", "/Uadmin", "/Padmin-pass"};

class DumpRunTest : public ::testing::Test {
 protected:
  DumpRunTest() { box_.LoadFixture("apps", "tests/fixtures/dump/apps.json"); }
  Sandbox box_;
};

TEST_F(DumpRunTest, CompletedRunLogsItsStartAndEnd) {
  const RunResult run = box_.Cubesec(kDumpArgs);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.err, IsEmpty());
  EXPECT_EQ(box_.Log(),
            "2026-12-01 12:00:00\tCreating security dump of Apps to dump.txt\r\n"
            "2026-12-01 12:00:00\tCompleted security dump of Apps to dump.txt\r\n\r\n");
  // A Windows build keeps others out by the file's access list, which its own platform test
  // checks; the mode bits an emulator shows for it say nothing.
  if (TestingWindowsPrograms()) return;
  struct stat info {};
  ASSERT_EQ(stat(box_.LogPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(DumpRunTest, EachRunKeepsThePreviousDumpsAsBackups) {
  WriteFile(box_.Path("dump.txt"), "first\r\n");
  ASSERT_EQ(box_.Cubesec(kDumpArgs).exit_code, 0);
  ASSERT_EQ(box_.Cubesec(kDumpArgs).exit_code, 0);
  EXPECT_EQ(ReadFile(box_.Path("dump.bak2.txt")), "first\r\n");
  EXPECT_EQ(ReadFile(box_.Path("dump.bak.txt")), ReadFile(box_.Path("dump.txt")));
  EXPECT_THAT(ReadFile(box_.Path("dump.txt")), StartsWith("Server: Apps\r\n"));
}

TEST_F(DumpRunTest, FailedCallInTheMiddleKeepsTheLinesBeforeAsIncompleteAndReleasesTheServer) {
  box_.env()["CUBESEC_SIM_TRACE"] = box_.Path("trace.txt");
  box_.env()["CUBESEC_SIM_FAULTS"] = "EsbGetUser#2=1051012";
  // One session: the second user read is then the second user's (with several sessions the
  // users' reads come in an order left to chance; DumpSessionsTest fails them all).
  std::vector<std::string> args = kDumpArgs;
  args.insert(args.end(), {"--sessions", "1"});
  const RunResult run = box_.Cubesec(args);
  EXPECT_EQ(run.exit_code, 1);
  const std::string error = "Error: 99 - Essbase Error calling EsbGetUser (ref=1051012)";
  EXPECT_THAT(run.err, HasSubstr(error));
  EXPECT_THAT(box_.Log(), EndsWith("\t" + error + "\r\nInjected fault\r\n\r\n"));
  EXPECT_THAT(box_.Log(), ::testing::Not(HasSubstr("Completed")));

  // No dump file is made; the incomplete one holds everything up to the block of the first
  // user, whose read succeeded.
  EXPECT_FALSE(FileExists(box_.Path("dump.txt")));
  const std::string expected = ReadFile(SourcePath("tests/fixtures/dump/apps.expected.txt"));
  const std::string before = expected.substr(0, expected.find("User: amy"));
  EXPECT_EQ(ReadFile(box_.Path("dump.incomplete.txt")), ReplaceAll(before, "\n", "\r\n"));

  const std::vector<std::string> trace = Lines(ReadFile(box_.Path("trace.txt")));
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[trace.size() - 2], "EsbLogout 0");
  EXPECT_EQ(trace.back(), "EsbTerm 0");
  EXPECT_THAT(trace, ::testing::Contains("EsbGetUser 1051012"));
}

// A generated server of ten applications and twenty databases, dumped with one session and
// with several: the file and the run log are the same whatever their number, also when every
// database fails, and every session logs out.
TEST(DumpSessionsTest, SessionsGiveTheFileAndTheLogOfOneSession) {
  Sandbox box;
  const std::string password = box.Generate("gen", {});
  box.env()["CUBESEC_SIM_TRACE"] = box.Path("trace.txt");
  struct Outcome {
    int exit_code = 0;
    std::string file, log;
    int logouts = 0, terms = 0;
  };
  const auto dump = [&](const std::string& sessions, const std::string& faults) {
    box.env()["CUBESEC_SIM_FAULTS"] = faults;
    std::remove(box.Path("trace.txt").c_str());
    const std::string before = FileExists(box.LogPath()) ? box.Log() : "";
    const RunResult run = box.Cubesec({"--dump", "dump-" + sessions + ".txt", "--server", "gen",
                                       "--user", "admin", "/P" + password, "--sessions", sessions});
    Outcome outcome;
    outcome.exit_code = run.exit_code;
    const std::string file = box.Path("dump-" + sessions + ".txt");
    outcome.file = FileExists(file) ? ReadFile(file) : run.err;
    outcome.log = ReplaceAll(box.Log().substr(before.size()), "dump-" + sessions, "dump-N");
    for (const std::string& line : Lines(ReadFile(box.Path("trace.txt")))) {
      outcome.logouts += line == "EsbLogout 0";
      outcome.terms += line == "EsbTerm 0";
    }
    return outcome;
  };
  const auto date_made_apart = [](std::string file) {
    const size_t at = file.find("Date Made: ");
    return at == std::string::npos ? file : file.erase(at, file.find('\r', at) - at);
  };

  const Outcome one = dump("1", "");
  ASSERT_EQ(one.exit_code, 0) << one.log;
  for (const std::string sessions : {"4", "8"}) {
    const Outcome many = dump(sessions, "");
    ASSERT_EQ(many.exit_code, 0) << many.log;
    EXPECT_EQ(date_made_apart(many.file), date_made_apart(one.file)) << sessions;
    EXPECT_EQ(many.log, one.log) << sessions;
    EXPECT_EQ(many.logouts, std::stoi(sessions));
    EXPECT_EQ(many.terms, std::stoi(sessions));
  }

  // Every database's state read fails, or every user's read (the users are several
  // sessions' units too): which session fails first is left to chance, the file and the
  // error are those of the first database, or user, in the file.
  const auto every = [](const std::string& call, int times) {
    std::string faults;
    for (int n = 1; n <= times; ++n) {
      faults += (n > 1 ? "," : "") + call + "#" + std::to_string(n) + "=1099999";
    }
    return faults;
  };
  for (const auto& [call, faults] : {std::pair<std::string, std::string>{
                                         "EsbGetDatabaseState", every("EsbGetDatabaseState", 20)},
                                     {"EsbGetUser", every("EsbGetUser", 40)}}) {
    SCOPED_TRACE(call);
    const Outcome failed_one = dump("1", faults);
    ASSERT_EQ(failed_one.exit_code, 1);
    EXPECT_THAT(failed_one.log, HasSubstr(call + " (ref=1099999)"));
    for (int round = 0; round < 3; ++round) {
      const Outcome failed = dump("4", faults);
      EXPECT_EQ(failed.exit_code, 1);
      EXPECT_EQ(date_made_apart(failed.file), date_made_apart(failed_one.file));
      EXPECT_EQ(failed.log, failed_one.log);
      EXPECT_EQ(failed.logouts, 4);
      EXPECT_EQ(failed.terms, 4);
    }
  }
}

TEST_F(DumpRunTest, SessionsOutsideOneToSixteenAreASyntaxError) {
  for (const char* sessions : {"0", "17", "x", "", "-1", "4a"}) {
    const RunResult run = box_.Cubesec(
        {"/Ddump.txt", "/SApps", "/Uadmin", "/Padmin-pass", std::string("--sessions=") + sessions});
    EXPECT_EQ(run.exit_code, 2) << sessions;
    EXPECT_THAT(run.err, HasSubstr("--sessions takes a whole number from 1 to 16")) << sessions;
  }
}

// The number of blocks of a dump file: its head lines.
size_t HeadLines(const std::string& dump) {
  size_t heads = 0;
  for (const std::string& line : Lines(dump)) heads += !line.empty() && line[0] != ' ' ? 1 : 0;
  return heads;
}

TEST_F(DumpRunTest, RunsEndWithASummaryUnlessQuiet) {
  const RunResult dump = box_.Cubesec(kDumpArgs);
  ASSERT_EQ(dump.exit_code, 0) << dump.err;
  const std::string file = ReadFile(box_.Path("dump.txt"));
  EXPECT_EQ(dump.out,
            "Dumped the security of Apps to dump.txt: " + std::to_string(HeadLines(file)) +
                " blocks, " + std::to_string(Lines(file).size()) + " lines\n");

  ASSERT_EQ(box_.Sim({"init", "target", "--admin", "admin", "--password", "target-pass"}).exit_code,
            0);
  const std::vector<std::string> restore_args = {"--restore", "dump.txt", "--server",     "target",
                                                 "--user",    "admin",    "/Ptarget-pass"};
  const RunResult restore = box_.Cubesec(restore_args);
  ASSERT_EQ(restore.exit_code, 0) << restore.err;
  const std::string log = box_.Log();
  const auto logged = [&](const std::string& what) {
    size_t count = 0;
    for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++count;
    return std::to_string(count);
  };
  EXPECT_THAT(restore.out, StartsWith("Restored the security of target from dump.txt: " +
                                      logged("\tCreated user group '") + " groups, " +
                                      logged("\tCreated user '") + " users and " +
                                      logged("\tRestored filter '") + " filters created, "));
  EXPECT_NE(logged("\tCreated user '"), "0");
  EXPECT_THAT(restore.out,
              HasSubstr(" values changed, " + logged(" skipped (") + " blocks skipped"));
  // The path as the program names it (a Windows program under Wine names it Z:\...).
  const std::string log_name = std::filesystem::path(box_.LogPath()).filename().string();
  EXPECT_THAT(restore.out, HasSubstr("\nThe new users' temporary passwords are in the run log: "));
  EXPECT_THAT(restore.out, EndsWith(log_name + "\n"));

  // Run again, the restore changes nothing, and says so.
  const RunResult again = box_.Cubesec(restore_args);
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_THAT(again.out, HasSubstr(": 0 groups, 0 users and 0 filters created, "));
  EXPECT_THAT(again.out, HasSubstr("\nRun log: "));
  EXPECT_THAT(again.out, EndsWith(log_name + "\n"));

  std::vector<std::string> quiet = kDumpArgs;
  quiet.push_back("--quiet");
  const RunResult silent = box_.Cubesec(quiet);
  ASSERT_EQ(silent.exit_code, 0) << silent.err;
  EXPECT_THAT(silent.out, IsEmpty());
  EXPECT_THAT(silent.err, IsEmpty());
}

TEST_F(DumpRunTest, AFileOfADashIsAPipe) {
  ASSERT_EQ(box_.Cubesec(kDumpArgs).exit_code, 0);
  const std::string file = ReadFile(box_.Path("dump.txt"));
  // Older dumps beside a file named "-" are no business of a dump to standard output.
  WriteFile(box_.Path("-"), "not touched\n");
  const RunResult piped =
      box_.Cubesec({"--dump", "-", "--server", "Apps", "--user", "admin", "/Padmin-pass"});
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  // The dump's own bytes, CR LF ends included; a Windows program's output comes back here
  // with CR LF made LF, so a text-mode stream's CR CR LF would show as CR LF.
  EXPECT_EQ(piped.out, TestingWindowsPrograms() ? ReplaceAll(file, "\r\n", "\n") : file);
  // The summary goes to standard error, out of the dump's way.
  EXPECT_THAT(piped.err, StartsWith("Dumped the security of Apps to standard output: "));
  EXPECT_EQ(ReadFile(box_.Path("-")), "not touched\n");
  for (const char* name : {"-.bak", "dump.bak.txt"}) EXPECT_FALSE(FileExists(box_.Path(name)));
  EXPECT_THAT(box_.Log(), HasSubstr("\tCompleted security dump of Apps to -\r\n"));

  const RunResult check = box_.Cubesec({"--check", "-"}, file);
  EXPECT_EQ(check.exit_code, 0) << check.err;
  EXPECT_EQ(check.out, "standard input is sound (no problems)\n");
  const RunResult bad = box_.Cubesec({"--check", "-"}, "Group: g\r\n   Acces: None\r\n");
  EXPECT_EQ(bad.exit_code, 1);

  ASSERT_EQ(box_.Sim({"init", "target", "--admin", "admin", "--password", "target-pass"}).exit_code,
            0);
  const RunResult restore = box_.Cubesec(
      {"--restore", "-", "--server", "target", "--user", "admin", "/Ptarget-pass"}, file);
  ASSERT_EQ(restore.exit_code, 0) << restore.err;
  EXPECT_THAT(restore.out, StartsWith("Restored the security of target from standard input: "));
  const RunResult redump =
      box_.Cubesec({"--dump", "-", "--server", "target", "--user", "admin", "/Ptarget-pass"});
  EXPECT_THAT(redump.out, HasSubstr("\nUser: amy"));  // the restore reached the target

  // Standard input can hold the dump or the password, not both.
  const RunResult both = box_.Cubesec(
      {"--restore", "-", "--server", "target", "--user", "admin", "--password-file", "-"}, file);
  EXPECT_EQ(both.exit_code, 2);
  EXPECT_EQ(both.err,
            "cubesec: --restore - and --password-file - cannot both read standard input\n");
}

TEST_F(DumpRunTest, FailedLoginEndsTheRunWithoutLogout) {
  box_.env()["CUBESEC_SIM_TRACE"] = box_.Path("trace.txt");
  const RunResult run = box_.Cubesec({"/Ddump.txt", "/SApps", "/Uadmin", "/Pwrong"});
  EXPECT_EQ(run.exit_code, 1);
  // Dated and saying what was asked, though the run never got to its first line.
  EXPECT_THAT(box_.Log(), StartsWith("2026-12-01 12:00:00\tCould not start security dump of Apps "
                                     "to dump.txt\r\n\tError: 99 - Essbase Error calling "
                                     "EsbLogin (ref="));
  EXPECT_THAT(box_.Log(), EndsWith("\r\n\r\n"));
  EXPECT_FALSE(FileExists(box_.Path("dump.txt")));
  const std::vector<std::string> trace = Lines(ReadFile(box_.Path("trace.txt")));
  EXPECT_THAT(trace, ::testing::Not(::testing::Contains(StartsWith("EsbLogout"))));
  EXPECT_EQ(trace.back(), "EsbTerm 0");
}

TEST_F(DumpRunTest, WrongCommandLineIsASyntaxErrorWithoutRunLog) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"/Ddump.txt", "/SApps", "/Xtra", "/Uadmin", "/Padmin-pass"},
       "cubesec: Syntax Error - Unrecognized parameter in command line ('/Xtra'); see 'cubesec "
       "--help'\n"},
      // A confirmed reset after a dump: neither runs, the server keeps its users.
      {{"--yes", "--dump", "dump.txt", "--reset", "--server", "Apps", "--user", "admin",
        "/Padmin-pass"},
       "cubesec: --dump and --reset cannot be used together; see 'cubesec --help'\n"},
      {{"/Ddump.txt", "/Rprod.txt", "/SApps", "/Uadmin", "/Padmin-pass"},
       "cubesec: /D and /R cannot be used together; see 'cubesec --help'\n"},
  };
  box_.env()["CUBESEC_SIM_TRACE"] = box_.Path("trace.txt");
  for (const Case& c : cases) {
    const RunResult run = box_.Cubesec(c.args);
    EXPECT_EQ(run.exit_code, 2) << c.err;
    EXPECT_EQ(run.err, c.err);
    EXPECT_FALSE(FileExists(box_.LogPath())) << c.err;
    EXPECT_FALSE(FileExists(box_.Path("dump.txt"))) << c.err;
    EXPECT_FALSE(FileExists(box_.Path("trace.txt"))) << c.err;  // no client call at all
  }
}

TEST_F(DumpRunTest, MissingParametersAreNamedInValidationOrder) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      // The missing command and password add the long options and the other ways.
      {{"/SApps", "/Uadmin", "/Pp"},
       "No command provided ('/d{file}' or '/r{file}'); or --dump FILE, --restore FILE, --reset"},
      {{"/D", "/SApps", "/Uadmin", "/Pp"}, "No dump filename provided"},
      {{"/Dx", "/Uadmin", "/Pp"}, "No server provided ('/s{server name}')"},
      {{"/Dx", "/SApps", "/Pp"}, "No essbase user provided ('/u{username}')"},
      {{"/Dx", "/SApps", "/Uadmin"},
       "No password provided ('/p{password}'); or --password-file FILE, CUBESEC_PASSWORD, or a "
       "terminal to be asked on"},
      {{"dump.txt"}, "No command provided"},  // no "/": a dump file name alone
  };
  for (const Case& c : cases) {
    const RunResult run = box_.Cubesec(c.args);
    EXPECT_EQ(run.exit_code, 2) << c.message;
    EXPECT_THAT(run.err, StartsWith("cubesec: Syntax Error - "));
    EXPECT_THAT(run.err, HasSubstr(c.message));
  }
  EXPECT_FALSE(FileExists(box_.LogPath()));
}

TEST_F(DumpRunTest, ServerAndUserDefaultToTheClientSettings) {
  WriteFile(box_.Path("essbase.ini"), "[Login]\r\nServer=Apps\r\nUser=admin\r\n");
  box_.env()["WINDIR"] = box_.dir().path();
  const RunResult run = box_.Cubesec({"/Ddump.txt", "/Padmin-pass"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(ReadFile(box_.Path("dump.txt")), StartsWith("Server: Apps\r\n"));
}

TEST_F(DumpRunTest, LongOptionsAndThePasswordFromStandardInputOrTheEnvironment) {
  const RunResult piped = box_.Cubesec(
      {"--dump", "long.txt", "--server=Apps", "--user", "admin", "--password-file", "-"},
      "admin-pass\n");
  ASSERT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_THAT(ReadFile(box_.Path("long.txt")), StartsWith("Server: Apps\r\n"));

  box_.env()["CUBESEC_PASSWORD"] = "admin-pass";
  const RunResult from_env = box_.Cubesec({"/Denv.txt", "/SApps", "/Uadmin"});
  ASSERT_EQ(from_env.exit_code, 0) << from_env.err;
  EXPECT_TRUE(FileExists(box_.Path("env.txt")));
  // The command line's password comes first.
  const RunResult given = box_.Cubesec({"/Denv.txt", "/SApps", "/Uadmin", "/Pwrong"});
  EXPECT_EQ(given.exit_code, 1);

  const RunResult no_password = box_.Cubesec(
      {"--dump", "x.txt", "--server", "Apps", "--user", "admin", "--password-file", "-"});
  EXPECT_EQ(no_password.exit_code, 2);
  EXPECT_EQ(no_password.err, "cubesec: no password on standard input\n");
}

TEST_F(DumpRunTest, TheRunLogGoesWhereCubesecLogSaysWithItsFoldersCreated) {
  const std::string log = box_.Path("logs/deep/run.log");
  box_.env()["CUBESEC_LOG"] = log;
  const RunResult help = box_.Cubesec({"--help"});
  EXPECT_THAT(help.out, HasSubstr("\nRun log: " + log + "\n"));
  const RunResult run = box_.Cubesec({"/Ddump.txt", "/SApps", "/Uadmin", "/Pwrong"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.err, HasSubstr("cubesec: run log: " + log + "\n"));
  EXPECT_THAT(ReadFile(log), HasSubstr("\tError: 99 - Essbase Error calling EsbLogin"));
  EXPECT_FALSE(FileExists(box_.LogPath()));
}

TEST_F(DumpRunTest, ARunLogThatCannotBeWrittenStopsEveryCommandBeforeItStarts) {
  // Its folder would have to be where a file is.
  WriteFile(box_.Path("blocked"), "a file\n");
  const std::string log = box_.Path("blocked/cubesec.log");
  box_.env()["CUBESEC_LOG"] = log;
  box_.env()["CUBESEC_SIM_TRACE"] = box_.Path("trace.txt");
  WriteFile(box_.Path("in.txt"), "Group: g\r\n   Access: None\r\n\r\n");
  const std::vector<std::string> login = {"--server", "Apps", "--user", "admin", "/Padmin-pass"};
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"--dump", "out.txt"},
                                             {"--restore", "in.txt"},
                                             {"--reset", "--yes"},
                                             {"--check", "in.txt"}}) {
    if (args[0] != "--check") args.insert(args.end(), login.begin(), login.end());
    std::filesystem::remove(box_.Path("trace.txt"));
    const RunResult run = box_.Cubesec(args);
    EXPECT_EQ(run.exit_code, 2) << args[0];
    EXPECT_THAT(run.err, StartsWith("cubesec: Cannot write run log '" + log + "': ")) << args[0];
    EXPECT_THAT(run.err, EndsWith("; nothing was run\n")) << args[0];
    EXPECT_THAT(run.out, IsEmpty()) << args[0];
    // The trace is opened with the client, before the run: it must hold no call.
    EXPECT_TRUE(!FileExists(box_.Path("trace.txt")) || ReadFile(box_.Path("trace.txt")).empty())
        << args[0];
    EXPECT_FALSE(FileExists(box_.Path("out.txt"))) << args[0];
  }
}

TEST_F(DumpRunTest, AnUnreachableServerNamesTheFolderSearched) {
  const RunResult run = box_.Cubesec({"/Ddump.txt", "/SNone", "/Uadmin", "/Padmin-pass"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.err, HasSubstr("Cannot connect to server None (searched the simulated servers' "
                                 "folder '" +
                                 box_.sim_dir() + "')"));
}

TEST_F(DumpRunTest, AServerFileThatIsNoDatabaseIsReportedAsSuch) {
  // The file is there: the run must say what is wrong with it, not that nothing was found.
  std::ofstream(box_.sim_dir() + "/broken.sqlite", std::ios::binary) << "not a database at all";
  const RunResult run = box_.Cubesec({"/Ddump.txt", "/Sbroken", "/Uadmin", "/Padmin-pass"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(run.err, HasSubstr("broken.sqlite' is not a simulated server file: file is not a "
                                 "database"));
  EXPECT_THAT(run.err, Not(HasSubstr("Cannot connect")));
}

TEST_F(DumpRunTest, NoControlByteOfABadFileReachesTheTerminalOrTheLog) {
  // C0 and DEL, a raw C1 byte (CSI to a terminal that reads 8-bit text) and the UTF-8 form
  // of U+009B (CSI to one that reads UTF-8); "\xC3\xA9" is a letter and stays.
  // The damaged block stands after the Server block of a whole dump, where the check reads
  // every line of it.
  ASSERT_EQ(box_.Cubesec(kDumpArgs).exit_code, 0);
  std::string dump = ReadFile(box_.Path("dump.txt"));
  dump.insert(dump.find("\r\n\r\n") + 4,
              "Group: caf\xC3\xA9\r\n   Acc\x1B[2Jess: x\x7F\r\n"
              "   \x9B"
              "31mUsers: \xC2\x9B"
              "31m\r\n\r\n");
  WriteFile(box_.Path("bad.txt"), dump);
  const RunResult run = box_.Cubesec({"--check", "bad.txt"});
  EXPECT_EQ(run.exit_code, 1);
  for (const std::string& shown : {run.out, run.err, box_.Log()}) {
    for (unsigned char c : shown) {
      EXPECT_FALSE((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F ||
                   (c >= 0x80 && c <= 0x9F))
          << "byte " << static_cast<int>(c) << " in: " << shown;
    }
  }
  EXPECT_THAT(run.out, HasSubstr("\\x1B[2J"));
  EXPECT_THAT(run.out, HasSubstr("\\x9B31mUsers: \\xC2\\x9B31m"));
  EXPECT_THAT(box_.Log(), HasSubstr("\\x9B31m"));
}

// A run's log may take temporary passwords: a link in its place (dangling or not), or a log of
// another user, stops the run before it logs in, and the file behind is left alone.
TEST_F(DumpRunTest, ARunLogThatIsALinkOrAnotherUsersFileStopsTheRunBeforeLogin) {
  // Wine follows a Unix link as Windows follows no reparse point: the Windows build's own
  // check is its platform test's.
  if (TestingWindowsPrograms()) GTEST_SKIP() << "Unix links are no reparse points under Wine";
  WriteFile(box_.Path("victim.txt"), "theirs\n");
  std::filesystem::create_symlink(box_.Path("victim.txt"), box_.Path("link.log"));
  std::filesystem::create_symlink(box_.Path("created.txt"), box_.Path("dangling.log"));
  struct Case {
    std::string log;
    std::string reason;
  };
  std::vector<Case> cases = {{"link.log", "it is a symbolic link"},
                             {"dangling.log", "it is a symbolic link"}};
  if (::geteuid() == 0) {
    WriteFile(box_.Path("theirs.log"), "theirs\n");
    ASSERT_EQ(::chown(box_.Path("theirs.log").c_str(), 65534, 65534), 0);
    cases.push_back({"theirs.log", "it belongs to another user (uid 65534)"});
  }
  box_.env()["CUBESEC_SIM_TRACE"] = box_.Path("trace.txt");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    box_.env()["CUBESEC_LOG"] = box_.Path(c.log);
    const RunResult run = box_.Cubesec(kDumpArgs);
    EXPECT_EQ(run.exit_code, 2);  // a run log that cannot be written: nothing was run
    EXPECT_THAT(run.err, HasSubstr("Cannot write run log '" + box_.Path(c.log) + "': " + c.reason));
  }
  EXPECT_EQ(ReadFile(box_.Path("victim.txt")), "theirs\n");
  EXPECT_FALSE(FileExists(box_.Path("created.txt")));
  EXPECT_FALSE(FileExists(box_.Path("dump.txt")));
  const std::string trace = box_.Path("trace.txt");
  EXPECT_TRUE(!FileExists(trace) || ReadFile(trace).empty());  // not a single call
  if (::geteuid() == 0) {
    EXPECT_EQ(ReadFile(box_.Path("theirs.log")), "theirs\n");
  }
}

TEST_F(DumpRunTest, MalformedFaultPlanStopsBeforeAnyRun) {
  box_.env()["CUBESEC_SIM_FAULTS"] = "EsbLogin";
  const RunResult run = box_.Cubesec(kDumpArgs);
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_THAT(run.err, HasSubstr("CUBESEC_SIM_FAULTS"));
  EXPECT_FALSE(FileExists(box_.LogPath()));
}

TEST_F(DumpRunTest, UnwritableDumpFileIsAnError) {
  const RunResult run =
      box_.Cubesec({"/Dno/such/folder/dump.txt", "/SApps", "/Uadmin", "/Padmin-pass"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_THAT(box_.Log(), HasSubstr("\tError: 57 - "));
}

TEST(ProgramTest, HelpAndVersion) {
  Sandbox box;
  for (const char* flag : {"--help", "-h", "/?"}) {
    const RunResult run = box.Cubesec({"/Dx", flag});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_THAT(run.out, StartsWith("usage: cubesec --dump FILE"));
    EXPECT_THAT(run.out, HasSubstr("\n\nThis utility supports batch operation via:\n"
                                   "Dump Security: cubesec  /Ddumpfile /Sservername"));
    EXPECT_THAT(run.out, HasSubstr("\nRun log: " + AsProgramsName(box.LogPath()) + "\n"));
  }
  const RunResult version = box.Cubesec({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_THAT(version.out, StartsWith("cubesec "));
  EXPECT_FALSE(FileExists(box.LogPath()));
}

}  // namespace
}  // namespace cubesec::e2e
