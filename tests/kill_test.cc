// A restore of a generated server killed with SIGKILL at several moments: the simulated
// server must open cleanly afterwards (every change it committed is there, its file is
// sound), and the same restore run again must bring it to the state of a clean restore.
// Restores and dumps run with one session and with four.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/proof/proof_helpers.h"
#include "support/e2e.h"

namespace cubesec::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Counts the lines of a growing file, reading only what was added since the last call.
class LineCounter {
 public:
  explicit LineCounter(std::string path) : path_(std::move(path)) {}
  size_t Count() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return lines_;
    in.seekg(static_cast<std::streamoff>(offset_));
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
      const std::streamsize n = in.gcount();
      for (std::streamsize i = 0; i < n; ++i) lines_ += buffer[i] == '\n';
      offset_ += static_cast<size_t>(n);
    }
    return lines_;
  }

 private:
  std::string path_;
  size_t offset_ = 0;
  size_t lines_ = 0;
};

// The names of the users whose password-expired flag differs between two exported states.
std::vector<std::string> FlagDifferences(const std::string& a, const std::string& b) {
  const json ja = json::parse(a), jb = json::parse(b);
  std::vector<std::string> names;
  for (const json& ua : ja["users"]) {
    for (const json& ub : jb["users"]) {
      if (ua["name"] == ub["name"] && ua["password_expired"] != ub["password_expired"]) {
        names.push_back(ua["name"]);
      }
    }
  }
  return names;
}

// `state` with every user's password-expired flag taken from `reference`.
std::string FlagsOf(const std::string& state, const std::string& reference) {
  json doc = json::parse(state);
  const json ref = json::parse(reference);
  for (json& u : doc["users"]) {
    for (const json& r : ref["users"]) {
      if (u["name"] == r["name"]) u["password_expired"] = r["password_expired"];
    }
  }
  return doc.dump(1);
}

// Runs with the number of sessions of the parameter.
class KillTest : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    password_ = box_.Generate("gen");

    RunResult dump =
        box_.Cubesec({"/D" + box_.Path("gen.txt"), "/Sgen", "/Uadmin", "/P" + password_});
    ASSERT_EQ(dump.exit_code, 0) << dump.err << box_.Log();
    box_.LoadFixtureText("target", proof::EmptyCopy(box_.Export("gen"), "admin", password_));
    fs::create_directories(box_.Path("pristine"));
    proof::CopyServer(box_.sim_dir(), box_.Path("pristine"), "target");
  }

  std::vector<std::string> RestoreArgs() {
    return {"/R" + box_.Path("gen.txt"), "/Starget", "/Uadmin", "/P" + password_, "--sessions",
            std::to_string(GetParam())};
  }

  RunOptions Options() {
    RunOptions options = box_.Options();
    options.env["CUBESEC_SIM_TRACE"] = box_.Path("trace.txt");
    options.merge_error = true;
    options.timeout_seconds = 300;
    return options;
  }

  // A restore from the pristine target, run to its end.
  RunResult CleanRestore() {
    proof::CopyServer(box_.Path("pristine"), box_.sim_dir(), "target");
    fs::remove(box_.Path("trace.txt"));
    return RunProgram(box_.cubesec(), RestoreArgs(), Options());
  }

  Sandbox box_;
  std::string password_;
};

TEST_P(KillTest, AKilledRestoreLeavesAServerThatOpensAndARunAgainCompletesIt) {
  const RunResult clean = CleanRestore();
  ASSERT_EQ(clean.exit_code, 0) << clean.out;
  const size_t calls = LineCounter(box_.Path("trace.txt")).Count();
  ASSERT_GT(calls, 1000u);
  const std::string clean_state = proof::Canonical(box_.Export("target"));

  for (double moment : {0.02, 0.2, 0.45, 0.7, 0.95}) {
    SCOPED_TRACE("killed after " + std::to_string(static_cast<int>(moment * 100)) + "% of calls");
    proof::CopyServer(box_.Path("pristine"), box_.sim_dir(), "target");
    fs::remove(box_.Path("trace.txt"));
    fs::remove(box_.LogPath());
    LineCounter counter(box_.Path("trace.txt"));
    const size_t at = static_cast<size_t>(moment * static_cast<double>(calls));
    const RunResult killed = Process(box_.cubesec(), RestoreArgs(), Options()).Wait([&] {
      return counter.Count() >= at;
    });
    ASSERT_EQ(killed.signal, SIGKILL) << "the restore ended before it could be killed";
    std::cout << "[ kill     ] restore of " << calls << " calls killed after call " << at << "\n";

    // The server opens: the simulated server reads it, and SQLite finds its file sound.
    const std::string after_kill = box_.Export("target");
    RunResult check =
        RunProgram("/usr/bin/sqlite3",
                   {box_.sim_dir() + "/target.sqlite", "PRAGMA integrity_check;"}, box_.Options());
    EXPECT_EQ(check.out, "ok\n") << check.err;
    EXPECT_NE(proof::Canonical(after_kill), clean_state) << "the kill came after the restore";

    // The same restore again, to its end: the state of a clean restore.
    fs::remove(box_.LogPath());
    const RunResult again = RunProgram(box_.cubesec(), RestoreArgs(), Options());
    ASSERT_EQ(again.exit_code, 0) << again.out << box_.Log();
    const std::string final_state = proof::Canonical(box_.Export("target"));
    if (final_state == clean_state) continue;
    // A kill between a user's creation and the call that makes its temporary password
    // expire leaves that user without the flag: one per session at most, as each session
    // creates its own users; nothing else may differ.
    const std::vector<std::string> differ = FlagDifferences(final_state, clean_state);
    ASSERT_GE(differ.size(), 1u) << "the run again ends in another state than a clean restore";
    ASSERT_LE(differ.size(), static_cast<size_t>(GetParam()))
        << "the run again ends in another state than a clean restore";
    for (const std::string& user : differ) {
      EXPECT_EQ(box_.Log().find("Created user '" + user + "'"), std::string::npos);
      std::cout << "[ kill     ] user " << user
                << " was created but not yet flagged when the restore was killed\n";
    }
    EXPECT_EQ(FlagsOf(final_state, clean_state), clean_state);
  }
}

