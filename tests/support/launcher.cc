#include "launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace cubesec::e2e {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

void Close(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

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

// A new pseudo-terminal: the side the test holds and the terminal the program gets. Both are
// closed on exec from the start, so that no program started meanwhile by another test thread
// keeps one open.
void OpenTerminal(int& controller, int& terminal) {
  controller = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (controller < 0) Fail("posix_openpt");
  char name[128];
  if (grantpt(controller) != 0 || unlockpt(controller) != 0 ||
      ptsname_r(controller, name, sizeof name) != 0) {
    const int saved = errno;
    close(controller);
    errno = saved;
    Fail("pseudo-terminal");
  }
  terminal = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) {
    const int saved = errno;
    close(controller);
    errno = saved;
    Fail(std::string("open ") + name);
  }
}

// What the program's standard input, output and error are.
struct ChildStreams {
  int in = -1;
  int out = -1;
  int err = -1;
  bool controlling_terminal = false;  // `in` is a terminal that becomes the program's own
};

// The one place that forks and execs. The program gets a session of its own, so that nothing
// typed at the harness's terminal reaches it and a kill can reach all it started.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const RunOptions& options, const ChildStreams& streams) {
  // Everything the child needs is prepared before fork: after it only async-signal-safe calls.
  std::vector<std::string> env_text = EnvironmentFor(program, options.env);
  std::vector<std::string> argv_text = CommandFor(program, args);
  std::vector<char*> envp;
  for (auto& entry : env_text) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (auto& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const char* folder = options.cwd.empty() ? nullptr : options.cwd.c_str();

  const pid_t pid = fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    setsid();
    if (streams.controlling_terminal) ioctl(streams.in, TIOCSCTTY, 0);
    // The streams were opened close-on-exec; the copies as 0, 1 and 2 are not.
    dup2(streams.in, 0);
    dup2(streams.out, 1);
    dup2(streams.err, 2);
    if (folder != nullptr && chdir(folder) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

void KillAndReap(pid_t pid, int& status) {
  kill(-pid, SIGKILL);  // its session's group: what it started goes with it
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
}

void FillStatus(int status, RunResult& result) {
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

}  // namespace

std::string HarnessVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::vector<std::string> CommandFor(const std::string& program,
                                    const std::vector<std::string>& args) {
  std::vector<std::string> argv{program};
  if (IsWindowsProgram(program)) {
    const std::string emulator = HarnessVariable("CUBESEC_TEST_EMULATOR");
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
      const std::string value = HarnessVariable(name);
      if (!value.empty() && !env.contains(name)) entries.push_back(name + ("=" + value));
    }
  }
  return entries;
}

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const RunOptions& options)
    : windows_(IsWindowsProgram(program)), options_(options) {
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  try {
    if (options.stdin_terminal) {
      OpenTerminal(in[1], in[0]);
    } else if (pipe2(in, O_CLOEXEC) != 0) {
      Fail("pipe");
    }
    if (pipe2(out, O_CLOEXEC) != 0 || (!options.merge_error && pipe2(err, O_CLOEXEC) != 0)) {
      Fail("pipe");
    }
    pid_ = Spawn(program, args, options,
                 {in[0], out[1], options.merge_error ? out[1] : err[1], false});
  } catch (...) {
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) {
      if (fd >= 0) close(fd);
    }
    throw;
  }
  close(in[0]);
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) SetNonBlocking(fd);
  }
  if (options.stdin_terminal) {
    // Typed at once, as a user who types ahead; a program that finds no answer takes the
    // safe one, which the test then sees.
    if (!options.stdin_text.empty() &&
        write(in_, options.stdin_text.data(), options.stdin_text.size()) < 0) {
      // Nothing typed: the program's answer is then its safe one.
    }
  } else if (options.stdin_text.empty()) {
    Close(in_);
  }
}

Process::~Process() {
  if (pid_ > 0) {
    int status = 0;
    KillAndReap(pid_, status);
  }
  Close(in_);
  Close(out_);
  Close(err_);
}

