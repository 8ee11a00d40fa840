#include "front/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "client/call_check.h"
#include "front/program.h"
#include "tools/fake_platform.h"
#include "tools/regex_matchers.h"
#include "tools/text.h"

namespace cubesec {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

RunParameters Parse(const std::vector<std::string>& args, RunParameters params = {}) {
  ApplyCommandLine(args, params);
  return params;
}

TEST(CommandLineTest, EverySwitchInEitherCaseWithTrimmedValues) {
  const RunParameters p = Parse({"/d  dump.txt ", "/SProd", "/uadmin", "/P s3cret"});
  EXPECT_EQ(p.command, Command::kDump);
  EXPECT_EQ(p.dump_file, "dump.txt");
  EXPECT_EQ(p.server, "Prod");
  EXPECT_EQ(p.user, "admin");
  EXPECT_EQ(p.password, "s3cret");
  EXPECT_TRUE(p.Complete());
  EXPECT_EQ(Parse({"/rback.txt"}).command, Command::kRestore);
  EXPECT_EQ(Parse({"/Cx"}).command, Command::kReset);
  EXPECT_EQ(Parse({"/cx"}).dump_file, "x");
}

TEST(CommandLineTest, LastOfARepeatedSwitchWins) {
  const RunParameters p = Parse({"/Rone.txt", "/Stwo", "/rthree.txt", "/sfour"});
  EXPECT_EQ(p.command, Command::kRestore);
  EXPECT_EQ(p.dump_file, "three.txt");
  EXPECT_EQ(p.server, "four");
}

TEST(CommandLineTest, EachArgumentIsOneTokenSoBlanksStay) {
  const RunParameters p = Parse({"/DMy Dumps/prod dump.txt", "/Pa b  c"});
  EXPECT_EQ(p.dump_file, "My Dumps/prod dump.txt");
  EXPECT_EQ(p.password, "a b  c");
}

TEST(CommandLineTest, WithoutSwitchesTheArgumentsAreTheDumpFileAndThePasswordIsCleared) {
  RunParameters given;
  given.password = "from before";
  given.server = "Prod";
  // A "/" inside a name makes no switch: only a leading one does.
  for (const auto& [args, file] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"my", "dump.txt"}, "my dump.txt"},
           {{"dumps/x.txt"}, "dumps/x.txt"},
           {{"My Dumps/a b.txt"}, "My Dumps/a b.txt"}}) {
    const RunParameters p = Parse(args, given);
    EXPECT_EQ(p.dump_file, file);
    EXPECT_EQ(p.password, "");
    EXPECT_EQ(p.server, "Prod");
    EXPECT_EQ(p.command, Command::kNone);
  }
}

TEST(CommandLineTest, LongOptionsBesideTheSwitches) {
  struct Case {
    std::vector<std::string> args;
    RunParameters expected;
  };
  const Case cases[] = {
      {{"--dump", "/tmp/x.txt", "--server", "Prod", "--user", "admin", "/Ppw"},
       {Command::kDump, "/tmp/x.txt", "Prod", "admin", "pw"}},
      {{"--restore=/srv/d u.txt", "--server=Prod", "--user=a=b"},
       {Command::kRestore, "/srv/d u.txt", "Prod", "a=b", ""}},
      {{"--reset", "--yes", "/SProd"}, {Command::kReset, "", "Prod", "", "", true}},
      {{"--dump", "--reset"},
       {Command::kDump, "--reset", "", "", ""}},  // a value is taken as it is
      // The same command twice, in either form: the last wins.
      {{"/Dfirst.txt", "--dump", "second.txt"}, {Command::kDump, "second.txt", "", "", ""}},
      {{"--reset", "/Cx", "--reset"}, {Command::kReset, "x", "", "", ""}},
  };
  for (const Case& c : cases) {
    const RunParameters p = Parse(c.args);
    const std::string args = Join(c.args, " ");
    EXPECT_EQ(p.command, c.expected.command) << args;
    EXPECT_EQ(p.dump_file, c.expected.dump_file) << args;
    EXPECT_EQ(p.server, c.expected.server) << args;
    EXPECT_EQ(p.user, c.expected.user) << args;
    EXPECT_EQ(p.password, c.expected.password) << args;
    EXPECT_EQ(p.reset_confirmed, c.expected.reset_confirmed) << args;
  }
  RunParameters reset;
  reset.command = Command::kReset;
  reset.server = "s";
  reset.user = "u";
  reset.password = "p";
  EXPECT_TRUE(reset.Complete());  // a reset needs no dump file
  reset.command = Command::kDump;
  EXPECT_FALSE(reset.Complete());
}

