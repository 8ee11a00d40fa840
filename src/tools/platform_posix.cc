// The platform of POSIX machines. This is the only file that includes POSIX headers, and
// the only one that calls OpenSSL's libcrypto.
//
// CUBESEC_NOW, when it holds a whole number of seconds since 1970-01-01 UTC, replaces the
// real clock: with it two runs on the same server write identical dump files, which tests
// and reproducible demos rely on.
//
// CUBESEC_EDITOR names the program that opens the run log, with its arguments if any (split
// into words, no shell); without it "xdg-open" is used when a display is there.

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tools/dates.h"
#include "tools/platform.h"
#include "tools/text.h"

extern char** environ;

namespace cubesec {
namespace {

// PBKDF2 with HMAC-SHA256 (RFC 8018), on the digest's own state: the key's inner and outer
// pads are digested once and their states copied for every round. The library's generic KDF
// sets up and frees digest contexts in every round and takes four times as long, and a
// simulated server derives a key of thousands of rounds for every user it creates. The
// digest's own state is deprecated in the library's present interface, but not gone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
bool Pbkdf2HmacSha256(std::string_view password, std::string_view salt, uint32_t iterations,
                      unsigned char* out, size_t size) {
  constexpr size_t kBlock = SHA256_CBLOCK;
  unsigned char key[kBlock] = {};
  if (password.size() > kBlock) {
    SHA256(reinterpret_cast<const unsigned char*>(password.data()), password.size(), key);
  } else {
    std::memcpy(key, password.data(), password.size());
  }
  unsigned char pad[kBlock];
  SHA256_CTX inner, outer;
  for (size_t i = 0; i < kBlock; ++i) pad[i] = key[i] ^ 0x36;
  bool ok = SHA256_Init(&inner) == 1 && SHA256_Update(&inner, pad, kBlock) == 1;
  for (size_t i = 0; i < kBlock; ++i) pad[i] = key[i] ^ 0x5c;
  ok = ok && SHA256_Init(&outer) == 1 && SHA256_Update(&outer, pad, kBlock) == 1;
  OPENSSL_cleanse(key, sizeof key);
  OPENSSL_cleanse(pad, sizeof pad);
  unsigned char u[SHA256_DIGEST_LENGTH], sum[SHA256_DIGEST_LENGTH];
  // HMAC of `data`, given as up to two pieces, into u.
  const auto hmac = [&](const void* data, size_t length, const void* more, size_t more_length) {
    SHA256_CTX context = inner;
    ok = ok && SHA256_Update(&context, data, length) == 1 &&
         SHA256_Update(&context, more, more_length) == 1 && SHA256_Final(u, &context) == 1;
    context = outer;
    ok = ok && SHA256_Update(&context, u, sizeof u) == 1 && SHA256_Final(u, &context) == 1;
    OPENSSL_cleanse(&context, sizeof context);
  };
  for (uint32_t block = 1; ok && size > 0; ++block) {
    const unsigned char index[4] = {
        static_cast<unsigned char>(block >> 24), static_cast<unsigned char>(block >> 16),
        static_cast<unsigned char>(block >> 8), static_cast<unsigned char>(block)};
    hmac(salt.data(), salt.size(), index, sizeof index);
    std::memcpy(sum, u, sizeof sum);
    for (uint32_t round = 1; ok && round < iterations; ++round) {
      hmac(u, sizeof u, nullptr, 0);
      for (size_t i = 0; i < sizeof sum; ++i) sum[i] ^= u[i];
    }
    const size_t taken = std::min(size, sizeof sum);
    std::memcpy(out, sum, taken);
    out += taken;
    size -= taken;
  }
  OPENSSL_cleanse(&inner, sizeof inner);
  OPENSSL_cleanse(&outer, sizeof outer);
  OPENSSL_cleanse(u, sizeof u);
  OPENSSL_cleanse(sum, sizeof sum);
  return ok;
}
#pragma GCC diagnostic pop

std::string ErrnoText(int error) { return std::strerror(error); }

constexpr const char* kSymbolicLinkText = "it is a symbolic link, which is never followed here";
constexpr const char* kNotRegularText = "it is not a regular file";

// A private file must be the user's own regular file: one that another user owns (and may
// read, or swap for something else) or a device is refused, with the reason in `error`.
bool IsOwnRegularFile(int fd, std::string* error) {
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    if (error) *error = ErrnoText(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    if (error) *error = kNotRegularText;
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    if (error) {
      *error = "it belongs to another user (uid " + std::to_string(info.st_uid) +
               "), not to the one who runs this program (uid " + std::to_string(::geteuid()) + ")";
    }
    return false;
  }
  return true;
}

std::string TrimBlanks(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  size_t end = text.find_last_not_of(" \t");
  return std::string(text.substr(begin, end - begin + 1));
}

class PosixAppendFile : public AppendFile {
 public:
  explicit PosixAppendFile(int fd) : fd_(fd) {}
  ~PosixAppendFile() override { ::close(fd_); }
  PosixAppendFile(const PosixAppendFile&) = delete;
  PosixAppendFile& operator=(const PosixAppendFile&) = delete;

