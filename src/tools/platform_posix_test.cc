#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/dates.h"
#include "tools/platform.h"
#include "tools/testing/crypto_checks.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
    tzset();
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class PosixPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("cubesec_platform_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
  Platform& platform_ = SystemPlatform();
};

TEST_F(PosixPlatformTest, ReadIniValueFollowsPrivateProfileRules) {
  std::ofstream(Path("essbase.ini"), std::ios::binary) << "; comment\r\n"
                                                       << "Server=outside\r\n"
                                                       << "[Other]\r\n"
                                                       << "Server=wrong\r\n"
                                                       << "  [ SQL Server ]  \r\n"
                                                       << "  SERVER  =  hyperion01  \r\n"
                                                       << "server=second\r\n"
                                                       << ";User=commented\n"
                                                       << "Empty=\n"
                                                       << "[sql server]\n"
                                                       << "User=admin\n";
  std::string file = Path("essbase.ini");
  EXPECT_EQ(platform_.ReadIniValue(file, "sql server", "Server"), "hyperion01");
  EXPECT_EQ(platform_.ReadIniValue(file, "SQL SERVER", "user"), "admin");
  EXPECT_EQ(platform_.ReadIniValue(file, "Other", "server"), "wrong");
  EXPECT_EQ(platform_.ReadIniValue(file, "SQL Server", "Empty"), "");
  EXPECT_EQ(platform_.ReadIniValue(file, "SQL Server", "Password"), std::nullopt);
  EXPECT_EQ(platform_.ReadIniValue(file, "Missing", "Server"), std::nullopt);
  EXPECT_EQ(platform_.ReadIniValue(Path("none.ini"), "SQL Server", "Server"), std::nullopt);

  // Saved by an editor that writes a byte order mark, with values in quotes.
  std::ofstream(Path("bom.ini"), std::ios::binary) << "\xEF\xBB\xBF[Login]\r\n"
                                                   << "Server = \"host with blanks\" \r\n"
                                                   << "User='admin'\r\n"
                                                   << "Half=\"open\r\n"
                                                   << "Mixed=\"a'\r\n"
                                                   << "Inner=a \"b\" c\r\n";
  file = Path("bom.ini");
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "Server"), "host with blanks");
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "User"), "admin");
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "Half"), "\"open");
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "Mixed"), "\"a'");
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "Inner"), "a \"b\" c");
}

TEST_F(PosixPlatformTest, EnvironmentAndWindowsDirectory) {
  ScopedEnv windir("WINDIR", nullptr);
  EXPECT_EQ(platform_.WindowsDirectory(), "/etc");
  {
    ScopedEnv empty("WINDIR", "");
    EXPECT_EQ(platform_.WindowsDirectory(), "/etc");
  }
  ScopedEnv set("WINDIR", "/srv/win");
  EXPECT_EQ(platform_.WindowsDirectory(), "/srv/win");
  EXPECT_EQ(platform_.GetEnv("WINDIR"), "/srv/win");
  EXPECT_EQ(platform_.GetEnv("CUBESEC_SURELY_UNSET_VARIABLE"), std::nullopt);
  EXPECT_EQ(platform_.ReadRegistryValue("Software\\x", "y"), std::nullopt);
}

TEST_F(PosixPlatformTest, ClockCanBePinned) {
  {
    ScopedEnv now("CUBESEC_NOW", "1796741702");
    EXPECT_EQ(platform_.NowUtc(), 1796741702);
  }
  {
    ScopedEnv now("CUBESEC_NOW", "-5");
    EXPECT_EQ(platform_.NowUtc(), -5);
  }
  for (const char* junk : {"12x", "", " 12", "1.5"}) {
    ScopedEnv now("CUBESEC_NOW", junk);
    int64_t real = static_cast<int64_t>(time(nullptr));
    EXPECT_LE(std::llabs(platform_.NowUtc() - real), 5) << junk;
  }
}

TEST_F(PosixPlatformTest, ToLocalUsesTheTimeZoneRules) {
  {
    ScopedEnv tz("TZ", "UTC0");
    LocalDateTime t = platform_.ToLocal(951782400);
    EXPECT_EQ(FormatGeneralDate(t), "2000-02-29 00:00:00");
    EXPECT_EQ(t.weekday, 2);
  }
  ScopedEnv tz("TZ", "XYZ-2");  // two hours east of UTC, without tzdata
  LocalDateTime t = platform_.ToLocal(951782400 - 3600);
  EXPECT_EQ(FormatGeneralDate(t), "2000-02-29 01:00:00");
  EXPECT_EQ(t.weekday, 2);
  EXPECT_EQ(FormatGeneralDate(platform_.ToLocal(-7200)), "1970-01-01 00:00:00");
}

