// Servers kept as files: the tool's operations and durability across connections and
// processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/fixture_json.h"
#include "sim/generator.h"
#include "sim/names.h"
#include "sim/row_members.h"
#include "sim/server_files_test_fixture.h"
#include "sim/sim_api.h"
#include "sim/status_codes.h"
#include "sim/store.h"
#include "sim/test_server.h"
#include "tools/fake_platform.h"

namespace cubesec::sim {
namespace {

namespace fs = std::filesystem;

TEST_F(ServerFilesTest, LoginOpensTheLowerCasedFileAndAMissingOneIsUnreachable) {
  ASSERT_EQ(LoadFixture(folder_, "Demo", kTestFixture), "");
  EXPECT_TRUE(fs::exists(folder_ + "/demo.sqlite"));
  auto api = MakeSimulatedApi(folder_);
  EXPECT_NE(Login(*api, "DEMO", "admin", "pw-admin"), 0u);
  EsbStatus status = 0;
  EXPECT_EQ(Login(*api, "other", "admin", "pw-admin", &status), 0u);
  EXPECT_EQ(status, kStatusServerUnreachable);
  EXPECT_EQ(Login(*api, "../demo", "admin", "pw-admin", &status), 0u);
  EXPECT_EQ(status, kStatusServerUnreachable);
  // A file that is there but no database is not an unreachable server: its login fails for
  // what the file is.
  std::ofstream(folder_ + "/junk.sqlite") << "not a database at all, just text";
  EXPECT_EQ(Login(*api, "junk", "admin", "pw-admin", &status), 0u);
  EXPECT_EQ(status, kStatusStoreFailure);
}

// A server file as the simulated server wrote it before servers had a password iteration
// count: its users log in with the passwords they had, and each one's value is kept with the
// current form and the default count at that user's first login.
TEST_F(ServerFilesTest, AnOlderServerFileLogsInAndItsPasswordsAreKeptAnew) {
  fs::create_directories(folder_);
  const std::string path = ServerPath(folder_, "older");
  {
    std::ifstream in(std::string(CUBESEC_SOURCE_DIR) + "/tests/fixtures/servers/older-server.sql");
    std::stringstream sql;
    sql << in.rdbuf();
    ASSERT_NE(sql.str().find("'sha256:"), std::string::npos);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.str().c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
  }
  auto kept = [&](const std::string& user) {
    return Store::OpenFile(path, false)->FindPrincipal(user)->password_hash.value_or("(none)");
  };
  const std::string admin_before = kept("Admin");
  ASSERT_TRUE(admin_before.starts_with("sha256:")) << admin_before;
  auto api = MakeSimulatedApi(folder_);
  EsbStatus status = 0;
  EXPECT_EQ(Login(*api, "older", "admin", "wrong", &status), 0u);
  EXPECT_EQ(status, kStatusLoginFailed);
  EXPECT_EQ(kept("Admin"), admin_before);  // only a login that matched keeps it anew

  EXPECT_NE(Login(*api, "older", "admin", "old-password"), 0u);
  EXPECT_TRUE(kept("Admin").starts_with("pbkdf2-sha256:4096:")) << kept("Admin");
  EXPECT_TRUE(kept("carol").starts_with("sha256:"));  // who has not logged in keeps hers
  EXPECT_NE(Login(*api, "older", "admin", "old-password"), 0u);
  EXPECT_EQ(Login(*api, "older", "admin", "wrong", &status), 0u);
  EXPECT_NE(Login(*api, "older", "carol", "carols-password"), 0u);
  EXPECT_TRUE(kept("carol").starts_with("pbkdf2-sha256:4096:")) << kept("carol");
  std::string json;
  ASSERT_EQ(ExportServer(folder_, "older", &json), "");
  EXPECT_EQ(nlohmann::json::parse(json)["users"].size(), 2u);
}

TEST_F(ServerFilesTest, ApiVersionIsTheLoggedInServersOnce) {
  ASSERT_EQ(LoadFixture(folder_, "demo", kTestFixture), "");
  auto api = MakeSimulatedApi(folder_);
  uint32_t version = 0;
  ASSERT_EQ(api->EsbGetAPIVersion(&version), 0);
  EXPECT_EQ(version, kEsbApiVersion);
  ASSERT_NE(Login(*api, "demo", "admin", "pw-admin"), 0u);
  ASSERT_EQ(api->EsbGetAPIVersion(&version), 0);
  EXPECT_EQ(version, 458753u);
}

TEST_F(ServerFilesTest, ASecondApiSeesEveryCommittedChange) {
  ASSERT_EQ(LoadFixture(folder_, "demo", kTestFixture), "");
  auto first = MakeSimulatedApi(folder_);
  auto second = MakeSimulatedApi(folder_);
  EsbHandle a = Login(*first, "demo", "admin", "pw-admin");
  EsbHandle b = Login(*second, "demo", "admin", "pw-admin");
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_EQ(first->EsbCreateUser(a, "Eve", "eve-pw"), 0);
  ASSERT_EQ(first->EsbAddToGroup(a, "Idle", "Eve"), 0);
  ASSERT_EQ(first->EsbSetCalcList(a, "Eve", "Sample", "Basic", 0, "Rollup", 1), 0);
  ASSERT_EQ(first->EsbDeleteGroup(a, "Planners"), 0);
  EsbUserInfo info;
  ASSERT_EQ(second->EsbGetUser(b, "eve", &info), 0);
  uint32_t count = 0;
  ASSERT_EQ(second->EsbGetGroupList(b, "Eve", &count), 0);
  EXPECT_EQ(count, 1u);
  int16_t all = 0;
  ASSERT_EQ(second->EsbGetCalcList(b, "Eve", "Sample", "Basic", &all, &count), 0);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(second->EsbGetGroup(b, "Planners", &info), kStatusGroupNotFound);
  // The other way round, and a new user can log in through the other API at once.
  ASSERT_EQ(second->EsbDeleteUser(b, "bob"), 0);
  EXPECT_EQ(first->EsbGetUser(a, "bob", &info), kStatusUserNotFound);
  EXPECT_NE(Login(*second, "demo", "Eve", "eve-pw"), 0u);
}

TEST_F(ServerFilesTest, LoadReplacesTheServerAndABadFixtureChangesNothing) {
  ASSERT_EQ(LoadFixture(folder_, "demo", kTestFixture), "");
  EXPECT_EQ(LoadFixture(folder_, "demo", R"({"users": [{"name": "only", "groups": ["Missing"]}]})"),
            "users[0].groups[0]: group \"Missing\" does not exist");
  std::string json;
  ASSERT_EQ(ExportServer(folder_, "demo", &json), "");
  EXPECT_EQ(nlohmann::json::parse(json)["users"].size(), 6u);
  ASSERT_EQ(LoadFixture(folder_, "demo", R"({"users": [{"name": "only", "password": "p"}]})"), "");
  ASSERT_EQ(ExportServer(folder_, "demo", &json), "");
  nlohmann::json doc = nlohmann::json::parse(json);
  ASSERT_EQ(doc["users"].size(), 1u);
  EXPECT_EQ(doc["users"][0]["name"], "only");
  EXPECT_EQ(doc["applications"].size(), 0u);
  EXPECT_NE(LoadFixture(folder_, "bad/name", "{}"), "");
}

TEST_F(ServerFilesTest, InitListAndDelete) {
  ASSERT_EQ(InitServer(folder_, "Alpha", "root", "root-pw"), "");
  EXPECT_NE(InitServer(folder_, "alpha", "root", "root-pw"), "");  // exists already
  ASSERT_EQ(LoadFixture(folder_, "beta", kTestFixture), "");
  auto api = MakeSimulatedApi(folder_);
  EsbHandle context = Login(*api, "alpha", "root", "root-pw");
  ASSERT_NE(context, 0u);
  EsbUserInfo info;
  ASSERT_EQ(api->EsbGetUser(context, "root", &info), 0);
  EXPECT_EQ(info.type, kUserTypeSupervisor);
  std::vector<ServerSummary> servers;
  ASSERT_EQ(ListServers(folder_, &servers), "");
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[0].name, "alpha");
  EXPECT_EQ(servers[0].users, 1);
  EXPECT_EQ(servers[1].name, "beta");
  EXPECT_EQ(servers[1].users, 6);
  EXPECT_EQ(servers[1].groups, 3);
  EXPECT_EQ(servers[1].applications, 2);
  EXPECT_EQ(servers[1].databases, 2);
  EXPECT_EQ(servers[1].filters, 2);
  // Windows deletes no file that a connection holds open.
  api.reset();
  ASSERT_EQ(DeleteServer(folder_, "ALPHA"), "");
  EXPECT_FALSE(fs::exists(folder_ + "/alpha.sqlite"));
  EXPECT_FALSE(fs::exists(folder_ + "/alpha.sqlite-wal"));
  EXPECT_NE(DeleteServer(folder_, "alpha"), "");
  ASSERT_EQ(ListServers(folder_, &servers), "");
  EXPECT_EQ(servers.size(), 1u);
  ASSERT_EQ(ListServers(folder_ + "/none", &servers), "");
  EXPECT_TRUE(servers.empty());
  std::string json;
  EXPECT_NE(ExportServer(folder_, "alpha", &json), "");
}

TEST_F(ServerFilesTest, GenerateBuildsTheScaledServer) {
  FakePlatform platform;  // random bytes 1, 2, 3, ...
  std::string password;
  ASSERT_EQ(GenerateServer(platform, folder_, "bench", 1, &password), "");
  // The platform's bytes pick the letters.
  EXPECT_EQ(password, "BCDEFGHJKLMNPQRS");
  auto api = MakeSimulatedApi(folder_);
  EXPECT_NE(Login(*api, "bench", "admin", password), 0u);
  std::vector<ServerSummary> servers;
  ASSERT_EQ(ListServers(folder_, &servers), "");
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].users, 1001 + 4);  // and the fixed edge cases
  EXPECT_EQ(servers[0].groups, 100 + 5);
  EXPECT_EQ(servers[0].applications, 10);
  EXPECT_EQ(servers[0].databases, 20);
  EXPECT_EQ(servers[0].filters, 100 + 1);
  // The same content again for the same scale, whatever the password.
  std::string first, second;
  ASSERT_EQ(ExportServer(folder_, "bench", &first), "");
  ASSERT_EQ(GenerateServer(platform, folder_, "bench", 1, &password), "");
  ASSERT_EQ(ExportServer(folder_, "bench", &second), "");
  EXPECT_EQ(first, second);
  EXPECT_NE(GenerateServer(platform, folder_, "bench", 0, &password), "");
}