// A dump stopped part way by a signal: the previous dump file and its backups stay as they
// were; a signal that can be caught leaves what was written as the incomplete file, which the
// check refuses, and ends the run as the signal would (128 + its number).
TEST_P(KillTest, AnInterruptedDumpKeepsThePreviousFileAndNamesWhatItWrote) {
  const std::string previous = ReadFile(box_.Path("gen.txt"));
  WriteFile(box_.Path("gen.bak.txt"), "generation 1\r\n");
  const std::vector<std::string> args = {
      "/D" + box_.Path("gen.txt"), "/Sgen", "/Uadmin", "/P" + password_, "--sessions",
      std::to_string(GetParam())};
  fs::remove(box_.Path("trace.txt"));
  ASSERT_EQ(RunProgram(box_.cubesec(), args, Options()).exit_code, 0);
  const size_t calls = LineCounter(box_.Path("trace.txt")).Count();
  const std::string incomplete = box_.Path("gen.incomplete.txt");
  // The clean run rotated once: the previous file and backup 1 are put back for the runs below.
  WriteFile(box_.Path("gen.txt"), previous);
  WriteFile(box_.Path("gen.bak.txt"), "generation 1\r\n");
  fs::remove(box_.Path("gen.bak2.txt"));

  for (auto [signal_number, moment] : {std::pair{SIGTERM, 0.3}, std::pair{SIGINT, 0.6},
                                       std::pair{SIGHUP, 0.9}, std::pair{SIGKILL, 0.5}}) {
    SCOPED_TRACE("signal " + std::to_string(signal_number));
    // A Windows program learns of an interrupt from its console, which no signal to Wine is.
    if (TestingWindowsPrograms() && signal_number != SIGKILL) continue;
    fs::remove(box_.Path("trace.txt"));
    fs::remove(box_.LogPath());
    fs::remove(incomplete);
    LineCounter counter(box_.Path("trace.txt"));
    const size_t at = static_cast<size_t>(moment * static_cast<double>(calls));
    const RunResult stopped = Process(box_.cubesec(), args, Options())
                                  .Wait([&] { return counter.Count() >= at; }, signal_number);
    ASSERT_FALSE(stopped.timed_out);
    EXPECT_EQ(ReadFile(box_.Path("gen.txt")), previous);
    EXPECT_EQ(ReadFile(box_.Path("gen.bak.txt")), "generation 1\r\n");
    EXPECT_FALSE(FileExists(box_.Path("gen.bak2.txt")));
    if (signal_number == SIGKILL) {
      EXPECT_EQ(stopped.signal, SIGKILL);
      continue;
    }
    EXPECT_EQ(stopped.exit_code, 128 + signal_number) << box_.Log();
    ASSERT_TRUE(FileExists(incomplete)) << box_.Log();
    EXPECT_NE(box_.Log().find("kept as '" + incomplete + "'"), std::string::npos) << box_.Log();
    EXPECT_TRUE(ReadFile(incomplete).starts_with("Server: gen\r\n"));
    const RunResult check = box_.Cubesec({"--check", incomplete});
    EXPECT_EQ(check.exit_code, 1) << check.out;
    EXPECT_NE(check.out.find("the dump is incomplete"), std::string::npos) << check.out;
    for (const fs::directory_entry& entry : fs::directory_iterator(box_.dir().path())) {
      EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sessions, KillTest, ::testing::Values(1, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Sessions";
                         });

}  // namespace
}  // namespace cubesec::e2e
