#include "tools/files.h"

#include <gtest/gtest.h>

#include "tools/fake_platform.h"

namespace cubesec {
namespace {

// The files are the fake platform's, in memory; files_posix_test.cc and files_win32_test.cc
// try the same code on the real disk where the system's own behaviour is the point.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override { platform_.folders.insert(kFolder); }

  static std::string Path(const std::string& name) { return std::string(kFolder) + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) {
    platform_.files[Path(name)] = bytes;
  }
  std::string Read(const std::string& name) const {
    auto file = platform_.files.find(Path(name));
    return file == platform_.files.end() ? "(missing)" : file->second;
  }
  bool Exists(const std::string& name) { return FileExists(platform_, Path(name)); }
  std::vector<std::string> Lines(const std::string& bytes) {
    Write("lines.txt", bytes);
    LineReader reader(platform_, Path("lines.txt"));
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

  static constexpr const char* kFolder = "/work";
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

  // A block the OS refuses is reported and dropped; nothing of it is written later.
  platform_.write_errors[Path("full.txt")] = "No space left on device";
  LineWriter full(platform_, Path("full.txt"), false, 1 << 20);
  ASSERT_TRUE(full.Append("x"));
  EXPECT_FALSE(full.Flush());
  EXPECT_EQ(full.error(), "No space left on device");
  EXPECT_TRUE(full.Flush());
  EXPECT_EQ(full.writes(), 1);
  platform_.write_errors.clear();
  EXPECT_TRUE(full.Flush());
  EXPECT_EQ(Read("full.txt"), "");
}

TEST_F(FilesTest, LineWriterReportsFailuresAndTriesAgainLater) {
  LineWriter writer(platform_, Path("later/log.txt"), false);
  EXPECT_FALSE(writer.Append("lost"));
  // The platform's own words.
  EXPECT_EQ(writer.error(), "No such file or directory");
  platform_.folders.insert(Path("later"));
  EXPECT_TRUE(writer.Append("kept"));
  EXPECT_EQ(Read("later/log.txt"), "kept\r\n");

  platform_.write_errors[Path("full.txt")] = "No space left on device";
  LineWriter full(platform_, Path("full.txt"), false);
  EXPECT_FALSE(full.Append("x"));
  EXPECT_EQ(full.error(), "No space left on device");
  EXPECT_EQ(Read("full.txt"), "");
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
  LineReader reader(platform_, Path("missing.txt"));
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
  EXPECT_TRUE(Exists("f.txt"));
  EXPECT_FALSE(Exists("nope.txt"));
  EXPECT_FALSE(FileExists(platform_, kFolder));
  EXPECT_FALSE(FileExists(platform_, ""));
  EXPECT_TRUE(IsFolder(platform_, kFolder));
  EXPECT_FALSE(IsFolder(platform_, Path("f.txt")));
  EXPECT_FALSE(IsFolder(platform_, ""));
}

TEST_F(FilesTest, ReadWholeFileSaysWhyItCannot) {
  Write("f.txt", std::string("a\r\n\0b", 5));
  std::string text, error;
  ASSERT_TRUE(ReadWholeFile(platform_, Path("f.txt"), text, &error)) << error;
  EXPECT_EQ(text, std::string("a\r\n\0b", 5));
  EXPECT_FALSE(ReadWholeFile(platform_, kFolder, text, &error));
  EXPECT_EQ(error, "is a folder");
  EXPECT_FALSE(ReadWholeFile(platform_, Path("nope.txt"), text, &error));
  EXPECT_EQ(error, "No such file or directory");
  platform_.read_errors[Path("f.txt")] = "Permission denied";
  EXPECT_FALSE(ReadWholeFile(platform_, Path("f.txt"), text, &error));
  EXPECT_EQ(error, "Permission denied");
}

TEST_F(FilesTest, RenameFileReplacesAFileOfTheNewName) {
  Write("new.tmp", "new");
  Write("dump.txt", "old");
  std::string error;
  ASSERT_TRUE(RenameFile(platform_, Path("new.tmp"), Path("dump.txt"), &error)) << error;
  EXPECT_EQ(Read("dump.txt"), "new");
  EXPECT_FALSE(Exists("new.tmp"));
  EXPECT_FALSE(RenameFile(platform_, Path("new.tmp"), Path("other.txt"), &error));
  EXPECT_EQ(error, "cannot rename '" + Path("new.tmp") + "' to '" + Path("other.txt") +
                       "': No such file or directory");
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
  ASSERT_TRUE(RotateBackups(platform_, Path("dump.txt"), 5, &error)) << error;
  EXPECT_FALSE(Exists("dump.txt"));
  EXPECT_EQ(Read("dump.bak.txt"), "new");
  EXPECT_EQ(Read("dump.bak2.txt"), "b1");
  EXPECT_FALSE(Exists("dump.bak3.txt"));
  EXPECT_EQ(Read("dump.bak4.txt"), "b3");
  EXPECT_FALSE(Exists("dump.bak5.txt"));  // the oldest is dropped
}

TEST_F(FilesTest, RotateBackupsWithoutExtensionInADottedFolder) {
  platform_.folders.insert(Path("dir.v2"));
  Write("dir.v2/dump", "new");
  Write("dir.v2/dump.bak", "b1");
  ASSERT_TRUE(RotateBackups(platform_, Path("dir.v2/dump"), 2));
  EXPECT_EQ(Read("dir.v2/dump.bak"), "new");
  EXPECT_EQ(Read("dir.v2/dump.bak2"), "b1");
  EXPECT_FALSE(Exists("dir.v2.bak/dump"));
}

TEST_F(FilesTest, RotateBackupsEdgeCases) {
  Write("keep.txt", "x");
  EXPECT_TRUE(RotateBackups(platform_, Path("keep.txt"), 0));  // nothing to keep: the file stays
  EXPECT_EQ(Read("keep.txt"), "x");
  EXPECT_TRUE(RotateBackups(platform_, Path("absent.txt"), 3));  // nothing there yet

  // A folder where a backup would go makes the rename fail and says so.
  Write("d.txt", "x");
  platform_.folders.insert(Path("d.bak.txt"));
  std::string error;
  EXPECT_FALSE(RotateBackups(platform_, Path("d.txt"), 1, &error));
  EXPECT_NE(error.find("d.bak.txt"), std::string::npos) << error;
  EXPECT_EQ(Read("d.txt"), "x");

  // A rename the system refuses stops the rotation, and the error names both files.
  Write("e.txt", "x");
  Write("e.bak.txt", "b1");
  platform_.rename_errors[Path("e.bak.txt")] = "Permission denied";
  EXPECT_FALSE(RotateBackups(platform_, Path("e.txt"), 1, &error));
  EXPECT_EQ(error, "cannot rename '" + Path("e.txt") + "' to '" + Path("e.bak.txt") +
                       "': Permission denied");
  EXPECT_EQ(Read("e.txt"), "x");
}

}  // namespace
}  // namespace cubesec