  bool Write(std::string_view bytes) override {
    const char* data = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      ssize_t written = ::write(fd_, data, left);
      if (written < 0) {
        if (errno == EINTR) continue;
        last_error_ = ErrnoText(errno);
        TakeBack(bytes, bytes.size() - left);
        return false;
      }
      if (written == 0) {
        last_error_ = "the system accepted no bytes";
        TakeBack(bytes, bytes.size() - left);
        return false;
      }
      data += written;
      left -= static_cast<size_t>(written);
    }
    return true;
  }
  std::string LastError() const override { return last_error_; }

 private:
  // A write that fails half-way (the disk filled up) is taken back to the last whole line
  // it wrote, so that the file never ends inside a line. The file is appended to, so its
  // bytes end where this write's do.
  void TakeBack(std::string_view bytes, size_t written) {
    struct stat info;
    if (written == 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return;
    const size_t line_end = bytes.substr(0, written).rfind('\n');
    const size_t kept = line_end == std::string_view::npos ? 0 : line_end + 1;
    if (kept == written) return;
    if (::ftruncate(fd_, info.st_size - static_cast<off_t>(written - kept)) != 0) {
      last_error_ += "; a partial line stays in the file";
    }
  }

  int fd_;
  std::string last_error_;
};

// The signals that end a program from its terminal. While a password is typed without
// echo they are held back, so that none of them can end the program before the echo is
// back on; they act as usual once it is.
constexpr int kTerminalSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

bool TerminalSignalPending() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return false;
  for (int signal_number : kTerminalSignals) {
    if (sigismember(&pending, signal_number) == 1) return true;
  }
  return false;
}

// Reads one line from the terminal on descriptor 0, whose echo is already off. The
// terminal is in its line mode, so one read() never returns more than one line. False at
// the end of input or when a held-back signal asks the program to stop.
bool ReadTerminalLine(std::string& line) {
  for (;;) {
    if (TerminalSignalPending()) return false;
    pollfd input{0, POLLIN, 0};
    const int ready = ::poll(&input, 1, 100);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    char buffer[256];
    const ssize_t got = ::read(0, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    if (got == 0) return !line.empty();  // end of input; a partial line still counts
    line.append(buffer, static_cast<size_t>(got));
    if (const size_t end = line.find('\n'); end != std::string::npos) {
      line.resize(end);
      return true;
    }
  }
}

void WritePrompt(std::string_view prompt) {
  std::cerr << prompt;
  std::cerr.flush();
}

bool ReadLineWithoutEcho(std::string_view prompt, std::string& line) {
  line.clear();
  termios saved{};
  if (!isatty(0) || tcgetattr(0, &saved) != 0) {
    WritePrompt(prompt);
    return static_cast<bool>(std::getline(std::cin, line));
  }
  sigset_t held;
  sigemptyset(&held);
  for (int signal_number : kTerminalSignals) sigaddset(&held, signal_number);
  sigset_t previous_mask;
  sigprocmask(SIG_BLOCK, &held, &previous_mask);

  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
  bool ok = false;
  if (tcsetattr(0, TCSADRAIN, &quiet) == 0) {
    // Only now, so that nothing typed in answer to the prompt can be echoed.
    WritePrompt(prompt);
    ok = ReadTerminalLine(line);
    tcsetattr(0, TCSADRAIN, &saved);
  }
  // A signal held back meanwhile is delivered here, with the echo back on.
  sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
  if (!ok) line.clear();
  return ok;
}

// The handle is never closed: a module that started a window toolkit leaves threads and
// exit handlers behind that would run into unmapped code.
class PosixModule : public LoadedModule {
 public:
  explicit PosixModule(void* handle) : handle_(handle) {}
  void* Symbol(const char* name) override { return dlsym(handle_, name); }

 private:
  void* handle_;
};

// The signals that ask a program to stop, and the last one that arrived while caught.
constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t g_interrupt = 0;

class PosixPlatform : public Platform {
 public:
  std::optional<std::string> GetEnv(const std::string& name) const override {
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  }

  std::optional<std::string> ReadRegistryValue(const std::string&, const std::string&) override {
    return std::nullopt;
  }

  std::string WindowsDirectory() override {
    std::optional<std::string> windir = GetEnv("WINDIR");
    if (windir && !windir->empty()) return *windir;
    return "/etc";
  }

  std::optional<std::string> ReadIniValue(const std::string& file, const std::string& section,
                                          const std::string& key) override {
    std::ifstream in(file, std::ios::in | std::ios::binary);
    if (!in.is_open()) return std::nullopt;
    std::string line;
    bool in_section = false;
    bool first_line = true;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      // An editor may have saved the file with a UTF-8 byte order mark.
      if (first_line && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
      first_line = false;
      std::string text = TrimBlanks(line);
      if (text.empty() || text.front() == ';') continue;
      if (text.front() == '[') {
        size_t close = text.find(']');
        std::string name = TrimBlanks(std::string_view(text).substr(
            1, close == std::string::npos ? std::string::npos : close - 1));
        in_section = EqualsIgnoreCase(name, section);
        continue;
      }
      if (!in_section) continue;
      size_t equals = text.find('=');
      if (equals == std::string::npos) continue;
      if (EqualsIgnoreCase(TrimBlanks(std::string_view(text).substr(0, equals)), key)) {
        std::string value = TrimBlanks(std::string_view(text).substr(equals + 1));
        // A value in quotes is the text between them, as the profile reader of Windows has it.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
          value = value.substr(1, value.size() - 2);
        }
        return value;
      }
    }
    return std::nullopt;
  }

  int64_t NowUtc() override { return PinnedOrSystemNow(GetEnv("CUBESEC_NOW")); }

  LocalDateTime ToLocal(int64_t utc_seconds) override {
    time_t t = static_cast<time_t>(utc_seconds);
    struct tm local {};
    tzset();
    if (static_cast<int64_t>(t) != utc_seconds || localtime_r(&t, &local) == nullptr) {
      return CivilFromUtc(utc_seconds);
    }
    LocalDateTime out;
    out.year = local.tm_year + 1900;
    out.month = local.tm_mon + 1;
    out.day = local.tm_mday;
    out.hour = local.tm_hour;
    out.minute = local.tm_min;
    out.second = local.tm_sec;
    out.weekday = local.tm_wday;
    return out;
  }

  bool SecureRandom(void* out, size_t size) override {
    auto* bytes = static_cast<unsigned char*>(out);
    size_t filled = 0;
    while (filled < size) {
      ssize_t got = getrandom(bytes + filled, size - filled, 0);
      if (got < 0) {
        if (errno == EINTR) continue;
        return ReadUrandom(bytes + filled, size - filled);
      }
      filled += static_cast<size_t>(got);
    }
    return true;
  }

  bool DerivePbkdf2Sha256(std::string_view password, std::string_view salt, uint32_t iterations,
                          void* key, size_t size) override {
    if (iterations < 1 || iterations > static_cast<uint32_t>(INT_MAX) || size > INT_MAX ||
        password.size() > INT_MAX || salt.size() > INT_MAX) {
      return false;
    }
    return Pbkdf2HmacSha256(password, salt, iterations, static_cast<unsigned char*>(key), size);
  }

  bool Sha256(std::string_view data, void* digest) override {
    unsigned int length = 0;
    return EVP_Digest(data.data(), data.size(), static_cast<unsigned char*>(digest), &length,
                      EVP_sha256(), nullptr) == 1 &&
           length == SHA256_DIGEST_LENGTH;
  }

  bool EqualInConstantTime(const void* a, const void* b, size_t size) override {
    return CRYPTO_memcmp(a, b, size) == 0;
  }

  std::string ExecutablePath() override {
    std::vector<char> buffer(1024);
    while (true) {
      ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
      if (length < 0) return {};
      if (static_cast<size_t>(length) < buffer.size()) {
        return std::string(buffer.data(), static_cast<size_t>(length));
      }
      buffer.resize(buffer.size() * 2);
    }
  }

  std::unique_ptr<LoadedModule> LoadModule(const std::string& path, std::string* error) override {
    // RTLD_LOCAL: the module's symbols never stand in for the program's own.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* reason = dlerror();
      if (error) *error = reason != nullptr ? reason : "cannot load " + path;
      return nullptr;
    }
    return std::make_unique<PosixModule>(handle);
  }

