#include "tools/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tools/fake_platform.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cubesec_files_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Lines(const std::string& bytes) {
    Write("lines.txt", bytes);
    LineReader reader(Path("lines.txt"));
    EXPECT_TRUE(reader.is_open());
    std::vector<std::string> lines;
    std::string line;
    while (reader.ReadLine(line)) lines.push_back(line);
    EXPECT_TRUE(reader.AtEnd());
    // The splitter that the whole-file check uses gives the same lines, as views.
    LineSplitter splitter(bytes);
    std::vector<std::string> split;
    for (std::string_view view; splitter.Next(view);) {
      EXPECT_TRUE(view.empty() || (view.data() >= bytes.data() &&
                                   view.data() + view.size() <= bytes.data() + bytes.size()));
      split.emplace_back(view);
    }
    EXPECT_TRUE(splitter.AtEnd());
    EXPECT_EQ(split, lines);
    return lines;
  }

  fs::path dir_;
  FakePlatform platform_;
};

TEST_F(FilesTest, LineWriterEndsEveryLineWithCrLfAndKeepsEarlierContent) {
  Write("log.txt", "old\r\n");
  LineWriter writer(platform_, Path("log.txt"), false);
  ASSERT_TRUE(writer.Append("one"));
  // Each line reaches the file before Append returns, without closing.
  EXPECT_EQ(Read("log.txt"), "old\r\none\r\n");
  ASSERT_TRUE(writer.Append(""));
  writer.Close();
  ASSERT_TRUE(writer.Append("two"));
  EXPECT_EQ(Read("log.txt"), "old\r\none\r\n\r\ntwo\r\n");
}

TEST_F(FilesTest, LineWriterWithABlockSizeHandsOverWholeLinesAtATime) {
  LineWriter writer(platform_, Path("dump.txt"), false, 10);
  ASSERT_TRUE(writer.Open());  // the file is there before the first line
  EXPECT_EQ(Read("dump.txt"), "");
  ASSERT_TRUE(writer.Append("abc"));
  ASSERT_TRUE(writer.Append("de"));
  EXPECT_EQ(Read("dump.txt"), "");  // 9 bytes gathered, below the block size
  EXPECT_EQ(writer.writes(), 0);
  ASSERT_TRUE(writer.Append("f"));  // 12 bytes: one write of three whole lines
  EXPECT_EQ(Read("dump.txt"), "abc\r\nde\r\nf\r\n");
  EXPECT_EQ(writer.writes(), 1);
  ASSERT_TRUE(writer.Append("g"));
  EXPECT_TRUE(writer.Flush());
  EXPECT_TRUE(writer.Flush());  // nothing left: no second write
  EXPECT_EQ(writer.writes(), 2);
  ASSERT_TRUE(writer.Append("h"));
  writer.Close();  // hands over what is gathered
  EXPECT_EQ(Read("dump.txt"), "abc\r\nde\r\nf\r\ng\r\nh\r\n");

#ifndef _WIN32  // Windows has no device that is always full
  // A block the OS refuses is reported and dropped; nothing of it is written later.
  LineWriter full(platform_, "/dev/full", false, 1 << 20);
  ASSERT_TRUE(full.Append("x"));
  EXPECT_FALSE(full.Flush());
  EXPECT_NE(full.error().find("No space"), std::string::npos) << full.error();
  EXPECT_TRUE(full.Flush());
  EXPECT_EQ(full.writes(), 1);
#endif
}

