#include "sim/fixture_json.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/store.h"
#include "sim/test_server.h"

namespace cubesec::sim {
namespace {

std::string ErrorOf(const std::string& json) {
  std::string error;
  EXPECT_FALSE(ParseFixture(json, &error).has_value()) << json;
  return error;
}

// The fixture's document as a store exports it.
nlohmann::json LoadAndExport(const std::string& json) {
  std::string error;
  std::optional<ServerImage> image = ParseFixture(json, &error);
  EXPECT_TRUE(image.has_value()) << error;
  if (!image) return {};
  std::unique_ptr<Store> store = Store::OpenMemory();
  store->Replace(*image);
  return nlohmann::json::parse(FixtureJson(store->Export()));
}

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

nlohmann::json WithoutPasswords(nlohmann::json doc) {
  for (auto& user : doc["users"]) user.erase("password");
  return doc;
}

TEST(FixtureJsonTest, ProblemsNameTheirPlace) {
  EXPECT_EQ(ErrorOf(R"({"groups": [{"name": "A"}], "users": [{"name": "u"},
                       {"name": "v", "groups": ["A", "X"]}]})"),
            "users[1].groups[1]: group \"X\" does not exist");
  EXPECT_EQ(ErrorOf(R"({"users": [{"name": "u", "pasword": "x"}]})"),
            "users[0]: unknown key \"pasword\"");
  EXPECT_EQ(ErrorOf(R"({"extra": 1})"), "unknown key \"extra\"");
  EXPECT_EQ(ErrorOf(R"({"global": {"security": 1}})"), "global.security: expected true or false");
  EXPECT_EQ(ErrorOf(R"({"global": {"min_length": 40000}})"),
            "global.min_length: expected an integer from -32768 to 32767");
  EXPECT_EQ(ErrorOf(R"({"groups": [{"access": 1}]})"), "groups[0]: missing key \"name\"");
  EXPECT_EQ(ErrorOf(R"({"groups": [{"name": "A", "access": "Read"}]})"),
            "groups[0].access: expected an integer from 0 to 65535");
  EXPECT_EQ(ErrorOf(R"({"users": [{"name": "u", "groups": ["u"]}]})"),
            "users[0].groups[0]: group \"u\" does not exist");
  EXPECT_EQ(ErrorOf(R"({"groups": [{"name": "Team"}], "users": [{"name": "TEAM"}]})"),
            "users[0].name: duplicate name \"TEAM\"");
  EXPECT_EQ(ErrorOf(R"({"users": [{"name": " padded"}]})"),
            "users[0].name: invalid user name \" padded\"");
  EXPECT_EQ(ErrorOf(R"({"users": [{"name": "u", "last_login": -5}]})"),
            "users[0].last_login: must not be negative");
  EXPECT_EQ(ErrorOf(R"({"applications": [{"name": "A", "access": {"ghost": 256}}]})"),
            "applications[0].access.ghost: user or group \"ghost\" does not exist");
  EXPECT_EQ(ErrorOf(R"({"applications": [{"name": "A", "databases": [{"name": "D"},
                       {"name": "d"}]}]})"),
            "applications[0].databases[1].name: duplicate name \"d\"");
  EXPECT_EQ(ErrorOf(R"({"users": [{"name": "u"}], "applications": [{"name": "A", "databases": [
                 {"name": "D", "access": {"u": {"filter": "F"}}}]}]})"),
            "applications[0].databases[0].access.u.filter: filter \"F\" does not exist");
  EXPECT_EQ(ErrorOf(R"({"users": [{"name": "u"}], "applications": [{"name": "A", "databases": [
                 {"name": "D", "calc_scripts": ["C"], "access": {"u": {"calcs": ["C", "Z"]}}}]}]})"),
            "applications[0].databases[0].access.u.calcs[1]: calc script \"Z\" does not exist");
  EXPECT_EQ(ErrorOf(R"({"applications": [{"name": "A", "databases": [{"name": "D",
                       "filters": [{"name": "F", "rows": [{"access": 273, "text": " "}]}]}]}]})"),
            "applications[0].databases[0].filters[0].rows[0].text: empty filter row");
  EXPECT_EQ(ErrorOf(R"({"applications": [{"name": "A", "description": ")" + std::string(321, 'x') +
                    R"("}]})"),
            "applications[0].description: longer than 320 characters");
  // Limits count characters, not bytes.
  EXPECT_EQ(ErrorOf(R"({"groups": [{"name": ")" + Repeat("\u00fc", 121) + R"("}]})"),
            "groups[0].name: invalid group name \"" + Repeat("\u00fc", 121) + "\"");
  EXPECT_EQ(ErrorOf(R"({"applications": [{"name": "A", "databases": [{"name": "D",
                       "description": ")" +
                    Repeat("\u00fc", 321) + R"("}]}]})"),
            "applications[0].databases[0].description: longer than 320 characters");
  EXPECT_EQ(ErrorOf(R"({"users": [{"name": "a\u0001b"}]})"),
            "users[0].name: invalid user name \"a\x01"
            "b\"");
  EXPECT_EQ(ErrorOf("[1, 2]"), "expected an object");
  EXPECT_EQ(ErrorOf("{\"users\": [").rfind("not valid JSON", 0), 0u);
}

