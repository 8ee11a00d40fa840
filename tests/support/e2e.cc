#include "e2e.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cubesec::e2e {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Reads what is available on `fd` into `sink`; false once the other end is closed.
bool Drain(int fd, std::string& sink) {
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      sink.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) return false;
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK;
  }
}

// A Windows build under test: CUBESEC_TEST_WINDOWS_BIN names the folder of cubesec.exe and
// cubesec-sim.exe, and CUBESEC_TEST_EMULATOR the program that runs them (wine64).
std::string HarnessEnv(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool IsWindowsProgram(const std::string& program) { return program.ends_with(".exe"); }

std::string ReplaceCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

// The emulator's own settings are the one thing of the harness's environment that a program
// under test gets: without them each run would make a Wine prefix of its own.
constexpr const char* kEmulatorVariables[] = {"WINEPREFIX", "WINESERVER", "WINEDEBUG",
                                              "WINEDLLOVERRIDES", "WINELOADER"};

}  // namespace

std::vector<std::string> CommandFor(const std::string& program,
                                    const std::vector<std::string>& args) {
  std::vector<std::string> argv{program};
  if (IsWindowsProgram(program)) {
    const std::string emulator = HarnessEnv("CUBESEC_TEST_EMULATOR");
    if (emulator.empty()) throw std::runtime_error("CUBESEC_TEST_EMULATOR is not set");
    argv.insert(argv.begin(), emulator);
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

std::vector<std::string> EnvironmentFor(const std::string& program,
                                        const std::map<std::string, std::string>& env) {
  std::vector<std::string> entries;
  for (const auto& [name, value] : env) entries.push_back(name + "=" + value);
  if (IsWindowsProgram(program)) {
    for (const char* name : kEmulatorVariables) {
      const std::string value = HarnessEnv(name);
      if (!value.empty() && !env.contains(name)) entries.push_back(name + ("=" + value));
    }
  }
  return entries;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options) {
  // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
  std::vector<std::string> env_text = EnvironmentFor(program, options.env);
  std::vector<std::string> argv_text = CommandFor(program, args);
  const std::string executable = argv_text.front();
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
      pipe2(err_pipe, O_CLOEXEC) != 0) {
    Fail("pipe");
  }
  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    execve(executable.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  SetNonBlocking(in_pipe[1]);
  SetNonBlocking(out_pipe[0]);
  SetNonBlocking(err_pipe[0]);

  RunResult result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (options.stdin_text.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  bool out_open = true, err_open = true;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  int status = 0;
  bool exited = false;
  while (!exited) {
    pollfd fds[3];
    nfds_t count = 0;
    if (out_open) fds[count++] = {out_pipe[0], POLLIN, 0};
    if (err_open) fds[count++] = {err_pipe[0], POLLIN, 0};
    if (in_fd >= 0) fds[count++] = {in_fd, POLLOUT, 0};
    poll(fds, count, 20);
    if (out_open) out_open = Drain(out_pipe[0], result.out);
    if (err_open) err_open = Drain(err_pipe[0], result.err);
    if (in_fd >= 0) {
      ssize_t n =
          write(in_fd, options.stdin_text.data() + written, options.stdin_text.size() - written);
      if (n > 0) written += static_cast<size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == options.stdin_text.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
    if (waitpid(pid, &status, WNOHANG) == pid) {
      exited = true;
    } else if (std::chrono::steady_clock::now() > deadline) {
      result.timed_out = true;
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      exited = true;
    }
  }
  // A program that started another one may leave the pipes open; take what is there.
  if (out_open) Drain(out_pipe[0], result.out);
  if (err_open) Drain(err_pipe[0], result.err);
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  close(err_pipe[0]);
  if (IsWindowsProgram(program)) {
    result.out = ReplaceCrLf(result.out);
    result.err = ReplaceCrLf(result.err);
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "cubesec-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string TempDir::Path(const std::string& name) const { return path_ + "/" + name; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool TestingWindowsPrograms() { return !HarnessEnv("CUBESEC_TEST_WINDOWS_BIN").empty(); }

std::string NoSpaceText() {
  return TestingWindowsPrograms() ? "Disk full" : "No space left on device";
}

std::string AsProgramsName(const std::string& path) {
  if (!TestingWindowsPrograms()) return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

std::string CubesecBinary() {
  const std::string windows = HarnessEnv("CUBESEC_TEST_WINDOWS_BIN");
  return windows.empty() ? std::string(CUBESEC_BIN) : windows + "/cubesec.exe";
}
std::vector<std::string> WritingCalls(const std::string& trace_text) {
  std::vector<std::string> writes;
  for (const std::string& line : Lines(trace_text)) {
    const std::string call = line.substr(0, line.find(' '));
    for (const char* prefix : {"EsbSet", "EsbCreate", "EsbAddTo", "EsbDelete"}) {
      if (call.rfind(prefix, 0) == 0) writes.push_back(call);
    }
  }
  return writes;
}

std::string SimBinary() {
  const std::string windows = HarnessEnv("CUBESEC_TEST_WINDOWS_BIN");
  return windows.empty() ? std::string(CUBESEC_SIM_BIN) : windows + "/cubesec-sim.exe";
}
std::string SourcePath(const std::string& relative) {
  return std::string(CUBESEC_SOURCE_DIR) + "/" + relative;
}

Sandbox::Sandbox() {
  fs::create_directories(dir_.Path("bin"));
  sim_dir_ = dir_.Path("servers");
  fs::create_directories(sim_dir_);
  // The copy keeps the built program's name, so a Windows build's is bin/cubesec.exe; its run
  // log is bin/cubesec.log either way.
  cubesec_ = dir_.Path("bin/" + fs::path(CubesecBinary()).filename().string());
  fs::copy_file(CubesecBinary(), cubesec_);
  env_ = {
      {"CUBESEC_SIM_DIR", sim_dir_},
      {"CUBESEC_NOW", std::to_string(kPinnedNow)},
      {"TZ", "UTC"},
      {"LC_ALL", "C"},
      {"HOME", dir_.path()},
      {"PATH", "/usr/local/bin:/usr/bin:/bin"},
  };
}

std::string Sandbox::LogPath() const { return dir_.Path("bin/cubesec.log"); }

std::string Sandbox::Log() const {
  return FileExists(LogPath()) ? ReadFile(LogPath()) : std::string();
}

void Sandbox::LoadFixture(const std::string& server, const std::string& fixture_path) {
  const std::string path = fixture_path.starts_with("/") ? fixture_path : SourcePath(fixture_path);
  RunResult result = Sim({"load", server, path, "--password-iterations", kTestPasswordIterations});
  if (result.exit_code != 0) {
    throw std::runtime_error("cubesec-sim load " + server + " " + path + " failed (" +
                             std::to_string(result.exit_code) + "): " + result.err + result.out);
  }
}

RunResult Sandbox::Cubesec(const std::vector<std::string>& args, const std::string& stdin_text) {
  RunOptions options;
  options.env = env_;
  options.stdin_text = stdin_text;
  options.cwd = dir_.path();
  return RunProgram(cubesec_, args, options);
}

RunResult Sandbox::Sim(const std::vector<std::string>& args) {
  RunOptions options;
  options.env = env_;
  options.cwd = dir_.path();
  return RunProgram(SimBinary(), args, options);
}

}  // namespace cubesec::e2e
