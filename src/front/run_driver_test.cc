#include "front/run_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "client/dump_format.h"
#include "client/scripted_api.h"
#include "front/progress_model.h"
#include "front/run_outcome.h"
#include "front/session_texts.h"
#include "sim/sim_api.h"
#include "sim/test_server.h"
#include "tools/fake_platform.h"
#include "tools/text.h"

namespace cubesec::testing {
namespace {

// The least a restore accepts: a server block and the end of a complete dump.
constexpr const char* kSoundDump = "Server: Prod\r\n   Format: 2\r\n\r\nEnd: complete\r\n\r\n";

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

// Bytes as they are: a text-mode stream would make "\n" a CRLF on Windows.
void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A path joined as the system joins it ("\\" on Windows).
std::string Joined(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / name).string();
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class RunDriverTest : public ::testing::Test {
 protected:
  RunDriverTest() : state_(platform_, api_) {
    folder_ = MakeTestFolder("driver-test");
    platform_.real_files = true;
    fs::create_directories(folder_ + "/bin");
    platform_.executable_path = folder_ + "/bin/cubesec";
    // The place is decided when a run state is made; this one was made before the path.
    state_.run_log.SetPath(DecideRunLogPath(platform_));
    params_ = {Command::kDump, folder_ + "/dump.txt", "Prod", "admin", "pw"};
  }
  ~RunDriverTest() override {
    // Open files first: Windows removes no folder that holds one.
    state_.run_log.Close();
    state_.dump_out.reset();
    state_.dump_in.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string LogPath() const { return Joined(folder_ + "/bin", "cubesec.log"); }
  std::string Log() const { return Read(LogPath()); }
  RunOutcome Run() { return CarryOutRun(state_, params_); }

  FakePlatform platform_;
  ScriptedApi api_;
  RunState state_;
  std::string folder_;
  RunParameters params_;
};

TEST_F(RunDriverTest, OnlyTheFirstMissingParameterIsReportedBeforeAnyCall) {
  struct Case {
    RunParameters params;
    const char* message;
  };
  const Case cases[] = {
      {{Command::kNone, "", "", "", ""},
       "Syntax Error - No command provided ('/d{file}' or '/r{file}')"},
      {{Command::kDump, "", "", "", ""},
       "Syntax Error - No dump filename provided ('/d{file}' or '/r{file}')"},
      {{Command::kDump, "f", "", "", ""}, "Syntax Error - No server provided ('/s{server name}')"},
      {{Command::kDump, "f", "s", "", ""},
       "Syntax Error - No essbase user provided ('/u{username}')"},
      {{Command::kDump, "f", "s", "u", ""}, "Syntax Error - No password provided ('/p{password}')"},
  };
  std::string expected_log;
  for (const Case& c : cases) {
    params_ = c.params;
    RunState state(platform_, api_);
    const RunOutcome outcome = CarryOutRun(state, params_);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->number(), kErrorMissingParameter);
    EXPECT_EQ(outcome.error->description(), c.message);
    EXPECT_FALSE(outcome.completed);
    // Dated, saying what was asked, and closed by the empty line like every run.
    const std::string asked =
        c.params.command == Command::kNone
            ? "a run without a command"
            : "security dump of " + c.params.server + " to " + c.params.dump_file;
    expected_log += "2026-11-30 00:53:20\tCould not start " + asked + "\r\n\tError: 51 - " +
                    c.message + "\r\n\r\n";
  }
  EXPECT_EQ(Log(), expected_log);
  EXPECT_TRUE(api_.calls.empty());
  EXPECT_TRUE(platform_.shown.empty());  // batch runs show no box
}

TEST_F(RunDriverTest, DumpOfAnEmptyServerLogsStartAndCompletion) {
  EXPECT_TRUE(CarryOutRun(state_, params_).completed);
  const std::string dump = params_.dump_file;
  EXPECT_EQ(Log(), "2026-11-30 00:53:20\tCreating security dump of Prod to " + dump +
                       "\r\n2026-11-30 00:53:20\tCompleted security dump of Prod to " + dump +
                       "\r\n\r\n");
  EXPECT_THAT(Read(dump), ::testing::StartsWith("Server: Prod\r\n   Date Made: "));
  EXPECT_THAT(api_.calls, ElementsAre("EsbGetAPIVersion", "EsbInit", "EsbGetAPIVersion", "EsbLogin",
                                      "EsbGetGlobalState", "EsbListGroups", "EsbListUsers",
                                      "EsbListApplications", "EsbLogout", "EsbTerm"));
  EXPECT_TRUE(platform_.editor_starts.empty());
  EXPECT_EQ(state_.dump_out, nullptr);
}

TEST_F(RunDriverTest, ALogThatStaysReadableByOthersStopsARestoreOnly) {
  platform_.owner_only_error = "Operation not permitted";
  params_.command = Command::kRestore;
  WriteFile(params_.dump_file, "\r\n");
  RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_EQ(outcome.error->number(), kErrorFileIo);
  EXPECT_THAT(outcome.error->description(), HasSubstr("(Operation not permitted); a restore"));
  EXPECT_TRUE(api_.calls.empty());  // not even a login
  EXPECT_THAT(Log(), HasSubstr("\tCould not start security restore of Prod from "));
  EXPECT_THAT(Log(), HasSubstr("\tError: 57 - The run log '" + LogPath() + "' can be read"));

  // A dump writes no password: it goes ahead.
  params_.command = Command::kDump;
  RunState dump_state(platform_, api_);
  outcome = CarryOutRun(dump_state, params_);
  EXPECT_TRUE(outcome.completed);
  EXPECT_THAT(platform_.made_owner_only, ElementsAre(LogPath(), LogPath()));
}

TEST_F(RunDriverTest, PreviousDumpsAreKeptAsBackups) {
  WriteFile(params_.dump_file, "old\r\n");
  Run();
  EXPECT_EQ(Read(folder_ + "/dump.bak.txt"), "old\r\n");
  EXPECT_THAT(Read(params_.dump_file), ::testing::StartsWith("Server: Prod"));
}

// Windows would turn the dump's CR LF into CR CR LF on a text-mode standard output, and
// read CR LF as LF from a text-mode standard input: a dump there uses the bytes as they are.
TEST_F(RunDriverTest, StandardStreamsThatCarryADumpAreMadeBinaryAndNoOthers) {
  ASSERT_TRUE(Run().completed);
  EXPECT_TRUE(platform_.binary_streams.empty());  // a dump to a file

  std::ostringstream out;
  state_.standard_output = &out;
  params_.dump_file = "-";
  ASSERT_TRUE(Run().completed);
  EXPECT_THAT(out.str(), ::testing::StartsWith("Server: Prod\r\n"));
  EXPECT_THAT(out.str(), ::testing::EndsWith("End: complete\r\n\r\n"));
  EXPECT_THAT(platform_.binary_streams, ElementsAre(StandardStream::kOutput));

  std::istringstream in(kSoundDump);
  RunState restore(platform_, api_);
  restore.standard_input = &in;
  params_.command = Command::kRestore;
  ASSERT_TRUE(CarryOutRun(restore, params_).completed) << Log();
  EXPECT_THAT(platform_.binary_streams,
              ElementsAre(StandardStream::kOutput, StandardStream::kInput));
}

TEST_F(RunDriverTest, AFailedBackupKeepsThePreviousFileAndTheNewDumpAsIncomplete) {
  WriteFile(params_.dump_file, "old\r\n");
  // The file cannot become the first backup: a folder that is not empty has that name.
  fs::create_directories(folder_ + "/dump.bak.txt/inside");
  const RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_EQ(outcome.error->number(), kErrorFileIo);
  // The dump was made whole first: it is kept as the incomplete file, the old one stays.
  EXPECT_EQ(Read(params_.dump_file), "old\r\n");
  EXPECT_THAT(Read(folder_ + "/dump.incomplete.txt"), HasSubstr("End: complete\r\n"));
  EXPECT_THAT(Log(), HasSubstr("\tError: 57 - "));
  EXPECT_EQ(api_.Count("EsbLogout"), 1);
}

TEST_F(RunDriverTest, FailedLoginIsLoggedAndTheClientIsStillEnded) {
  params_.password = "wrong";
  const RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.completed);
  EXPECT_EQ(Log(), "2026-11-30 00:53:20\tCould not start security dump of Prod to " +
                       params_.dump_file +
                       "\r\n\tError: 99 - Essbase Error calling EsbLogin (ref=1051093)\r\n"
                       "Scripted failure\r\n\r\n");
  EXPECT_EQ(api_.Count("EsbLogout"), 0);
  EXPECT_EQ(api_.Count("EsbTerm"), 1);
}

TEST_F(RunDriverTest, ErrorInTheMiddleOfADumpKeepsWhatWasWrittenAndReleasesTheServer) {
  api_.AddGroup("A", 0);
  api_.AddGroup("B", 0);
  api_.Fail("EsbGetGroup", 2, 1051013, 1051013);
  // One session, so that the second group read is B's (the scripted API serves one thread;
  // the sessions' failures are the end-to-end tests' part).
  params_.sessions = 1;
  const RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.completed);
  // The dump file is not made; what was written is kept under a name of its own.
  EXPECT_FALSE(FileExists(platform_, params_.dump_file));
  const std::string kept = folder_ + "/dump.incomplete.txt";
  EXPECT_THAT(Read(kept), HasSubstr("Group: A\r\n   Access: None\r\n"));
  EXPECT_THAT(Read(kept), ::testing::Not(HasSubstr("Group: B")));
  EXPECT_THAT(Log(), HasSubstr("what was written is kept as '" + kept + "'\r\n\tError: 99"));
  EXPECT_THAT(Log(), ::testing::EndsWith("\tError: 99 - Essbase Error calling EsbGetGroup "
                                         "(ref=1051013)\r\nScripted failure\r\n\r\n"));
  EXPECT_THAT(Log(), ::testing::Not(HasSubstr("Completed")));
  EXPECT_EQ(api_.calls.back(), "EsbTerm");
  EXPECT_EQ(api_.Count("EsbLogout"), 1);
}

