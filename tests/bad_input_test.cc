// Dump files that no dump writes (stray bytes, odd line ends, huge lines, damaged or
// hand-edited lines, names longer than the server's fields, filters of a thousand rows), and
// dump files and run logs that cannot be written. Each run must end cleanly: the client
// released, a clear error where there is one, the exit status telling, and nothing lost that
// was there. A file that fails the whole-file check changes nothing at all.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/proof/proof_helpers.h"
#include "support/e2e.h"
#include "tools/text.h"

namespace cubesec::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char kPassword[] = "demo-password";

std::string Crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// `lines` as a file of the older format: behind a server block without a Format line.
std::vector<std::string> Older(std::vector<std::string> lines) {
  lines.insert(lines.begin(), {"Server: s", ""});
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The calls of a trace file, without the message fetches that may follow a failure.
std::vector<std::string> TraceCalls(const std::string& path) {
  std::vector<std::string> calls;
  if (!FileExists(path)) return calls;
  for (const std::string& line : Lines(ReadFile(path))) {
    const std::string call = line.substr(0, line.find(' '));
    if (call != "EsbGetMessage") calls.push_back(call);
  }
  return calls;
}

const json* Find(const json& list, const std::string& name) {
  for (const json& item : list) {
    if (item.value("name", "") == name) return &item;
  }
  return nullptr;
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    box_.LoadFixture("demo", "examples/demo-server.json");
    empty_ = proof::EmptyCopy(box_.Export("demo"), "admin", kPassword);
    box_.LoadFixtureText("target", empty_);
    before_ = json::parse(box_.Export("target"));
  }

  // Restores `text` onto the target; checks that the run ended cleanly.
  RunResult Restore(const std::string& text) {
    WriteFile(box_.Path("input.txt"), text);
    return Run(
        {"/R" + box_.Path("input.txt"), "/Starget", "/Uadmin", std::string("/P") + kPassword});
  }

  RunResult Run(const std::vector<std::string>& args, bool keep_log = false) {
    if (!keep_log) fs::remove(box_.LogPath());
    fs::remove(box_.Path("trace.txt"));
    box_.env()["CUBESEC_SIM_TRACE"] = box_.Path("trace.txt");
    RunResult run = box_.Cubesec(args);
    EXPECT_FALSE(run.timed_out) << "the run hung";
    EXPECT_EQ(run.signal, 0) << "the run crashed: " << run.err;
    // 2 only for a run that did nothing (its log could not be written).
    EXPECT_TRUE(run.exit_code >= 0 && run.exit_code <= 2) << run.exit_code << ": " << run.err;
    // A restore whose file fails the check makes no call at all.
    const std::vector<std::string> calls = TraceCalls(box_.Path("trace.txt"));
    if (calls.size() >= 2) {
      EXPECT_EQ(calls[calls.size() - 2], "EsbLogout");
      EXPECT_EQ(calls.back(), "EsbTerm");
    } else {
      EXPECT_TRUE(calls.empty()) << "the client was started and not released";
    }
    return run;
  }

  // The target's state; the export itself proves that the server still opens.
  json Target() { return json::parse(box_.Export("target")); }

  json Database(const json& state, const std::string& app, const std::string& db) {
    const json* a = Find(state["applications"], app);
    if (!a) return json();
    const json* d = Find((*a)["databases"], db);
    return d ? *d : json();
  }

  // The run log's last entry: its last line that begins with a date or a tab (an error's
  // message text follows on lines of its own).
  std::string LastLogLine() {
    const std::vector<std::string> lines = Lines(box_.Log());
    for (size_t i = lines.size(); i-- > 0;) {
      if (!lines[i].empty() && (lines[i][0] == '\t' || std::isdigit(lines[i][0]))) return lines[i];
    }
    return "";
  }

  Sandbox box_;
  std::string empty_;
  json before_;
};

