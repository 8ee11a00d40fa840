#pragma once
// A folder of simulated server files for one test, and logins to them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "client/esb_api.h"

namespace cubesec::sim {

class ServerFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = (std::filesystem::temp_directory_path() /
               ("cubesec-sim-test-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                  .string();
    std::filesystem::remove_all(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Logs in to `server` with a fresh API on the folder; the context handle, or 0.
  EsbHandle Login(EsbApi& api, const std::string& server, const std::string& user,
                  const std::string& password, EsbStatus* status = nullptr) {
    EsbHandle instance = 0, context = 0;
    EXPECT_EQ(api.EsbInit(EsbInitRecord{}, &instance), 0);
    uint16_t apps = 0;
    EsbStatus result = api.EsbLogin(instance, server, user, password, &apps, &context);
    if (status != nullptr) *status = result;
    return result == 0 ? context : 0;
  }

  std::string folder_;
};

}  // namespace cubesec::sim