TEST_F(RunDriverTest, TheOutcomeTellsARefusedLoginAndWhetherTheServerWasChanged) {
  // The front end shows the error (the driver shows no box, in any run): it needs to know
  // whether the run changed the server, and how a login was refused.
  state_.interactive = true;
  params_.password = "wrong";
  RunOutcome outcome = Run();
  EXPECT_TRUE(platform_.shown.empty());
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_THAT(outcome.error->description(), HasSubstr("EsbLogin"));
  EXPECT_EQ(outcome.refused_login, 1051093);
  EXPECT_FALSE(outcome.server_changed);

  // A dump that fails in the middle has only read.
  params_.password = "pw";
  api_.AddGroup("A", 0);
  api_.Fail("EsbGetGroup", 1, 1051013, 1051013);
  outcome = CarryOutRun(state_, params_);
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_EQ(outcome.refused_login, 0);
  EXPECT_FALSE(outcome.server_changed);

  // A restore that set the server's state changed it, and a declined reset did not.
  params_.command = Command::kRestore;
  WriteFile(params_.dump_file, "Server: Old\r\n   Security: Yes\r\n\r\n");
  EXPECT_TRUE(CarryOutRun(state_, params_).server_changed);
  params_ = {Command::kReset, "", "Prod", "admin", "pw"};
  platform_.answers = {MessageBoxAnswer::kNo};
  outcome = CarryOutRun(state_, params_);
  EXPECT_TRUE(outcome.declined);
  EXPECT_FALSE(outcome.server_changed);
  EXPECT_EQ(state_.client.api, &api_) << "the run gives back the API it was given";
}

