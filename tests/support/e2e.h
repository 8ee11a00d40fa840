#pragma once
// Helpers for tests that run the built programs: a private temporary folder per test with its
// own copy of cubesec (the run log lies beside the executable), its own simulated-server
// folder and a fixed environment; files and traces; and the programs started in it through
// the launcher (launcher.h).

#include <map>
#include <string>
#include <vector>

#include "launcher.h"

namespace cubesec::e2e {

/// A new empty folder under the system's temporary folder, removed with its contents when
/// the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  /// `path()` + "/" + `name`.
  std::string Path(const std::string& name) const;

 private:
  std::string path_;
};

// Whole files. ReadFile and WriteFile throw std::runtime_error on failure.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
/// The lines of a text, without their CRLF or LF ends.
std::vector<std::string> Lines(const std::string& text);

/// True when the programs under test are a Windows build run through an emulator
/// (CUBESEC_TEST_WINDOWS_BIN). Their lines on standard output and error end in CRLF there;
/// the launcher gives them back with LF ends, as the Linux programs write them.
bool TestingWindowsPrograms();

/// The system's words for a full disk in the programs' messages: the C library's on Linux,
/// Wine's text for ERROR_DISK_FULL when Windows programs run under it.
std::string NoSpaceText();

/// An absolute path as the programs under test name it when they work it out themselves:
/// unchanged on Linux, on Wine's drive Z: with backslashes for Windows programs.
std::string AsProgramsName(const std::string& path);

/// The calls of a CUBESEC_SIM_TRACE text ("<CallName> <status>" lines) that change a server:
/// every set, create, add, assign and delete, in trace order.
std::vector<std::string> WritingCalls(const std::string& trace_text);

/// Paths of the built programs and of the source tree.
std::string CubesecBinary();
std::string SimBinary();
/// CUBESEC_SOURCE_DIR + "/" + `relative`.
std::string SourcePath(const std::string& relative);

/// Seconds since 1970 that every sandbox pins the clock to (CUBESEC_NOW):
/// 2026-12-01 12:00:00 UTC.
inline constexpr long long kPinnedNow = 1796126400;

/// The password iteration count of the servers the tests build: they log in and create
/// users thousands of times. The default count is the unit tests' to prove.
inline constexpr const char* kTestPasswordIterations = "1";

/// One test's world: a temporary folder holding bin/cubesec (a copy of the built program),
/// servers/ (CUBESEC_SIM_DIR) and room for dump files, and the environment the programs get:
/// CUBESEC_SIM_DIR, CUBESEC_NOW = kPinnedNow, TZ=UTC, LC_ALL=C, HOME = the folder, PATH.
/// Nothing of the caller's environment leaks in (no DISPLAY, no editor).
class Sandbox {
 public:
  Sandbox();
  const TempDir& dir() const { return dir_; }
  /// A path inside the sandbox folder.
  std::string Path(const std::string& name) const { return dir_.Path(name); }
  const std::string& cubesec() const { return cubesec_; }
  const std::string& sim_dir() const { return sim_dir_; }
  /// The run log of the sandbox's cubesec: bin/cubesec.log.
  std::string LogPath() const;
  /// The run log's text; empty when there is none.
  std::string Log() const;

  /// The environment handed to programs; tests may change or erase entries.
  std::map<std::string, std::string>& env() { return env_; }

  /// Builds simulated server `server` from the fixture file (a path, or relative to the
  /// source tree), keeping its passwords with kTestPasswordIterations. Throws
  /// std::runtime_error with the tool's message when loading fails.
  void LoadFixture(const std::string& server, const std::string& fixture_path);
  /// The same from a fixture given as text (kept beside as `server`-fixture.json).
  void LoadFixtureText(const std::string& server, const std::string& json);
  /// Generates simulated server `server` at scale 1 (`cubesec-sim generate`, with
  /// `options` added) and gives the admin password that the tool shows once. Throws
  /// std::runtime_error when generating fails.
  std::string Generate(const std::string& server,
                       const std::vector<std::string>& options = {"--password-iterations",
                                                                  kTestPasswordIterations});
  /// The exported state of simulated server `server`, as the tool writes it (JSON). Throws
  /// std::runtime_error when the export fails.
  std::string Export(const std::string& server);

  /// How the sandbox starts a program: its environment, in the sandbox folder.
  RunOptions Options() const;
  /// Runs the sandbox's cubesec in the sandbox folder.
  RunResult Cubesec(const std::vector<std::string>& args, const std::string& stdin_text = "");
  /// Runs the sandbox's cubesec on a terminal (its standard input, output and error), typing
  /// `typed` into it; the result's `out` holds everything the terminal showed.
  RunResult CubesecOnTerminal(const std::vector<std::string>& args, const std::string& typed);
  /// Runs cubesec-sim with the sandbox's environment.
  RunResult Sim(const std::vector<std::string>& args);

 private:
  TempDir dir_;
  std::string cubesec_;
  std::string sim_dir_;
  std::map<std::string, std::string> env_;
};

}  // namespace cubesec::e2e
