// The platform of Windows machines. This is the only file of tools/ that includes <windows.h>.
//
// CUBESEC_NOW, when it holds a whole number of seconds since 1970-01-01 UTC, replaces the
// real clock, as on POSIX: tests and reproducible demos rely on it.
//
// CUBESEC_EDITOR names the program that opens the run log; without it Notepad from the
// system folder is used.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After <windows.h>, which they need.
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "tools/dates.h"
#include "tools/platform.h"
#include "tools/text.h"

namespace cubesec {
namespace {

std::string LastErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? Trim(std::string(text, length)) : "";
  if (text != nullptr) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  if (message.empty()) message = "system error " + std::to_string(error);
  return message;
}

// Local memory from the security calls, freed when the scope ends.
template <typename T>
class LocalMemory {
 public:
  LocalMemory() = default;
  ~LocalMemory() {
    if (pointer_ != nullptr) LocalFree(pointer_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  T* get() const { return pointer_; }
  T** out() { return &pointer_; }

 private:
  T* pointer_ = nullptr;
};

// A security descriptor whose list grants the current user full access and nobody else any,
// and that takes nothing from the folder's inherited rules: the run log holds temporary
// passwords. Empty when the user's identity cannot be read.
std::string OwnerOnlyDescriptor() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::string descriptor;
  if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    LocalMemory<char> sid_text;
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    if (ConvertSidToStringSidA(user->User.Sid, sid_text.out())) {
      descriptor = std::string("D:P(A;;FA;;;") + sid_text.get() + ")";
    }
  }
  CloseHandle(token);
  return descriptor;
}

// Why a private file is refused: a link, a junction or another reparse point stands there.
constexpr const char* kReparsePointText =
    "it is a symbolic link or another reparse point, which is never followed here";

// CNG's SHA-256 algorithm, opened once for the process (opening it is the slow part); with
// BCRYPT_ALG_HANDLE_HMAC_FLAG the HMAC that PBKDF2 runs on. A null handle when CNG refused.
class Sha256Provider {
 public:
  explicit Sha256Provider(ULONG flags) {
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, flags))) {
      handle_ = nullptr;
    }
  }
  ~Sha256Provider() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Sha256Provider(const Sha256Provider&) = delete;
  Sha256Provider& operator=(const Sha256Provider&) = delete;
  BCRYPT_ALG_HANDLE handle() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// CNG only reads its inputs, but its declarations lack the const.
PUCHAR Bytes(std::string_view text) {
  return reinterpret_cast<PUCHAR>(const_cast<char*>(text.data()));
}

class Win32AppendFile : public AppendFile {
 public:
  Win32AppendFile(HANDLE file, std::string path) : file_(file), path_(std::move(path)) {}
  ~Win32AppendFile() override { CloseHandle(file_); }
  Win32AppendFile(const Win32AppendFile&) = delete;
  Win32AppendFile& operator=(const Win32AppendFile&) = delete;

  bool Write(std::string_view bytes) override {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
      DWORD written = 0;
      if (!WriteFile(file_, data, chunk, &written, nullptr)) {
        last_error_ = LastErrorText(GetLastError());
        TakeBack(bytes.size() - left);
        return false;
      }
      if (written == 0) {
        last_error_ = "the system accepted no bytes";
        TakeBack(bytes.size() - left);
        return false;
      }
      data += written;
      left -= written;
    }
    return true;
  }
  std::string LastError() const override { return last_error_; }

 private:
  // A write that fails half-way is taken back, so that the file never ends inside a line.
  // The handle may only append, so the cut is made through a second handle.
  void TakeBack(size_t written) {
    if (written == 0) return;
    LARGE_INTEGER size;
    bool cut = false;
    if (GetFileSizeEx(file_, &size)) {
      HANDLE writer = CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (writer != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER end;
        end.QuadPart = size.QuadPart - static_cast<LONGLONG>(written);
        cut = SetFilePointerEx(writer, end, nullptr, FILE_BEGIN) && SetEndOfFile(writer);
        CloseHandle(writer);
      }
    }
    if (!cut) last_error_ += "; a partial line stays in the file";
  }

  HANDLE file_;
  std::string path_;
  std::string last_error_;
};

