// Dump a server, rebuild its security on a second server that has the same applications and
// databases, dump that one: the two files agree in all that a restore carries over.
#include <gmock/gmock.h>

#include <regex>

#include "fixtures/proof/proof_helpers.h"
#include "restore_e2e.h"

namespace cubesec::e2e {
namespace {

using json = nlohmann::json;

class RoundTripTest : public ::testing::Test {
 protected:
  void Run(const std::vector<std::string>& args) {
    RunResult run = sandbox.Cubesec(args);
    ASSERT_EQ(run.exit_code, 0) << run.err << "\n" << sandbox.Log();
  }
  std::string Dump(const std::string& server, const std::string& password,
                   const std::string& file) {
    Run({"/D" + file, "/S" + server, "/Uadmin", "/P" + password});
    return ReadFile(sandbox.Path(file));
  }
  Sandbox sandbox;
};

TEST_F(RoundTripTest, TheDemoServerSurvivesAResetAndARestore) {
  sandbox.LoadFixture("demo", "examples/demo-server.json");
  sandbox.LoadFixture("copy", "examples/demo-server.json");
  std::string first = Dump("demo", "demo-password", "first.txt");
  RunResult reset = RunOnTerminal(sandbox, {"/Cx", "/Scopy", "/Uadmin", "/Pdemo-password"}, "y\n");
  ASSERT_EQ(reset.exit_code, 0) << reset.out;
  ASSERT_EQ(Export(sandbox, "copy")["users"].size(), 1u);

  Run({"/Rfirst.txt", "/Scopy", "/Uadmin", "/Pdemo-password"});
  std::string second = Dump("copy", "demo-password", "second.txt");
  std::set<std::string> not_granted;
  std::string expected = CarriedOver(first, not_granted);
  EXPECT_EQ(CarriedOver(second, not_granted), expected);
  // The demo holds a filter that does not verify, so the rule for those is exercised too.
  EXPECT_THAT(first, ::testing::HasSubstr("failed validity check"));
}

// Names and values at the edge of what the file format carries: names holding ", ", ",",
// "*", " * ", "%1", "=", colons, quotes and non-ASCII letters; a supervisor group with access;
// a calc script named with a comma; descriptions and rows holding line breaks (written as
// blanks). Restored into a twin without security, the twin dumps the same file but for Date
// Made and the markers that a new user gets.
TEST_F(RoundTripTest, NamesAndValuesAtTheEdgeComeBackWhole) {
  sandbox.LoadFixture("edge", SourcePath("tests/fixtures/roundtrip/edge-server.json"));
  WriteFile(sandbox.Path("twin.json"),
            proof::EmptyCopy(proof::Export(sandbox, "edge"), "admin", "edge-admin-pw"));
  sandbox.LoadFixture("twin", sandbox.Path("twin.json"));
  std::string first = Dump("edge", "edge-admin-pw", "first.txt");
  for (const char* line :
       {"User: star * * name * Inactive *\r\n", "User: trail* * Account Disabled * Inactive *",
        "Group Access: SuperG\r\n", "   Users: SuperG, o'brien, pat, pat\r\n",
        "   Calcs: Alloc,Q1, CalcAll\r\n", "   Groups: colon:group, grp, grp, with comma\r\n",
        "   Description: line one     Loadable: No  Group: Injected\r\n"}) {
    EXPECT_THAT(first, ::testing::HasSubstr(line));
  }
  Run({"/Rfirst.txt", "/Stwin", "/Uadmin", "/Pedge-admin-pw"});
  std::string second = Dump("twin", "edge-admin-pw", "second.txt");
  std::set<std::string> not_granted;
  std::string expected = CarriedOver(first, not_granted);
  EXPECT_EQ(CarriedOver(second, not_granted), expected);
  // The planted lines stayed text: no such group exists on the twin.
  EXPECT_TRUE(Named(Export(sandbox, "twin")["groups"], "Injected").is_null());
}

// A generated server, and a second one built from its applications and databases alone, with
// other states, so that every block of the restore has something to change.
TEST_F(RoundTripTest, AGeneratedServerIsRebuiltOnAServerWithoutSecurity) {
  RunResult generated = sandbox.Sim({"generate", "gen", "--scale", "1"});
  ASSERT_EQ(generated.exit_code, 0) << generated.err;
  std::smatch password;
  ASSERT_TRUE(std::regex_search(generated.out, password, std::regex("password[^\\n]*:\\s*(\\S+)")))
      << generated.out;

  json copy = Export(sandbox, "gen");
  json admin = Named(copy["users"], "admin");
  admin["password"] = "copy-password-long-enough";
  admin["groups"] = json::array();
  copy["users"] = json::array({admin});
  copy["groups"] = json::array();
  copy["global"]["min_length"] = 24;
  copy["global"]["timeout"] = 1;
  for (json& app : copy["applications"]) {
    app["description"] = "before the restore";
    app["connects"] = !app["connects"].get<bool>();
    app["access"] = json::object();
    for (json& db : app["databases"]) {
      db["loadable"] = !db["loadable"].get<bool>();
      db["default_access"] = 275;
      db["filters"] = json::array();
      db["access"] = json::object();
    }
  }
  WriteFile(sandbox.Path("copy.json"), copy.dump(2));
  sandbox.LoadFixture("copy", sandbox.Path("copy.json"));

  std::string first = Dump("gen", password[1].str(), "first.txt");
  Run({"/Rfirst.txt", "/Scopy", "/Uadmin", "/Pcopy-password-long-enough"});
  std::string second = Dump("copy", "copy-password-long-enough", "second.txt");
  std::set<std::string> not_granted;
  std::string expected = CarriedOver(first, not_granted);
  EXPECT_EQ(CarriedOver(second, not_granted), expected);
}

}  // namespace
}  // namespace cubesec::e2e
