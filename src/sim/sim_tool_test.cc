#include "sim/sim_tool.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/sim_api.h"
#include "sim/store.h"
#include "sim/test_server.h"
#include "tools/testing/owner_only.h"

namespace cubesec::sim {
namespace {

namespace fs = std::filesystem;

class SimToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = (fs::temp_directory_path() /
               ("cubesec-sim-tool-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name()))
                  .string();
    fs::remove_all(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  int Run(const std::vector<std::string>& args, const std::string& input = "") {
    std::istringstream in(input);
    std::ostringstream out, err;
    int status = RunSimTool(args, folder_ + "/servers", in, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  std::string WriteFile(const std::string& name, const std::string& text) {
    fs::create_directories(folder_);
    std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // The kept password of `user` on server `name`.
  std::string KeptPassword(const std::string& name, const std::string& user) {
    std::optional<Principal> p =
        Store::OpenFile(ServerPath(folder_ + "/servers", name), false)->FindPrincipal(user);
    return p && p->password_hash ? *p->password_hash : "(none)";
  }

  std::string folder_, out_, err_;
};

TEST_F(SimToolTest, WrongCommandLinesExitWithUsage) {
  EXPECT_EQ(Run({}), kToolUsage);
  EXPECT_NE(err_.find("usage: cubesec-sim"), std::string::npos);
  EXPECT_EQ(Run({"frobnicate"}), kToolUsage);
  EXPECT_NE(err_.find("unknown command \"frobnicate\""), std::string::npos);
  EXPECT_EQ(Run({"load", "demo"}), kToolUsage);
  EXPECT_EQ(Run({"init", "demo", "--admin", "root"}), kToolUsage);
  EXPECT_NE(err_.find("--password"), std::string::npos);
  EXPECT_EQ(Run({"init", "demo", "--admin", "root", "--pasword", "x"}), kToolUsage);
  EXPECT_EQ(Run({"generate", "bench", "--scale", "ten"}), kToolUsage);
  EXPECT_EQ(Run({"generate", "bench", "--scale", "0"}), kToolUsage);
  EXPECT_EQ(Run({"generate", "bench", "--scale"}), kToolUsage);
  EXPECT_EQ(Run({"list", "extra"}), kToolUsage);
  EXPECT_FALSE(fs::exists(folder_ + "/servers"));  // nothing was done
  EXPECT_EQ(Run({"--help"}), kToolOk);
  EXPECT_NE(out_.find("generate NAME --scale N"), std::string::npos);
  EXPECT_EQ(Run({"export", "x", "-h"}), kToolOk);
}

TEST_F(SimToolTest, VersionAndTheHelpOfEachCommand) {
  EXPECT_EQ(Run({"--version"}), kToolOk);
  EXPECT_EQ(out_, std::string("cubesec-sim ") + CUBESEC_VERSION + "\n");
  ASSERT_EQ(Run({"help"}), kToolOk);
  const std::string overview = out_;
  EXPECT_NE(overview.find("--version"), std::string::npos);
  for (std::string command : {"init", "load", "export", "list", "delete", "generate"}) {
    EXPECT_NE(overview.find("\n  " + command), std::string::npos) << command;
    const std::vector<std::vector<std::string>> asks = {
        {command, "--help"}, {"help", command}, {"--help", command}, {command, "x", "-h"}};
    for (const std::vector<std::string>& args : asks) {
      SCOPED_TRACE(args[0] + " " + args[1]);
      EXPECT_EQ(Run(args), kToolOk);
      EXPECT_EQ(out_.rfind("usage: cubesec-sim " + command, 0), 0u) << out_;
      EXPECT_GT(out_.size(), out_.find("\n\n") + 40);  // a description follows the synopsis
    }
  }
  EXPECT_EQ(Run({"help", "frobnicate"}), kToolUsage);
  EXPECT_NE(err_.find("unknown command \"frobnicate\""), std::string::npos);
  EXPECT_EQ(Run({"frobnicate", "--help"}), kToolUsage);
  EXPECT_FALSE(fs::exists(folder_ + "/servers"));  // asking for help does nothing
}

// A server file holds password keys: no one but its owner may open it.
TEST_F(SimToolTest, ServerFilesAreForTheirOwnerOnly) {
  ASSERT_EQ(Run({"init", "demo", "--admin", "root", "--password", "pw"}), kToolOk) << err_;
  EXPECT_TRUE(OnlyTheOwnerMayOpen(folder_ + "/servers/demo.sqlite"));
}

TEST_F(SimToolTest, InitLoadExportListDelete) {
  ASSERT_EQ(Run({"init", "Alpha", "--admin", "root", "--password=root-pw"}), kToolOk) << err_;
  EXPECT_EQ(Run({"init", "alpha", "--admin", "root", "--password", "x"}), kToolFailed);
  EXPECT_NE(err_.find("already exists"), std::string::npos);
  std::string fixture = WriteFile("fixture.json", kTestFixture);
  ASSERT_EQ(Run({"load", "beta", fixture}), kToolOk) << err_;
  ASSERT_EQ(Run({"load", "gamma", "-"}, "{\"users\": [{\"name\": \"solo\"}]}"), kToolOk) << err_;
  ASSERT_EQ(Run({"list"}), kToolOk);
  EXPECT_EQ(out_,
            "alpha\t1 user, 0 groups, 0 applications, 0 databases, 0 filters\n"
            "beta\t6 users, 3 groups, 2 applications, 2 databases, 2 filters\n"
            "gamma\t1 user, 0 groups, 0 applications, 0 databases, 0 filters\n");
  ASSERT_EQ(Run({"export", "BETA"}), kToolOk);
  nlohmann::json exported = nlohmann::json::parse(out_);
  EXPECT_EQ(exported["users"].size(), 6u);
  std::string copy = folder_ + "/copy.json";
  ASSERT_EQ(Run({"export", "beta", copy}), kToolOk);
  ASSERT_EQ(Run({"load", "delta", copy}), kToolOk) << err_;
  ASSERT_EQ(Run({"export", "delta"}), kToolOk);
  EXPECT_EQ(nlohmann::json::parse(out_), exported);
  ASSERT_EQ(Run({"delete", "alpha"}), kToolOk);
  EXPECT_EQ(Run({"delete", "alpha"}), kToolFailed);
  EXPECT_EQ(Run({"export", "alpha"}), kToolFailed);
  ASSERT_EQ(Run({"list"}), kToolOk);
  EXPECT_EQ(out_.find("alpha"), std::string::npos);
}

// Each server keeps passwords with its own count: from the command line, else the fixture,
// else 4096; exported with the server and used for the users made later.
TEST_F(SimToolTest, PasswordIterationsAreASettingOfEachServer) {
  ASSERT_EQ(
      Run({"init", "alpha", "--admin", "root", "--password", "pw", "--password-iterations", "7"}),
      kToolOk)
      << err_;
  EXPECT_TRUE(KeptPassword("alpha", "root").starts_with("pbkdf2-sha256:7:"));
  ASSERT_EQ(Run({"export", "alpha"}), kToolOk);
  EXPECT_EQ(nlohmann::json::parse(out_)["password_iterations"], 7);
  {
    auto api = MakeSimulatedApi(folder_ + "/servers");
    EsbHandle instance = 0, context = 0;
    uint16_t apps = 0;
    ASSERT_EQ(api->EsbInit(EsbInitRecord{}, &instance), 0);
    ASSERT_EQ(api->EsbLogin(instance, "alpha", "root", "pw", &apps, &context), 0);
    ASSERT_EQ(api->EsbCreateUser(context, "made", "made-pw"), 0);
    EXPECT_TRUE(KeptPassword("alpha", "made").starts_with("pbkdf2-sha256:7:"));
    EXPECT_EQ(api->EsbLogin(instance, "alpha", "made", "made-pw", &apps, &context), 0);
  }

  const std::string users = R"("users": [{"name": "u", "password": "u-pw"}])";
  const std::string nine = WriteFile("nine.json", "{\"password_iterations\": 9, " + users + "}");
  ASSERT_EQ(Run({"load", "beta", nine}), kToolOk) << err_;
  EXPECT_TRUE(KeptPassword("beta", "u").starts_with("pbkdf2-sha256:9:"));
  ASSERT_EQ(Run({"load", "beta", nine, "--password-iterations=3"}), kToolOk) << err_;
  EXPECT_TRUE(KeptPassword("beta", "u").starts_with("pbkdf2-sha256:3:"));
  ASSERT_EQ(Run({"load", "gamma", "-"}, "{" + users + "}"), kToolOk) << err_;
  EXPECT_TRUE(KeptPassword("gamma", "u").starts_with("pbkdf2-sha256:4096:"));
  ASSERT_EQ(Run({"export", "gamma"}), kToolOk);
  EXPECT_FALSE(nlohmann::json::parse(out_).contains("password_iterations"));

  for (const char* wrong : {"0", "-1", "abc", "12x", "", "10000001"}) {
    EXPECT_EQ(
        Run({"init", "delta", "--admin", "a", "--password", "p", "--password-iterations", wrong}),
        kToolUsage)
        << wrong;
    EXPECT_NE(err_.find("--password-iterations: the password iteration count must be a whole "
                        "number from 1 to 10000000"),
              std::string::npos)
        << err_;
  }
  EXPECT_EQ(Run({"export", "delta"}), kToolFailed);  // none of them made it
  EXPECT_EQ(Run({"load", "delta", "-"}, R"({"password_iterations": 0})"), kToolFailed);
  EXPECT_EQ(err_,
            "cubesec-sim: stdin: password_iterations: the password iteration count must be a "
            "whole number from 1 to 10000000\n");
  EXPECT_EQ(Run({"export", "delta"}), kToolFailed);
}

TEST_F(SimToolTest, LoadFailuresNameTheFileAndThePlace) {
  std::string bad = WriteFile("bad.json", R"({"users": [{"name": "u", "groups": ["X"]}]})");
  EXPECT_EQ(Run({"load", "demo", bad}), kToolFailed);
  EXPECT_EQ(err_, "cubesec-sim: " + bad + ": users[0].groups[0]: group \"X\" does not exist\n");
  EXPECT_FALSE(fs::exists(folder_ + "/servers/demo.sqlite"));
  EXPECT_EQ(Run({"load", "demo", folder_ + "/missing.json"}), kToolFailed);
  EXPECT_NE(err_.find("cannot read"), std::string::npos);
  EXPECT_EQ(Run({"load", "../escape", bad}), kToolFailed);
  EXPECT_NE(err_.find("invalid server name"), std::string::npos);
}

TEST_F(SimToolTest, GeneratePrintsAPasswordThatLogsIn) {
  ASSERT_EQ(Run({"generate", "bench", "--scale", "1", "--password-iterations", "2"}), kToolOk)
      << err_;
  EXPECT_TRUE(KeptPassword("bench", "admin").starts_with("pbkdf2-sha256:2:"));
  const std::string marker = "admin password (shown once): ";
  size_t at = out_.find(marker);
  ASSERT_NE(at, std::string::npos) << out_;
  std::string password = out_.substr(at + marker.size());
  password = password.substr(0, password.find('\n'));
  auto api = MakeSimulatedApi(folder_ + "/servers");
  EsbHandle instance = 0, context = 0;
  uint16_t apps = 0;
  ASSERT_EQ(api->EsbInit(EsbInitRecord{}, &instance), 0);
  EXPECT_EQ(api->EsbLogin(instance, "bench", "admin", password, &apps, &context), 0);
  EXPECT_EQ(apps, 10);
  EXPECT_EQ(Run({"generate", "bench", "--scale", "1", "--password-iterations", "0"}), kToolUsage);
}

}  // namespace
}  // namespace cubesec::sim