TEST_F(ServerFilesTest, TheGeneratedPasswordTakesEveryLetterAsOftenAndNeedsTheRandomSource) {
  FakePlatform platform;
  // Bytes from 224 on would favour the first letters: they are passed over.
  platform.next_random = 250;
  std::string password;
  ASSERT_EQ(GenerateServer(platform, folder_, "even", 1, &password), "");
  EXPECT_EQ(password, "ABCDEFGHJKLMNPQR");

  platform.random_available = false;
  password.clear();
  EXPECT_EQ(GenerateServer(platform, folder_, "none", 1, &password),
            "the system's random source failed");
  EXPECT_EQ(password, "");
  std::vector<ServerSummary> servers;
  ASSERT_EQ(ListServers(folder_, &servers), "");
  ASSERT_EQ(servers.size(), 1u);
  EXPECT_EQ(servers[0].name, "even");
}

TEST(ServerFolderTest, NamedElseTheUsersDataFolder) {
  FakePlatform platform;
  platform.data_folder = "data";
  const std::string separator(1, ThisOs().path_separator);
  EXPECT_EQ(ServerFolder(platform), "data" + separator + "cubesec" + separator + "servers");
  platform.env["CUBESEC_SIM_DIR"] = "/srv/sims";
  EXPECT_EQ(ServerFolder(platform), "/srv/sims");
  platform.env = {{"CUBESEC_SIM_DIR", ""}};
  platform.data_folder.clear();
  EXPECT_EQ(ServerFolder(platform), "cubesec-servers");  // nowhere else to go: the current one
}