TEST_F(BadInput, BytesThatAreNoUtf8AreKeptAsTheyStand) {
  // The dump file is in the system's single-byte code page: 0xE9 is a letter there.
  const RunResult run =
      Restore(Crlf(Older({"Group: Caf\xe9", "   Access: Read", "", "Application: Sample",
                          "   Description: \xff\xfe raw", ""})));
  EXPECT_EQ(run.exit_code, 0) << box_.Log();
  // A dump of the target gives the same bytes back.
  const RunResult dump =
      Run({"/D" + box_.Path("out.txt"), "/Starget", "/Uadmin", std::string("/P") + kPassword});
  ASSERT_EQ(dump.exit_code, 0) << box_.Log();
  const std::string out = ReadFile(box_.Path("out.txt"));
  EXPECT_TRUE(Contains(out, "Group: Caf\xe9\r\n   Access: Read\r\n"));
  EXPECT_TRUE(Contains(out, "   Description: \xff\xfe raw\r\n"));
}

TEST_F(BadInput, AMegabyteLineIsCutToItsFieldAndTheRunGoesOn) {
  const std::string huge(1 << 20, 'd');
  // A megabyte of names (each one a server takes), and a megabyte of description.
  std::string names = "d0";
  for (int i = 1; names.size() < (1 << 20); ++i) names += ", d" + std::to_string(i);
  const RunResult run =
      Restore(Crlf(Older({"Group: Wide", "   Users: " + names, "   Access: Write", "",
                          "Application: Sample", "   Description: " + huge, ""})));
  EXPECT_EQ(run.exit_code, 0) << LastLogLine();
  const json state = Target();
  const json* sample = Find(state["applications"], "Sample");
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(Trim((*sample)["description"].get<std::string>()), std::string(320, 'd'));
  const json* wide = Find(state["groups"], "Wide");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ((*wide)["access"], 275);
}

TEST_F(BadInput, EveryLineEndAndAByteOrderMarkReadAsCrLf) {
  const std::vector<std::string> lines =
      Older({"Group: Readers", "   Access: Read", "", "User: dana", "   Access: Write",
             "   Groups: Readers", "", "Application: Sample", "   Description: ends",
             "   Loadable: No", ""});
  // CR-only, LF-only, CR CR LF (a doubled CR, which once emptied every block), and CRLF
  // behind the byte order mark that an editor saves.
  constexpr int kForms = 5;
  std::string states[kForms];
  const char* ends[kForms] = {"\r\n", "\n", "\r", "\r\r\n", "\r\n"};
  for (int i = 0; i < kForms; ++i) {
    box_.LoadFixtureText("target", empty_);
    std::string text = i == 4 ? "\xEF\xBB\xBF" : "";
    for (const std::string& line : lines) text += line + ends[i];
    const RunResult run = Restore(text);
    EXPECT_EQ(run.exit_code, 0) << "line end " << i << ": " << LastLogLine();
    states[i] = proof::Canonical(box_.Export("target"));
  }
  const json state = json::parse(states[0]);
  const json* dana = Find(state["users"], "dana");
  ASSERT_NE(dana, nullptr);
  EXPECT_EQ((*dana)["groups"], json::array({"Readers"}));
  EXPECT_EQ((*dana)["access"], 275);
  EXPECT_EQ(states[1], states[0]) << "LF-only line ends";
  EXPECT_EQ(states[2], states[0]) << "CR-only line ends";
  EXPECT_EQ(states[3], states[0]) << "CR CR LF line ends";
  EXPECT_EQ(states[4], states[0]) << "a byte order mark";
}

