#include "client/client_settings.h"

#include <gtest/gtest.h>

#include "client/scripted_api.h"
#include "tools/fake_platform.h"
#include "tools/text.h"

namespace cubesec {
namespace {

class InitApiTest : public ::testing::Test {
 protected:
  FakePlatform platform_;
  testing::ScriptedApi api_;
  ClientContext client_{api_};
};

const std::string kSep(1, ThisOs().path_separator);

std::string Joined(std::vector<std::string> pieces) { return Join(pieces, kSep); }

TEST_F(InitApiTest, FillsTheStartRecord) {
  platform_.env["ArborPath"] = Joined({"", "opt", "Hyperion"});
  api_.statuses["EsbInit"] = 1030;
  EXPECT_EQ(InitAPI(client_, platform_), 1030);  // EsbInit's status is for the caller
  const EsbInitRecord& record = api_.last_init;
  EXPECT_EQ(record.version, 0x00070000u);
  EXPECT_EQ(record.max_handles, 20);
  EXPECT_EQ(std::string(record.local_path), Joined({"", "opt", "Hyperion"}));
  EXPECT_EQ(std::string(record.message_file),
            Joined({"", "opt", "Hyperion", "Bin", "Essbase.mdb"}));
  EXPECT_EQ(record.client_error, 1);
  EXPECT_EQ(record.error_stack, 100);
  EXPECT_EQ(record.reserved1, 0u);
  EXPECT_EQ(record.reserved2, 0u);
  EXPECT_EQ(client_.instance, api_.instance_to_give);
  EXPECT_EQ(client_.api_version, 0x00070000u);
  // The version is asked for even when EsbInit failed.
  EXPECT_EQ(api_.calls, (std::vector<std::string>{"EsbInit", "EsbGetAPIVersion"}));
}

TEST_F(InitApiTest, ArborPathInEitherSpellingWithoutOrWithAnOverlongOne) {
  struct Case {
    const char* name;  // of the variable set, or nullptr
    std::string value;
    std::string local_path;
    std::string message_file;
  };
  const std::string folder = Joined({"", "srv", "essbase"});
  const std::string message_file = Joined({"", "srv", "essbase", "Bin", "Essbase.mdb"});
  const Case cases[] = {
      {nullptr, "", "", Joined({"", "Bin", "Essbase.mdb"})},
      {"ArborPath", folder, folder, message_file},
      {"ARBORPATH", folder, folder, message_file},                // the POSIX client's spelling
      {"ArborPath", folder + kSep, folder + kSep, message_file},  // no doubled separator
  };
  for (const Case& c : cases) {
    platform_.env.clear();
    if (c.name) platform_.env[c.name] = c.value;
    EXPECT_EQ(InitAPI(client_, platform_), 0);
    EXPECT_EQ(std::string(api_.last_init.local_path), c.local_path) << c.value;
    EXPECT_EQ(std::string(api_.last_init.message_file), c.message_file) << c.value;
  }
  // The mixed-case name wins when both are set.
  platform_.env = {{"ArborPath", "/first"}, {"ARBORPATH", "/second"}};
  InitAPI(client_, platform_);
  EXPECT_STREQ(api_.last_init.local_path, "/first");

  platform_.env["ArborPath"] = std::string(2000, 'p');
  InitAPI(client_, platform_);
  EXPECT_EQ(std::string(api_.last_init.local_path), std::string(kEsbPathSize, 'p'));
  EXPECT_EQ(std::string(api_.last_init.message_file), std::string(kEsbPathSize, 'p'));
}

TEST_F(InitApiTest, VersionBoundary) {
  api_.version = 0x00050000;
  EXPECT_NO_THROW(InitAPI(client_, platform_));
  api_.version = 0x0004FFFF;
  try {
    InitAPI(client_, platform_);
    FAIL() << "an old library was accepted";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorUnusableClient);
    EXPECT_EQ(e.description(), "Unsupported client API.");
  }
  EXPECT_EQ(client_.api_version, 0x0004FFFFu);
}

TEST_F(InitApiTest, AnUnreadableVersionIsAnUnusableClient) {
  api_.statuses["EsbGetAPIVersion"] = 1030011;
  try {
    InitAPI(client_, platform_);
    FAIL() << "nothing raised";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), kErrorUnusableClient);
    EXPECT_EQ(e.description(), "Unable to validate client API.");
  }
  EXPECT_EQ(client_.version_status, 1030011);
}

TEST(GetEssbaseSetting, RegistryFirstThenIniThenNothing) {
  FakePlatform platform;
  // On Windows the file is joined by "\\", which the fake platform reads as "/".
  const std::string ini = "/etc/essbase.ini";
  const std::string sub_key = "Software\\Hyperion Solutions\\Essbase\\Login";
  platform.registry[sub_key + "|Server"] = "  fromregistry  ";
  platform.ini[ini + "|LOGIN|SERVER"] = "fromini";
  platform.ini[ini + "|LOGIN|USER"] = "admin";
  EXPECT_EQ(GetEssbaseSetting(platform, "Login", "Server"), "fromregistry");
  EXPECT_EQ(GetEssbaseSetting(platform, "Login", "User"), "admin");
  EXPECT_EQ(GetEssbaseSetting(platform, "Login", "Password"), "");
  EXPECT_EQ(GetEssbaseSetting(platform, "Other", "Server"), "");

  platform.windows_directory = "/etc/";  // a trailing separator is not doubled
  EXPECT_EQ(GetEssbaseSetting(platform, "Login", "User"), "admin");
  platform.windows_directory = "/etc" + kSep;
  EXPECT_EQ(GetEssbaseSetting(platform, "Login", "User"), "admin");

  platform.windows_directory = "";
  platform.ini["/essbase.ini|LOGIN|USER"] = "rootfile";
  platform.ini["essbase.ini|LOGIN|USER"] = "relative";
  EXPECT_EQ(GetEssbaseSetting(platform, "Login", "User"), "");
  EXPECT_EQ(GetEssbaseSetting(platform, "Login", "Server"), "fromregistry");
}

}  // namespace
}  // namespace cubesec
