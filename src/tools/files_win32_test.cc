// The line files on a Windows disk, through the real platform: the system's own words for a
// missing folder, and a rename onto an existing file, which Windows does not do by itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tools/files.h"
#include "tools/testing/disk_folder_test.h"
#include "tools/text.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

class Win32FilesTest : public DiskFolderTest {};

TEST_F(Win32FilesTest, LineWriterSaysTheSystemsReason) {
  LineWriter writer(platform_, Path("later\\log.txt"), false);
  EXPECT_FALSE(writer.Append("lost"));
  // Windows' "The system cannot find the path specified".
  EXPECT_NE(FindIgnoreCase(writer.error(), "path"), std::string::npos) << writer.error();
  fs::create_directories(dir_ / "later");
  EXPECT_TRUE(writer.Append("kept"));
  EXPECT_EQ(Read("later\\log.txt"), "kept\r\n");
}

TEST_F(Win32FilesTest, RenamingReplacesAnExistingFileAndBackupsRotate) {
  std::ofstream(Path("dump.tmp")) << "new";
  std::ofstream(Path("dump.txt")) << "old";
  std::string error;
  ASSERT_TRUE(RenameFile(platform_, Path("dump.tmp"), Path("dump.txt"), &error)) << error;
  EXPECT_EQ(Read("dump.txt"), "new");
  EXPECT_FALSE(fs::exists(Path("dump.tmp")));
  EXPECT_FALSE(RenameFile(platform_, Path("dump.tmp"), Path("other.txt"), &error));
  EXPECT_EQ(
      error.rfind("cannot rename '" + Path("dump.tmp") + "' to '" + Path("other.txt") + "': ", 0),
      0u)
      << error;

  std::ofstream(Path("dump.bak.txt")) << "b1";
  std::ofstream(Path("dump.bak2.txt")) << "b2";
  ASSERT_TRUE(RotateBackups(platform_, Path("dump.txt"), 2, &error)) << error;
  EXPECT_FALSE(fs::exists(Path("dump.txt")));
  EXPECT_EQ(Read("dump.bak.txt"), "new");
  EXPECT_EQ(Read("dump.bak2.txt"), "b1");
}

}  // namespace
}  // namespace cubesec