TEST(CommandLineTest, PasswordsFilesAndChecksGoToTheExtras) {
  RunParameters params;
  CommandLineExtras extras;
  ApplyCommandLine({"/Sx", "/Pone", "--check", "c.txt", "  /ptwo", "--password-file", "-"}, params,
                   &extras);
  EXPECT_EQ(extras.password_args, (std::vector<size_t>{1, 4}));
  EXPECT_EQ(extras.password_file, "-");
  EXPECT_EQ(params.password, "");  // the later --password-file wins
  EXPECT_EQ(extras.check_file, "c.txt");

  extras = {};
  ApplyCommandLine({"--password-file=pw.txt", "/Pthree"}, params, &extras);
  EXPECT_EQ(extras.password_file, std::nullopt);  // and the later /P wins over it
  EXPECT_EQ(params.password, "three");

  extras = {};
  ApplyCommandLine({"/Dx", "--verbose"}, params, &extras);
  EXPECT_TRUE(extras.verbose);
  EXPECT_FALSE(extras.quiet);
  extras = {};
  ApplyCommandLine({"--quiet", "/Dx", "--quiet"}, params, &extras);
  EXPECT_TRUE(extras.quiet);
  EXPECT_FALSE(extras.verbose);
}

// --plan is a command like --restore; --only parts add up; --diff takes a second file unless
// what follows is an option or a switch (a path that begins with "/" holds a second "/").
TEST(CommandLineTest, PlanDiffAndPartOptions) {
  struct Case {
    std::vector<std::string> args;
    Command command;
    std::string dump_file;
    std::vector<std::string> only, diff_files;
    bool all = false;
  };
  const Case cases[] = {
      {{"--plan", "p.txt", "--only", "app=Sample", "--only=server"},
       Command::kPlan,
       "p.txt",
       {"app=Sample", "server"},
       {}},
      {{"--diff", "old.txt", "/tmp/new.txt", "--all"},
       Command::kNone,
       "",
       {},
       {"old.txt", "/tmp/new.txt"},
       true},
      {{"--diff", "old.txt", "/Sprod", "/Uadmin"}, Command::kNone, "", {}, {"old.txt"}},
      {{"--diff=old.txt", "--server", "prod"}, Command::kNone, "", {}, {"old.txt"}},
      {{"--diff", "a", "b", "--only", "user=bob"}, Command::kNone, "", {"user=bob"}, {"a", "b"}},
  };
  for (const Case& c : cases) {
    RunParameters params;
    CommandLineExtras extras;
    ApplyCommandLine(c.args, params, &extras);
    const std::string args = Join(c.args, " ");
    EXPECT_EQ(params.command, c.command) << args;
    EXPECT_EQ(params.dump_file, c.dump_file) << args;
    EXPECT_EQ(params.only, c.only) << args;
    EXPECT_EQ(extras.diff_files, c.diff_files) << args;
    EXPECT_EQ(extras.diff_all, c.all) << args;
  }
}

