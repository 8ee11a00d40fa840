// The run log on a Windows disk, through the real platform: the system's own words when it
// cannot be written.
#include <gtest/gtest.h>

#include <filesystem>

#include "client/run_state.h"
#include "client/scripted_api.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

TEST(Win32RunStateTest, AnUnwritableLogSaysTheSystemsReason) {
  const fs::path dir = MakeTestFolder("cubesec_run_state");
  testing::ScriptedApi api;
  RunState state(SystemPlatform(), api);
  state.run_log.SetPath((dir / "missing" / "cubesec.log").string());
  try {
    state.Log("x");
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorFileIo);
    const std::string start = "Cannot write run log '" + state.run_log.path() + "': ";
    EXPECT_EQ(e.description().rfind(start, 0), 0u) << e.description();
    EXPECT_GT(e.description().size(), start.size()) << "the reason is missing";
  }
  state.run_log.Close();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace cubesec
