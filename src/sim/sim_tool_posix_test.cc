// The rights of a server file, as POSIX keeps them.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "sim/sim_tool.h"
#include "tools/fake_platform.h"

namespace cubesec::sim {
namespace {

namespace fs = std::filesystem;

TEST(PosixSimToolTest, ServerFilesAreForTheirOwnerOnly) {
  const std::string folder = MakeTestFolder("cubesec-sim-tool");
  std::istringstream in;
  std::ostringstream out, err;
  ASSERT_EQ(RunSimTool({"init", "demo", "--admin", "root", "--password", "pw"}, folder + "/servers",
                       in, out, err),
            kToolOk)
      << err.str();
  const std::string path = folder + "/servers/demo.sqlite";
  fs::perms perms = fs::status(path).permissions();
  EXPECT_EQ(perms & (fs::perms::group_all | fs::perms::others_all), fs::perms::none);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace cubesec::sim