TEST_F(RunDriverTest, LogoutAndTermFailuresAreIgnored) {
  api_.Fail("EsbLogout", 1, 5, 5);
  api_.Fail("EsbTerm", 1, 6, 6);
  const RunOutcome outcome = Run();
  EXPECT_TRUE(outcome.completed);
  EXPECT_FALSE(outcome.error.has_value());
  EXPECT_THAT(Log(), ::testing::Not(HasSubstr("Error")));
}

TEST_F(RunDriverTest, RestoreOfAMissingFileLogsInFirst) {
  params_.command = Command::kRestore;
  const RunOutcome outcome = Run();
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_EQ(outcome.error->number(), kErrorDumpFileNotFound);
  EXPECT_EQ(Log(), "2026-11-30 00:53:20\tCould not start security restore of Prod from " +
                       params_.dump_file + "\r\n\tError: 56 - Security Dump File (" +
                       params_.dump_file + ") Not Found\r\n\r\n");
  EXPECT_EQ(api_.Count("EsbLogin"), 1);
  EXPECT_EQ(api_.Count("EsbLogout"), 1);
}

TEST_F(RunDriverTest, ARestoreWhoseFileFailsTheCheckNeverLogsIn) {
  params_.command = Command::kRestore;
  std::string lines = "Server: x\r\n\r\nComment: not a block\r\n";
  for (int i = 0; i < 22; ++i) lines += "server: x\r\n";
  WriteFile(params_.dump_file, lines);
  const RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.completed);
  ASSERT_TRUE(outcome.error.has_value());
  EXPECT_EQ(outcome.error->number(), kErrorUnsoundDumpFile);
  EXPECT_EQ(api_.Count("EsbLogin"), 0);
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("\tChecking dump file " + params_.dump_file +
                             " before restoring it to Prod\r\n\tLine 1: \"Server: x\": warning: "));
  EXPECT_THAT(log, HasSubstr("\tLine 3: \"Comment: not a block\": \"Comment\" is no head line "
                             "key word\r\n\tLine 4: "));
  // The first 20 problems, then their number beyond that.
  EXPECT_THAT(
      log, HasSubstr("\tLine 21: \"server: x\": \"server\" is no head line key word\r\n"
                     "\t... and 4 more\r\n\tError: 60 - The dump file '" +
                     params_.dump_file + "' has 23 errors, 1 warning; nothing was restored\r\n"));
  EXPECT_THAT(log, ::testing::Not(HasSubstr("Restoring security")));
  EXPECT_THAT(platform_.editor_starts, ::testing::IsEmpty());
  EXPECT_EQ(state_.dump_in, nullptr);
}