bool ReadLineWithoutEcho(std::string_view prompt, std::string& line) {
  line.clear();
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  std::cerr << prompt;
  std::cerr.flush();
  if (input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &saved)) {
    return static_cast<bool>(std::getline(std::cin, line));
  }
  // Without echo, but still line by line; Ctrl+C keeps ending the program as usual, and the
  // console puts its own mode back when the program ends.
  SetConsoleMode(input, (saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT);
  const bool ok = static_cast<bool>(std::getline(std::cin, line));
  SetConsoleMode(input, saved);
  std::cerr << "\n";
  if (!ok) line.clear();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return ok;
}

// Seconds between 1601-01-01 (the FILETIME epoch) and 1970-01-01.
constexpr int64_t kFileTimeEpochOffset = 11644473600;

// The console event that arrived while caught, as the POSIX signal of the same meaning:
// Ctrl+C or Ctrl+Break is an interrupt, a closed console a hang-up.
volatile LONG g_interrupt = 0;

BOOL WINAPI NoteInterrupt(DWORD event) {
  InterlockedExchange(&g_interrupt, event == CTRL_CLOSE_EVENT ? 1 : 2);
  return TRUE;
}

class Win32Platform : public Platform {
 public:
  std::optional<std::string> GetEnv(const std::string& name) const override {
    std::vector<char> buffer(256);
    for (;;) {
      SetLastError(ERROR_SUCCESS);
      const DWORD length =
          GetEnvironmentVariableA(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
      }
      if (length < buffer.size()) return std::string(buffer.data(), length);
      buffer.resize(length);
    }
  }

  // Read access is all that is asked for: a key the user may read but not change is still
  // a setting.
  std::optional<std::string> ReadRegistryValue(const std::string& sub_key,
                                               const std::string& value_name) override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, sub_key.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<unsigned char> buffer(1024);
    DWORD type = 0;
    LONG result = ERROR_MORE_DATA;
    DWORD size = 0;
    while (result == ERROR_MORE_DATA) {
      size = static_cast<DWORD>(buffer.size());
      result = RegQueryValueExA(key, value_name.c_str(), nullptr, &type, buffer.data(), &size);
      if (result == ERROR_MORE_DATA) buffer.resize(size > buffer.size() ? size : buffer.size() * 2);
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return std::nullopt;
    return RegistryValueText(type, buffer.data(), size);
  }

  std::string WindowsDirectory() override {
    if (windows_directory_.empty()) {
      char buffer[MAX_PATH + 1];
      const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
      if (length > 0 && length < sizeof buffer) windows_directory_.assign(buffer, length);
    }
    return windows_directory_;
  }

  std::optional<std::string> ReadIniValue(const std::string& file, const std::string& section,
                                          const std::string& key) override {
    // A default no INI value can hold tells a missing key from an empty value.
    static constexpr char kMissing[] = "\x01\x02missing\x02\x01";
    std::vector<char> buffer(256);
    for (;;) {
      const DWORD length =
          GetPrivateProfileStringA(section.c_str(), key.c_str(), kMissing, buffer.data(),
                                   static_cast<DWORD>(buffer.size()), file.c_str());
      // A value that filled the buffer may have been cut: try again with more room.
      if (length + 1 >= buffer.size() && buffer.size() < (1u << 20)) {
        buffer.resize(buffer.size() * 4);
        continue;
      }
      std::string value(buffer.data(), length);
      if (value == kMissing) return std::nullopt;
      return Trim(value);
    }
  }

  int64_t NowUtc() override { return PinnedOrSystemNow(GetEnv("CUBESEC_NOW")); }

