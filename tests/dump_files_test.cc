// Whole dump files of simulated servers, compared with files written by hand.
#include <gtest/gtest.h>

#include "support/e2e.h"
#include "tools/text.h"

namespace cubesec::e2e {
namespace {

std::string Crlf(const std::string& text) { return ReplaceAll(text, "\n", "\r\n"); }

// Dumps `fixture` loaded as server `server` and compares the file with `expected`.
void ExpectDump(const std::string& fixture, const std::string& server, const std::string& expected,
                const std::string& password = "admin-pass", long long now = kPinnedNow) {
  Sandbox box;
  box.env()["CUBESEC_NOW"] = std::to_string(now);
  box.LoadFixture(ToLower(server), fixture);
  const RunResult run = box.Cubesec({"/Ddump.txt", "/S" + server, "/Uadmin", "/P" + password});
  ASSERT_EQ(run.exit_code, 0) << run.err << box.Log();
  EXPECT_EQ(ReadFile(box.Path("dump.txt")), Crlf(ReadFile(SourcePath(expected))));
}

TEST(DumpFilesTest, ServerWithNothingButItsAdministrator) {
  ExpectDump("tests/fixtures/dump/empty.json", "Empty", "tests/fixtures/dump/empty.expected.txt");
}

TEST(DumpFilesTest, GroupsAndUsersWithMarkersAndInactivity) {
  ExpectDump("tests/fixtures/dump/users.json", "Users", "tests/fixtures/dump/users.expected.txt");
}

TEST(DumpFilesTest, ApplicationsDatabasesFiltersAndAccess) {
  ExpectDump("tests/fixtures/dump/apps.json", "Apps", "tests/fixtures/dump/apps.expected.txt");
}

TEST(DumpFilesTest, DemoServer) {
  // The demo's last logins lie around this time: 2026-12-08 15:00:00 UTC.
  ExpectDump("examples/demo-server.json", "demo", "tests/fixtures/dump/demo.expected.txt",
             "demo-password", 1796742000);
}

}  // namespace
}  // namespace cubesec::e2e
