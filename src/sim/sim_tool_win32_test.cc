// The rights of a server file, as Windows keeps them: an access list for its owner.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "sim/sim_tool.h"
#include "tools/fake_platform.h"
#include "tools/testing/win32_access.h"

namespace cubesec::sim {
namespace {

namespace fs = std::filesystem;

TEST(Win32SimToolTest, ServerFilesAreForTheirOwnerOnly) {
  const std::string folder = MakeTestFolder("cubesec-sim-tool");
  std::istringstream in;
  std::ostringstream out, err;
  ASSERT_EQ(RunSimTool({"init", "demo", "--admin", "root", "--password", "pw"}, folder + "/servers",
                       in, out, err),
            kToolOk)
      << err.str();
  const std::string path = folder + "/servers/demo.sqlite";
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  const std::vector<std::string> entries = AccessEntries(path, &control);
  EXPECT_FALSE(entries.empty());
  for (const std::string& entry : entries) EXPECT_TRUE(IsAllowedOwnerOnlyEntry(entry)) << entry;
  fs::remove_all(folder);
}

}  // namespace
}  // namespace cubesec::sim
