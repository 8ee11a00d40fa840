#include "front/api_choice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "client/scripted_api.h"
#include "tools/fake_platform.h"

namespace cubesec::testing {
namespace {

using ::testing::HasSubstr;

class ApiChoiceTest : public ::testing::Test {
 protected:
  ApiChoiceTest() {
    folder_ = MakeTestFolder("api-test");
    platform_.real_files = true;  // the simulated server's files are on the disk
  }
  ~ApiChoiceTest() override { std::filesystem::remove_all(folder_); }

  std::unique_ptr<ChosenApi> Wrap(ScriptedApi** inner = nullptr) {
    auto api = std::make_unique<ScriptedApi>();
    if (inner) *inner = api.get();
    return WrapApi(platform_, std::move(api), &error_);
  }
  std::string Trace() {
    std::ifstream in(folder_ + "/trace.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  FakePlatform platform_;
  std::string folder_;
  std::string error_;
};

TEST_F(ApiChoiceTest, WithoutVariablesTheServerItself) {
  ScriptedApi* inner = nullptr;
  std::unique_ptr<ChosenApi> chosen = Wrap(&inner);
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(&chosen->api(), inner);
  platform_.env["CUBESEC_SIM_FAULTS"] = "";
  platform_.env["CUBESEC_SIM_TRACE"] = "";
  EXPECT_EQ(&Wrap(&inner)->api(), inner);
}

TEST_F(ApiChoiceTest, TraceHoldsEveryCallWithItsStatusIncludingInjectedFailures) {
  platform_.env["CUBESEC_SIM_TRACE"] = folder_ + "/trace.txt";
  platform_.env["CUBESEC_SIM_FAULTS"] = "EsbListUsers#1=1051012";
  std::unique_ptr<ChosenApi> chosen = Wrap();
  ASSERT_NE(chosen, nullptr) << error_;
  uint32_t version = 0, count = 0;
  chosen->api().EsbGetAPIVersion(&version);
  EXPECT_EQ(Trace(), "EsbGetAPIVersion 0\n");  // on disk before the next call
  EXPECT_EQ(chosen->api().EsbListUsers(11, "", "", &count), 1051012);
  chosen->api().EsbListUsers(11, "", "", &count);
  EXPECT_EQ(Trace(), "EsbGetAPIVersion 0\nEsbListUsers 1051012\nEsbListUsers 0\n");
}

TEST_F(ApiChoiceTest, MalformedFaultPlanOrLatencyIsRefused) {
  platform_.env["CUBESEC_SIM_FAULTS"] = "EsbLogin#x=5";
  EXPECT_EQ(Wrap(), nullptr);
  EXPECT_THAT(error_, HasSubstr("CUBESEC_SIM_FAULTS"));
  platform_.env.erase("CUBESEC_SIM_FAULTS");
  platform_.env["CUBESEC_SIM_LATENCY_US"] = "half a millisecond";
  EXPECT_EQ(Wrap(), nullptr);
  EXPECT_THAT(error_, HasSubstr("CUBESEC_SIM_LATENCY_US: 'half a millisecond'"));
}

TEST_F(ApiChoiceTest, LatencyDelaysEveryCallInjectedFailuresToo) {
  platform_.env["CUBESEC_SIM_LATENCY_US"] = "3000";
  platform_.env["CUBESEC_SIM_FAULTS"] = "EsbListUsers#1=1051012";
  std::unique_ptr<ChosenApi> chosen = Wrap();
  ASSERT_NE(chosen, nullptr) << error_;
  uint32_t count = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(chosen->api().EsbListUsers(11, "", "", &count), 1051012);
  for (int i = 0; i < 4; ++i) chosen->api().EsbListUsers(11, "", "", &count);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(5 * 3000));
}

TEST_F(ApiChoiceTest, TraceFileThatCannotBeOpenedIsRefused) {
  platform_.env["CUBESEC_SIM_TRACE"] = folder_ + "/no/such/folder/trace.txt";
  EXPECT_EQ(Wrap(), nullptr);
  EXPECT_THAT(error_, HasSubstr("CUBESEC_SIM_TRACE"));
}

}  // namespace
}  // namespace cubesec::testing
