#include "front/command_line.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "client/call_check.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

using ::testing::HasSubstr;

RunParameters Parse(const std::vector<std::string>& args, RunParameters params = {}) {
  ApplyCommandLine(args, params);
  return params;
}

TEST(CommandLineTest, EverySwitchInEitherCaseWithTrimmedValues) {
  const RunParameters p = Parse({"/d  dump.txt ", "/SProd", "/uadmin", "/P s3cret"});
  EXPECT_EQ(p.command, "D");
  EXPECT_EQ(p.dump_file, "dump.txt");
  EXPECT_EQ(p.server, "Prod");
  EXPECT_EQ(p.user, "admin");
  EXPECT_EQ(p.password, "s3cret");
  EXPECT_TRUE(p.Complete());
  EXPECT_EQ(Parse({"/rback.txt"}).command, "R");
  EXPECT_EQ(Parse({"/Cx"}).command, "C");
  EXPECT_EQ(Parse({"/cx"}).dump_file, "x");
}

TEST(CommandLineTest, LastOfARepeatedSwitchWins) {
  const RunParameters p = Parse({"/Done.txt", "/Stwo", "/Rthree.txt", "/sfour"});
  EXPECT_EQ(p.command, "R");
  EXPECT_EQ(p.dump_file, "three.txt");
  EXPECT_EQ(p.server, "four");
}

TEST(CommandLineTest, EachArgumentIsOneTokenSoBlanksStay) {
  const RunParameters p = Parse({"/DMy Dumps/prod dump.txt", "/Pa b  c"});
  EXPECT_EQ(p.dump_file, "My Dumps/prod dump.txt");
  EXPECT_EQ(p.password, "a b  c");
}

TEST(CommandLineTest, WithoutSlashTheArgumentsAreTheDumpFileAndThePasswordIsCleared) {
  RunParameters given;
  given.password = "from before";
  given.server = "Prod";
  const RunParameters p = Parse({"my", "dump.txt"}, given);
  EXPECT_EQ(p.dump_file, "my dump.txt");
  EXPECT_EQ(p.password, "");
  EXPECT_EQ(p.server, "Prod");
  EXPECT_EQ(p.command, "");
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
  // A token with a slash elsewhere is no switch either.
  EXPECT_THROW(Parse({"dump/x.txt"}), RunError);
  EXPECT_THROW(Parse({"/"}), RunError);
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
  const std::string usage = UsageText("qmx");
  EXPECT_THAT(usage, HasSubstr("This utility supports batch operation via:\n"
                               "Dump Security: qmx  /Ddumpfile /Sservername /Uusername "
                               "/Ppassword\nRestore Security: qmx  /Rdumpfile"));
  EXPECT_THAT(usage, HasSubstr("(the server being restored does not have to match the "
                               "dumpfile's source)\n"));
  EXPECT_THAT(usage, HasSubstr("qmx  /Cdumpfile"));
  EXPECT_THAT(usage, HasSubstr("CUBESEC_SIM_DIR"));
  EXPECT_THAT(usage, ::testing::Not(HasSubstr("%1")));
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
