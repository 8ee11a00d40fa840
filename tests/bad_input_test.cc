// Dump files that no dump writes (stray bytes, odd line ends, huge lines, overflowing
// numbers, names longer than the server's fields, filters of a thousand rows), and dump files
// and run logs that cannot be written. Each run must end cleanly: the client released, a
// clear error where there is one, the exit status telling, and nothing lost that was there.

#include <gtest/gtest.h>
#include <sys/mount.h>

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
    empty_ = proof::EmptyCopy(proof::Export(box_, "demo"), "admin", kPassword);
    proof::LoadText(box_, "target", empty_);
    before_ = json::parse(proof::Export(box_, "target"));
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
    EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1) << run.exit_code << ": " << run.err;
    const std::vector<std::string> calls = TraceCalls(box_.Path("trace.txt"));
    EXPECT_GE(calls.size(), 2u);
    if (calls.size() >= 2) {
      EXPECT_EQ(calls[calls.size() - 2], "EsbLogout");
      EXPECT_EQ(calls.back(), "EsbTerm");
    }
    return run;
  }

  // The target's state; the export itself proves that the server still opens.
  json Target() { return json::parse(proof::Export(box_, "target")); }

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

TEST_F(BadInput, NulBytesNeverReachTheServerAsPartOfANameOrText) {
  const RunResult run = Restore(Crlf(
      {std::string("Group: Alpha\0Beta", 17), "   Access: Read", "", "Application: Sample",
       std::string("   Description: left\0right", 26), "", "Group: Gamma", "   Access: Read", ""}));
  EXPECT_EQ(run.exit_code, 0) << box_.Log();
  const json state = Target();
  for (const json& group : state["groups"]) {
    EXPECT_FALSE(Contains(group["name"].get<std::string>(), std::string(1, '\0')));
  }
  const json* sample = Find(state["applications"], "Sample");
  ASSERT_NE(sample, nullptr);
  EXPECT_FALSE(Contains((*sample)["description"].get<std::string>(), std::string(1, '\0')));
  // What follows the bad lines is still restored.
  const json* gamma = Find(state["groups"], "Gamma");
  ASSERT_NE(gamma, nullptr);
  EXPECT_EQ((*gamma)["access"], 273);
}

TEST_F(BadInput, BytesThatAreNoUtf8AreKeptAsTheyStand) {
  // The dump file is in the system's single-byte code page: 0xE9 is a letter there.
  const RunResult run = Restore(Crlf({"Group: Caf\xe9", "   Access: Read", "",
                                      "Application: Sample", "   Description: \xff\xfe raw", ""}));
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
  const RunResult run = Restore(Crlf({"Group: Wide", "   Colour: " + huge, "   Access: Write", "",
                                      "Application: Sample", "   Description: " + huge, ""}));
  EXPECT_EQ(run.exit_code, 0) << LastLogLine();
  const json state = Target();
  const json* sample = Find(state["applications"], "Sample");
  ASSERT_NE(sample, nullptr);
  EXPECT_EQ(Trim((*sample)["description"].get<std::string>()), std::string(320, 'd'));
  const json* wide = Find(state["groups"], "Wide");
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ((*wide)["access"], 275);
}

TEST_F(BadInput, CrOnlyAndLfOnlyLineEndsReadAsCrLf) {
  const std::vector<std::string> lines = {
      "Group: Readers",       "   Access: Read",    "", "User: dana",
      "   Access: Write",     "   Groups: Readers", "", "Application: Sample",
      "   Description: ends", "   Loadable: No",    ""};
  std::string states[3];
  const char* ends[3] = {"\r\n", "\n", "\r"};
  for (int i = 0; i < 3; ++i) {
    proof::LoadText(box_, "target", empty_);
    std::string text;
    for (const std::string& line : lines) text += line + ends[i];
    const RunResult run = Restore(text);
    EXPECT_EQ(run.exit_code, 0) << "line end " << i << ": " << LastLogLine();
    states[i] = proof::Canonical(proof::Export(box_, "target"));
  }
  const json state = json::parse(states[0]);
  const json* dana = Find(state["users"], "dana");
  ASSERT_NE(dana, nullptr);
  EXPECT_EQ((*dana)["groups"], json::array({"Readers"}));
  EXPECT_EQ((*dana)["access"], 275);
  EXPECT_EQ(states[1], states[0]) << "LF-only line ends";
  EXPECT_EQ(states[2], states[0]) << "CR-only line ends";
}

