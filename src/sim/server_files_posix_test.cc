// Processes killed in the middle of their work: they need fork(), so they are POSIX's; on
// Windows the end-to-end kill test covers them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "sim/server_files_test_fixture.h"
#include "sim/sim_api.h"
#include "sim/test_server.h"

namespace cubesec::sim {
namespace {

TEST_F(ServerFilesTest, ChangesSurviveAKilledProcess) {
  ASSERT_EQ(LoadFixture(folder_, "demo", kTestFixture), "");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto api = MakeSimulatedApi(folder_);
    EsbHandle instance = 0, context = 0;
    uint16_t apps = 0;
    api->EsbInit(EsbInitRecord{}, &instance);
    api->EsbLogin(instance, "demo", "admin", "pw-admin", &apps, &context);
    bool ok = api->EsbCreateGroup(context, "Survivors") == 0 &&
              api->EsbSetFilter(context, "Sample", "Basic", "Kept", 1, 273) == 0 &&
              api->EsbSetFilterRow(context, true, "East", 273) == 0 &&
              api->EsbSetFilterRow(context, false, "", 0) == 0;
    if (!ok) _exit(3);
    kill(getpid(), SIGKILL);  // no clean shutdown: nothing is closed or checkpointed
    _exit(4);
  }
  int wait_status = 0;
  ASSERT_EQ(waitpid(child, &wait_status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(wait_status)) << "child exit " << WEXITSTATUS(wait_status);
  auto api = MakeSimulatedApi(folder_);
  EsbHandle context = Login(*api, "demo", "admin", "pw-admin");
  ASSERT_NE(context, 0u);
  EsbUserInfo info;
  EXPECT_EQ(api->EsbGetGroup(context, "Survivors", &info), 0);
  int16_t active = 0;
  uint16_t access = 0;
  EXPECT_EQ(api->EsbGetFilter(context, "Sample", "Basic", "Kept", &active, &access), 0);
}

TEST_F(ServerFilesTest, AWriteKilledBeforeItsCommitLeavesTheServerAsItWas) {
  ASSERT_EQ(LoadFixture(folder_, "demo", kTestFixture), "");
  std::string path = ServerPath(folder_, "demo");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) _exit(3);
    if (sqlite3_exec(db,
                     "BEGIN IMMEDIATE; DELETE FROM memberships; DELETE FROM principals "
                     "WHERE name <> 'admin'; UPDATE server SET min_length = 99;",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
      _exit(4);
    }
    kill(getpid(), SIGKILL);
    _exit(5);
  }
  int wait_status = 0;
  ASSERT_EQ(waitpid(child, &wait_status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(wait_status)) << "child exit " << WEXITSTATUS(wait_status);
  std::string json;
  ASSERT_EQ(ExportServer(folder_, "demo", &json), "");
  nlohmann::json doc = nlohmann::json::parse(json);
  EXPECT_EQ(doc["users"].size(), 6u);
  EXPECT_EQ(doc["global"]["min_length"], 4);
  auto api = MakeSimulatedApi(folder_);
  EsbHandle context = Login(*api, "demo", "admin", "pw-admin");
  ASSERT_NE(context, 0u);
  EXPECT_EQ(api->EsbCreateGroup(context, "AfterCrash"), 0);
}

}  // namespace
}  // namespace cubesec::sim