TEST(CommandLineTest, PasswordFromAFileStandardInputOrTheEnvironment) {
  FakePlatform platform;
  const std::string file = "cubesec-password.txt";
  platform.files[file] = "s3cret pass\r\nsecond line\r\n";
  CommandLineExtras extras;
  RunParameters params;
  std::istringstream no_input;
  std::string error;
  extras.password_file = file;
  ASSERT_TRUE(ResolvePassword(platform, extras, no_input, params, &error)) << error;
  EXPECT_EQ(params.password, "s3cret pass");

  std::istringstream typed("from stdin\nrest\n");
  extras.password_file = "-";
  ASSERT_TRUE(ResolvePassword(platform, extras, typed, params, &error));
  EXPECT_EQ(params.password, "from stdin");

  platform.files[file] = "\n";
  extras.password_file = file;
  EXPECT_FALSE(ResolvePassword(platform, extras, no_input, params, &error));
  EXPECT_THAT(error, HasSubstr("holds no password"));
  extras.password_file = file + ".missing";
  EXPECT_FALSE(ResolvePassword(platform, extras, no_input, params, &error));
  EXPECT_THAT(error, HasSubstr("cannot read the password file"));
  // A folder opens but holds no line.
  platform.folders.insert("passwords");
  extras.password_file = "passwords";
  EXPECT_FALSE(ResolvePassword(platform, extras, no_input, params, &error));
  EXPECT_THAT(error, HasSubstr("holds no password"));

  // Without a file: CUBESEC_PASSWORD, only when the command line gave none.
  extras.password_file.reset();
  platform.env["CUBESEC_PASSWORD"] = "from env";
  params.password = "given";
  ASSERT_TRUE(ResolvePassword(platform, extras, no_input, params, &error));
  EXPECT_EQ(params.password, "given");
  params.password.clear();
  ASSERT_TRUE(ResolvePassword(platform, extras, no_input, params, &error));
  EXPECT_EQ(params.password, "from env");
}

TEST(CommandLineTest, PasswordsAreWipedFromTheArgumentMemory) {
  std::string program = "cubesec", dump = "/Dx", secret = "/Ps3cret", blank = " /p two words";
  std::vector<char*> argv = {program.data(), dump.data(), secret.data(), blank.data(), nullptr};
  const std::string secret_memory(secret.data(), secret.size());
  HidePasswordArguments(4, argv.data(), {1, 2, 7});  // 7 is past the end: passed over
  EXPECT_EQ(std::string(argv[1]), "/Dx");
  EXPECT_EQ(std::string(argv[2]), "/P");
  EXPECT_EQ(std::string(argv[3]), " /p");
  // The whole value is overwritten in place, not just cut off at its first character.
  EXPECT_EQ(std::string(secret.data(), secret.size()), std::string("/P\0\0\0\0\0\0", 8));
  EXPECT_EQ(std::string(blank.data(), blank.size()).find("two"), std::string::npos);
}

TEST(CommandLineTest, NoArgumentsChangeNothing) {
  RunParameters given;
  given.password = "kept";
  EXPECT_EQ(Parse({}, given).password, "kept");
}

TEST(CommandLineTest, UnknownTokenIsError50NamingIt) {
  try {
    Parse({"/Dx", "/Xbad value", "/Sy"});
    FAIL() << "no error raised";
  } catch (const RunError& error) {
    EXPECT_EQ(error.number(), kErrorSyntax);
    EXPECT_EQ(error.description(),
              "Syntax Error - Unrecognized parameter in command line ('/Xbad value')");
  }
  // Beside switches, a token with a slash elsewhere is no switch either.
  EXPECT_THROW(Parse({"dump/x.txt", "/Sx"}), RunError);
  EXPECT_THROW(Parse({"/"}), RunError);

  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      // A path is no switch, and the message says how to name one.
      {{"/tmp/x.txt"},
       "Syntax Error - Unrecognized parameter in command line ('/tmp/x.txt'); to name a file by "
       "its path, use --dump FILE or --restore FILE"},
      {{"--dumb", "x"}, "Syntax Error - Unrecognized parameter in command line ('--dumb')"},
      {{"-x"}, "Syntax Error - Unrecognized parameter in command line ('-x')"},
      {{"/Dx", "--server"}, "Syntax Error - Option --server needs a value ('--server NAME')"},
      {{"--dump"}, "Syntax Error - Option --dump needs a value ('--dump FILE')"},
      {{"--yes=no"}, "Syntax Error - Option --yes takes no value ('--yes=no')"},
      {{"--all=yes"}, "Syntax Error - Option --all takes no value ('--all=yes')"},
      {{"--plan"}, "Syntax Error - Option --plan needs a value ('--plan FILE')"},
      {{"/Rx", "--only"}, "Syntax Error - Option --only needs a value ('--only PART')"},
      {{"--reset=x"}, "Syntax Error - Option --reset takes no value ('--reset=x')"},
      // Two different commands: one would silently replace the other. Each is named as the
      // user typed it.
      {{"--yes", "--dump", "t3.txt", "--reset", "--server", "t3"},
       "--dump and --reset cannot be used together"},
      {{"/Dx.txt", "/Rprod.txt"}, "/D and /R cannot be used together"},
      {{"/rprod.txt", "--dump=x"}, "/r and --dump cannot be used together"},
      {{"/Dfirst.txt", "--restore", "second.txt"}, "/D and --restore cannot be used together"},
      {{"--reset", "/Dx"}, "--reset and /D cannot be used together"},
      {{"/Cx", "--check", "c.txt"}, "/C and --check cannot be used together"},
      {{"--check=c.txt", "--restore", "c.txt"}, "--check and --restore cannot be used together"},
      {{"--plan", "p.txt", "--restore", "r.txt"}, "--plan and --restore cannot be used together"},
      {{"--diff", "a.txt", "b.txt", "/Dx"}, "--diff and /D cannot be used together"},
      // Silence and every log line at once: neither would be what was asked for.
      {{"/Dx", "--quiet", "--verbose"}, "--quiet and --verbose cannot be used together"},
      {{"--verbose", "/Dx", "--quiet"}, "--verbose and --quiet cannot be used together"},
      {{"--verbose=yes"}, "Syntax Error - Option --verbose takes no value ('--verbose=yes')"},
  };
  for (const Case& c : cases) {
    try {
      Parse(c.args);
      ADD_FAILURE() << "accepted: " << Join(c.args, " ");
    } catch (const RunError& error) {
      EXPECT_EQ(error.number(), kErrorSyntax);
      EXPECT_EQ(error.description(), c.message);
    }
  }
}

