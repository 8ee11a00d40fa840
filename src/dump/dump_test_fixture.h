#pragma once
// For the block writers' tests: a run state over a scripted server, writing into a dump file
// in a temporary folder of its own.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "client/run_state.h"
#include "client/scripted_api.h"
#include "tools/fake_platform.h"

namespace cubesec::testing {

class DumpTest : public ::testing::Test {
 protected:
  DumpTest() : state_(platform_, api_) {
    state_.dump_file = "dump.txt";  // in the fake platform's memory
    state_.dump_out = std::make_unique<LineWriter>(platform_, state_.dump_file, false);
    state_.server = "Prod";
    state_.client.instance = 7;
    state_.client.context = 11;
  }
  ~DumpTest() override {
    state_.dump_out.reset();
    state_.run_log.Close();
  }

  // The dump file's lines; each must end in CRLF.
  std::vector<std::string> Lines() {
    state_.FlushDump();
    const std::string text = platform_.files[state_.dump_file];
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find("\r\n", start);
      if (end == std::string::npos) {
        ADD_FAILURE() << "line without CRLF: " << text.substr(start);
        break;
      }
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // Runs `write` and returns the error it raised (number 0 when none).
  template <typename F>
  RunError Raised(F write) {
    try {
      write();
    } catch (const RunError& error) {
      return error;
    }
    return RunError(0, "");
  }

  FakePlatform platform_;
  ScriptedApi api_;
  RunState state_;
};

}  // namespace cubesec::testing