  std::unique_ptr<AppendFile> OpenAppend(const std::string& path, bool owner_only,
                                         std::string* error) override {
    int flags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    // A private file is never reached through a link (O_NOFOLLOW), and a FIFO put in its
    // place cannot hold the run up (O_NONBLOCK; it is refused below).
    if (owner_only) flags |= O_NOFOLLOW | O_NONBLOCK;
    int fd;
    do {
      fd = ::open(path.c_str(), flags, owner_only ? 0600 : 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      const int why = errno;
      if (error) {
        // ENXIO: a FIFO without a reader, or a device, stands at the path.
        *error = !owner_only    ? ErrnoText(why)
                 : why == ELOOP ? kSymbolicLinkText
                 : why == ENXIO ? kNotRegularText
                                : ErrnoText(why);
      }
      return nullptr;
    }
    auto file = std::make_unique<PosixAppendFile>(fd);
    if (owner_only && !IsOwnRegularFile(fd, error)) return nullptr;
    return file;
  }

  std::unique_ptr<AppendFile> CreateNewFile(const std::string& path, std::string* error) override {
    int fd;
    do {
      // O_EXCL with O_CREAT also refuses a symbolic link, a dangling one included.
      fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      if (error) *error = ErrnoText(errno);
      return nullptr;
    }
    return std::make_unique<PosixAppendFile>(fd);
  }

  void CatchInterrupts() override {
    g_interrupt = 0;
    struct sigaction action {};
    action.sa_handler = [](int signal_number) { g_interrupt = signal_number; };
    sigemptyset(&action.sa_mask);
    for (int signal_number : kCaughtSignals) sigaction(signal_number, &action, nullptr);
  }

  void StopCatchingInterrupts() override {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signal_number : kCaughtSignals) sigaction(signal_number, &action, nullptr);
  }

