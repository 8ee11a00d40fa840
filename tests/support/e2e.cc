#include "e2e.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cubesec::e2e {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "cubesec-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
  }
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

bool TestingWindowsPrograms() { return !HarnessVariable("CUBESEC_TEST_WINDOWS_BIN").empty(); }

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
  const std::string windows = HarnessVariable("CUBESEC_TEST_WINDOWS_BIN");
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
  const std::string windows = HarnessVariable("CUBESEC_TEST_WINDOWS_BIN");
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

void Sandbox::LoadFixtureText(const std::string& server, const std::string& json) {
  const std::string path = Path(server + "-fixture.json");
  WriteFile(path, json);
  LoadFixture(server, path);
}

std::string Sandbox::Generate(const std::string& server, const std::vector<std::string>& options) {
  std::vector<std::string> args = {"generate", server, "--scale", "1"};
  args.insert(args.end(), options.begin(), options.end());
  const RunResult result = Sim(args);
  const std::string marker = "admin password (shown once): ";
  const size_t at = result.out.find(marker);
  if (result.exit_code != 0 || at == std::string::npos) {
    throw std::runtime_error("cubesec-sim generate " + server + " failed (" +
                             std::to_string(result.exit_code) + "): " + result.err + result.out);
  }
  const size_t from = at + marker.size();
  std::string password = result.out.substr(from, result.out.find('\n', from) - from);
  while (!password.empty() && std::isspace(static_cast<unsigned char>(password.back()))) {
    password.pop_back();
  }
  return password;
}

std::string Sandbox::Export(const std::string& server) {
  RunResult result = Sim({"export", server});
  if (result.exit_code != 0) {
    throw std::runtime_error("cubesec-sim export " + server + " failed: " + result.err);
  }
  return result.out;
}

void Sandbox::LoadFixture(const std::string& server, const std::string& fixture_path) {
  const std::string path = fixture_path.starts_with("/") ? fixture_path : SourcePath(fixture_path);
  RunResult result = Sim({"load", server, path, "--password-iterations", kTestPasswordIterations});
  if (result.exit_code != 0) {
    throw std::runtime_error("cubesec-sim load " + server + " " + path + " failed (" +
                             std::to_string(result.exit_code) + "): " + result.err + result.out);
  }
}

RunOptions Sandbox::Options() const {
  RunOptions options;
  options.env = env_;
  options.cwd = dir_.path();
  return options;
}

RunResult Sandbox::Cubesec(const std::vector<std::string>& args, const std::string& stdin_text) {
  RunOptions options = Options();
  options.stdin_text = stdin_text;
  return RunProgram(cubesec_, args, options);
}

RunResult Sandbox::CubesecOnTerminal(const std::vector<std::string>& args,
                                     const std::string& typed) {
  RunOptions options = Options();
  options.stdin_text = typed;
  return RunOnTerminal(cubesec_, args, options);
}

RunResult Sandbox::Sim(const std::vector<std::string>& args) {
  return RunProgram(SimBinary(), args, Options());
}

}  // namespace cubesec::e2e
