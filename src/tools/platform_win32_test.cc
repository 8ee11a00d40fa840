#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/platform.h"
#include "tools/testing/crypto_checks.h"
#include "tools/testing/win32_access.h"

namespace cubesec {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable of this process for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    char buffer[4096];
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer) old_ = std::string(buffer, length);
    SetEnvironmentVariableA(name, value);
  }
  ~ScopedEnv() { SetEnvironmentVariableA(name_, old_ ? old_->c_str() : nullptr); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class Win32PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string unique = std::to_string(GetCurrentProcessId()) + "_" + test;
    dir_ = fs::temp_directory_path() / ("cubesec_platform_" + unique);
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    key_ = "Software\\cubesec tests\\" + unique;
  }
  void TearDown() override {
    fs::remove_all(dir_);
    RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  void SetRegistryValue(const std::string& name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, key_.c_str(), name.c_str(), type, data, size),
              ERROR_SUCCESS);
  }
  void SetRegistryText(const std::string& name, const std::string& text, DWORD type = REG_SZ) {
    SetRegistryValue(name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
  }

  fs::path dir_;
  std::string key_;
  Platform& platform_ = SystemPlatform();
};

TEST_F(Win32PlatformTest, RegistryValuesOfEachKindAndMissingOnes) {
  SetRegistryText("Server", "hyperion01");
  SetRegistryText("Path", "%ARBORPATH%\\bin", REG_EXPAND_SZ);
  const DWORD number = 0x0001000A;
  SetRegistryValue("Port", REG_DWORD, &number, sizeof number);
  // Longer than the first buffer the value is read into.
  const std::string long_text(3000, 'x');
  SetRegistryText("Long", long_text);
  SetRegistryText("Empty", "");

  EXPECT_EQ(platform_.ReadRegistryValue(key_, "Server"), "hyperion01");
  EXPECT_EQ(platform_.ReadRegistryValue(key_, "path"), "%ARBORPATH%\\bin");  // names ignore case
  EXPECT_EQ(platform_.ReadRegistryValue(key_, "Port"), "&h0001000A");
  EXPECT_EQ(platform_.ReadRegistryValue(key_, "Long"), long_text);
  EXPECT_EQ(platform_.ReadRegistryValue(key_, "Empty"), "");
  EXPECT_EQ(platform_.ReadRegistryValue(key_, "User"), std::nullopt);
  EXPECT_EQ(platform_.ReadRegistryValue(key_ + "\\Missing", "Server"), std::nullopt);
}

TEST_F(Win32PlatformTest, IniValuesTellMissingFromEmpty) {
  std::ofstream(Path("essbase.ini"), std::ios::binary)
      << "[Login]\r\nServer = hyperion01 \r\nUser=\r\nLong=" << std::string(2000, 'y') << "\r\n";
  const std::string file = Path("essbase.ini");
  EXPECT_EQ(platform_.ReadIniValue(file, "login", "SERVER"), "hyperion01");
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "User"), "");
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "Long"), std::string(2000, 'y'));
  EXPECT_EQ(platform_.ReadIniValue(file, "Login", "Password"), std::nullopt);
  EXPECT_EQ(platform_.ReadIniValue(file, "Other", "Server"), std::nullopt);
  EXPECT_EQ(platform_.ReadIniValue(Path("none.ini"), "Login", "Server"), std::nullopt);

  const std::string windows = platform_.WindowsDirectory();
  ASSERT_FALSE(windows.empty());
  EXPECT_TRUE(fs::is_directory(windows)) << windows;
}