  int PendingInterrupt() override { return g_interrupt; }

  PathKind KindOf(const std::string& path, bool follow_links) override {
    struct stat info;
    const int result = follow_links ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (path.empty() || result != 0) return PathKind::kNone;
    if (S_ISREG(info.st_mode)) return PathKind::kFile;
    if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
    if (S_ISLNK(info.st_mode)) return PathKind::kLink;
    return PathKind::kOther;
  }

  bool ReadFile(const std::string& path, std::string& text, std::string* error) override {
    int fd;
    do {
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      if (error) *error = ErrnoText(errno);
      return false;
    }
    text.clear();
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
      text.reserve(static_cast<size_t>(info.st_size));
    }
    char buffer[65536];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        ::close(fd);
        if (error) *error = "read failed";
        return false;
      }
      if (got == 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
  }

  bool RenameFile(const std::string& from, const std::string& to, std::string* error) override {
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    if (error) *error = ErrnoText(errno);
    return false;
  }

  bool RemoveFile(const std::string& path, std::string* error) override {
    if (::unlink(path.c_str()) == 0) return true;
    if (error) *error = ErrnoText(errno);
    return false;
  }

  bool CreateFolders(const std::string& folder, std::string* error) override {
    std::error_code why;
    std::filesystem::create_directories(folder, why);
    if (why && error) *error = why.message();
    return !why;
  }

  bool FolderIsWritable(const std::string& folder) override {
    struct stat info;
    if (folder.empty() || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      return false;
    }
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
  }

  bool MakeOwnerOnly(const std::string& path, std::string* error) override {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) return true;
      if (error) *error = ErrnoText(errno);
      return false;
    }
    // chmod would change the file the link points to, whoever's it is.
    if (S_ISLNK(info.st_mode)) {
      if (error) *error = kSymbolicLinkText;
      return false;
    }
    if ((info.st_mode & 077) == 0) return true;
    if (::chmod(path.c_str(), info.st_mode & 0700) != 0) {
      if (error) *error = ErrnoText(errno);
      return false;
    }
    return true;
  }

  std::string UserStateFolder() override {
    // A relative XDG_STATE_HOME is invalid by its specification and is passed over.
    if (std::optional<std::string> state = GetEnv("XDG_STATE_HOME");
        state && !state->empty() && state->front() == '/') {
      return *state;
    }
    std::optional<std::string> home = GetEnv("HOME");
    if (!home || home->empty()) return {};
    return *home + "/.local/state";
  }

  std::string UserDataFolder() override {
    if (std::optional<std::string> data = GetEnv("XDG_DATA_HOME"); data && !data->empty()) {
      return *data;
    }
    std::optional<std::string> home = GetEnv("HOME");
    if (!home || home->empty()) return {};
    return *home + "/.local/share";
  }

  bool StdinIsTerminal() override { return isatty(0) == 1; }
  bool StderrIsTerminal() override { return isatty(2) == 1; }

  bool HasDisplay() override {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
      std::optional<std::string> value = GetEnv(name);
      if (value && !value->empty()) return true;
    }
    return false;
  }

  bool ReadSecretLine(std::string_view prompt, std::string& line) override {
    return ReadLineWithoutEcho(prompt, line);
  }

  MessageBoxAnswer ShowMessageBox(const MessageBoxRequest& request) override {
    if (presenter_ == nullptr) return MessageBoxAnswer::kUnavailable;
    return presenter_->Show(request);
  }

  void SetMessageBoxPresenter(MessageBoxPresenter* presenter) override { presenter_ = presenter; }

  // The editor is started from a short-lived intermediate process that is waited for at
  // once; the editor itself is then a child of init, so it never lingers as our zombie.
  bool StartEditor(const std::string& path, std::string* error) override {
    std::vector<std::string> words;
    if (std::optional<std::string> editor = GetEnv("CUBESEC_EDITOR"); editor && !editor->empty()) {
      words = SplitWords(*editor);
      if (words.empty()) {
        if (error) *error = "CUBESEC_EDITOR holds no program name";
        return false;
      }
    } else if (HasDisplay()) {
      words = {"xdg-open"};
    } else {
      if (error) error->clear();
      return false;
    }
    words.push_back(path);

    // Everything the intermediate needs is prepared before fork().
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // The reason names the editor: a log line that says only "No such file or directory"
    // leaves the reader to guess which program was meant.
    const auto fail = [&](const std::string& why) {
      if (error) *error = "cannot start " + words.front() + ": " + why;
      return false;
    };
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return fail("cannot prepare the start");
    bool actions_ok = true;
    for (int fd : {0, 1, 2}) {
      int flags = fd == 0 ? O_RDONLY : O_WRONLY;
      actions_ok =
          actions_ok && posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", flags, 0) == 0;
    }
    posix_spawnattr_t attributes;
    bool attributes_ok = posix_spawnattr_init(&attributes) == 0;
    if (attributes_ok) {
      // The editor gets its own session, so a terminal's signals for us do not reach it.
      attributes_ok = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID) == 0;
    }
    if (!actions_ok || !attributes_ok) {
      posix_spawn_file_actions_destroy(&actions);
      if (attributes_ok) posix_spawnattr_destroy(&attributes);
      return fail("cannot prepare the start");
    }

    pid_t intermediate = fork();
    if (intermediate == 0) {
      // The intermediate's exit status carries the reason the editor did not start.
      pid_t editor = 0;
      int rc = posix_spawnp(&editor, argv[0], &actions, &attributes, argv.data(), environ);
      _exit(rc == 0 ? 0 : rc > 0 && rc < 255 ? rc : 255);
    }
    const int fork_error = errno;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (intermediate < 0) return fail(ErrnoText(fork_error));
    int status = 0;
    while (waitpid(intermediate, &status, 0) < 0) {
      if (errno != EINTR) return fail(ErrnoText(errno));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    if (!WIFEXITED(status)) return fail("the start was interrupted");
    const int rc = WEXITSTATUS(status);
    return fail(rc == 255 ? std::string("it did not start") : ErrnoText(rc));
  }

 private:
  static bool ReadUrandom(unsigned char* out, size_t size) {
    int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t filled = 0;
    while (filled < size) {
      ssize_t got = ::read(fd, out + filled, size - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ::close(fd);
        return false;
      }
      filled += static_cast<size_t>(got);
    }
    ::close(fd);
    return true;
  }

  MessageBoxPresenter* presenter_ = nullptr;
};

bool IsSystemProgramFolder(std::string_view folder) {
  return folder == "/usr" || folder.starts_with("/usr/") || folder == "/bin" || folder == "/sbin";
}

}  // namespace

const OsConventions& ThisOs() {
  static const OsConventions conventions{
      .path_separator = '/',
      .separators = "/",
      .variable_prefix = "$",
      .variable_suffix = "",
      .state_folder_help = "$XDG_STATE_HOME/%1",
      .data_folder_help = "$XDG_DATA_HOME/%1, else ~/.local/share/%1",
      .state_folder_variable = "HOME",
      .environment_help =
          "  WINDIR             folder of essbase.ini (default /etc)\n"
          "  XDG_STATE_HOME     state folder (default ~/.local/state)\n"
          "  DISPLAY            a display for the window (WAYLAND_DISPLAY as well)\n"
          "  TZ                 time zone of local dates\n",
      .is_system_program_folder = IsSystemProgramFolder,
  };
  return conventions;
}

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace cubesec