TEST(FixtureJsonTest, KeysLeftOutMeanFalseZeroOrEmpty) {
  std::string error;
  std::optional<ServerImage> image =
      ParseFixture(R"({"users": [{"name": "u"}], "applications": [{"name": "A",
                      "databases": [{"name": "D"}]}]})",
                   &error);
  ASSERT_TRUE(image.has_value()) << error;
  EXPECT_EQ(image->global.api_version, kEsbApiVersion);
  EXPECT_FALSE(image->global.security);
  EXPECT_FALSE(image->users[0].password.has_value());
  EXPECT_FALSE(image->users[0].supervisor);
  EXPECT_EQ(image->users[0].last_login, 0);
  EXPECT_TRUE(image->applications[0].databases[0].members.empty());
}

TEST(FixtureJsonTest, LoadThenExportGivesTheSameDocument) {
  const std::string issue_example = R"json({
    "api_version": 458752,
    "global": {"security": true, "logins": true, "default_access": 0, "validity": 0,
               "reserved": 0, "min_length": 0, "timeout": 0, "check_frequency": 0},
    "groups": [{"name": "Analysts", "access": 0, "supervisor": false}],
    "users": [{"name": "admin", "password": "s3cret-admin", "access": 65535, "supervisor": true,
               "disabled": false, "password_expired": false, "last_login": 0,
               "groups": ["Analysts"]}],
    "applications": [{"name": "Sample", "description": "", "loadable": true, "autoload": false,
        "default_access": 0, "connects": true, "commands": true, "updates": true,
        "lock_timeout": 0, "lro_size": 0, "security": true,
        "access": {"Analysts": 273},
        "databases": [{"name": "Basic", "description": "", "loadable": true, "autoload": true,
            "default_access": 0,
            "members": ["Market", "East", "West", "Sales"],
            "calc_scripts": ["CalcAll"],
            "filters": [{"name": "EastRead", "active": true, "default_access": 0,
                         "rows": [{"access": 273, "text": "@IDESCENDANTS(\"East\")"}]}],
            "access": {"Analysts": {"access": 279, "filter": "EastRead",
                                     "all_calcs": false, "calcs": ["CalcAll"]}}}]}]
  })json";
  nlohmann::json original = nlohmann::json::parse(issue_example);
  EXPECT_EQ(LoadAndExport(issue_example), WithoutPasswords(original));

  std::ifstream demo(std::string(CUBESEC_SOURCE_DIR) + "/examples/demo-server.json");
  ASSERT_TRUE(demo.is_open());
  std::stringstream text;
  text << demo.rdbuf();
  EXPECT_EQ(LoadAndExport(text.str()), WithoutPasswords(nlohmann::json::parse(text.str())));
}

TEST(FixtureJsonTest, NamesOfManyBytesAndTextsWithControlCharactersLoad) {
  const std::string group = Repeat("\u00fc", 120);
  const std::string description = "\t" + Repeat("\u00e9", 319);
  nlohmann::json doc = LoadAndExport(R"({"groups": [{"name": ")" + group + R"("}],
      "applications": [{"name": "A", "description": )" +
                                     nlohmann::json(description).dump() + R"(,
        "databases": [{"name": "D", "description": "line\r\nbreak\u0007",
          "filters": [{"name": "F", "rows": [{"access": 273, "text": "\u001b\"East\"\t"}]}]}]}]})");
  EXPECT_EQ(doc["groups"][0]["name"], group);
  EXPECT_EQ(doc["applications"][0]["description"], description);
  const nlohmann::json& db = doc["applications"][0]["databases"][0];
  EXPECT_EQ(db["description"], "line\r\nbreak\a");
  EXPECT_EQ(db["filters"][0]["rows"][0]["text"], "\x1b\"East\"\t");
}

TEST(FixtureJsonTest, DatabaseAccessBringsApplicationAccess) {
  nlohmann::json doc = LoadAndExport(R"({"groups": [{"name": "G"}],
      "users": [{"name": "u"}, {"name": "v"}, {"name": "w"}, {"name": "x"}],
      "applications": [{"name": "A", "access": {"v": 0, "w": 512, "x": 256},
        "databases": [
          {"name": "D", "access": {"u": {"access": 273}, "V": {"access": 275}, "G": {"access": 0}}},
          {"name": "E", "access": {"w": {"access": 273}, "u": {"access": 279}}}]},
        {"name": "B", "databases": [{"name": "D", "access": {"G": {"access": 272}}}]}]})");
  EXPECT_EQ(doc["applications"][0]["access"],
            nlohmann::json({{"u", 256}, {"v", 256}, {"w", 512}, {"x", 256}}));
  EXPECT_EQ(doc["applications"][1]["access"], nlohmann::json({{"G", 256}}));
}

TEST(FixtureJsonTest, ExportWritesEveryKeyAndReadsBackUnchanged) {
  nlohmann::json first = LoadAndExport(kTestFixture);
  EXPECT_TRUE(first["users"][0].contains("password_expired"));
  EXPECT_FALSE(first["users"][0].contains("password"));
  EXPECT_EQ(first["applications"][1]["databases"], nlohmann::json::array());
  // Names in references keep the case the objects were created with.
  EXPECT_EQ(first["users"][2]["groups"][0], "Analysts");
  EXPECT_EQ(LoadAndExport(first.dump()), first);
}

}  // namespace
}  // namespace cubesec::sim