// The access list of an owner-only file: protected from the folder's inherited entries, and
// one entry that allows the current user.
TEST_F(Win32PlatformTest, OwnerOnlyFilesAllowTheirUserAlone) {
  std::string error;
  {
    auto file = platform_.OpenAppend(Path("private.log"), true, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_TRUE(file->Write("abc"));
    EXPECT_TRUE(file->Write("def"));
    ASSERT_TRUE(platform_.OpenAppend(Path("shared.txt"), false, &error)) << error;
  }
  EXPECT_EQ(fs::file_size(Path("private.log")), 6u);

  const std::string allowed_user = AllowedCurrentUserEntry();
  ASSERT_FALSE(allowed_user.empty());
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  const std::vector<std::string> entries = AccessEntries(Path("private.log"), &control);
  const bool protection = control & SE_DACL_PROTECTED;
  const std::vector<std::string> shared_entries = AccessEntries(Path("shared.txt"), &control);
  EXPECT_NE(std::find(entries.begin(), entries.end(), allowed_user), entries.end());
  for (const std::string& entry : entries) EXPECT_TRUE(IsAllowedOwnerOnlyEntry(entry)) << entry;
  if (!RunsUnderWine()) {
    EXPECT_TRUE(protection);
    EXPECT_FALSE(control & SE_DACL_PROTECTED);
  }
  EXPECT_NE(shared_entries, entries) << ::testing::PrintToString(shared_entries);

  // An existing file open to others gets the owner-only list; a missing one is no fault.
  EXPECT_TRUE(platform_.MakeOwnerOnly(Path("shared.txt"), &error)) << error;
  EXPECT_EQ(AccessEntries(Path("shared.txt"), &control), entries);
  EXPECT_TRUE(platform_.MakeOwnerOnly(Path("missing.log"), &error));

  EXPECT_EQ(platform_.OpenAppend(Path("no\\such\\dir.log"), false, &error), nullptr);
  EXPECT_FALSE(error.empty());
}

TEST_F(Win32PlatformTest, FilesAreKnownReadRenamedAndRemoved) {
  std::ofstream(Path("f.txt"), std::ios::binary) << "a\r\nb";
  std::ofstream(Path("old.txt"), std::ios::binary) << "old";
  EXPECT_EQ(platform_.KindOf(Path("f.txt"), false), PathKind::kFile);
  EXPECT_EQ(platform_.KindOf(dir_.string(), true), PathKind::kFolder);
  EXPECT_EQ(platform_.KindOf(Path("none"), true), PathKind::kNone);

  // Bytes as they are: no text mode.
  std::string text, error;
  ASSERT_TRUE(platform_.ReadFile(Path("f.txt"), text, &error)) << error;
  EXPECT_EQ(text, "a\r\nb");
  EXPECT_FALSE(platform_.ReadFile(Path("none"), text, &error));
  EXPECT_EQ(error, "No such file or directory");

  // A rename replaces an existing file, as the dump's rename needs.
  ASSERT_TRUE(platform_.RenameFile(Path("f.txt"), Path("old.txt"), &error)) << error;
  ASSERT_TRUE(platform_.ReadFile(Path("old.txt"), text, &error)) << error;
  EXPECT_EQ(text, "a\r\nb");
  EXPECT_FALSE(platform_.RenameFile(Path("f.txt"), Path("g.txt"), &error));
  EXPECT_FALSE(error.empty());
  ASSERT_TRUE(platform_.RemoveFile(Path("old.txt"), &error)) << error;
  EXPECT_EQ(platform_.KindOf(Path("old.txt"), true), PathKind::kNone);

  ASSERT_TRUE(platform_.CreateFolders(Path("a\\b\\c"), &error)) << error;
  EXPECT_EQ(platform_.KindOf(Path("a\\b\\c"), true), PathKind::kFolder);
}

TEST_F(Win32PlatformTest, EnvironmentClockRandomAndExecutable) {
  {
    ScopedEnv set("CUBESEC_TEST_VALUE", "a b");
    EXPECT_EQ(platform_.GetEnv("CUBESEC_TEST_VALUE"), "a b");
    ScopedEnv empty("CUBESEC_TEST_EMPTY", "");
    EXPECT_EQ(platform_.GetEnv("CUBESEC_TEST_EMPTY"), "");
  }
  EXPECT_EQ(platform_.GetEnv("CUBESEC_TEST_VALUE"), std::nullopt);
  {
    ScopedEnv now("CUBESEC_NOW", "1796741702");
    EXPECT_EQ(platform_.NowUtc(), 1796741702);
  }
  const auto real = std::chrono::duration_cast<std::chrono::seconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  EXPECT_LE(std::llabs(platform_.NowUtc() - real), 5);

  unsigned char a[32] = {}, b[32] = {};
  ASSERT_TRUE(platform_.SecureRandom(a, sizeof a));
  ASSERT_TRUE(platform_.SecureRandom(b, sizeof b));
  EXPECT_NE(std::string(reinterpret_cast<char*>(a), 32),
            std::string(reinterpret_cast<char*>(b), 32));
  EXPECT_EQ(fs::path(platform_.ExecutablePath()).filename(), "tools_tests.exe");
}

// CNG gives the published keys and digests.
TEST_F(Win32PlatformTest, CryptographyMatchesThePublishedVectors) {
  testing::CheckCryptoVectors(platform_);
}

// The editor gets the log path as one argument, whatever blanks and shell characters it
// holds; no command interpreter reads the line.
TEST_F(Win32PlatformTest, StartEditorPassesThePathAsOneArgument) {
  ASSERT_TRUE(fs::exists(RECORD_ARGS_EXE)) << RECORD_ARGS_EXE;
  const std::string out = Path("editor.out");
  ScopedEnv editor("CUBESEC_EDITOR", RECORD_ARGS_EXE);
  ScopedEnv record("CUBESEC_RECORD_ARGS", out.c_str());
  const std::string log = Path("run log & echo injected %PATH% ^ x.log");
  std::string error;
  ASSERT_TRUE(platform_.StartEditor(log, &error)) << error;
  for (int i = 0; i < 400 && !fs::exists(out); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::ifstream in(out, std::ios::binary);
  const std::string seen((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(seen, "1|" + log + "|");

  ScopedEnv missing("CUBESEC_EDITOR", Path("no-such-editor.exe").c_str());
  EXPECT_FALSE(platform_.StartEditor(log, &error));
  EXPECT_NE(error.find("no-such-editor.exe"), std::string::npos) << error;

  ScopedEnv blank("CUBESEC_EDITOR", "   ");
  EXPECT_FALSE(platform_.StartEditor(log, &error));
  EXPECT_EQ(error, "CUBESEC_EDITOR holds no program name");
}

TEST_F(Win32PlatformTest, WritableFoldersAndTheUserStateFolder) {
  EXPECT_TRUE(platform_.FolderIsWritable(dir_.string()));
  EXPECT_FALSE(platform_.FolderIsWritable(Path("missing")));
  std::ofstream(Path("plain.txt")) << "x";
  EXPECT_FALSE(platform_.FolderIsWritable(Path("plain.txt")));
  EXPECT_FALSE(platform_.FolderIsWritable(""));
  // The probe leaves nothing behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

  {
    ScopedEnv local("LOCALAPPDATA", "C:\\Users\\a\\AppData\\Local");
    EXPECT_EQ(platform_.UserStateFolder(), "C:\\Users\\a\\AppData\\Local");
    EXPECT_EQ(platform_.UserDataFolder(), "C:\\Users\\a\\AppData\\Local");
  }
  ScopedEnv no_local("LOCALAPPDATA", nullptr);
  {
    ScopedEnv profile("USERPROFILE", "C:\\Users\\b");
    EXPECT_EQ(platform_.UserStateFolder(), "C:\\Users\\b\\AppData\\Local");
  }
  ScopedEnv no_profile("USERPROFILE", nullptr);
  EXPECT_EQ(platform_.UserStateFolder(), "");

  const OsConventions& os = ThisOs();
  EXPECT_FALSE(os.is_system_program_folder("C:\\Program Files\\cubesec"));
  EXPECT_EQ(os.Join("C:\\x\\", "y"), "C:\\x\\y");
  EXPECT_EQ(os.Join("C:/x/", "y"), "C:/x/y");
  EXPECT_EQ(os.Join("C:\\x", "y"), "C:\\x\\y");
  EXPECT_EQ(os.Variable("LOCALAPPDATA"), "%LOCALAPPDATA%");
}

}  // namespace
}  // namespace cubesec