TEST(GeneratorTest, ScaleOneHasTheAdvertisedShape) {
  ServerImage image = GenerateImage(1, "pw");
  EXPECT_EQ(ValidateImage(image), "");
  ASSERT_EQ(image.users.size(), 1001u + 4);
  EXPECT_EQ(image.groups.size(), 100u + 5);
  EXPECT_TRUE(image.users[0].supervisor);
  for (size_t u = 1; u <= 1000; ++u) {
    EXPECT_EQ(image.users[u].groups.size(), 3u);
    std::set<std::string> distinct(image.users[u].groups.begin(), image.users[u].groups.end());
    EXPECT_EQ(distinct.size(), 3u) << image.users[u].name;
  }
  ASSERT_EQ(image.applications.size(), 10u);
  size_t calc_lists = 0;
  for (const ImageApplication& app : image.applications) {
    ASSERT_EQ(app.databases.size(), 2u);
    std::map<std::string, uint16_t> app_access;
    for (const ImageAppAccess& entry : app.access) app_access[entry.name] = entry.access;
    for (const ImageDatabase& db : app.databases) {
      EXPECT_GE(db.filters.size(), 5u);
      std::set<std::string> outline(db.members.begin(), db.members.end());
      for (const ImageFilter& filter : db.filters) {
        EXPECT_GE(filter.rows.size(), 2u);
        for (const ImageFilterRow& row : filter.rows) {
          for (const std::string& member : MembersNamedBy(row.text)) {
            EXPECT_TRUE(outline.count(member)) << row.text;  // every row verifies
          }
        }
      }
      EXPECT_GE(db.access.size(), 100u + 500u);  // every group, every second user
      for (const ImageDbAccess& entry : db.access) {
        bool has_calcs = entry.all_calcs || !entry.calcs.empty();
        if (has_calcs) {
          EXPECT_TRUE(entry.access & 0x0004) << entry.name;
        }
        calc_lists += has_calcs;
        if (entry.access != 0) {
          EXPECT_GE(app_access[entry.name], 0x0100) << entry.name;
        }
      }
    }
  }
  EXPECT_GT(calc_lists, 0u);
  EXPECT_EQ(FixtureJson(GenerateImage(1, "a")), FixtureJson(GenerateImage(1, "b")));
  EXPECT_EQ(GenerateImage(2, "a").users.size(), 2001u + 4);
}