TEST_F(BadInput, AHeadLineStartsABlockEvenWithoutTheEmptyLineBefore) {
  const RunResult run = Restore(
      Crlf(Older({"User: a", "   Access: Read", "User: b", "   Access: Write", "Group: After",
                  "   Access: Read", "Application: Sample", "   Loadable: No", ""})));
  EXPECT_EQ(run.exit_code, 0) << box_.Log();
  const json state = Target();
  EXPECT_EQ((*Find(state["users"], "a"))["access"], 273);
  EXPECT_EQ((*Find(state["users"], "b"))["access"], 275);
  ASSERT_NE(Find(state["groups"], "After"), nullptr) << "the user block swallowed the rest";
  EXPECT_EQ((*Find(state["groups"], "After"))["access"], 273);
  EXPECT_EQ((*Find(state["applications"], "Sample"))["loadable"], false);
  // Each missing empty line is a warning in the run log, after the start line.
  const std::string log = box_.Log();
  for (const char* line : {"5: \"User: b\"", "7: \"Group: After\"", "9: \"Application: Sample\""}) {
    EXPECT_TRUE(Contains(
        log, std::string("\tLine ") + line + ": warning: no empty line before this head line\r\n"))
        << line << "\n"
        << log;
  }
  EXPECT_LT(log.find("Restoring security"), log.find("warning"));
}