TEST_F(RunDriverTest, RestoreHandsTheServerBlockToItsRoutine) {
  params_.command = Command::kRestore;
  WriteFile(params_.dump_file, "Server: Old\r\n   Security: Yes\r\n\r\n");
  api_.global.security = 0;
  EXPECT_TRUE(Run().completed);
  EXPECT_EQ(api_.Count("EsbGetGlobalState"), 1);
  EXPECT_EQ(api_.global.security, 1);
}

TEST_F(RunDriverTest, EditorThatCannotStartIsLoggedButNoError) {
  params_.command = Command::kRestore;
  platform_.editor_available = false;
  WriteFile(params_.dump_file, kSoundDump);
  EXPECT_TRUE(Run().completed);
  EXPECT_THAT(Log(),
              ::testing::EndsWith("\tCompleted security Restore of Prod from " + params_.dump_file +
                                  "\r\n\tThe run log could not be opened in the editor (cannot "
                                  "start fake-editor: No such file or directory)\r\n\r\n"));

  // A machine with no editor at all has nothing to report.
  state_.run_log.Close();  // Windows deletes no file that is open
  fs::remove(LogPath());
  platform_.editor_error.clear();
  RunState again(platform_, api_);
  EXPECT_TRUE(CarryOutRun(again, params_).completed);
  EXPECT_THAT(Log(), ::testing::EndsWith("\tCompleted security Restore of Prod from " +
                                         params_.dump_file + "\r\n\r\n"));
  EXPECT_THAT(Log(), ::testing::Not(HasSubstr("editor")));
}

