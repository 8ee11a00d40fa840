#pragma once
// The restore's unit-test fixture: a run state logged in to a simulated server built from a
// small fixture, every call traced as "<CallName> <status>", chosen calls failed on request,
// a dump file written by the test and the run log read back as lines.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "client/api_decorators.h"
#include "restore/restore.h"
#include "sim/sim_api.h"
#include "tools/fake_platform.h"

namespace cubesec {

inline const char* const kRestoreFixture = R"json({
  "global": {"security": true, "logins": true, "validity": 30, "reserved": 7, "timeout": 600},
  "groups": [{"name": "Analysts"}, {"name": "Planners"}],
  "users": [
    {"name": "admin", "password": "admin-password", "access": 65535, "supervisor": true},
    {"name": "bob", "password": "bob-password", "access": 275, "groups": ["Analysts"]},
    {"name": "carol", "password": "carol-password"}
  ],
  "applications": [
    {"name": "Sample", "loadable": true,
     "databases": [{"name": "Basic", "members": ["Market", "East", "West", "Sales", "Q1:Jan"],
                    "calc_scripts": ["CalcAll"],
                    "filters": [{"name": "Old", "rows": [{"access": 273, "text": "East"}]}]},
                   {"name": "Interim"}]},
    {"name": "Finance", "databases": [{"name": "Plan", "filters": [{"name": "F1"}]}]}
  ]
})json";

/// Hands out the library's messages without their number, as a library may: the call check
/// then lets the failure through.
class UnnumberedMessages : public EsbApiDecorator {
 public:
  using EsbApiDecorator::EsbApiDecorator;
  EsbStatus EsbGetMessage(EsbHandle instance, int32_t* level, int32_t* number, char* buffer,
                          size_t size) override {
    EsbStatus status = inner_.EsbGetMessage(instance, level, number, buffer, size);
    *number = 0;
    return status;
  }

 protected:
  EsbStatus Intercept(const char*, const std::function<EsbStatus()>& call) override {
    return call();
  }
};

class RestoreTest : public ::testing::Test {
 protected:
  RestoreTest() : sim_(Simulated()), state(platform, *sim_) {
    Connect("");
    EsbHandle instance = 0, context = 0;
    uint16_t apps = 0;
    EXPECT_EQ(sim_->EsbInit(EsbInitRecord{}, &instance), 0);
    EXPECT_EQ(sim_->EsbLogin(instance, "t", "admin", "admin-password", &apps, &context), 0);
    state.client.instance = instance;
    state.client.context = context;
    state.user = "admin";
    state.run_log.SetPath("cubesec.log");  // in the fake platform's memory
  }
  ~RestoreTest() override {
    state.dump_in.reset();
    state.run_log.Close();
    // The server's connection too: Windows removes no folder that holds an open file.
    tracer_.reset();
    unnumbered_.reset();
    injector_.reset();
    sim_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  /// Makes the calls of `faults` ("CALL#N=STATUS,...", counted from now) fail; with
  /// `numbered` false their messages come without a number.
  void Connect(const std::string& faults, bool numbered = true) {
    tracer_.reset();
    unnumbered_.reset();
    std::vector<FaultSpec> specs;
    if (!faults.empty()) specs = ParseFaultSpecs(faults, nullptr).value();
    injector_ = std::make_unique<FaultInjector>(*sim_, specs);
    EsbApi* api = injector_.get();
    if (!numbered) api = (unnumbered_ = std::make_unique<UnnumberedMessages>(*api)).get();
    tracer_ = std::make_unique<ApiTracer>(
        *api, [this](const std::string& line) { calls.push_back(line); });
    state.client.api = tracer_.get();
  }

  /// Makes `lines` (one "\n" each) the rest of the dump file, as the driver leaves it after
  /// reading a block's head line.
  void Dump(const std::string& lines) {
    std::string text;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) text += line + "\r\n";
    state.dump_in = LineReader::OfText(std::move(text));
  }

  /// The next line of the dump file: what the driver reads after the routine returned.
  std::string NextLine() {
    std::string line;
    return ReadRestoreLine(state, file, line) ? line : "<end>";
  }

  std::vector<std::string> LogLines() {
    state.run_log.Close();
    std::vector<std::string> lines;
    std::istringstream in(platform.files[state.run_log.path()]);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
    }
    return lines;
  }

  /// How many calls of `name` the trace holds.
  int Count(const std::string& name) const {
    int n = 0;
    for (const std::string& call : calls) n += call.rfind(name + " ", 0) == 0 ? 1 : 0;
    return n;
  }

  nlohmann::json Export() {
    std::string json;
    std::string error = sim::ExportServer(dir_, "t", &json);
    EXPECT_EQ(error, "");
    return nlohmann::json::parse(json);
  }
  static nlohmann::json Named(const nlohmann::json& array, const std::string& name) {
    for (const nlohmann::json& entry : array) {
      if (entry.value("name", "") == name) return entry;
    }
    return nullptr;
  }
  nlohmann::json Basic() {
    return Named(Named(Export()["applications"], "Sample")["databases"], "Basic");
  }

  FakePlatform platform;
  std::vector<std::string> calls;

 private:
  std::unique_ptr<EsbApi> Simulated() {
    dir_ = MakeTestFolder("restore");
    EXPECT_EQ(sim::LoadFixture(dir_, "t", kRestoreFixture), "");
    return sim::MakeSimulatedApi(dir_);
  }

  std::string dir_;
  std::unique_ptr<EsbApi> sim_;
  std::unique_ptr<FaultInjector> injector_;
  std::unique_ptr<UnnumberedMessages> unnumbered_;
  std::unique_ptr<ApiTracer> tracer_;

 public:
  RunState state;
  RestoreFileState file;
  RestoreState restore{file};
};

}  // namespace cubesec
