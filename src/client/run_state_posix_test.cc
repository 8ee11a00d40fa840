// The run log on a POSIX disk, through the real platform: its rights, the system's words
// when it cannot be written, and a link put in its place.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "client/run_state.h"
#include "client/scripted_api.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

class PosixRunStateTest : public ::testing::Test {
 protected:
  void SetUp() override { state_.run_log.SetPath(Path("cubesec.log")); }
  void TearDown() override {
    state_.run_log.Close();
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_ = MakeTestFolder("cubesec_run_state");
  testing::ScriptedApi api_;
  RunState state_{SystemPlatform(), api_};
};

TEST_F(PosixRunStateTest, TheLogIsOwnerOnlyAndItsFailureSaysTheSystemsReason) {
  state_.Log("first");
  EXPECT_EQ(Read(state_.run_log.path()), "first\r\n");
  struct stat info {};
  ASSERT_EQ(stat(state_.run_log.path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

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

// The log takes temporary passwords: it is never written through a link, whoever made it,
// and neither the opening before the run nor a later line reaches the file it points to.
// (Windows refuses any reparse point, with its own words: its platform test.)
TEST_F(PosixRunStateTest, ALogThatIsALinkIsNeverOpened) {
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
  struct stat info {};
  ASSERT_EQ(stat(Path("victim.txt").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & 077, 0u) << "the file behind the link was made private";
}

}  // namespace
}  // namespace cubesec
