// The line files on a POSIX disk, through the real platform: what the system itself does
// (rights of a new file, a device that is always full, its words for a missing folder, a
// link in place of the dump file) cannot be shown by the fake.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tools/files.h"
#include "tools/testing/disk_folder_test.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

class PosixFilesTest : public DiskFolderTest {};

TEST_F(PosixFilesTest, LineWriterCreatesOwnerOnlyFilesWhenAsked) {
  LineWriter writer(platform_, Path("secret.log"), true);
  ASSERT_TRUE(writer.Append("x"));
  struct stat info {};
  ASSERT_EQ(::stat(Path("secret.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(PosixFilesTest, LineWriterSaysTheSystemsReason) {
  LineWriter writer(platform_, Path("later/log.txt"), false);
  EXPECT_FALSE(writer.Append("lost"));
  EXPECT_NE(writer.error().find("No such file"), std::string::npos) << writer.error();
  fs::create_directories(dir_ / "later");
  EXPECT_TRUE(writer.Append("kept"));
  EXPECT_EQ(Read("later/log.txt"), "kept\r\n");

  // A device that is always full, line by line and a block at a time.
  LineWriter full(platform_, "/dev/full", false);
  EXPECT_FALSE(full.Append("x"));
  EXPECT_NE(full.error().find("No space"), std::string::npos) << full.error();
  LineWriter full_blocks(platform_, "/dev/full", false, 1 << 20);
  ASSERT_TRUE(full_blocks.Append("x"));
  EXPECT_FALSE(full_blocks.Flush());
  EXPECT_NE(full_blocks.error().find("No space"), std::string::npos) << full_blocks.error();
  EXPECT_TRUE(full_blocks.Flush());
  EXPECT_EQ(full_blocks.writes(), 1);
}

// The dump's rename replaces a link at the dump file's name, never what the link points to;
// backups rotate on the disk as they do in memory.
TEST_F(PosixFilesTest, RenamingReplacesALinkAndBackupsRotate) {
  std::ofstream(Path("theirs.txt")) << "theirs";
  std::ofstream(Path("dump.tmp")) << "new";
  fs::create_symlink(Path("theirs.txt"), Path("dump.txt"));
  std::string error;
  ASSERT_TRUE(RenameFile(platform_, Path("dump.tmp"), Path("dump.txt"), &error)) << error;
  EXPECT_FALSE(fs::is_symlink(Path("dump.txt")));
  EXPECT_EQ(Read("dump.txt"), "new");
  EXPECT_EQ(Read("theirs.txt"), "theirs");
  EXPECT_FALSE(RenameFile(platform_, Path("dump.tmp"), Path("other.txt"), &error));
  EXPECT_EQ(error, "cannot rename '" + Path("dump.tmp") + "' to '" + Path("other.txt") +
                       "': No such file or directory");

  std::ofstream(Path("dump.bak.txt")) << "b1";
  ASSERT_TRUE(RotateBackups(platform_, Path("dump.txt"), 2, &error)) << error;
  EXPECT_FALSE(fs::exists(Path("dump.txt")));
  EXPECT_EQ(Read("dump.bak.txt"), "new");
  EXPECT_EQ(Read("dump.bak2.txt"), "b1");
}

}  // namespace
}  // namespace cubesec