// Each damaged or hand-edited line that a restore once took as None, No, 0 or nothing: the
// run log names its line, nothing is sent to the server, and the run ends with error 60.
TEST_F(BadInput, DamagedFilesAreRefusedWithTheirLineAndChangeNothing) {
  const std::vector<std::string> database = {"Application: Sample", "", "Database: Basic", ""};
  auto under_database = [&](std::vector<std::string> lines) {
    lines.insert(lines.begin(), database.begin(), database.end());
    return lines;
  };
  struct Case {
    std::vector<std::string> lines;
    std::string problem;  // the run log's line, without its tab
  };
  const std::vector<Case> cases = {
      {{"Group: Readers", "   Access: read", ""},
       "Line 2: \"   Access: read\": \"read\" is no access level"},
      {under_database(
           {"Filter: F", "   Active: Yes", "   Default Access: None", "   Reed: \"East\"", ""}),
       "Line 8: \"   Reed: \"East\"\": \"Reed\" is no key of a Filter block"},
      {under_database({"Filter: F", "   Active: Y", "   Default Access: None", ""}),
       "Line 6: \"   Active: Y\": \"Y\" is neither Yes nor No"},
      {{"Server: x", "   Validity: abc", ""},
       "Line 2: \"   Validity: abc\": \"abc\" is not a number of Days"},
      {{"Server: x", "   Logins: No", "   Validity: 32768 Days", ""},
       "Line 3: \"   Validity: 32768 Days\": \"32768 Days\" does not fit (-32768 to 32767)"},
      {{"Server: x", "   TimeOut: 2147483648 Seconds", ""},
       "Line 2: \"   TimeOut: 2147483648 Seconds\": \"2147483648 Seconds\" does not fit "
       "(-2147483648 to 2147483647)"},
      {{"Server: x", "   Check Frequency: 1e400 Seconds", ""},
       "Line 2: \"   Check Frequency: 1e400 Seconds\": \"1e400 Seconds\" is not a number of "
       "Seconds"},
      {under_database({"Filter: Wrapped", "   Active: No", "   Default Access: None",
                       "   70000: \"East\"", ""}),
       "Line 8: \"   70000: \"East\"\": \"70000\" is no key of a Filter block"},
      {under_database({"Filter: Long", "   Active: No", "   Default Access: None",
                       "   " + std::string(31, '9') + ": \"East\"", ""}),
       "Line 8: \"   " + std::string(31, '9') + ": \"East\"\": \"" + std::string(31, '9') +
           "\" is no key of a Filter block"},
      {{"Group: G", "\tAccess: Read", ""},
       "Line 2: \"\tAccess: Read\": a line indented with a tab"},
      {{"Group: G", "   access: Read", ""},
       "Line 2: \"   access: Read\": \"access\" is no key of a Group block"},
      {under_database({"User Access: admin", "   Max Access: Read", ""}),
       "Line 5: \"User Access: admin\": the block has no \"Access:\" line"},
      {under_database({"Filter: Bare", "   Active: Yes", ""}),
       "Line 5: \"Filter: Bare\": the block has no \"Default Access:\" line"},
      {{"Widget: w1", "   Access: Write", ""},
       "Line 1: \"Widget: w1\": \"Widget\" is no head line key word"},
      {{"group: lower", "   Access: Write", ""},
       "Line 1: \"group: lower\": \"group\" is no head line key word"},
      {{"Group: G", "   Access: Read", "", "   Access: Write", ""},
       "Line 4: \"   Access: Write\": a detail line after its block's empty line"},
      {{"User: * Inactive *", "   Access: Read", ""},
       "Line 1: \"User: * Inactive *\": a head line without a name"},
      // A file that is not text at all is one error, not one per line.
      {{"Server: s", std::string("\0\0\0", 3), ""},
       "Line 1: \"Server: s\": the file holds NUL bytes: it is not text, and not a dump file"},
      // A dump cut short, in any place: it says its format, so it must say it is whole.
      {{"Server: s", "   Format: 2", "", "Group: G", "   Access: Read", ""},
       "Line 9: \"\": the file ends without its \"End: complete\" block: the dump is incomplete"},
      {{"Server: s", "", "Server: t", ""},
       "Line 3: \"Server: t\": a second Server block (the first is on line 1)"},
      {{"Server: s", "", "User: bob", "", "User: BOB * Inactive *", ""},
       "Line 5: \"User: BOB * Inactive *\": \"BOB\" has a block of its own already, on line 3"},
      // An older file whose own names let a list read two ways.
      {{"Server: s", "", "Group: A", "", "Group: B", "", "Group: A, B", "", "User: u1",
        "   Groups: A, B", ""},
       "Line 10: \"   Groups: A, B\": \"A, B\" can be read as one name or as several names of "
       "this file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    // A fragment stands in a file of the older format, behind its server block.
    std::vector<std::string> lines = c.lines;
    std::string problem = c.problem;
    if (!lines[0].starts_with("Server:")) {
      lines = Older(lines);
      const size_t number_end = problem.find(':');
      problem = "Line " + std::to_string(std::stoi(problem.substr(5, number_end - 5)) + 2) +
                problem.substr(number_end);
    }
    // A sound block after the damage: it must not be applied either.
    const bool in_database =
        std::find(lines.begin(), lines.end(), "Database: Basic") != lines.end();
    if (in_database) {
      lines.insert(lines.end(), {"Filter: After", "   Active: No", "   Default Access: None", ""});
    } else {
      lines.insert(lines.end(), {"Group: After", "   Access: Read", ""});
    }
    const RunResult run = Restore(Crlf(lines));
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(Contains(box_.Log(), "\t" + problem + "\r\n")) << box_.Log();
    EXPECT_TRUE(LastLogLine().starts_with("\tError: 60 - The dump file '" + box_.Path("input.txt") +
                                          "' has 1 error"))
        << LastLogLine();
    EXPECT_TRUE(TraceCalls(box_.Path("trace.txt")).empty()) << "a call reached the server";
    EXPECT_EQ(Target(), before_);
  }
}

// The fuzz target's seeds that fail the check are refused the same way.
TEST_F(BadInput, FuzzSeedsThatFailTheCheckChangeNothing) {
  int refused = 0;
  for (const fs::directory_entry& seed :
       fs::directory_iterator(SourcePath("fuzz/corpus/fuzz_restore"))) {
    SCOPED_TRACE(seed.path().string());
    fs::copy_file(seed.path(), box_.Path("seed.txt"), fs::copy_options::overwrite_existing);
    const RunResult check = box_.Cubesec({"--check", box_.Path("seed.txt")});
    if (check.exit_code == 0) continue;
    ++refused;
    EXPECT_EQ(check.exit_code, 1) << check.err;
    EXPECT_TRUE(Contains(check.out, "Line ")) << check.out;
    const RunResult run = Restore(ReadFile(box_.Path("seed.txt")));
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(LastLogLine().starts_with("\tError: 60 - ")) << LastLogLine();
    EXPECT_EQ(Target(), before_);
  }
  EXPECT_GE(refused, 1);
}

TEST_F(BadInput, ALastBlockWithoutItsEmptyLineOrLineEndIsApplied) {
  const RunResult run = Restore(
      "Server: s\r\n\r\nGroup: First\r\n   Access: Read\r\n\r\nGroup: Last\r\n"
      "   Access: Write");
  EXPECT_EQ(run.exit_code, 0) << LastLogLine();
  const json state = Target();
  const json* last = Find(state["groups"], "Last");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ((*last)["access"], 275);
  EXPECT_TRUE(Contains(LastLogLine(), "Completed security Restore"));
}

TEST_F(BadInput, HeadLinesWithoutDetailsStillNameTheirObjects) {
  const RunResult run = Restore(
      Crlf({"Server: elsewhere", "", "Group: Lonely", "", "User: solo", "", "Application: Sample",
            "", "Database: Basic", "", "Filter: Bare", "   Active: No", "   Default Access: None",
            "", "User Access: solo", "   Access: None", ""}));
  EXPECT_EQ(run.exit_code, 0) << box_.Log();
  const json state = Target();
  EXPECT_EQ(state["global"], before_["global"]);
  EXPECT_NE(Find(state["groups"], "Lonely"), nullptr);
  EXPECT_NE(Find(state["users"], "solo"), nullptr);
  const json basic = Database(state, "Sample", "Basic");
  const json* bare = Find(basic["filters"], "Bare");
  ASSERT_NE(bare, nullptr);
  EXPECT_TRUE((*bare)["rows"].empty());
  const std::string log = box_.Log();
  EXPECT_TRUE(Contains(log, "\tRestored Global Server State\r\n"));
  EXPECT_TRUE(Contains(log, "\tRestored filter 'Bare' for database 'Sample:Basic'\r\n"));
  EXPECT_TRUE(Contains(log, "\tGranted 'None' access to 'Sample:Basic' for 'solo'\r\n"));
}

TEST_F(BadInput, NamesLongerThanTheFieldsNeverOverflowThem) {
  const std::string group(200, 'g'), user(150, 'u'), filter(130, 'f');
  const RunResult run = Restore(Crlf({"Server: s",
                                      "",
                                      "Group: " + group,
                                      "   Access: Read",
                                      "",
                                      "User: " + user,
                                      "   Access: Read",
                                      "   Groups: " + group,
                                      "",
                                      "Application: Sample",
                                      "",
                                      "Database: Basic",
                                      "",
                                      "Filter: " + filter,
                                      "   Active: Yes",
                                      "   Default Access: None",
                                      "   Read: \"East\"",
                                      "   Users: " + user,
                                      "",
                                      "User Access: " + user,
                                      "   Access: Read",
                                      "   Filter: " + filter,
                                      ""}));
  EXPECT_TRUE(run.exit_code == 0 || Contains(LastLogLine(), "\tError: ")) << LastLogLine();
  // Whatever the server kept, no name is longer than the server's name field.
  const json state = Target();
  for (const char* list : {"groups", "users"}) {
    for (const json& item : state[list]) {
      EXPECT_LE(item["name"].get<std::string>().size(), 120u) << list;
    }
  }
  const json basic = Database(state, "Sample", "Basic");
  for (const json& f : basic["filters"]) {
    EXPECT_LE(f["name"].get<std::string>().size(), 120u);
  }
}

TEST_F(BadInput, AFilterOfAThousandRowsIsRestoredAndDumpedWhole) {
  std::vector<std::string> lines =
      Older({"Application: Sample", "", "Database: Basic", "", "Filter: Thousand", "   Active: Yes",
             "   Default Access: None"});
  for (int i = 0; i < 1000; ++i) {
    lines.push_back(std::string(i % 2 ? "   Read: " : "   Write: ") + "\"East\", " +
                    std::to_string(i));
  }
  lines.push_back("");
  const RunResult run = Restore(Crlf(lines));
  ASSERT_EQ(run.exit_code, 0) << LastLogLine();
  const json thousand = *Find(Database(Target(), "Sample", "Basic")["filters"], "Thousand");
  ASSERT_EQ(thousand["rows"].size(), 1000u);
  EXPECT_EQ(thousand["rows"][999]["text"], "\"East\", 999");
  EXPECT_EQ(thousand["rows"][998]["access"], 275);

  const RunResult dump =
      Run({"/D" + box_.Path("out.txt"), "/Starget", "/Uadmin", std::string("/P") + kPassword});
  ASSERT_EQ(dump.exit_code, 0) << LastLogLine();
  const std::string out = ReadFile(box_.Path("out.txt"));
  std::string block = "Filter: Thousand\r\n   Active: Yes\r\n   Default Access: None\r\n";
  for (int i = 0; i < 1000; ++i) {
    block +=
        std::string(i % 2 ? "   Read: " : "   Write: ") + "\"East\", " + std::to_string(i) + "\r\n";
  }
  EXPECT_TRUE(Contains(out, block));
}

TEST_F(BadInput, ADumpNeverTakesTheLoggedInAdministratorsRightsAway) {
  // A dump from another server in which "admin" was an ordinary, disabled user.
  const RunResult run = Restore(Crlf(Older({"User: ADMIN * Account Disabled *", "   Access: None",
                                            "", "Group: After", "   Access: Read", ""})));
  EXPECT_EQ(run.exit_code, 0) << box_.Log();
  const json state = Target();
  const json* admin = Find(state["users"], "admin");
  ASSERT_NE(admin, nullptr);
  EXPECT_EQ((*admin)["access"], 65535);
  EXPECT_EQ((*admin)["disabled"], false);
  EXPECT_NE(Find(state["groups"], "After"), nullptr) << "the rest of the restore was not done";
  EXPECT_TRUE(Contains(box_.Log(),
                       "\tUser 'ADMIN' not disabled (the restore is logged in as that "
                       "user)\r\n\tAccess of user 'ADMIN' kept (the restore is logged "
                       "in as that user)\r\n"))
      << box_.Log();
}

// Unwritable files. Root may write anywhere, so "cannot be written" is a full device
// (/dev/full, or a tiny file system when one can be mounted) or a path that is a folder.
class Unwritable : public BadInput {
 protected:
  void SeedBackups(const std::string& folder) {
    for (int i = 0; i <= 5; ++i) WriteFile(folder + "/" + Name(i), Generation(i));
  }
  static std::string Name(int i) {
    return i == 0 ? "dump.txt" : i == 1 ? "dump.bak.txt" : "dump.bak" + std::to_string(i) + ".txt";
  }
  static std::string Generation(int i) { return "generation " + std::to_string(i) + "\r\n"; }
  // The backups after a dump that failed: either as they were, or rotated by exactly one.
  void ExpectBackupsIntact(const std::string& folder, bool rotated) {
    for (int i = 1; i <= 5; ++i) {
      const std::string path = folder + "/" + Name(i);
      ASSERT_TRUE(FileExists(path)) << Name(i);
      EXPECT_EQ(ReadFile(path), Generation(rotated ? i - 1 : i)) << Name(i);
    }
  }
  RunResult Dump(const std::string& file) {
    return Run({"/D" + file, "/Sdemo", "/Uadmin", std::string("/P") + kPassword});
  }
};

// A link at the dump file's name is replaced by the dump, never written through: not to a
// device, and not to a file that a dangling link names (which root would create).
TEST_F(Unwritable, ALinkAtTheDumpFilesNameIsReplacedNotWrittenThrough) {
  // Wine cannot rename a file onto a POSIX link.
  if (TestingWindowsPrograms()) GTEST_SKIP() << "POSIX links";
  for (const std::string& target : {std::string("/dev/full"), box_.Path("victim.txt")}) {
    SCOPED_TRACE(target);
    SeedBackups(box_.dir().path());
    fs::remove(box_.Path("dump.txt"));
    fs::create_symlink(target, box_.Path("dump.txt"));
    const RunResult run = Dump(box_.Path("dump.txt"));
    EXPECT_EQ(run.exit_code, 0) << LastLogLine();
    // Read only a file: a link to /dev/full reads zeros without end.
    ASSERT_FALSE(fs::is_symlink(box_.Path("dump.txt")));
    EXPECT_TRUE(ReadFile(box_.Path("dump.txt")).ends_with("End: complete\r\n\r\n"));
    EXPECT_FALSE(FileExists(box_.Path("victim.txt")));
    // The link is no regular file, so it is not set aside; the backups move up one
    // generation as every dump moves them, and none but the oldest goes.
    EXPECT_FALSE(FileExists(box_.Path(Name(1))));
    for (int i = 2; i <= 5; ++i) EXPECT_EQ(ReadFile(box_.Path(Name(i))), Generation(i - 1));
  }
}

TEST_F(Unwritable, ADumpFileThatIsAFolderIsAClearError) {
  fs::create_directory(box_.Path("folder.txt"));
  const RunResult run = Dump(box_.Path("folder.txt"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(LastLogLine(), "\tError: 57 - Cannot write dump file '" + box_.Path("folder.txt") +
                               "': it is a folder");
  EXPECT_TRUE(fs::is_directory(box_.Path("folder.txt")));
  // Said before any login: the folder is no slip of the server's.
  EXPECT_TRUE(TraceCalls(box_.Path("trace.txt")).empty());

  const RunResult restore =
      Run({"/R" + box_.Path("folder.txt"), "/Starget", "/Uadmin", std::string("/P") + kPassword});
  EXPECT_EQ(restore.exit_code, 1);
  EXPECT_EQ(LastLogLine(), "\tError: 56 - Security Dump File (" + box_.Path("folder.txt") +
                               ") Not Found: it is a folder");
  EXPECT_TRUE(TraceCalls(box_.Path("trace.txt")).empty());

  // The check gives the system's reason for a file it cannot read, on the terminal and in
  // the run log.
  struct Case {
    std::string file;
    std::string reason;
  };
  for (const Case& c : {Case{box_.Path("folder.txt"), "is a folder"},
                        Case{box_.Path("missing.txt"), "No such file or directory"}}) {
    fs::remove(box_.LogPath());
    const RunResult check = box_.Cubesec({"--check", c.file});
    EXPECT_EQ(check.exit_code, 1);
    const std::string message = "Cannot read dump file '" + c.file + "': " + c.reason;
    EXPECT_EQ(check.err, "cubesec: " + message + "\n");
    EXPECT_EQ(LastLogLine(), "\tError: " + message);
  }
}

// A file system of a few kilobytes, mounted for one test; skipped where mounting is not
// allowed.
class TinyFileSystem {
 public:
  TinyFileSystem(const std::string& path, const std::string& size) : path_(path) {
    fs::create_directories(path_);
    const std::string options = "size=" + size + ",mode=0755";
    mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TinyFileSystem() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  // Fills the file system until no page is left.
  void Fill() {
    const fs::space_info space = fs::space(path_);
    if (space.available > 0) WriteFile(path_ + "/filler", std::string(space.available, 'x'));
  }

 private:
  std::string path_;
  bool mounted_ = false;
};

TEST_F(Unwritable, ARunLogOnAFullDeviceIsReportedOnTheTerminal) {
  // The log that CUBESEC_LOG names lies on a file system without a free page (a link to
  // /dev/full would not do: a run log is never opened through a link).
  TinyFileSystem full(box_.Path("full"), "64k");
  if (!full.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  full.Fill();
  box_.env()["CUBESEC_LOG"] = box_.Path("full/cubesec.log");
  SeedBackups(box_.dir().path());
  const RunResult run =
      Run({"/D" + box_.Path("dump.txt"), "/Sdemo", "/Uadmin", std::string("/P") + kPassword},
          /*keep_log=*/true);
  // The log took none of the run's lines: nothing was run.
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_TRUE(Contains(run.err, "Cannot write run log '" + box_.Path("full/cubesec.log") +
                                    "': " + NoSpaceText() + "; nothing was run"))
      << run.err;
  // The run stopped at its first log line, before the dump file was touched.
  EXPECT_EQ(ReadFile(box_.Path("dump.txt")), Generation(0));
  ExpectBackupsIntact(box_.dir().path(), false);
}

TEST_F(Unwritable, ADumpThatRunsOutOfSpaceKeepsThePreviousFileAndAnIncompletePrefix) {
  const RunResult clean = Dump(box_.Path("clean.txt"));
  ASSERT_EQ(clean.exit_code, 0);
  const std::string whole = ReadFile(box_.Path("clean.txt"));

  TinyFileSystem tiny(box_.Path("tiny"), "64k");
  if (!tiny.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  SeedBackups(box_.Path("tiny"));
  tiny.Fill();
  const RunResult run = Dump(box_.Path("tiny/dump.txt"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(LastLogLine(), NoSpaceText())) << LastLogLine();
  // Nothing is set aside before the new dump is whole.
  ExpectBackupsIntact(box_.Path("tiny"), false);
  EXPECT_EQ(ReadFile(box_.Path("tiny/dump.txt")), Generation(0));
  const std::string part = ReadFile(box_.Path("tiny/dump.incomplete.txt"));
  EXPECT_LT(part.size(), whole.size());
  EXPECT_EQ(whole.compare(0, part.size(), part), 0) << "not a prefix of the whole dump";
  EXPECT_TRUE(part.empty() || part.ends_with("\r\n")) << "ends inside a line";
}

TEST_F(Unwritable, ARunLogThatRunsOutOfSpaceEndsTheRunWithAMessage) {
  TinyFileSystem tiny(box_.Path("tinybin"), "64m");
  if (!tiny.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  // The log lies beside the executable: a copy of cubesec on the tiny file system.
  const std::string program = box_.Path("tinybin/" + fs::path(box_.cubesec()).filename().string());
  fs::copy_file(box_.cubesec(), program);
  // An old log ends a thousand bytes before the end of its page, and no page is free: the
  // restore's lines (a line per object) fill it up within the run.
  const std::string old_log = std::string(3095, '.') + "\r\n";
  WriteFile(box_.Path("tinybin/cubesec.log"), old_log);
  ASSERT_EQ(Dump(box_.Path("demo.txt")).exit_code, 0);
  tiny.Fill();
  fs::remove(box_.Path("trace.txt"));
  RunOptions options = box_.Options();
  options.merge_error = true;
  options.timeout_seconds = 120;
  const RunResult run = RunProgram(
      program, {"/R" + box_.Path("demo.txt"), "/Starget", "/Uadmin", std::string("/P") + kPassword},
      options);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(run.out, "the run log could not be written")) << run.out;
  EXPECT_TRUE(Contains(run.out, NoSpaceText())) << run.out;
  const std::vector<std::string> calls = TraceCalls(box_.Path("trace.txt"));
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[calls.size() - 2], "EsbLogout");
  EXPECT_EQ(calls.back(), "EsbTerm");
  // The restore stopped where its log did: what it had logged is there after the old log.
  const std::string log = ReadFile(box_.Path("tinybin/cubesec.log"));
  EXPECT_EQ(log.substr(0, old_log.size()), old_log);
  EXPECT_LE(log.size(), 4096u);
  EXPECT_TRUE(log.ends_with("\r\n")) << "the log ends inside a line";
  EXPECT_TRUE(Contains(log, "Restoring security of target")) << log;
  EXPECT_FALSE(Contains(log, "Completed security Restore")) << log;
}

}  // namespace
}  // namespace cubesec::e2e