TEST_F(PosixPlatformTest, OpenAppendRightsAndWriteFailures) {
  mode_t old_mask = umask(022);
  std::string error;
  {
    auto file = platform_.OpenAppend(Path("private.log"), true, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(file->Write("abc"));
    auto shared = platform_.OpenAppend(Path("shared.txt"), false, &error);
    ASSERT_TRUE(shared) << error;
  }
  umask(old_mask);
  struct stat info {};
  ASSERT_EQ(stat(Path("private.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, 3);
  ASSERT_EQ(stat(Path("shared.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);

  EXPECT_EQ(platform_.OpenAppend(Path("no/such/dir.log"), false, &error), nullptr);
  EXPECT_EQ(error, "No such file or directory");

  auto full = platform_.OpenAppend("/dev/full", false, &error);
  ASSERT_TRUE(full) << error;
  EXPECT_FALSE(full->Write("x"));
  EXPECT_EQ(full->LastError(), "No space left on device");
}

// A private file (the run log) is never opened through a link, a dangling one included, nor
// when it is no regular file; a shared one still may be.
TEST_F(PosixPlatformTest, APrivateFileIsNeverOpenedThroughALinkNorWhenItIsNoRegularFile) {
  std::ofstream(Path("victim.txt")) << "theirs";
  ASSERT_EQ(::chmod(Path("victim.txt").c_str(), 0644), 0);
  fs::create_symlink(Path("victim.txt"), Path("link.log"));
  fs::create_symlink(Path("made-through-link.txt"), Path("dangling.log"));
  ASSERT_EQ(::mkfifo(Path("fifo.log").c_str(), 0600), 0);
  std::string error;
  for (const char* refused : {"link.log", "dangling.log"}) {
    SCOPED_TRACE(refused);
    error.clear();
    EXPECT_EQ(platform_.OpenAppend(Path(refused), true, &error), nullptr);
    EXPECT_EQ(error, "it is a symbolic link, which is never followed here");
  }
  for (const std::string& refused : {Path("fifo.log"), std::string("/dev/null")}) {
    SCOPED_TRACE(refused);
    error.clear();
    EXPECT_EQ(platform_.OpenAppend(refused, true, &error), nullptr);
    EXPECT_EQ(error, "it is not a regular file");
  }
  EXPECT_FALSE(fs::exists(Path("made-through-link.txt")));
  // Nor are its rights changed through a link.
  EXPECT_FALSE(platform_.MakeOwnerOnly(Path("link.log"), &error));
  EXPECT_EQ(error, "it is a symbolic link, which is never followed here");
  struct stat info {};
  ASSERT_EQ(stat(Path("victim.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(info.st_size, 6);

  auto shared = platform_.OpenAppend(Path("link.log"), false, &error);
  ASSERT_TRUE(shared) << error;
  EXPECT_TRUE(shared->Write("!"));
}

TEST_F(PosixPlatformTest, APrivateFileOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  std::ofstream(Path("theirs.log")) << "theirs";
  ASSERT_EQ(::chown(Path("theirs.log").c_str(), 65534, 65534), 0);
  std::string error;
  EXPECT_EQ(platform_.OpenAppend(Path("theirs.log"), true, &error), nullptr);
  EXPECT_EQ(error,
            "it belongs to another user (uid 65534), not to the one who runs this program "
            "(uid 0)");
  EXPECT_EQ(fs::file_size(Path("theirs.log")), 6u);
  EXPECT_TRUE(platform_.OpenAppend(Path("theirs.log"), false, &error)) << error;
}

TEST_F(PosixPlatformTest, TheRunLogsFolderAndRights) {
  EXPECT_TRUE(platform_.FolderIsWritable(dir_.string()));
  EXPECT_FALSE(platform_.FolderIsWritable(Path("missing")));
  std::ofstream(Path("plain.txt")) << "x";
  EXPECT_FALSE(platform_.FolderIsWritable(Path("plain.txt")));  // a file is no folder
  EXPECT_FALSE(platform_.FolderIsWritable(""));

  std::string error;
  fs::permissions(Path("plain.txt"), fs::perms::owner_read | fs::perms::owner_write |
                                         fs::perms::group_read | fs::perms::others_read |
                                         fs::perms::others_write);
  EXPECT_TRUE(platform_.MakeOwnerOnly(Path("plain.txt"), &error)) << error;
  struct stat info {};
  ASSERT_EQ(stat(Path("plain.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_TRUE(platform_.MakeOwnerOnly(Path("plain.txt"), &error));  // private already
  EXPECT_TRUE(platform_.MakeOwnerOnly(Path("missing.log"), &error));
  EXPECT_FALSE(fs::exists(Path("missing.log")));
  EXPECT_FALSE(platform_.MakeOwnerOnly(Path("plain.txt/below"), &error));
  EXPECT_EQ(error, "Not a directory");

  {
    ScopedEnv state("XDG_STATE_HOME", "/srv/state");
    EXPECT_EQ(platform_.UserStateFolder(), "/srv/state");
  }
  ScopedEnv home("HOME", "/home/ann");
  for (const char* unusable : {"", "relative/state"}) {
    ScopedEnv state("XDG_STATE_HOME", unusable);
    EXPECT_EQ(platform_.UserStateFolder(), "/home/ann/.local/state") << unusable;
  }
  ScopedEnv no_state("XDG_STATE_HOME", nullptr);
  EXPECT_EQ(platform_.UserStateFolder(), "/home/ann/.local/state");
  {
    ScopedEnv data("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(platform_.UserDataFolder(), "/srv/data");
  }
  ScopedEnv no_data("XDG_DATA_HOME", "");
  EXPECT_EQ(platform_.UserDataFolder(), "/home/ann/.local/share");
  ScopedEnv no_home("HOME", nullptr);
  EXPECT_EQ(platform_.UserStateFolder(), "");
  EXPECT_EQ(platform_.UserDataFolder(), "");
}

TEST_F(PosixPlatformTest, FilesAreKnownReadRenamedAndRemovedWithTheSystemsReasons) {
  std::ofstream(Path("f.txt"), std::ios::binary) << "a\r\nb";
  fs::create_symlink(Path("f.txt"), Path("link"));
  fs::create_symlink(Path("gone"), Path("dangling"));
  EXPECT_EQ(platform_.KindOf(Path("f.txt"), false), PathKind::kFile);
  EXPECT_EQ(platform_.KindOf(dir_.string(), true), PathKind::kFolder);
  EXPECT_EQ(platform_.KindOf(Path("link"), false), PathKind::kLink);
  EXPECT_EQ(platform_.KindOf(Path("link"), true), PathKind::kFile);
  EXPECT_EQ(platform_.KindOf(Path("dangling"), true), PathKind::kNone);
  EXPECT_EQ(platform_.KindOf("/dev/null", true), PathKind::kOther);
  EXPECT_EQ(platform_.KindOf("", true), PathKind::kNone);

  std::string text, error;
  ASSERT_TRUE(platform_.ReadFile(Path("link"), text, &error)) << error;
  EXPECT_EQ(text, "a\r\nb");
  EXPECT_FALSE(platform_.ReadFile(Path("none"), text, &error));
  EXPECT_EQ(error, "No such file or directory");

  // Removing a link leaves what it points to.
  ASSERT_TRUE(platform_.RemoveFile(Path("link"), &error)) << error;
  EXPECT_TRUE(fs::exists(Path("f.txt")));
  EXPECT_FALSE(platform_.RemoveFile(Path("link"), &error));
  EXPECT_EQ(error, "No such file or directory");
  ASSERT_TRUE(platform_.RenameFile(Path("f.txt"), Path("g.txt"), &error)) << error;
  EXPECT_FALSE(fs::exists(Path("f.txt")));
  EXPECT_FALSE(platform_.RenameFile(Path("f.txt"), Path("g.txt"), &error));
  EXPECT_EQ(error, "No such file or directory");

  ASSERT_TRUE(platform_.CreateFolders(Path("a/b/c"), &error)) << error;
  EXPECT_TRUE(fs::is_directory(Path("a/b/c")));
  EXPECT_TRUE(platform_.CreateFolders(Path("a/b/c"), &error)) << "an existing folder is no fault";
  EXPECT_FALSE(platform_.CreateFolders(Path("g.txt/sub"), &error));
  EXPECT_EQ(error, "Not a directory");
}

TEST(PosixConventionsTest, ProgramsUnderUsrAndBinAreSystemPrograms) {
  const OsConventions& os = ThisOs();
  for (const char* folder : {"/usr", "/usr/bin", "/usr/local/bin", "/bin", "/sbin"}) {
    EXPECT_TRUE(os.is_system_program_folder(folder)) << folder;
  }
  for (const char* folder : {"/usrx", "/opt/cubesec", "/home/ann/bin", "/binx", ""}) {
    EXPECT_FALSE(os.is_system_program_folder(folder)) << folder;
  }
  EXPECT_EQ(os.Join("/opt/", "x"), "/opt/x");
  EXPECT_EQ(os.Join("/opt", "x"), "/opt/x");
  EXPECT_EQ(os.Variable("HOME"), "$HOME");
}

TEST_F(PosixPlatformTest, RandomBytesAndExecutablePath) {
  unsigned char a[32] = {}, b[32] = {};
  ASSERT_TRUE(platform_.SecureRandom(a, sizeof a));
  ASSERT_TRUE(platform_.SecureRandom(b, sizeof b));
  EXPECT_NE(std::string(reinterpret_cast<char*>(a), 32),
            std::string(reinterpret_cast<char*>(b), 32));
  EXPECT_EQ(fs::path(platform_.ExecutablePath()).filename(), "tools_tests");
}

// OpenSSL's libcrypto gives the published keys and digests.
TEST_F(PosixPlatformTest, CryptographyMatchesThePublishedVectors) {
  testing::CheckCryptoVectors(platform_);
}

TEST_F(PosixPlatformTest, LoadModuleFindsSymbolsOrSaysWhyNot) {
  std::string error;
  std::unique_ptr<LoadedModule> libc = platform_.LoadModule("libc.so.6", &error);
  ASSERT_NE(libc, nullptr) << error;
  using GetPid = int (*)();
  auto get_pid = reinterpret_cast<GetPid>(libc->Symbol("getpid"));
  ASSERT_NE(get_pid, nullptr);
  EXPECT_EQ(get_pid(), getpid());
  EXPECT_EQ(libc->Symbol("no_such_symbol_in_libc"), nullptr);

  std::ofstream(Path("not-a-module.so")) << "text\n";
  for (const std::string& path : {Path("missing.so"), Path("not-a-module.so")}) {
    error.clear();
    EXPECT_EQ(platform_.LoadModule(path, &error), nullptr) << path;
    EXPECT_NE(error.find(path), std::string::npos) << error;
  }
}

TEST_F(PosixPlatformTest, StartEditorRunsTheProgramWithThePathAsOneArgument) {
  std::string script = Path("editor.sh");
  std::string out = Path("editor.out");
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > '" << out << ".tmp'\nmv '"
                        << out << ".tmp' '" << out << "'\n";
  fs::permissions(script, fs::perms::owner_all);
  // The editor's own arguments are words, quotes keep blanks, nothing goes through a shell.
  const std::string command = script + " -R 'two  words' \"$(touch injected2)\"";
  ScopedEnv editor("CUBESEC_EDITOR", command.c_str());
  std::string log = Path("run log; $(touch injected).log");
  std::string error;
  ASSERT_TRUE(platform_.StartEditor(log, &error)) << error;
  for (int i = 0; i < 200 && !fs::exists(out); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::ifstream in(out);
  std::string seen((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(seen, "4|-R|two  words|$(touch injected2)|" + log + "|");
  EXPECT_FALSE(fs::exists(Path("injected")));
  EXPECT_FALSE(fs::exists("injected2"));
}

TEST_F(PosixPlatformTest, StartEditorFailsWithAReasonOrWithoutAnEditor) {
  std::string error;
  {
    ScopedEnv editor("CUBESEC_EDITOR", (Path("no-such-editor") + " --flag").c_str());
    EXPECT_FALSE(platform_.StartEditor(Path("x.log"), &error));
    // The reason names the editor that was meant.
    EXPECT_EQ(error, "cannot start " + Path("no-such-editor") + ": No such file or directory");
  }
  {
    ScopedEnv editor("CUBESEC_EDITOR", "  ''  ");
    EXPECT_FALSE(platform_.StartEditor(Path("x.log"), &error));
    EXPECT_FALSE(error.empty());
  }
  // No editor named and no display: nothing to start, and no reason to report.
  ScopedEnv editor("CUBESEC_EDITOR", "");
  ScopedEnv x("DISPLAY", nullptr);
  ScopedEnv w("WAYLAND_DISPLAY", nullptr);
  error = "stale";
  EXPECT_FALSE(platform_.StartEditor(Path("x.log"), &error));
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace cubesec
