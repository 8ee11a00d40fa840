// The window module as the program finds it: beside the program, used only when it is
// there and is a cubesec module, and only when it can open the display; otherwise the
// terminal form serves and the user is told why there is no window.
#include "front/window_module.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/fake_platform.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

class WindowModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cubesec_module_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "bin");
    platform_.executable_path = (dir_ / "bin" / "cubesec").string();
    platform_.has_display = true;
    platform_.real_files = true;  // the system's loader opens the module from the disk
    module_ = WindowModulePath(platform_.executable_path, CUBESEC_WINDOW_MODULE_FROM_BIN);
    fs::create_directories(fs::path(module_).parent_path());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::unique_ptr<InteractiveSession> Make(std::string* no_window) {
    char arg0[] = "cubesec";
    char* argv[] = {arg0, nullptr};
    return MakeInteractiveSession(platform_, "cubesec", 1, argv, no_window);
  }

  fs::path dir_;
  std::string module_;
  FakePlatform platform_;
};

TEST_F(WindowModuleTest, WithoutTheModuleTheTerminalServesAndNothingIsSaid) {
  EXPECT_EQ(fs::path(module_).lexically_normal(), dir_ / "lib" / "cubesec" / "cubesec-qt.so");
  std::string no_window = "unchanged";
  EXPECT_EQ(Make(&no_window), nullptr) << "no window and no terminal";
  EXPECT_EQ(no_window, "");
  platform_.stdin_is_terminal = true;
  EXPECT_NE(Make(&no_window), nullptr);
  EXPECT_EQ(no_window, "");
}

TEST_F(WindowModuleTest, TheBuiltModuleOpensAWindowOnlyWhereItsDisplayCanBeOpened) {
  fs::create_symlink(CUBESEC_BUILT_WINDOW_MODULE, module_);
  // The module's Qt starts on the platform the environment names; without a terminal, a
  // session can only be the window.
  platform_.env["QT_QPA_PLATFORM"] = "offscreen";
  std::string no_window;
  EXPECT_NE(Make(&no_window), nullptr) << no_window;
  EXPECT_EQ(no_window, "");

  // A display that nothing serves: Qt would end the process, so it is not started.
  platform_.env = {{"DISPLAY", ":9797"}};
  EXPECT_EQ(Make(&no_window), nullptr);
  EXPECT_EQ(no_window, "cannot open X display \":9797\"");
  platform_.stdin_is_terminal = true;
  EXPECT_NE(Make(&no_window), nullptr) << "the terminal form serves instead";
}

TEST_F(WindowModuleTest, AFileThatIsNoWindowModuleIsNamed) {
  std::ofstream(module_) << "not a shared object\n";
  std::string no_window;
  EXPECT_EQ(Make(&no_window), nullptr);
  EXPECT_NE(no_window.find(module_), std::string::npos) << no_window;

  // A shared object, but not one of ours.
  fs::remove(module_);
  bool linked = false;
  for (const char* path : {"/lib/x86_64-linux-gnu/libc.so.6", "/usr/lib/libc.so.6",
                           "/lib64/libc.so.6", "/usr/lib/aarch64-linux-gnu/libc.so.6"}) {
    if (!linked && fs::exists(path)) {
      fs::create_symlink(path, module_);
      linked = true;
    }
  }
  if (!linked) GTEST_SKIP() << "no libc.so.6 found to stand in for a foreign module";
  EXPECT_EQ(Make(&no_window), nullptr);
  EXPECT_EQ(no_window, module_ + " is not a cubesec window module");
}

}  // namespace
}  // namespace cubesec