TEST_F(BadInput, ALastBlockWithoutItsEmptyLineOrLineEndIsApplied) {
  const RunResult run =
      Restore("Group: First\r\n   Access: Read\r\n\r\nGroup: Last\r\n   Access: Write");
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
            "", "Database: Basic", "", "Filter: Bare", "", "User Access: solo", ""}));
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

TEST_F(BadInput, UnknownKeysAndBlocksArePassedOver) {
  const RunResult run = Restore(Crlf({
      "Widget: w1", "   Access: Write", "   Size: 3", "",           // a block of no known kind
      "group: lower", "   Access: Write", "",                       // key words are exact
      "Group: Known", "   Colour: blue", "   Access: Read", "",     // an unknown detail
      "Server: x", "   Weather: fine", "   Validity: 45 Days", "",  //
  }));
  EXPECT_EQ(run.exit_code, 0) << box_.Log();
  const json state = Target();
  EXPECT_EQ(Find(state["groups"], "lower"), nullptr);
  EXPECT_EQ(Find(state["groups"], "w1"), nullptr);
  const json* known = Find(state["groups"], "Known");
  ASSERT_NE(known, nullptr);
  EXPECT_EQ((*known)["access"], 273);
  EXPECT_EQ(state["global"]["validity"], 45);
}

TEST_F(BadInput, NumbersThatOverflowEndTheRunAndChangeNothing) {
  const std::vector<std::string> overflowing = {
      "   Validity: 32768 Days", "   MinLength: -32769 Characters",
      "   TimeOut: 2147483648 Seconds", "   Check Frequency: 1e400 Seconds"};
  for (const std::string& line : overflowing) {
    SCOPED_TRACE(line);
    const RunResult run = Restore(
        Crlf({"Server: x", "   Logins: No", line, "", "Group: After", "   Access: Read", ""}));
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(LastLogLine(), "\tError: 6 - Overflow");
    const json state = Target();
    EXPECT_EQ(state["global"], before_["global"]);
    EXPECT_EQ(Find(state["groups"], "After"), nullptr);
  }
  // A row access given as a number that no 16-bit code holds.
  const RunResult run = Restore(Crlf({"Application: Sample", "", "Database: Basic", "",
                                      "Filter: Wrapped", "   70000: \"East\"", ""}));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(LastLogLine(), "\tError: 6 - Overflow");
  EXPECT_EQ(Find(Database(Target(), "Sample", "Basic")["filters"], "Wrapped"), nullptr);
}

