#pragma once
// A small server for the simulated server's tests, and a test base that logs in to it.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "client/esb_api.h"
#include "sim/sim_api.h"

namespace cubesec::sim {

// One round per password: every test logs in, and the default count is proved on its own.
inline const char* const kTestFixture = R"json({
  "api_version": 458753,
  "password_iterations": 1,
  "global": {"security": true, "logins": true, "default_access": 0, "validity": 30,
             "reserved": 7, "min_length": 4, "timeout": 600, "check_frequency": 60},
  "groups": [{"name": "Analysts"}, {"name": "Planners"}, {"name": "Idle"}],
  "users": [
    {"name": "admin", "password": "pw-admin", "access": 65535, "supervisor": true},
    {"name": "Alice", "password": "alice-pw", "groups": ["Analysts", "Planners"]},
    {"name": "bob", "password": "bob-pw", "groups": ["analysts"], "last_login": 1790000000},
    {"name": "carol", "password": "carol-pw", "disabled": true},
    {"name": "dave", "password": "dave-pw", "password_expired": true},
    {"name": "boss", "password": "boss-pw", "supervisor": true}
  ],
  "applications": [
    {"name": "Sample", "description": "Sample app", "loadable": true, "security": true,
     "lock_timeout": 30, "lro_size": 5,
     "access": {"Analysts": 256, "Alice": 256},
     "databases": [
       {"name": "Basic", "description": "Basic db", "loadable": true,
        "members": ["Market", "East", "West", "New York", "Sales", "Year"],
        "calc_scripts": ["CalcAll", "Rollup"],
        "filters": [
          {"name": "EastRead", "active": true, "default_access": 273,
           "rows": [{"access": 273, "text": "@IDESCENDANTS(\"East\")"},
                    {"access": 0, "text": "\"West\""}]},
          {"name": "Spare"}],
        "access": {"Analysts": {"access": 273, "filter": "EastRead"},
                   "Planners": {"access": 279, "calcs": ["Rollup"]},
                   "Alice": {"access": 275, "all_calcs": true}}},
       {"name": "Interim", "default_access": 272}]},
    {"name": "Archive"}
  ]
})json";

/// Logs in as the supervisor `admin` to a server built from kTestFixture.
class SimApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api_ = MakeInMemoryApi(kTestFixture);
    ASSERT_EQ(api_->EsbInit(EsbInitRecord{}, &instance_), 0);
    ASSERT_EQ(Login("admin", "pw-admin", &context_), 0);
  }

  EsbStatus Login(const std::string& user, const std::string& password, EsbHandle* context) {
    uint16_t apps = 0;
    return api_->EsbLogin(instance_, "anything", user, password, &apps, context);
  }

  /// Fetches `count` items of the list as names (the field that the type fills).
  std::vector<std::string> Items(uint16_t type, uint32_t count) {
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
      EsbItem item;
      EsbStatus status = api_->EsbGetNextItem(context_, type, &item);
      EXPECT_EQ(status, 0) << "item " << i;
      if (status != 0) break;
      switch (type) {
        case kItemAppDb:
          names.push_back(std::string(item.app_db.app) + "/" + item.app_db.db);
          break;
        case kItemUserApp:
          names.push_back(std::string(item.user_app.user) + "=" +
                          std::to_string(item.user_app.access));
          break;
        default:
          names.push_back(item.name);
          break;
      }
    }
    return names;
  }

  /// The pending message's number, text in `text`; -1 when none could be fetched.
  int32_t Message(std::string* text = nullptr) {
    int32_t level = 0, number = 0;
    char buffer[kEsbMessageSize] = {};
    if (api_->EsbGetMessage(instance_, &level, &number, buffer, sizeof buffer) != 0) return -1;
    EXPECT_EQ(level, 2);
    if (text != nullptr) *text = buffer;
    return number;
  }

  std::unique_ptr<EsbApi> api_;
  EsbHandle instance_ = 0;
  EsbHandle context_ = 0;
};

}  // namespace cubesec::sim
