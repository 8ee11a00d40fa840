#pragma once
// Starting the programs under test, in one place: without a shell, with the given environment
// and nothing else of the harness's, in a chosen folder and a session of their own; standard
// input fed from a text or from a pseudo-terminal; standard output and error captured; a time
// limit, after which the program is killed, or a stop at a moment of the test's choosing. The
// prompt-driven tests hold a whole terminal session instead. A Windows program (".exe") is
// started through CUBESEC_TEST_EMULATOR, and the lines it writes, which end in CRLF there,
// come back with LF ends, as the Linux programs write them.

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace cubesec::e2e {

/// What a finished (or stopped) program left behind.
struct RunResult {
  int exit_code = -1;      // the exit status, or -1 when the program did not exit normally
  int signal = 0;          // the signal that ended it, 0 when it exited
  bool timed_out = false;  // it was killed because it ran past the time limit
  std::string out;         // everything written to standard output (a terminal: all it showed)
  std::string err;         // everything written to standard error
};

struct RunOptions {
  std::map<std::string, std::string> env;  // the whole environment of the program
  std::string stdin_text;                  // fed to standard input, which then ends
  std::string cwd;                         // working folder; empty: the caller's
  int timeout_seconds = 60;
  /// Standard input is a pseudo-terminal (output and error stay captured): `stdin_text` is
  /// typed into it at the start, and the terminal stays open until the program ends.
  bool stdin_terminal = false;
  /// Standard error goes where standard output goes: `out` holds both in the order written.
  bool merge_error = false;
};

/// The argv that starts `program` with `args`: a Windows program (".exe") is started through
/// CUBESEC_TEST_EMULATOR. Throws std::runtime_error when that is not set.
std::vector<std::string> CommandFor(const std::string& program,
                                    const std::vector<std::string>& args);
/// The "NAME=value" entries of `env`, and for a Windows program the emulator's own settings
/// (WINEPREFIX, ...) from the harness's environment, so that no run makes a prefix of its own.
std::vector<std::string> EnvironmentFor(const std::string& program,
                                        const std::map<std::string, std::string>& env);

/// A variable of the harness's own environment (none of which a program gets but the
/// emulator's settings); empty when it is not set.
std::string HarnessVariable(const char* name);

/// A started program. Throws std::runtime_error when it cannot be started. A program still
/// running when the object goes is killed.
class Process {
 public:
  Process(const std::string& program, const std::vector<std::string>& args,
          const RunOptions& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  /// Waits for the program, at most the options' `timeout_seconds`, collecting what it
  /// writes. `stop_when`, when given, is asked every fraction of a millisecond while the
  /// program runs; once it says true the program is sent `stop_signal` and waited for (killed,
  /// and counted as timed out, when it has not ended a minute later).
  RunResult Wait(const std::function<bool()>& stop_when = nullptr, int stop_signal = SIGKILL);

 private:
  // Writes what is left of standard input and reads what came out, waiting at most
  // `timeout_ns` for either.
  void Pump(long timeout_ns, RunResult& result);

  bool windows_ = false;
  RunOptions options_;
  pid_t pid_ = -1;
  int in_ = -1;         // standard input's pipe, or the terminal's controlling side
  int out_ = -1;        // standard output's pipe (with merge_error, standard error's too)
  int err_ = -1;        // standard error's pipe
  size_t written_ = 0;  // how much of the input text went in
  std::string echo_;    // what the terminal of a terminal input showed (not kept)
};

/// Starts `program` with `args` (argv[1..]) and waits for it: Process(...).Wait().
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const RunOptions& options);

/// A program whose standard input, output and error are a pseudo-terminal that is its
/// controlling terminal (Ctrl+C interrupts it); the test holds the other side, reads what the
/// terminal shows and types answers. The options' environment and folder are used, and their
/// `stdin_text` is typed at the start. A program still running when the object goes is killed.
class TerminalSession {
 public:
  TerminalSession(const std::string& program, const std::vector<std::string>& args,
                  const RunOptions& options);
  ~TerminalSession();
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;

  /// Reads until `text` appears after what earlier waits matched. False on timeout or when
  /// the program closed the terminal first.
  bool WaitFor(const std::string& text, int timeout_ms = 15000);
  /// Types `text`. Throws std::runtime_error when the terminal does not take all of it.
  void Send(const std::string& text);
  /// Waits for the program to end, reading what it still shows (a program that is silent for
  /// a while is still read to its end); killed when it has not ended in `timeout_ms`. `out`
  /// holds all that the terminal showed.
  RunResult Finish(int timeout_ms = 30000);
  /// Finish's outcome as one number: the exit status, 128 + the signal that ended the
  /// program, or -1 when it ran past `timeout_ms`.
  int Wait(int timeout_ms = 30000);
  /// Whether the terminal echoes what is typed right now.
  bool Echoes() const;

  const std::string& output() const { return output_; }
  /// What the terminal showed after the last match.
  std::string Rest() const { return output_.substr(matched_); }

 private:
  // False when the terminal is closed (the program ended) or nothing came in time.
  bool ReadSome(int timeout_ms);

  pid_t pid_ = -1;
  int terminal_ = -1;
  std::string output_;
  size_t matched_ = 0;
};

/// Runs `program` on a terminal, types `options.stdin_text` and reads the terminal until the
/// program ends (at most `options.timeout_seconds`).
RunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                        const RunOptions& options);

}  // namespace cubesec::e2e