  // By the zone's own rules for that date, daylight saving time included: a server time
  // from summer read in winter still shows the summer's local hour.
  LocalDateTime ToLocal(int64_t utc_seconds) override {
    if (utc_seconds < -kFileTimeEpochOffset || utc_seconds > int64_t{253402300799}) {
      return CivilFromUtc(utc_seconds);
    }
    const uint64_t ticks = static_cast<uint64_t>(utc_seconds + kFileTimeEpochOffset) * 10000000u;
    FILETIME utc_file;
    utc_file.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    utc_file.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME utc;
    SYSTEMTIME local;
    TIME_ZONE_INFORMATION zone;
    if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID ||
        !FileTimeToSystemTime(&utc_file, &utc) ||
        !SystemTimeToTzSpecificLocalTime(&zone, &utc, &local)) {
      return CivilFromUtc(utc_seconds);
    }
    LocalDateTime out;
    out.year = local.wYear;
    out.month = local.wMonth;
    out.day = local.wDay;
    out.hour = local.wHour;
    out.minute = local.wMinute;
    out.second = local.wSecond;
    out.weekday = local.wDayOfWeek;
    return out;
  }

  bool SecureRandom(void* out, size_t size) override {
    auto* bytes = static_cast<unsigned char*>(out);
    while (size > 0) {
      const ULONG chunk = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
      if (BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
        return false;
      }
      bytes += chunk;
      size -= chunk;
    }
    return true;
  }

  bool DerivePbkdf2Sha256(std::string_view password, std::string_view salt, uint32_t iterations,
                          void* key, size_t size) override {
    static const Sha256Provider hmac(BCRYPT_ALG_HANDLE_HMAC_FLAG);
    if (hmac.handle() == nullptr || iterations < 1 || size > ULONG_MAX ||
        password.size() > ULONG_MAX || salt.size() > ULONG_MAX) {
      return false;
    }
    return BCRYPT_SUCCESS(
        BCryptDeriveKeyPBKDF2(hmac.handle(), Bytes(password), static_cast<ULONG>(password.size()),
                              Bytes(salt), static_cast<ULONG>(salt.size()), iterations,
                              static_cast<PUCHAR>(key), static_cast<ULONG>(size), 0));
  }

  bool Sha256(std::string_view data, void* digest) override {
    static const Sha256Provider plain(0);
    if (plain.handle() == nullptr || data.size() > ULONG_MAX) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(plain.handle(), &hash, nullptr, 0, nullptr, 0, 0))) {
      return false;
    }
    const bool ok =
        BCRYPT_SUCCESS(BCryptHashData(hash, Bytes(data), static_cast<ULONG>(data.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, static_cast<PUCHAR>(digest), 32, 0));
    BCryptDestroyHash(hash);
    return ok;
  }

  // CNG has no comparison of its own: every byte is looked at, and the volatile keeps the
  // compiler from stopping at the first difference.
  bool EqualInConstantTime(const void* a, const void* b, size_t size) override {
    const auto* x = static_cast<const unsigned char*>(a);
    const auto* y = static_cast<const unsigned char*>(b);
    volatile unsigned char difference = 0;
    for (size_t i = 0; i < size; ++i) difference = difference | (x[i] ^ y[i]);
    return difference == 0;
  }

  std::string ExecutablePath() override {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      const DWORD length =
          GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) return {};
      if (length < buffer.size()) return std::string(buffer.data(), length);
      buffer.resize(buffer.size() * 2);
    }
  }

  std::unique_ptr<AppendFile> OpenAppend(const std::string& path, bool owner_only,
                                         std::string* error) override {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    LocalMemory<void> descriptor;
    if (owner_only) {
      const std::string text = OwnerOnlyDescriptor();
      if (text.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                              text.c_str(), SDDL_REVISION_1, descriptor.out(), nullptr)) {
        if (error) *error = "the file's owner-only access could not be set up";
        return nullptr;
      }
      attributes.lpSecurityDescriptor = descriptor.get();
    }
    // Every write goes to the end, as with O_APPEND. The rights apply to a file made here;
    // an existing file keeps its own.
    // A private file is never reached through a link: the reparse point itself is opened,
    // and refused below, instead of what it points to.
    const DWORD flags =
        FILE_ATTRIBUTE_NORMAL | (owner_only ? FILE_FLAG_OPEN_REPARSE_POINT : DWORD{0});
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              owner_only ? &attributes : nullptr, OPEN_ALWAYS, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (error) *error = LastErrorText(GetLastError());
      return nullptr;
    }
    if (owner_only) {
      BY_HANDLE_FILE_INFORMATION info{};
      if (!GetFileInformationByHandle(file, &info)) {
        if (error) *error = LastErrorText(GetLastError());
        CloseHandle(file);
        return nullptr;
      }
      if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        if (error) *error = kReparsePointText;
        CloseHandle(file);
        return nullptr;
      }
    }
    return std::make_unique<Win32AppendFile>(file, path);
  }

  std::unique_ptr<AppendFile> CreateNewFile(const std::string& path, std::string* error) override {
    // CREATE_NEW fails for any existing name, a link included.
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (error) *error = LastErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32AppendFile>(file, path);
  }

  void CatchInterrupts() override {
    g_interrupt = 0;
    SetConsoleCtrlHandler(NoteInterrupt, TRUE);
  }
  void StopCatchingInterrupts() override { SetConsoleCtrlHandler(NoteInterrupt, FALSE); }
  int PendingInterrupt() override { return g_interrupt; }

  PathKind KindOf(const std::string& path, bool follow_links) override {
    DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNone;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (!follow_links) return PathKind::kLink;
      // What the link points to: opening it follows the link (a folder needs the backup flag).
      HANDLE target =
          CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (target == INVALID_HANDLE_VALUE) return PathKind::kNone;
      BY_HANDLE_FILE_INFORMATION info{};
      const bool known = GetFileInformationByHandle(target, &info);
      CloseHandle(target);
      if (!known) return PathKind::kNone;
      attributes = info.dwFileAttributes;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::kOther;
    return PathKind::kFile;
  }

  // The C library's reading, whose reasons ("No such file or directory") are those that the
  // programs' messages show on every system.
  bool ReadFile(const std::string& path, std::string& text, std::string* error) override {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      if (error) {
        *error = errno != 0 ? std::generic_category().message(errno) : "cannot open the file";
      }
      return false;
    }
    text.clear();
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed && error) *error = "read failed";
    return !failed;
  }

  // The standard library's renaming replaces an existing file (MoveFileEx), which a plain
  // rename on Windows would not; its reasons are those the programs have always shown.
  bool RenameFile(const std::string& from, const std::string& to, std::string* error) override {
    std::error_code why;
    std::filesystem::rename(from, to, why);
    if (why && error) *error = why.message();
    return !why;
  }

  bool RemoveFile(const std::string& path, std::string* error) override {
    std::error_code why;
    if (!std::filesystem::remove(path, why) && !why) {
      why = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    if (why && error) *error = why.message();
    return !why;
  }

  bool CreateFolders(const std::string& folder, std::string* error) override {
    std::error_code why;
    std::filesystem::create_directories(folder, why);
    if (why && error) *error = why.message();
    return !why;
  }

  // Access rights are what counts on Windows, not attributes: a file is made and removed.
  bool FolderIsWritable(const std::string& folder) override {
    const DWORD attributes =
        folder.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return false;
    }
    const std::string probe = folder + "\\.cubesec-write-check-" +
                              std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount64());
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_EXISTS;
    CloseHandle(file);
    return true;
  }

  // The file gets the same protected list a new run log gets: its owner alone, nothing
  // inherited from the folder.
  bool MakeOwnerOnly(const std::string& path, std::string* error) override {
    const DWORD file_attributes = GetFileAttributesA(path.c_str());
    if (file_attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD why = GetLastError();
      if (why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND) return true;
      if (error) *error = LastErrorText(why);
      return false;
    }
    // SetFileSecurity would change what the link points to.
    if (file_attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (error) *error = kReparsePointText;
      return false;
    }
    const std::string text = OwnerOnlyDescriptor();
    LocalMemory<void> descriptor;
    if (text.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                            text.c_str(), SDDL_REVISION_1, descriptor.out(), nullptr)) {
      if (error) *error = "the file's owner-only access could not be set up";
      return false;
    }
    if (!SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor.get())) {
      if (error) *error = LastErrorText(GetLastError());
      return false;
    }
    return true;
  }

  // The per-user, per-machine application data folder.
  std::string UserStateFolder() override {
    if (std::optional<std::string> local = GetEnv("LOCALAPPDATA"); local && !local->empty()) {
      return *local;
    }
    std::optional<std::string> profile = GetEnv("USERPROFILE");
    if (!profile || profile->empty()) return {};
    return *profile + "\\AppData\\Local";
  }
  // Programs keep their data in the same folder as their state.
  std::string UserDataFolder() override { return UserStateFolder(); }

  bool StdinIsTerminal() override {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
  }

  bool StderrIsTerminal() override {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
  }

  void UseBinaryMode(StandardStream stream) override {
    if (stream == StandardStream::kOutput) {
      // Whatever is buffered still goes out as text was meant to.
      std::cout.flush();
      std::fflush(stdout);
      _setmode(_fileno(stdout), _O_BINARY);
    } else {
      _setmode(_fileno(stdin), _O_BINARY);
    }
  }

  // A desktop is there unless the process runs in a service's hidden window station.
  bool HasDisplay() override {
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    if (station == nullptr ||
        !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) {
      return true;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
  }

  bool ReadSecretLine(std::string_view prompt, std::string& line) override {
    return ReadLineWithoutEcho(prompt, line);
  }

  MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request) override {
    if (presenter_ == nullptr) return MessageBoxAnswer::kUnavailable;
    return presenter_->Show(request);
  }

  void SetMessageBoxPresenter(MessageBoxPresenter* presenter) override { presenter_ = presenter; }

  // The program is named by its full path (Notepad from the system folder, never one found
  // in the current folder) and every word, the log path last, is quoted as one argument; no
  // shell reads the line.
  bool StartEditor(const std::string& path, std::string* error) override {
    const auto fail = [&](const std::string& why) {
      if (error) *error = why;
      return false;
    };
    std::vector<std::string> words;
    if (std::optional<std::string> editor = GetEnv("CUBESEC_EDITOR"); editor && !editor->empty()) {
      words = SplitWords(*editor);
      if (words.empty()) return fail("CUBESEC_EDITOR holds no program name");
    } else {
      char folder[MAX_PATH + 1];
      const UINT length = GetSystemDirectoryA(folder, sizeof folder);
      if (length == 0 || length >= sizeof folder) return fail("the system folder is unknown");
      words = {std::string(folder, length) + "\\notepad.exe"};
    }
    words.push_back(path);
    std::string command_line;
    for (const std::string& word : words) {
      if (!command_line.empty()) command_line += ' ';
      command_line += QuoteWindowsArgument(word);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(words.front().c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process)) {
      return fail("cannot start " + words.front() + ": " + LastErrorText(GetLastError()));
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }

 private:
  static std::string RegistryValueText(DWORD type, const unsigned char* data, DWORD size) {
    if (type == REG_DWORD && size >= 4) {
      const uint32_t number = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                              static_cast<uint32_t>(data[2]) << 16 |
                              static_cast<uint32_t>(data[3]) << 24;
      return RegistryDwordText(number);
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    if (type == REG_SZ || type == REG_EXPAND_SZ) return CutAtNul(text);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }

  MessageBoxPresenter* presenter_ = nullptr;
  std::string windows_directory_;
};

// Windows has no folder of programs that its administrators may write to by convention only.
bool IsSystemProgramFolder(std::string_view) { return false; }

}  // namespace

const OsConventions& ThisOs() {
  static const OsConventions conventions{
      .path_separator = '\\',
      .separators = "\\/",  // Windows takes either slash between folders
      .variable_prefix = "%",
      .variable_suffix = "%",
      .state_folder_help = "%LOCALAPPDATA%\\%1",
      .data_folder_help = "%LOCALAPPDATA%\\%1",
      .state_folder_variable = "LOCALAPPDATA",
      // Windows reads the client's settings from the registry and the Windows folder, and
      // local dates from the system's time zone, not from the environment.
      .environment_help =
          "  LOCALAPPDATA       state folder (default %USERPROFILE%\\AppData\\Local)\n",
      .is_system_program_folder = IsSystemProgramFolder,
  };
  return conventions;
}

Platform& SystemPlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace cubesec
