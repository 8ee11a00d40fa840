#include "client/run_state.h"

#include <gtest/gtest.h>

#include "client/scripted_api.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

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

// The files are the fake platform's, in memory; run_state_posix_test.cc and
// run_state_win32_test.cc show what the system itself does with them.
class RunStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform_.folders.insert("/run");
    state_.observer = &observer_;
    state_.run_log.SetPath(Path("cubesec.log"));
    state_.dump_file = Path("dump.txt");
  }
  static std::string Path(const std::string& name) { return "/run/" + name; }
  std::string Read(const std::string& path) const {
    auto file = platform_.files.find(path);
    return file == platform_.files.end() ? "" : file->second;
  }

  FakePlatform platform_;
  testing::ScriptedApi api_;
  CountingObserver observer_;
  RunState state_{platform_, api_};
};

TEST_F(RunStateTest, LogAppendsOwnerOnlyLines) {
  state_.Log("first");
  state_.Log("\tsecond");
  EXPECT_EQ(Read(state_.run_log.path()), "first\r\n\tsecond\r\n");
}

TEST_F(RunStateTest, AnUnwritableLogRaisesError57) {
  state_.run_log.SetPath(Path("missing/cubesec.log"));
  try {
    state_.Log("x");
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorFileIo);
    EXPECT_EQ(e.description(),
              "Cannot write run log '" + state_.run_log.path() + "': No such file or directory");
  }
}

TEST_F(RunStateTest, EveryRunEndsWithTheEmptyLineOnce) {
  state_.run_log.EndWithEmptyLine();  // nothing logged: nothing to close
  EXPECT_FALSE(platform_.files.count(state_.run_log.path()));
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

  platform_.write_errors[Path("full.txt")] = "No space left on device";
  state_.dump_out = std::make_unique<LineWriter>(platform_, Path("full.txt"), false, 4096);
  state_.WriteDumpLine("gathered");
  EXPECT_THROW(state_.FlushDump(), RunError);

  state_.dump_out = std::make_unique<LineWriter>(platform_, Path("full.txt"), false);
  try {
    state_.WriteDumpLine("lost");
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorFileIo);
    // The message names the dump file, whatever file the lines were being gathered in.
    EXPECT_EQ(e.description(),
              "Cannot write dump file '" + state_.dump_file + "': No space left on device");
  }
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
  platform_.files[state_.dump_file] = lines;
  state_.dump_in = std::make_unique<LineReader>(platform_, state_.dump_file);
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
