#pragma once
// The restore's unit-test fixture: a run state on a fake platform and the fake server, a
// dump file written by the test, and the run log read back as lines.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "restore/fake_server_for_tests.h"
#include "restore/restore.h"
#include "tools/fake_platform.h"

namespace cubesec {

class RestoreTest : public ::testing::Test {
 protected:
  RestoreTest() : state(platform, server) {
    std::string templ = (std::filesystem::temp_directory_path() / "restore-XXXXXX").string();
    dir_ = mkdtemp(templ.data());
    state.log_path = dir_ + "/cubesec.log";
    state.user = "admin";
    state.client.context = 2;
  }
  ~RestoreTest() override {
    state.dump_in.reset();
    state.log.reset();
    std::filesystem::remove_all(dir_);
  }

  /// Makes `lines` (one "\n" each) the rest of the dump file, as the driver leaves it after
  /// reading a block's head line.
  void Dump(const std::string& lines) {
    std::string path = dir_ + "/dump.txt";
    std::ofstream out(path, std::ios::binary);
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) out << line << "\r\n";
    out.close();
    state.dump_in = std::make_unique<LineReader>(path);
  }

  /// The next line of the dump file: what the driver would read after the routine returned.
  std::string NextLine() {
    std::string line;
    return state.dump_in->ReadLine(line) ? line : "<end>";
  }

  std::vector<std::string> LogLines() {
    state.log.reset();
    std::vector<std::string> lines;
    std::ifstream in(state.log_path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  FakePlatform platform;
  fake::FakeServer server;
  RunState state;

 private:
  std::string dir_;
};

}  // namespace cubesec