TEST_F(RunDriverTest, DeclinedResetLogsThatNothingWasDeletedAndTheWarningNamesTheServer) {
  params_ = {Command::kReset, "", "Prod", "admin", "pw"};  // a reset needs no dump file
  platform_.answers = {MessageBoxAnswer::kNo};
  const RunOutcome outcome = Run();
  EXPECT_FALSE(outcome.completed);
  EXPECT_TRUE(outcome.declined);
  EXPECT_FALSE(outcome.error.has_value());
  ASSERT_EQ(platform_.shown.size(), 1u);
  // The server first, then what would go, counted after login.
  // (No regular expression: Windows' GoogleTest has only the simple ones.)
  const std::string& text = platform_.shown[0].text;
  EXPECT_THAT(text, ::testing::StartsWith("Server: Prod\n"));
  EXPECT_THAT(text, HasSubstr(" filters will be deleted\nWarning! This will delete all (other) "
                              "users, all groups, and all security filters, ARE YOU SURE???"));
  EXPECT_THAT(text.substr(0, text.find(" will be deleted")), HasSubstr(" groups and "));
  EXPECT_THAT(Log(), HasSubstr("declined: nothing was deleted"));
  EXPECT_EQ(
      api_.Count("EsbDeleteUser") + api_.Count("EsbDeleteGroup") + api_.Count("EsbDeleteFilter"),
      0);
  EXPECT_EQ(api_.Count("EsbTerm"), 1);
}

TEST_F(RunDriverTest, ResetConfirmedInAdvanceAsksNothingAndLogsIt) {
  params_ = {Command::kReset, "", "Prod", "admin", "pw"};
  params_.reset_confirmed = true;
  const RunOutcome outcome = Run();
  EXPECT_TRUE(outcome.completed);
  EXPECT_TRUE(platform_.shown.empty());
  EXPECT_EQ(api_.Count("EsbListUsers"), 1);
  EXPECT_THAT(Log(), HasSubstr("2026-11-30 00:53:20\tSecurity reset of Prod confirmed in "
                               "advance (--yes)\r\n"));
  EXPECT_THAT(Log(), ::testing::EndsWith("\r\n\r\n"));
}

TEST_F(RunDriverTest, ARunWhoseLogHasNoPlaceDoesNotStart) {
  platform_.writable_folders = std::vector<std::string>{};  // an installed program
  for (const std::string& state_folder : {std::string(), folder_ + "/dump.txt/state"}) {
    WriteFile(params_.dump_file, "a file where the folder would go\r\n");
    platform_.state_folder = state_folder;
    RunState state(platform_, api_);
    const RunOutcome outcome = CarryOutRun(state, params_);
    EXPECT_FALSE(outcome.completed);
    EXPECT_FALSE(outcome.error.has_value());
    EXPECT_THAT(outcome.log_failure, ::testing::StartsWith("Cannot write run log '"));
    EXPECT_TRUE(api_.calls.empty()) << state_folder;
  }
}

TEST(RunLogPlaceTest, NamedByTheEnvironmentElseBesideTheProgramElseInTheStateFolder) {
  FakePlatform platform;
  platform.executable_path = "/opt/cubesec/bin/cubesec";
  platform.state_folder = "/home/ann/.local/state";
  struct Case {
    std::map<std::string, std::string> env;
    std::vector<std::string> writable;
    std::string log;
  };
  const Case cases[] = {
      {{}, {"/opt/cubesec/bin"}, Joined("/opt/cubesec/bin", "cubesec.log")},
      {{}, {}, Joined(Joined("/home/ann/.local/state", "cubesec"), "cubesec.log")},
      {{{"CUBESEC_LOG", "/var/log/qmx.txt"}}, {"/opt/cubesec/bin"}, "/var/log/qmx.txt"},
      {{{"CUBESEC_LOG", ""}},
       {},
       Joined(Joined("/home/ann/.local/state", "cubesec"), "cubesec.log")},
  };
  for (const Case& c : cases) {
    platform.env = c.env;
    platform.writable_folders = c.writable;
    EXPECT_EQ(DecideRunLogPath(platform), c.log);
  }
  platform.executable_path = "/opt/tools/qmx.exe";
  platform.writable_folders = std::vector<std::string>{"/opt/tools"};
  EXPECT_EQ(DecideRunLogPath(platform),
            Joined("/opt/tools", "qmx.log"));  // named after the program
  platform.writable_folders = std::vector<std::string>{};
  platform.state_folder.clear();
  EXPECT_EQ(DecideRunLogPath(platform), "");
}