TEST(CommandLineTest, TheProgramWipesThePasswordOnceParsed) {
  namespace fs = std::filesystem;
  const fs::path folder = fs::path(::testing::TempDir()) / "cubesec-program-test";
  fs::remove_all(folder);
  fs::create_directories(folder / "servers");
  FakePlatform platform;
  platform.executable_path = (folder / "cubesec").string();
  platform.folders.insert(folder.string());  // the run log beside the program, in memory
  platform.env["CUBESEC_SIM_DIR"] = (folder / "servers").string();
  std::string program = "cubesec", dump = "/D" + (folder / "d.txt").string(), server = "/Snone",
              user = "/Uadmin", password = "/Ps3cret";
  std::vector<char*> argv = {program.data(), dump.data(),     server.data(),
                             user.data(),    password.data(), nullptr};
  std::istringstream in;
  std::ostringstream out, err;
  // The server does not exist, so the login fails; the password was wiped before that.
  EXPECT_EQ(ProgramMain(platform, ChooseApi, 5, argv.data(), in, out, err), kExitFailed);
  EXPECT_EQ(std::string(argv[4]), "/P");
  EXPECT_THAT(err.str(), HasSubstr("EsbLogin"));
  fs::remove_all(folder);
}

TEST(CommandLineTest, HelpAnywhereAndVersion) {
  EXPECT_EQ(RequestOf({"/Dx", "-h"}), CommandLineRequest::kHelp);
  EXPECT_EQ(RequestOf({"/?"}), CommandLineRequest::kHelp);
  EXPECT_EQ(RequestOf({"--version", "--help"}), CommandLineRequest::kHelp);
  EXPECT_EQ(RequestOf({"--version"}), CommandLineRequest::kVersion);
  EXPECT_EQ(RequestOf({"/Dx", "-H"}), CommandLineRequest::kRun);
  EXPECT_EQ(RequestOf({}), CommandLineRequest::kRun);
}

