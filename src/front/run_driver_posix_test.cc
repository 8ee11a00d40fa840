// What a run leaves on a POSIX disk and where it puts its log there: mode bits, and the
// folders where POSIX keeps its programs. (Windows has no mode bits; its platform test
// checks the file's access list instead.)
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "client/scripted_api.h"
#include "front/run_driver.h"
#include "front/run_outcome.h"
#include "tools/fake_platform.h"

namespace cubesec::testing {
namespace {

namespace fs = std::filesystem;

TEST(PosixRunDriverTest, RunLogIsOwnerOnlyAndAReadableOneIsMadeSo) {
  const std::string folder = MakeTestFolder("driver-test");
  const std::string log = folder + "/cubesec.log";
  ScriptedApi api;
  RunParameters params{Command::kDump, folder + "/dump.txt", "Prod", "admin", "pw"};
  const auto run = [&] {
    RunState state(SystemPlatform(), api);
    state.run_log.SetPath(log);
    return CarryOutRun(state, params).completed;
  };
  ASSERT_TRUE(run());
  struct stat info {};
  ASSERT_EQ(stat(log.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ASSERT_EQ(chmod(log.c_str(), 0644), 0);
  params.command = Command::kRestore;
  std::ofstream(params.dump_file, std::ios::binary)
      << "Server: Prod\r\n   Format: 2\r\n\r\nEnd: complete\r\n\r\n";
  EXPECT_TRUE(run());
  ASSERT_EQ(stat(log.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  fs::remove_all(folder);
}

// A program under /usr never writes its log into its folder, even one that root may write.
TEST(PosixRunLogPlaceTest, NeverInTheFoldersOfTheSystemsPrograms) {
  FakePlatform platform;
  platform.state_folder = "/home/ann/.local/state";
  for (const char* installed :
       {"/usr/bin/cubesec", "/usr/local/bin/cubesec", "/bin/cubesec", "/usr/../usr/sbin/cubesec"}) {
    platform.executable_path = installed;
    platform.writable_folders =
        std::vector<std::string>{fs::path(installed).parent_path().string()};
    EXPECT_EQ(DecideRunLogPath(platform), "/home/ann/.local/state/cubesec/cubesec.log")
        << installed;
  }
  platform.executable_path = "/usrlocal/bin/cubesec";  // only the folder /usr itself counts
  platform.writable_folders = std::vector<std::string>{"/usrlocal/bin"};
  EXPECT_EQ(DecideRunLogPath(platform), "/usrlocal/bin/cubesec.log");
}

}  // namespace
}  // namespace cubesec::testing