// The edge cases that a restore must carry, found by what they are rather than by name.
TEST(GeneratorTest, EveryScaleHoldsTheEdgeCasesOfARestore) {
  ServerImage image = GenerateImage(1, "pw", GeneratedShapes::kAll);
  EXPECT_EQ(ValidateImage(image), "");
  std::map<std::string, const ImageGroup*> groups;
  for (const ImageGroup& g : image.groups) groups[g.name] = &g;
  std::map<std::string, std::vector<std::string>> groups_of;
  std::set<std::string> members;  // users and groups that some list names
  for (const ImageUser& u : image.users) {
    groups_of[u.name] = u.groups;
    if (!u.groups.empty()) members.insert(u.name);
    members.insert(u.groups.begin(), u.groups.end());
  }
  bool supervisor_group_with_member = false;
  for (const ImageUser& u : image.users) {
    for (const std::string& g : u.groups) {
      supervisor_group_with_member |= groups[g]->supervisor && groups[g]->access == 0xFFFF;
    }
  }
  EXPECT_TRUE(supervisor_group_with_member);

  bool calc_by_group = false, calc_by_default = false, filter_of_group = false;
  bool designer_of_one_database = false;
  for (const ImageApplication& app : image.applications) {
    std::map<std::string, uint16_t> app_access;
    for (const ImageAppAccess& entry : app.access) app_access[entry.name] = entry.access;
    std::map<std::string, int> designer_dbs;
    for (const ImageDatabase& db : app.databases) {
      std::map<std::string, uint16_t> access;
      for (const ImageDbAccess& entry : db.access) access[entry.name] = entry.access;
      for (const ImageDbAccess& entry : db.access) {
        if (groups.count(entry.name) && !entry.filter.empty()) filter_of_group = true;
        if (entry.access == 0x0377) ++designer_dbs[entry.name];
        if (entry.access == 0 || (entry.access & 0x0004)) continue;
        calc_by_default |= (db.default_access & 0x0004) != 0;
        for (const std::string& g : groups_of[entry.name]) {
          calc_by_group |= (access[g] & 0x0004) != 0;
        }
      }
      for (const ImageFilter& f : db.filters) {
        for (const ImageDbAccess& entry : db.access) {
          if (entry.filter == f.name) members.insert(entry.name);  // a filter's holder list
        }
      }
    }
    for (const auto& [name, count] : designer_dbs) {
      designer_of_one_database |= count == 1 && app_access[name] < 0x0200;
    }
  }
  EXPECT_TRUE(calc_by_group);
  EXPECT_TRUE(calc_by_default);
  EXPECT_TRUE(filter_of_group);
  EXPECT_TRUE(designer_of_one_database);
  // The one that a restore does not yet carry exactly is left out by default.
  ServerImage carried = GenerateImage(1, "pw");
  ASSERT_EQ(carried.users.size() + 1, image.users.size());
  EXPECT_EQ(carried.users.back().name, "Finance Architect");

  bool blank = false, comma = false, non_ascii = false, long_multibyte = false;
  auto look_at = [&](const std::string& name) {
    blank |= name.find(' ') != std::string::npos;
    non_ascii |= std::any_of(name.begin(), name.end(), [](char c) { return c & 0x80; });
    long_multibyte |= CharacterCount(name) == kEsbNameSize && name.size() > kEsbNameSize;
    if (name.find(',') == std::string::npos) return;
    comma = true;
    // The dump's lists separate names with ", ": a name with a comma is in none of them.
    EXPECT_FALSE(members.count(name)) << name;
  };
  for (const ImageGroup& g : image.groups) look_at(g.name);
  for (const ImageUser& u : image.users) look_at(u.name);
  EXPECT_TRUE(blank);
  EXPECT_TRUE(comma);
  EXPECT_TRUE(non_ascii);
  EXPECT_TRUE(long_multibyte);
}

}  // namespace
}  // namespace cubesec::sim
