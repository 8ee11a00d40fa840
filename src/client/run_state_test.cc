#include "client/run_state.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "client/scripted_api.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

class CountingObserver : public RunObserver {
 public:
  int pumps = 0;
  std::vector<std::string> progress;
  void OnProgress(const RunProgress& p) override {
    progress.push_back(std::string(p.phase) + " " + std::to_string(p.done) + "/" +
                       std::to_string(p.total) + " " + std::string(p.item));
  }
  void PumpEvents() override { ++pumps; }
};

class RunStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cubesec_run_state_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    state_.observer = &observer_;
    state_.run_log.SetPath(Path("cubesec.log"));
    state_.dump_file = Path("dump.txt");
  }
  void TearDown() override {
    // Open files first: Windows removes no folder that holds one.
    state_.run_log.Close();
    state_.dump_out.reset();
    state_.dump_in.reset();
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  FakePlatform platform_;
  testing::ScriptedApi api_;
  CountingObserver observer_;
  RunState state_{platform_, api_};
};

TEST_F(RunStateTest, LogAppendsOwnerOnlyLines) {
  state_.Log("first");
  state_.Log("\tsecond");
  EXPECT_EQ(Read(state_.run_log.path()), "first\r\n\tsecond\r\n");
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(stat(state_.run_log.path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
}

TEST_F(RunStateTest, AnUnwritableLogRaisesError57) {
  state_.run_log.SetPath(Path("missing/cubesec.log"));
  try {
    state_.Log("x");
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorFileIo);
#ifdef _WIN32
    EXPECT_EQ(e.description().rfind("Cannot write run log '" + state_.run_log.path() + "': ", 0),
              0u)
        << e.description();
#else
    EXPECT_EQ(e.description(),
              "Cannot write run log '" + state_.run_log.path() + "': No such file or directory");
#endif
  }
}

// The log takes temporary passwords: it is never written through a link, whoever made it,
// and neither the opening before the run nor a later line reaches the file it points to.
// (Windows refuses any reparse point, with its own words.)
#ifndef _WIN32
TEST_F(RunStateTest, ALogThatIsALinkIsNeverOpened) {
  std::ofstream(Path("victim.txt")) << "theirs";
  fs::create_symlink(Path("victim.txt"), state_.run_log.path());
  try {
    state_.run_log.Open(/*secrets=*/true);
    FAIL() << "a link was opened";
  } catch (const RunError& e) {
    EXPECT_EQ(e.description(), "Cannot write run log '" + state_.run_log.path() +
                                   "': it is a symbolic link, which is never followed here");
  }
  EXPECT_FALSE(state_.run_log.is_open());
  EXPECT_THROW(state_.Log("\tCreated user 'x' with temporary password 'TP'"), RunError);
  EXPECT_EQ(Read(Path("victim.txt")), "theirs");
  EXPECT_TRUE(platform_.made_owner_only.empty());
}
#endif

TEST_F(RunStateTest, EveryRunEndsWithTheEmptyLineOnce) {
  state_.run_log.EndWithEmptyLine();  // nothing logged: nothing to close
  EXPECT_FALSE(fs::exists(state_.run_log.path()));
  state_.Log("start");
  state_.Log("\tError: 1 - x\r\nmessage");
  state_.run_log.EndWithEmptyLine();
  EXPECT_EQ(state_.run_log.lines(), 3);
  state_.Log("completed\r\n");  // a line that brings its own empty line
  state_.run_log.EndWithEmptyLine();
  EXPECT_EQ(Read(state_.run_log.path()),
            "start\r\n\tError: 1 - x\r\nmessage\r\n\r\ncompleted\r\n\r\n");
}

TEST_F(RunStateTest, DumpLinesAndTheirFailure) {
  state_.WriteDumpLine("Server: x");
  EXPECT_EQ(Read(state_.dump_file), "");  // gathered into a block
  state_.FlushDump();
  EXPECT_EQ(Read(state_.dump_file), "Server: x\r\n");

#ifndef _WIN32
  state_.dump_out = std::make_unique<LineWriter>(platform_, "/dev/full", false, 4096);
  state_.WriteDumpLine("gathered");
  EXPECT_THROW(state_.FlushDump(), RunError);

  state_.dump_out = std::make_unique<LineWriter>(platform_, "/dev/full", false);
  try {
    state_.WriteDumpLine("lost");
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorFileIo);
    // The message names the dump file, whatever file the lines were being gathered in.
    EXPECT_EQ(e.description(),
              "Cannot write dump file '" + state_.dump_file + "': No space left on device");
  }
#endif
}

TEST_F(RunStateTest, EventsArePumpedWhileWriting) {
  for (int i = 0; i < 640; ++i) state_.WriteDumpLine("line");
  EXPECT_GE(observer_.pumps, 5);
  EXPECT_LE(observer_.pumps, 20);
  state_.observer = nullptr;  // no observer: writing still works
  state_.WriteDumpLine("line");
  state_.Log("line");
}

TEST_F(RunStateTest, BlocksAreCountedAndProgressReported) {
  state_.BeginBlock("Server");
  state_.BeginBlock("Group");
  EXPECT_EQ(state_.blocks, 2);
  state_.ReportProgress("users", 3, 7);
  state_.ReportProgress("applications", 1, 2, "Sample:Basic");
  EXPECT_EQ(observer_.progress,
            (std::vector<std::string>{"users 3/7 ", "applications 1/2 Sample:Basic"}));
  state_.observer = nullptr;  // a session of a dump has none: nothing to tell
  state_.ReportProgress("users", 4, 7);
}

TEST_F(RunStateTest, ReadKeyLineFromTheDumpBeingRestored) {
  std::string key = "stale", value = "stale";
  EXPECT_FALSE(state_.ReadKeyLine(key, value));  // no dump file open
  EXPECT_EQ(key, "");

  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "Key" + std::to_string(i) + ": v\r\n";
  std::ofstream(state_.dump_file, std::ios::binary) << lines;
  state_.dump_in = std::make_unique<LineReader>(state_.dump_file);
  int read = 0;
  while (state_.ReadKeyLine(key, value)) {
    EXPECT_EQ(key, "Key" + std::to_string(read));
    EXPECT_EQ(value, "v");
    ++read;
  }
  EXPECT_EQ(read, 200);
  EXPECT_GE(observer_.pumps, 2);
  EXPECT_FALSE(state_.ReadKeyLine(key, value));  // the end stays the end
}

}  // namespace
}  // namespace cubesec