TEST_F(RunDriverTest, TheStateFolderLogIsCreatedWithItsFolders) {
  platform_.writable_folders = std::vector<std::string>{};
  platform_.state_folder = folder_ + "/home/.local/state";
  RunState state(platform_, api_);
  EXPECT_TRUE(CarryOutRun(state, params_).completed);
  EXPECT_THAT(Read(folder_ + "/home/.local/state/cubesec/cubesec.log"),
              HasSubstr("\tCompleted security dump of Prod"));
  EXPECT_FALSE(fs::exists(LogPath()));
}

}  // namespace
}  // namespace cubesec::testing

namespace cubesec::testing {
namespace {

// Every report of a run, as a window or terminal shows it, and the threads it came from.
class RecordingObserver : public RunObserver {
 public:
  std::vector<std::string> texts;
  std::set<std::thread::id> threads;
  void OnProgress(const RunProgress& progress) override {
    texts.push_back(ProgressText(progress));
    threads.insert(std::this_thread::get_id());
  }
};

TEST(RunProgressTest, ADumpCountsGroupsUsersAndApplicationsAndARestoreItsCheckedBlocks) {
  const std::string folder = MakeTestFolder("progress-test");
  FakePlatform platform;
  platform.real_files = true;
  platform.env["CUBESEC_LOG"] = folder + "/cubesec.log";
  const std::vector<std::string> dump_progress = {"groups 1/3",
                                                  "groups 2/3",
                                                  "groups 3/3",
                                                  "users 1/6",
                                                  "users 2/6",
                                                  "users 3/6",
                                                  "users 4/6",
                                                  "users 5/6",
                                                  "users 6/6",
                                                  "applications 1/2 Archive",
                                                  "applications 2/2 Sample",
                                                  "applications 2/2 Sample:Basic",
                                                  "applications 2/2 Sample:Interim"};
  // With several sessions the run's own thread tells the same story, in the file's order.
  for (const int sessions : {1, 3}) {
    SCOPED_TRACE(sessions);
    std::unique_ptr<EsbApi> server = sim::MakeInMemoryApi(sim::kTestFixture);
    RunState state(platform, *server);
    RecordingObserver observer;
    state.observer = &observer;
    RunParameters params{Command::kDump, folder + "/dump.txt", "srv", "admin", "pw-admin"};
    params.sessions = sessions;
    ASSERT_TRUE(CarryOutRun(state, params).completed) << Read(folder + "/cubesec.log");
    EXPECT_EQ(observer.texts, dump_progress);
    EXPECT_EQ(observer.threads, std::set<std::thread::id>{std::this_thread::get_id()});
  }

  // The restore knows the file's blocks from its check, before the first is applied.
  const std::string dump = Read(folder + "/dump.txt");
  int heads = 0;
  for (const std::string& line : Split(dump, "\r\n")) heads += IsHeadLine(line) ? 1 : 0;
  ASSERT_GT(heads, 10);
  std::unique_ptr<EsbApi> target = sim::MakeInMemoryApi(sim::kTestFixture);
  RunState state(platform, *target);
  RecordingObserver observer;
  state.observer = &observer;
  ASSERT_TRUE(
      CarryOutRun(state, {Command::kRestore, folder + "/dump.txt", "srv", "admin", "pw-admin"})
          .completed);
  ASSERT_EQ(observer.texts.size(), static_cast<size_t>(heads));
  const std::string total = "/" + std::to_string(heads) + " ";
  EXPECT_EQ(observer.texts.front(), "blocks 1" + total + "Server");
  EXPECT_EQ(observer.texts[1], "blocks 2" + total + "Group");
  EXPECT_EQ(observer.texts.back(), "blocks " + std::to_string(heads) + total + "End");
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

// A window whose Cancel is pressed once the run reports `phase` for the `after`-th time.
class CancellingObserver : public RunObserver {
 public:
  CancellingObserver(std::string phase, int after) : phase_(std::move(phase)), after_(after) {}
  void OnProgress(const RunProgress& progress) override {
    if (progress.phase == phase_ && --after_ == 0) pressed_ = true;
  }
  bool CancelRequested() override { return pressed_; }

 private:
  std::string phase_;
  int after_;
  bool pressed_ = false;
};

TEST(RunCancelTest, ACancelledDumpEndsAsAFailedOneAndLeavesTheDumpFileAndBackupsAlone) {
  const std::string folder = MakeTestFolder("cancel-test");
  FakePlatform platform;
  platform.real_files = true;
  platform.env["CUBESEC_LOG"] = folder + "/cubesec.log";
  const std::string dump_file = folder + "/dump.txt";
  WriteFile(dump_file, "the previous dump\r\n");
  WriteFile(folder + "/dump.bak.txt", "the one before\r\n");
  // Pressed among the users, with one session and with several (which fill runs of users at
  // once), and with several sessions while the databases are filled.
  for (const auto& [sessions, phase, after] :
       {std::tuple{1, "users", 2}, std::tuple{3, "users", 2}, std::tuple{3, "applications", 3}}) {
    SCOPED_TRACE(sessions);
    std::unique_ptr<EsbApi> server = sim::MakeInMemoryApi(sim::kTestFixture);
    RunState state(platform, *server);
    CancellingObserver observer(phase, after);
    state.observer = &observer;
    RunParameters params{Command::kDump, dump_file, "srv", "admin", "pw-admin"};
    params.sessions = sessions;
    const std::string log_before = Read(folder + "/cubesec.log");
    const RunOutcome outcome = CarryOutRun(state, params);
    EXPECT_FALSE(outcome.completed);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->number(), kErrorInterrupted);
    EXPECT_EQ(outcome.error->description(), "Cancelled by the user before the end");
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.interrupt_signal, 0);
    EXPECT_EQ(Read(dump_file), "the previous dump\r\n");
    EXPECT_EQ(Read(folder + "/dump.bak.txt"), "the one before\r\n");
    EXPECT_FALSE(fs::exists(folder + "/dump.bak2.txt"));
    const std::string kept = Read(IncompleteName(dump_file));
    EXPECT_THAT(kept, ::testing::StartsWith("Server: "));
    EXPECT_THAT(kept, ::testing::Not(HasSubstr("End: complete")));
    const std::string log = Read(folder + "/cubesec.log").substr(log_before.size());
    EXPECT_THAT(log, HasSubstr("\tThe dump is incomplete (Cancelled by the user before the end); "
                               "what was written is kept as '" +
                               IncompleteName(dump_file) + "'\r\n"));
    EXPECT_THAT(log, HasSubstr("\tError: 62 - Cancelled by the user before the end\r\n"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("Completed")));
    EXPECT_EQ(state.client.context, 0u);  // logged out all the same
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(RunCancelTest, ACancelledRestoreStopsBetweenTwoBlocksAndSaysWhere) {
  const std::string folder = MakeTestFolder("cancel-test");
  FakePlatform platform;
  platform.real_files = true;
  platform.env["CUBESEC_LOG"] = folder + "/cubesec.log";
  const std::string dump_file = folder + "/dump.txt";
  {
    std::unique_ptr<EsbApi> source = sim::MakeInMemoryApi(sim::kTestFixture);
    RunState state(platform, *source);
    ASSERT_TRUE(
        CarryOutRun(state, {Command::kDump, dump_file, "srv", "admin", "pw-admin"}).completed);
  }
  int blocks = 0;
  for (const std::string& line : Split(Read(dump_file), "\r\n")) blocks += IsHeadLine(line);
  // Pressed while the third block (a group's, applied by the run's own session) is applied,
  // or once the applications' blocks have begun, which several sessions apply at once.
  struct Case {
    int sessions;
    int pressed_at;
  };
  for (const Case c : {Case{1, 3}, Case{3, 3}, Case{1, blocks - 4}, Case{3, blocks - 4}}) {
    SCOPED_TRACE(std::to_string(c.sessions) + " sessions, pressed at " +
                 std::to_string(c.pressed_at));
    std::unique_ptr<EsbApi> target = sim::MakeInMemoryApi(sim::kTestFixture);
    RunState state(platform, *target);
    CancellingObserver observer("blocks", c.pressed_at);
    state.observer = &observer;
    const std::string log_before = Read(folder + "/cubesec.log");
    RunParameters params{Command::kRestore, dump_file, "srv", "admin", "pw-admin"};
    params.sessions = c.sessions;
    const RunOutcome outcome = CarryOutRun(state, params);
    const std::string log = Read(folder + "/cubesec.log").substr(log_before.size());
    if (c.sessions > 1 && c.pressed_at > 3) {
      // The sessions may have applied every block by the time the run's thread reports the
      // press: then the restore is whole and says so; else it stops after the units under
      // way, never before the press.
      if (outcome.completed) {
        EXPECT_THAT(log, HasSubstr("Completed security Restore"));
        continue;
      }
      ASSERT_TRUE(outcome.error.has_value());
      EXPECT_THAT(outcome.error->description(),
                  ::testing::StartsWith("Restore cancelled after block "));
      const int stopped = std::stoi(outcome.error->description().substr(30));
      EXPECT_GE(stopped, c.pressed_at);
      EXPECT_LE(stopped, blocks);
    } else {
      ASSERT_TRUE(outcome.error.has_value());
      EXPECT_EQ(outcome.error->description(), "Restore cancelled after block " +
                                                  std::to_string(c.pressed_at) + " of " +
                                                  std::to_string(blocks));
    }
    EXPECT_FALSE(outcome.completed);
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_THAT(log, HasSubstr("\tError: 62 - " + outcome.error->description() + "\r\n"));
    EXPECT_THAT(log, ::testing::Not(HasSubstr("Completed security Restore")));
    EXPECT_TRUE(platform.editor_starts.empty());
    // Cancelled runs of a window show no error box: the closing note says it.
    EXPECT_TRUE(platform.shown.empty());
  }
  std::error_code ignored;
  fs::remove_all(folder, ignored);
}

TEST(ProgressModelTest, ShowsTheFirstReportThenAtMostEveryIntervalAndHoldsTheCancel) {
  FakePlatform platform;
  platform.real_files = true;
  platform.steady_ms = 5000;
  ProgressModel model(platform);
  EXPECT_EQ(std::string(model.cancel_caption()), "Cancel");
  EXPECT_TRUE(model.Take({"users", 1, 4, {}}));
  EXPECT_EQ(model.text(), "users 1/4");
  platform.steady_ms += ProgressModel::kIntervalMs - 1;
  EXPECT_FALSE(model.Take({"users", 2, 4, {}}));
  EXPECT_EQ(model.text(), "users 1/4");
  platform.steady_ms += 1;
  EXPECT_TRUE(model.Take({"users", 3, 4, {}}));
  EXPECT_EQ(model.text(), "users 3/4");
  EXPECT_EQ(model.percent(), 50);
  EXPECT_FALSE(model.cancel_requested());
  model.RequestCancel();
  EXPECT_TRUE(model.cancel_requested());
  EXPECT_EQ(std::string(model.cancel_caption()), "Cancelling...");
}

}  // namespace
}  // namespace cubesec::testing
