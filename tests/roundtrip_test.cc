// Dump a server, rebuild its security on a second server that has the same applications and
// databases, dump that one: the two files agree in all that a restore carries over. And a
// restore onto a server with security of its own: a merge that adds, raises and skips, and
// never takes away.
#include <gmock/gmock.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "fixtures/proof/proof_helpers.h"
#include "restore_e2e.h"

namespace cubesec::e2e {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;
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
  RunResult reset =
      sandbox.CubesecOnTerminal({"/Cx", "/Scopy", "/Uadmin", "/Pdemo-password"}, "y\n");
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
  sandbox.LoadFixtureText("twin",
                          proof::EmptyCopy(sandbox.Export("edge"), "admin", "edge-admin-pw"));
  std::string first = Dump("edge", "edge-admin-pw", "first.txt");
  for (const char* line :
       {"User: \"star * * name\" * Inactive *\r\n",
        "User: \"trail*\" * Account Disabled * Inactive *", "Group Access: SuperG\r\n",
        "   Users: SuperG, \"o'brien, pat\", pat\r\n", "   Calcs: \"Alloc,Q1\", CalcAll\r\n",
        "   Groups: colon:group, grp, \"grp, with comma\"\r\n",
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

// Names that bare text would let a reader take for others: a user named as another with a
// marker after it, a disabled user's name with the disabled marker in it, a group named as two
// groups joined, a user named as two holders of a filter, calc scripts named "<All>" and with
// a comma, names beginning with a quote or a marker. Restored onto the server it came from,
// nothing changes; onto a twin without security, every name, membership and holder is exact.
TEST_F(RoundTripTest, NamesThatBareTextWouldMisreadAreQuotedAndComeBackExactly) {
  sandbox.LoadFixture("hostile", SourcePath("tests/fixtures/roundtrip/hostile-server.json"));
  const json before = Export(sandbox, "hostile");
  const std::string dump = Dump("hostile", "hostile-admin-pw", "h.txt");
  for (const char* line :
       {"User: \"bob * Inactive\" * Inactive *\r\n", "Group: \"A, B\"\r\n",
        "User: \"eve * Account Disabled\" * Account Disabled *\r\n", "   Users: x, y\r\n",
        "   Calcs: \"<All>\", \"Roll, Up\"\r\n", "User: \"* Inactive\" * Inactive *\r\n",
        "Group: \"\"\"Quoted\"\" group\"\r\n", "   Groups: A, B\r\n"}) {
    EXPECT_THAT(dump, ::testing::HasSubstr(line));
  }
  Run({"/Rh.txt", "/Shostile", "/Uadmin", "/Phostile-admin-pw"});
  EXPECT_EQ(Export(sandbox, "hostile"), before);
  EXPECT_THAT(sandbox.Log(), Not(::testing::HasSubstr("Assigned '")));
  EXPECT_THAT(sandbox.Log(), Not(::testing::HasSubstr("Disabled user")));

  sandbox.LoadFixtureText("twin",
                          proof::EmptyCopy(sandbox.Export("hostile"), "admin", "hostile-admin-pw"));
  Run({"/Rh.txt", "/Stwin", "/Uadmin", "/Phostile-admin-pw"});
  // A created user gets a temporary password that has expired and has never logged in; the
  // twin holds its objects in the order the restore created them.
  auto security = [](json state) {
    for (json& user : state["users"]) {
      user.erase("password_expired");
      user.erase("last_login");
    }
    for (const char* kind : {"users", "groups"}) {
      std::sort(state[kind].begin(), state[kind].end(),
                [](const json& a, const json& b) { return a["name"] < b["name"]; });
    }
    return state;
  };
  EXPECT_EQ(security(Export(sandbox, "twin")), security(before));
}

// A generated server, and a second one built from its applications and databases alone, with
// other states, so that every block of the restore has something to change.
TEST_F(RoundTripTest, AGeneratedServerIsRebuiltOnAServerWithoutSecurity) {
  const std::string password = sandbox.Generate("gen");

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
  sandbox.LoadFixtureText("copy", copy.dump(2));

  std::string first = Dump("gen", password, "first.txt");
  Run({"/Rfirst.txt", "/Scopy", "/Uadmin", "/Pcopy-password-long-enough"});
  std::string second = Dump("copy", "copy-password-long-enough", "second.txt");
  std::set<std::string> not_granted;
  std::string expected = CarriedOver(first, not_granted);
  EXPECT_EQ(CarriedOver(second, not_granted), expected);
}

// The source holds group and database-default calc access, a designer on one database of
// two, a filter held by a group that the target has as a user; the target holds that filter
// for a group of its own, another filter for a user that the dump gives none, lacks a calc
// script, and has a user and a group whose names are the source's group and user.
TEST_F(RoundTripTest, AServerWithSecurityOfItsOwnGainsTheDumpsAndLosesNothing) {
  sandbox.LoadFixture("source", "tests/fixtures/merge/source.json");
  sandbox.LoadFixture("target", "tests/fixtures/merge/target.json");
  Dump("source", "source-password", "source.txt");
  Run({"/Rsource.txt", "/Starget", "/Uadmin", "/Ptarget-password"});
  std::vector<std::string> log = LogBody(sandbox);
  json server = Export(sandbox, "target");

  // A name of the other kind on the target: its block, its access and its holding are skipped.
  EXPECT_THAT(log, Contains("\tRestoration of group 'Alpha' skipped (a user of that name exists)"));
  EXPECT_THAT(log, Contains("\tRestoration of user 'beta' skipped (a group of that name exists)"));
  EXPECT_THAT(log, Contains("\tRestoration of access for 'beta' to 'Ops:Main' skipped "
                            "(user/group 'beta' was not restored)"));
  EXPECT_TRUE(Named(server["groups"], "Alpha").is_null());
  EXPECT_TRUE(Named(server["users"], "beta").is_null());
  EXPECT_EQ(Named(server["applications"], "Ops")["databases"][0]["access"], json::object());
  EXPECT_THAT(Named(server["users"], "dana")["groups"], ElementsAre("Calcers"));

  json sales = Named(server["applications"], "Sales");
  json east = Named(sales["databases"], "East");
  json west = Named(sales["databases"], "West");
  const json& access = east["access"];
  // Descriptions are their text, the empty one too.
  EXPECT_EQ(sales["description"], "Sales cubes");
  EXPECT_EQ(east["description"], "");
  EXPECT_EQ(west["description"], "West cube");

  // The filter, defined alike on both, gains the dump's holder, keeps the target's, and goes
  // to nobody of the other kind; the holder that the dump gives no filter keeps the target's.
  // A filter that the dump defines otherwise than the target, whose holder there the dump
  // does not name, stays as it is: that holder would get the dump's rows.
  EXPECT_EQ(Named(east["filters"], "EastRead")["rows"],
            json::array({{{"access", 273}, {"text", "East"}}}));
  EXPECT_EQ(Named(east["filters"], "LocalF")["rows"],
            json::array({{{"access", 273}, {"text", "Market"}}}));
  EXPECT_THAT(log, Contains("\tRestoration of Filter 'LocalF' skipped (held on the target by "
                            "gina, which the dump file does not name)"));
  EXPECT_EQ(access["dana"]["filter"], "EastRead");
  EXPECT_EQ(access["Locals"]["filter"], "EastRead");
  EXPECT_EQ(
      access["Alpha"],
      (json{{"access", 273}, {"filter", ""}, {"all_calcs", false}, {"calcs", json::array()}}));
  EXPECT_EQ(access["gina"]["filter"], "LocalF");
  EXPECT_THAT(log, Contains("\tFilter 'EastRead' was NOT assigned to: Alpha (users/groups were "
                            "not present)"));
  EXPECT_THAT(log, Contains("\tFilter 'EastRead' still assigned to: Locals (users/groups that "
                            "held it already)"));
  EXPECT_THAT(log, Contains("\tKept filter 'LocalF' of 'gina' on 'Sales:East' (the dump file "
                            "names no filter)"));

  // Calc lists come with the Calcs line, whichever access carries the calc bit; a script the
  // target lacks is left out.
  EXPECT_EQ(access["dana"]["access"], 273);  // calculates through Calcers
  EXPECT_EQ(access["dana"]["calcs"], json::array({"AllocQ1"}));
  EXPECT_EQ(access["Calcers"]["calcs"], json::array({"AllocQ1"}));
  EXPECT_THAT(log, Contains("\tCalc scripts NOT granted to 'Calcers' on 'Sales:East': Rollup "
                            "(calc scripts were not present)"));
  EXPECT_EQ(west["default_access"], 279);
  EXPECT_EQ(west["access"]["erin"]["access"], 273);  // calculates through the default
  EXPECT_EQ(west["access"]["erin"]["calcs"], json::array({"Rollup"}));

  // Designer on East stays designer on the application after Read on West.
  EXPECT_EQ(access["erin"]["access"], 887);
  EXPECT_EQ(sales["access"]["erin"], 512);
  EXPECT_EQ(sales["access"]["dana"], 256);

  // The logged-in user is left as it is.
  EXPECT_FALSE(access.contains("admin"));
  EXPECT_THAT(log, Contains("\tAccess of 'admin' to 'Sales:East' kept (the restore is logged in "
                            "as that user)"));
  EXPECT_EQ(Named(server["users"], "admin")["access"], 65535);

  // The same restore again changes nothing and creates, grants as new or assigns no more.
  size_t first_run = Lines(sandbox.Log()).size();
  Run({"/Rsource.txt", "/Starget", "/Uadmin", "/Ptarget-password"});
  EXPECT_EQ(Export(sandbox, "target"), server);
  std::vector<std::string> all = Lines(sandbox.Log());
  for (size_t i = first_run; i < all.size(); ++i) {
    EXPECT_THAT(all[i], Not(::testing::HasSubstr("Created")));
  }
}

// A restore with several sessions restores users, applications and databases at once, and
// must leave the target and the run log exactly as one session does (its users created in
// the same order, so listed alike): the generated server, and
// the merge fixture, whose application access spans databases (designer on one, Read on the
// other) and whose names of the other kind are skipped in every database. A failure in every
// database ends the run as in one session: the same log, the first database's error, every
// session logged out.
TEST_F(RoundTripTest, RestoresWithOneAndEightSessionsLeaveTheSameServerAndRunLog) {
  const std::string password = sandbox.Generate("gen");
  Dump("gen", password, "gen.txt");
  sandbox.LoadFixtureText("gen-target", proof::EmptyCopy(sandbox.Export("gen"), "admin", password));
  sandbox.LoadFixture("source", "tests/fixtures/merge/source.json");
  sandbox.LoadFixture("target", "tests/fixtures/merge/target.json");
  Dump("source", "source-password", "source.txt");
  const std::string pristine = sandbox.Path("pristine");
  std::filesystem::create_directories(pristine);
  proof::CopyServer(sandbox.sim_dir(), pristine, "gen-target");
  proof::CopyServer(sandbox.sim_dir(), pristine, "target");
  sandbox.env()["CUBESEC_SIM_TRACE"] = sandbox.Path("trace.txt");

  struct Outcome {
    int exit_code = 0;
    std::string log, server;
    int logouts = 0, terms = 0;
    bool user_units = false;  // the trace shows users restored as units of their own
  };
  // A restore from the pristine target; its log with times and temporary passwords left out.
  const auto restore = [&](const std::string& file, const std::string& server,
                           const std::string& admin_password, const std::string& sessions,
                           const std::string& faults) {
    proof::CopyServer(pristine, sandbox.sim_dir(), server);
    sandbox.env()["CUBESEC_SIM_FAULTS"] = faults;
    std::filesystem::remove(sandbox.Path("trace.txt"));
    std::filesystem::remove(sandbox.LogPath());
    const RunResult run = sandbox.Cubesec({"--restore", file, "--server", server, "--user", "admin",
                                           "/P" + admin_password, "--sessions", sessions});
    Outcome outcome;
    outcome.exit_code = run.exit_code;
    static const std::regex kTime("^[-0-9]+ [:0-9]+\t");
    static const std::regex kTemporary("temporary password '[^']*'");
    for (const std::string& line : Lines(sandbox.Log())) {
      outcome.log += std::regex_replace(std::regex_replace(line, kTime, "TIME\t"), kTemporary,
                                        "temporary password 'P'") +
                     "\n";
    }
    outcome.server = sandbox.Export(server);
    for (const std::string& line : Lines(ReadFile(sandbox.Path("trace.txt")))) {
      outcome.logouts += line == "EsbLogout 0";
      outcome.terms += line == "EsbTerm 0";
      outcome.user_units = outcome.user_units || line.ends_with(" u0");
    }
    return outcome;
  };

  for (const auto& [file, server, admin_password] :
       {std::tuple<std::string, std::string, std::string>{"gen.txt", "gen-target", password},
        {"source.txt", "target", "target-password"}}) {
    SCOPED_TRACE(file);
    const Outcome one = restore(file, server, admin_password, "1", "");
    ASSERT_EQ(one.exit_code, 0) << one.log;
    const Outcome eight = restore(file, server, admin_password, "8", "");
    ASSERT_EQ(eight.exit_code, 0) << eight.log;
    EXPECT_TRUE(eight.user_units);  // or the comparison would prove nothing of them
    EXPECT_EQ(eight.server, one.server);
    EXPECT_EQ(eight.log, one.log);
    EXPECT_EQ(eight.logouts, 8);
    EXPECT_EQ(eight.terms, 8);
  }

  // Every database's state read fails: which session fails first is left to chance; the log
  // and the error are those of the first database in the file.
  std::string every_database;
  for (int n = 1; n <= 20; ++n) {
    every_database +=
        (n > 1 ? "," : "") + std::string("EsbGetDatabaseState#") + std::to_string(n) + "=1099999";
  }
  const Outcome failed_one = restore("gen.txt", "gen-target", password, "1", every_database);
  ASSERT_EQ(failed_one.exit_code, 1);
  EXPECT_THAT(failed_one.log, ::testing::HasSubstr("EsbGetDatabaseState (ref=1099999)"));
  for (int round = 0; round < 3; ++round) {
    const Outcome failed = restore("gen.txt", "gen-target", password, "4", every_database);
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.log, failed_one.log);
    EXPECT_EQ(failed.logouts, 4);
    EXPECT_EQ(failed.terms, 4);
  }
}

}  // namespace
}  // namespace cubesec::e2e