TEST(CommandLineTest, UsageNamesTheProgram) {
  const std::string usage = UsageText("qmx", "/home/ann/.local/state/cubesec/cubesec.log");
  EXPECT_THAT(usage, HasSubstr("This utility supports batch operation via:\n"
                               "Dump Security: qmx  /Ddumpfile /Sservername /Uusername "
                               "/Ppassword\nRestore Security: qmx  /Rdumpfile"));
  EXPECT_THAT(usage, HasSubstr("(the server being restored does not have to match the "
                               "dumpfile's source)\n"));
  // The forms first; a reset names no dump file.
  EXPECT_THAT(usage,
              StartsWith("usage: qmx --dump FILE [LOGIN] [--sessions N] [--quiet | --verbose]\n"
                         "       qmx --restore FILE"));
  EXPECT_THAT(usage, HasSubstr("\nReset Security: qmx  /C /Sservername /Uusername /Ppassword\n"));
  EXPECT_THAT(usage, HasSubstr("qmx --reset [--yes] [LOGIN]\n"));
  EXPECT_THAT(usage, HasSubstr("\nRun log: /home/ann/.local/state/cubesec/cubesec.log\n"));
  EXPECT_THAT(usage, HasSubstr("Ctrl+C"));
  EXPECT_THAT(usage, HasSubstr("\n  2  wrong command line"));
  // The environment, one variable a line; the simulated server's in a section of their own,
  // after the program's.
  const size_t simulated = usage.find("\nThe simulated server (development and tests):\n");
  ASSERT_NE(simulated, std::string::npos);
  // The system's own variables, as the platform reads them, whole lines among the program's.
  EXPECT_THAT(usage.substr(0, simulated), HasSubstr("\n" + std::string(ThisOs().environment_help)));
  for (const char* variable : {"CUBESEC_LOG", "CUBESEC_PASSWORD", "CUBESEC_EDITOR", "ArborPath"}) {
    EXPECT_THAT(usage.substr(0, simulated),
                ContainsMatch(std::string("\n  ") + variable + " +[a-zA-Z]"))
        << variable;
  }
  for (const char* variable : {"CUBESEC_SIM_DIR", "CUBESEC_SIM_TRACE", "CUBESEC_SIM_FAULTS",
                               "CUBESEC_SIM_LATENCY_US", "CUBESEC_NOW"}) {
    EXPECT_THAT(usage.substr(simulated),
                ContainsMatch(std::string("\n  ") + variable + " +[A-Za-z]"))
        << variable;
    EXPECT_EQ(usage.find(variable), usage.find(variable, simulated)) << variable;
  }
  // A terminal of 80 columns shows every line whole (the program's own name, a short log).
  for (const std::string& line : Split(UsageText("cubesec", "/var/log/cubesec.log"), "\n")) {
    EXPECT_LE(line.size(), 80u) << line;
  }
  for (const char* option :
       {"--dump FILE", "--restore FILE", "--reset", "--yes", "--check FILE", "--server NAME",
        "--user NAME", "--password-file FILE", "--quiet", "--verbose"}) {
    EXPECT_THAT(usage, HasSubstr(std::string("\n  ") + option + " ")) << option;
  }
  EXPECT_THAT(usage, ::testing::Not(HasSubstr("%1")));
  EXPECT_THAT(usage, ::testing::Not(HasSubstr("%2")));
  EXPECT_THAT(UsageText("qmx", ""), HasSubstr("Run log: none found"));
  EXPECT_EQ(VersionText("qmx"), std::string("qmx ") + CUBESEC_VERSION);
}

TEST(CommandLineTest, ProgramNameIsTheFileNameWithoutExtension) {
  EXPECT_EQ(ProgramNameOf("/opt/x/bin/cubesec"), "cubesec");
  EXPECT_EQ(ProgramNameOf("C:/Tools/QMX.exe"), "QMX");
}

TEST(CommandLineTest, ClientDefaultsComeFirstAndTheCommandLineOverrides) {
  FakePlatform platform;
  platform.registry["Software\\Hyperion Solutions\\Essbase\\Login|Server"] = " Prod ";
  platform.ini["/etc/essbase.ini|LOGIN|USER"] = "admin";
  RunParameters p = GatherFromCommandLine(platform, {"/Rdump.txt", "/Ppw"});
  EXPECT_EQ(p.server, "Prod");
  EXPECT_EQ(p.user, "admin");
  EXPECT_TRUE(p.Complete());
  p = GatherFromCommandLine(platform, {"/Rdump.txt", "/Ppw", "/STest", "/Ubob"});
  EXPECT_EQ(p.server, "Test");
  EXPECT_EQ(p.user, "bob");
}

}  // namespace
}  // namespace cubesec