void Process::Pump(long timeout_ns, RunResult& result) {
  pollfd fds[3];
  nfds_t count = 0;
  if (out_ >= 0) fds[count++] = {out_, POLLIN, 0};
  if (err_ >= 0) fds[count++] = {err_, POLLIN, 0};
  if (in_ >= 0)
    fds[count++] = {in_, static_cast<short>(options_.stdin_terminal ? POLLIN : POLLOUT), 0};
  const timespec wait{0, timeout_ns};
  ppoll(fds, count, &wait, nullptr);
  if (out_ >= 0 && !Drain(out_, result.out)) Close(out_);
  if (err_ >= 0 && !Drain(err_, result.err)) Close(err_);
  if (in_ < 0) return;
  if (options_.stdin_terminal) {
    // The terminal's echo: nobody reads it. It fails once the program has let go of it.
    if (!Drain(in_, echo_)) Close(in_);
    echo_.clear();
    return;
  }
  const std::string& text = options_.stdin_text;
  const ssize_t n = write(in_, text.data() + written_, text.size() - written_);
  if (n > 0) written_ += static_cast<size_t>(n);
  if ((n < 0 && errno != EAGAIN && errno != EINTR) || written_ == text.size()) Close(in_);
}

RunResult Process::Wait(const std::function<bool()>& stop_when, int stop_signal) {
  RunResult result;
  if (pid_ <= 0) throw std::logic_error("the program was already waited for");
  auto deadline = Clock::now() + std::chrono::seconds(options_.timeout_seconds);
  // A stop is looked for often: the kill tests aim at a moment within a run of calls.
  const long step_ns = stop_when ? 200'000 : 20'000'000;
  bool stopping = false;
  int status = 0;
  for (;;) {
    Pump(step_ns, result);
    if (waitpid(pid_, &status, WNOHANG) == pid_) break;
    if (!stopping && stop_when && stop_when()) {
      kill(pid_, stop_signal);
      stopping = true;
      deadline = Clock::now() + std::chrono::seconds(60);
    } else if (Clock::now() > deadline) {
      result.timed_out = true;
      KillAndReap(pid_, status);
      break;
    }
  }
  pid_ = -1;
  // A program that started another one may leave the pipes open; take what is there.
  if (out_ >= 0) Drain(out_, result.out);
  if (err_ >= 0) Drain(err_, result.err);
  Close(in_);
  Close(out_);
  Close(err_);
  if (windows_) {
    result.out = ReplaceCrLf(result.out);
    result.err = ReplaceCrLf(result.err);
  }
  FillStatus(status, result);
  return result;
}

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options) {
  return Process(program, args, options).Wait();
}

TerminalSession::TerminalSession(const std::string& program, const std::vector<std::string>& args,
                                 const RunOptions& options) {
  int terminal = -1;
  OpenTerminal(terminal_, terminal);
  try {
    pid_ = Spawn(program, args, options, {terminal, terminal, terminal, true});
  } catch (...) {
    close(terminal);
    Close(terminal_);
    throw;
  }
  close(terminal);
  if (!options.stdin_text.empty()) Send(options.stdin_text);
}

TerminalSession::~TerminalSession() {
  if (pid_ > 0) {
    int status = 0;
    KillAndReap(pid_, status);
  }
  Close(terminal_);
}

bool TerminalSession::WaitFor(const std::string& text, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (size_t at = output_.find(text, matched_); at != std::string::npos) {
      matched_ = at + text.size();
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
  }
}

void TerminalSession::Send(const std::string& text) {
  if (write(terminal_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("the terminal did not take \"" + text + "\"");
  }
}

RunResult TerminalSession::Finish(int timeout_ms) {
  RunResult result;
  if (pid_ <= 0) throw std::logic_error("the program was already waited for");
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  for (;;) {
    ReadSome(20);
    if (waitpid(pid_, &status, WNOHANG) == pid_) break;
    if (Clock::now() > deadline) {
      result.timed_out = true;
      KillAndReap(pid_, status);
      break;
    }
  }
  pid_ = -1;
  while (ReadSome(100)) {
  }
  FillStatus(status, result);
  result.out = output_;
  return result;
}

int TerminalSession::Wait(int timeout_ms) {
  const RunResult result = Finish(timeout_ms);
  if (result.timed_out) return -1;
  return result.signal != 0 ? 128 + result.signal : result.exit_code;
}

bool TerminalSession::Echoes() const {
  termios settings{};
  if (tcgetattr(terminal_, &settings) != 0) return true;
  return (settings.c_lflag & ECHO) != 0;
}

bool TerminalSession::ReadSome(int timeout_ms) {
  pollfd in{terminal_, POLLIN, 0};
  if (poll(&in, 1, timeout_ms) <= 0) return false;
  char buffer[4096];
  const ssize_t got = read(terminal_, buffer, sizeof buffer);
  if (got <= 0) return false;  // EIO once the program's side is closed
  output_.append(buffer, static_cast<size_t>(got));
  return true;
}

RunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                        const RunOptions& options) {
  TerminalSession session(program, args, options);
  return session.Finish(options.timeout_seconds * 1000);
}

}  // namespace cubesec::e2e