TEST_F(BadInput, NamesLongerThanTheFieldsNeverOverflowThem) {
  const std::string group(200, 'g'), user(150, 'u'), filter(130, 'f');
  const RunResult run =
      Restore(Crlf({"Group: " + group, "   Access: Read", "", "User: " + user, "   Access: Read",
                    "   Groups: " + group, "", "Application: Sample", "", "Database: Basic", "",
                    "Filter: " + filter, "   Read: \"East\"", "   Users: " + user, "",
                    "User Access: " + user, "   Access: Read", "   Filter: " + filter, ""}));
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
  std::vector<std::string> lines = {
      "Application: Sample", "", "Database: Basic", "", "Filter: Thousand", "   Active: Yes"};
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
  const RunResult run = Restore(Crlf({"User: ADMIN * Account Disabled *", "   Access: None", "",
                                      "Group: After", "   Access: Read", ""}));
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

TEST_F(Unwritable, ADumpFileOnAFullDeviceIsAClearError) {
  SeedBackups(box_.dir().path());
  fs::remove(box_.Path("dump.txt"));
  fs::create_symlink("/dev/full", box_.Path("dump.txt"));
  const RunResult run = Dump(box_.Path("dump.txt"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(LastLogLine(), "\tError: 57 - Cannot write dump file '" + box_.Path("dump.txt") +
                               "': " + NoSpaceText());
  EXPECT_TRUE(Contains(run.err, NoSpaceText()));
  // The device is no regular file, so it is not set aside; the backups move up one
  // generation as every dump moves them, and none but the oldest goes.
  EXPECT_FALSE(FileExists(box_.Path(Name(1))));
  for (int i = 2; i <= 5; ++i) EXPECT_EQ(ReadFile(box_.Path(Name(i))), Generation(i - 1));
  EXPECT_TRUE(fs::is_symlink(box_.Path("dump.txt")));
}

TEST_F(Unwritable, ADumpFileThatIsAFolderIsAClearError) {
  fs::create_directory(box_.Path("folder.txt"));
  const RunResult run = Dump(box_.Path("folder.txt"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(LastLogLine().starts_with("\tError: 57 - Cannot write dump file '" +
                                        box_.Path("folder.txt") + "'"))
      << LastLogLine();
  EXPECT_TRUE(fs::is_directory(box_.Path("folder.txt")));
}

TEST_F(Unwritable, ARunLogOnAFullDeviceIsReportedOnTheTerminal) {
  fs::create_symlink("/dev/full", box_.LogPath());
  SeedBackups(box_.dir().path());
  const RunResult run =
      Run({"/D" + box_.Path("dump.txt"), "/Sdemo", "/Uadmin", std::string("/P") + kPassword},
          /*keep_log=*/true);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(run.err, "the run log could not be written")) << run.err;
  EXPECT_TRUE(Contains(run.err, NoSpaceText())) << run.err;
  // The run stopped at its first log line, before the dump file was touched.
  EXPECT_EQ(ReadFile(box_.Path("dump.txt")), Generation(0));
  ExpectBackupsIntact(box_.dir().path(), false);
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

TEST_F(Unwritable, ADumpThatRunsOutOfSpaceLeavesAPrefixAndItsBackups) {
  const RunResult clean = Dump(box_.Path("clean.txt"));
  ASSERT_EQ(clean.exit_code, 0);
  const std::string whole = ReadFile(box_.Path("clean.txt"));

  TinyFileSystem tiny(box_.Path("tiny"), "64k");
  if (!tiny.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  SeedBackups(box_.Path("tiny"));
  // Full: the page that the oldest backup frees is all the new dump gets.
  tiny.Fill();
  const RunResult run = Dump(box_.Path("tiny/dump.txt"));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(LastLogLine(), NoSpaceText())) << LastLogLine();
  ExpectBackupsIntact(box_.Path("tiny"), true);
  const std::string part = ReadFile(box_.Path("tiny/dump.txt"));
  EXPECT_LT(part.size(), whole.size());
  EXPECT_EQ(whole.compare(0, part.size(), part), 0) << "not a prefix of the whole dump";
  EXPECT_TRUE(part.empty() || part.ends_with("\r\n")) << "ends inside a line";
}

TEST_F(Unwritable, ARunLogThatRunsOutOfSpaceEndsTheRunWithAMessage) {
  TinyFileSystem tiny(box_.Path("tinybin"), "64m");
  if (!tiny.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  // The log lies beside the executable: a copy of cubesec on the tiny file system.
  const std::string program = box_.Path("tinybin/cubesec");
  fs::copy_file(box_.cubesec(), program);
  // An old log ends a thousand bytes before the end of its page, and no page is free: the
  // restore's lines (a line per object) fill it up within the run.
  const std::string old_log = std::string(3095, '.') + "\r\n";
  WriteFile(box_.Path("tinybin/cubesec.log"), old_log);
  ASSERT_EQ(Dump(box_.Path("demo.txt")).exit_code, 0);
  tiny.Fill();
  fs::remove(box_.Path("trace.txt"));
  proof::LaunchOptions options;
  options.env = box_.env();
  options.cwd = box_.dir().path();
  options.out_path = box_.Path("out.txt");
  const RunResult run = proof::RunToEnd(
      program, {"/R" + box_.Path("demo.txt"), "/Starget", "/Uadmin", std::string("/P") + kPassword},
      options);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(Contains(run.out, "the run log could not be written")) << run.out;
  EXPECT_TRUE(Contains(run.out, "No space left on device")) << run.out;
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