TEST_F(FilesTest, LineWriterCreatesOwnerOnlyFilesWhenAsked) {
  LineWriter writer(platform_, Path("secret.log"), true);
  ASSERT_TRUE(writer.Append("x"));
#ifndef _WIN32
  struct stat info {};
  ASSERT_EQ(::stat(Path("secret.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
#endif
}

TEST_F(FilesTest, LineWriterReportsFailuresAndTriesAgainLater) {
  LineWriter writer(platform_, Path("later/log.txt"), false);
  EXPECT_FALSE(writer.Append("lost"));
  // The system's own words: "No such file or directory", or Windows' "path not found".
#ifdef _WIN32
  EXPECT_NE(FindIgnoreCase(writer.error(), "path"), std::string::npos) << writer.error();
#else
  EXPECT_NE(writer.error().find("No such file"), std::string::npos) << writer.error();
#endif
  fs::create_directories(dir_ / "later");
  EXPECT_TRUE(writer.Append("kept"));
  EXPECT_EQ(Read("later/log.txt"), "kept\r\n");

#ifndef _WIN32
  LineWriter full(platform_, "/dev/full", false);
  EXPECT_FALSE(full.Append("x"));
  EXPECT_NE(full.error().find("No space"), std::string::npos) << full.error();
#endif
}

TEST_F(FilesTest, LineReaderAcceptsEveryLineEnd) {
  EXPECT_EQ(Lines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  // A run of CRs before LF is one line end; without LF each CR ends a line.
  EXPECT_EQ(Lines("x\r\r\ny\r\r\r\nz\n"), (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(Lines("x\r\r\ry"), (std::vector<std::string>{"x", "", "", "y"}));
  EXPECT_EQ(Lines("x\r\r"), (std::vector<std::string>{"x", ""}));
  // A byte order mark at the start is skipped; anywhere else it is text.
  const std::string bom = "\xEF\xBB\xBF";
  EXPECT_EQ(Lines(bom + "a\r\n" + bom), (std::vector<std::string>{"a", bom}));
  EXPECT_EQ(Lines("\xEF\xBB"), (std::vector<std::string>{"\xEF\xBB"}));
  EXPECT_EQ(Lines("\n"), (std::vector<std::string>{""}));
  EXPECT_EQ(Lines(""), (std::vector<std::string>{}));
  EXPECT_EQ(Lines(std::string("a\0b\r\n\0", 6)),
            (std::vector<std::string>{std::string("a\0b", 3), std::string(1, '\0')}));
  std::string huge(3 << 20, 'q');
  EXPECT_EQ(Lines(huge + "\r\nz"), (std::vector<std::string>{huge, "z"}));
  // One kind of line end ahead of the other, either way round, and both kinds mixed.
  EXPECT_EQ(Lines("a\nb\nc\r\nd\re"), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(Lines("a\rb\rc\nd\ne\r"), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(Lines("\r\n\n\r\r\n\rx"), (std::vector<std::string>{"", "", "", "", "x"}));
}

TEST_F(FilesTest, LineReaderOfAMissingFile) {
  LineReader reader(Path("missing.txt"));
  EXPECT_FALSE(reader.is_open());
  std::string line = "stale";
  EXPECT_FALSE(reader.ReadLine(line));
  EXPECT_EQ(line, "");
}

TEST_F(FilesTest, KeyLines) {
  KeyLine kv = SplitKeyLine("  Group :  admins : x ");
  EXPECT_EQ(kv.key, "Group");
  EXPECT_EQ(kv.value, "admins : x");
  kv = SplitKeyLine("  Head  ");
  EXPECT_EQ(kv.key, "Head");
  EXPECT_EQ(kv.value, "");
  const KeyView view = SplitKeyView("   Access :  Read  ");
  EXPECT_EQ(std::string(view.key) + "|" + std::string(view.value), "Access|Read");
  EXPECT_TRUE(SplitKeyView(" : ").key.empty() && SplitKeyView(" : ").value.empty());
}

TEST_F(FilesTest, FileExistsOnlyForRegularFiles) {
  Write("f.txt", "x");
  EXPECT_TRUE(FileExists(Path("f.txt")));
  EXPECT_FALSE(FileExists(Path("nope.txt")));
  EXPECT_FALSE(FileExists(dir_.string()));
  EXPECT_FALSE(FileExists(""));
}

TEST(BackupName, ExtensionComesFromTheFileNameAlone) {
  EXPECT_EQ(BackupName("dump.txt", 0), "dump.txt");
  EXPECT_EQ(BackupName("dump.txt", 1), "dump.bak.txt");
  EXPECT_EQ(BackupName("dump.txt", 3), "dump.bak3.txt");
  EXPECT_EQ(BackupName("dump", 1), "dump.bak");
  EXPECT_EQ(BackupName("dump", 2), "dump.bak2");
  EXPECT_EQ(BackupName("dir.v2/dump", 2), "dir.v2/dump.bak2");
  EXPECT_EQ(BackupName("/a.b/c.d/dump.sec.txt", 1), "/a.b/c.d/dump.sec.bak.txt");
}

TEST_F(FilesTest, RotateBackupsShiftsEveryGenerationAcrossGaps) {
  Write("dump.txt", "new");
  Write("dump.bak.txt", "b1");
  Write("dump.bak3.txt", "b3");
  Write("dump.bak5.txt", "b5");
  std::string error;
  ASSERT_TRUE(RotateBackups(Path("dump.txt"), 5, &error)) << error;
  EXPECT_FALSE(FileExists(Path("dump.txt")));
  EXPECT_EQ(Read("dump.bak.txt"), "new");
  EXPECT_EQ(Read("dump.bak2.txt"), "b1");
  EXPECT_FALSE(FileExists(Path("dump.bak3.txt")));
  EXPECT_EQ(Read("dump.bak4.txt"), "b3");
  EXPECT_FALSE(FileExists(Path("dump.bak5.txt")));  // the oldest is dropped
}

TEST_F(FilesTest, RotateBackupsWithoutExtensionInADottedFolder) {
  fs::create_directories(dir_ / "dir.v2");
  Write("dir.v2/dump", "new");
  Write("dir.v2/dump.bak", "b1");
  ASSERT_TRUE(RotateBackups(Path("dir.v2/dump"), 2));
  EXPECT_EQ(Read("dir.v2/dump.bak"), "new");
  EXPECT_EQ(Read("dir.v2/dump.bak2"), "b1");
  EXPECT_FALSE(FileExists(Path("dir.v2.bak/dump")));
}

TEST_F(FilesTest, RotateBackupsEdgeCases) {
  Write("keep.txt", "x");
  EXPECT_TRUE(RotateBackups(Path("keep.txt"), 0));  // nothing to keep: the file stays
  EXPECT_EQ(Read("keep.txt"), "x");
  EXPECT_TRUE(RotateBackups(Path("absent.txt"), 3));  // nothing there yet

  // A folder where a backup would go makes the rename fail and says so.
  Write("d.txt", "x");
  fs::create_directories(dir_ / "d.bak.txt" / "inner");
  std::string error;
  EXPECT_FALSE(RotateBackups(Path("d.txt"), 1, &error));
  EXPECT_NE(error.find("d.bak.txt"), std::string::npos) << error;
  EXPECT_EQ(Read("d.txt"), "x");
}

}  // namespace
}  // namespace cubesec
