// Every API call of a dump, a restore and a reset of the demo server is made to fail once, in
// turn: the run must end cleanly at every one of those positions. A clean run's trace gives
// the number of positions; the N-th run fails call N with CUBESEC_SIM_FAULTS=*#N=STATUS.
// Dumps and restores run with one session, with four and with eight (the default). The calls
// of several sessions come in an order left to chance, so there a position is a call's place
// within its unit of work (an application's or database's blocks, a dump's run of groups or
// users, or the run's own calls outside any), which the trace names: *@UNIT#N=STATUS fails
// the same call in every run.
// Every fifth position is tried once more with a failure that leaves no message
// (*#N=STATUS/nomsg): such a run must end exactly as the one whose failure was explained.
//
// Under sanitizers every position costs several times as much, so those builds (or
// CUBESEC_SWEEP_STRIDE=K) try every K-th position, always with the first and last few.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/proof/proof_helpers.h"
#include "support/e2e.h"

namespace cubesec::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kInjected = 1099999;  // no status that the server or the utility knows
constexpr const char kAdmin[] = "admin";
constexpr const char kPassword[] = "demo-password";
constexpr int kBackups = 5;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultStride = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int kDefaultStride = 4;
#else
constexpr int kDefaultStride = 1;
#endif
#else
constexpr int kDefaultStride = 1;
#endif

int Stride() {
  const char* text = std::getenv("CUBESEC_SWEEP_STRIDE");
  const int stride = text ? std::atoi(text) : kDefaultStride;
  return stride > 0 ? stride : 1;
}

// The positions to try out of `count`: every stride-th, and always the first and last ten,
// where the client starts and ends.
std::vector<int> Positions(int count) {
  const int stride = Stride();
  std::vector<int> positions;
  for (int n = 1; n <= count; ++n) {
    if (stride == 1 || n <= 10 || n > count - 10 || n % stride == 0) positions.push_back(n);
  }
  return positions;
}

// The positions tried again with a failure that leaves no message.
std::vector<int> MessagelessPositions(const std::vector<int>& positions) {
  std::vector<int> chosen;
  for (size_t i = 0; i < positions.size(); i += 5) chosen.push_back(positions[i]);
  return chosen;
}

struct TraceLine {
  std::string call;
  std::string status;
  std::string unit;  // empty for a call outside any unit of work
};

std::vector<TraceLine> ReadTrace(const std::string& path) {
  std::vector<TraceLine> trace;
  if (!FileExists(path)) return trace;
  for (const std::string& line : Lines(ReadFile(path))) {
    std::istringstream fields(line);
    TraceLine t;
    fields >> t.call >> t.status >> t.unit;
    trace.push_back(t);
  }
  return trace;
}

// A call's place: the N-th call of its unit of work.
struct Position {
  std::string unit;
  int n = 0;
  bool whole_run = false;  // one session: every call is outside any unit, N counts them all
  // The run's fault plan.
  std::string Fault(bool with_message) const {
    return (whole_run ? "*#" : "*@" + unit + "#") + std::to_string(n) + "=" +
           std::to_string(kInjected) + (with_message ? "" : "/nomsg");
  }
  std::string Text() const { return (unit.empty() ? "" : unit + "#") + std::to_string(n); }
};

// The places of the calls of `trace` of a run with `sessions`, in its order.
std::vector<Position> PositionsOf(const std::vector<TraceLine>& trace, int sessions) {
  std::map<std::string, int> counts;
  std::vector<Position> positions;
  for (const TraceLine& t : trace) positions.push_back({t.unit, ++counts[t.unit], sessions == 1});
  return positions;
}

// The index in `trace` of the call at `position`; -1 when the trace has none there.
int IndexOf(const std::vector<TraceLine>& trace, const Position& position) {
  int seen = 0;
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].unit == position.unit && ++seen == position.n) return static_cast<int>(i);
  }
  return -1;
}

bool Succeeded(const std::vector<TraceLine>& trace, const std::string& call) {
  return std::any_of(trace.begin(), trace.end(),
                     [&](const TraceLine& t) { return t.call == call && t.status == "0"; });
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The trace's calls without the message fetches, which may follow any failure.
std::vector<std::string> CallsWithoutMessages(const std::vector<TraceLine>& trace) {
  std::vector<std::string> calls;
  for (const TraceLine& t : trace) {
    if (t.call != "EsbGetMessage") calls.push_back(t.call);
  }
  return calls;
}

// The lines of a dump file that do not report a verification; a failed verification call
// changes exactly those.
std::vector<std::string> WithoutValidityLines(const std::string& text) {
  std::vector<std::string> kept;
  for (const std::string& line : Lines(text)) {
    if (line.find("failed validity check") == std::string::npos) kept.push_back(line);
  }
  return kept;
}

// A restore creates a user and then, in a call of its own, sets the flag that makes the
// temporary password expire. A run that fails between the two leaves a user without the
// flag, which a second run (finding the user) does not set: the API offers no way to make
// the two one step. Other sessions finish those two calls even when another session's
// failure stops them, so only the failed call's own user can be left so. The users of the
// exported `state` that lack the flag a clean restore (`clean`) gives them.
std::vector<std::string> FlaglessUsers(const std::string& state, const std::string& clean) {
  const nlohmann::json doc = nlohmann::json::parse(state);
  const nlohmann::json reference = nlohmann::json::parse(clean);
  std::vector<std::string> flagless;
  for (const nlohmann::json& u : doc["users"]) {
    for (const nlohmann::json& r : reference["users"]) {
      if (r["name"] == u["name"] && r["password_expired"] == true &&
          u["password_expired"] == false) {
        flagless.push_back(u["name"]);
      }
    }
  }
  return flagless;
}

// The users of the exported `state` that the exported `pristine` state before the run lacks
// and that the run log `log` does not name as created with their temporary password: a user
// the failed run created, on any of its sessions, must be there, or no one learns its
// password.
std::vector<std::string> CreatedButNotLogged(const std::string& state, const std::string& pristine,
                                             const std::string& log) {
  const nlohmann::json doc = nlohmann::json::parse(state);
  const nlohmann::json before = nlohmann::json::parse(pristine);
  std::vector<std::string> missing;
  for (const nlohmann::json& u : doc["users"]) {
    const std::string name = u["name"];
    bool existed = false;
    for (const nlohmann::json& b : before["users"]) existed = existed || b["name"] == name;
    if (!existed &&
        log.find("\tCreated user '" + name + "' with temporary password '") == std::string::npos) {
      missing.push_back(name);
    }
  }
  return missing;
}

// `state` with the password-expired flag of `users` taken from `clean`.
std::string WithCleanFlag(const std::string& state, const std::string& clean,
                          const std::vector<std::string>& users) {
  nlohmann::json doc = nlohmann::json::parse(state);
  const nlohmann::json reference = nlohmann::json::parse(clean);
  for (nlohmann::json& u : doc["users"]) {
    if (std::find(users.begin(), users.end(), u["name"]) == users.end()) continue;
    for (const nlohmann::json& r : reference["users"]) {
      if (r["name"] == u["name"]) u["password_expired"] = r["password_expired"];
    }
  }
  return doc.dump(1);
}

// The first line where two exported states differ, for the failure message.
std::string FirstDifference(const std::string& a, const std::string& b) {
  const std::vector<std::string> la = Lines(a), lb = Lines(b);
  for (size_t i = 0; i < std::max(la.size(), lb.size()); ++i) {
    const std::string x = i < la.size() ? la[i] : "(end)", y = i < lb.size() ? lb[i] : "(end)";
    if (x != y) return "  line " + std::to_string(i + 1) + ": " + x + "\n  clean:   " + y;
  }
  return "  (no difference)";
}

// One worker's world: its own sandbox (own cubesec copy and run log), with the demo server
// and its empty copy, and the clean dump of the demo server.
class World {
 public:
  World(const std::string& pristine_folder, const std::string& clean_dump)
      : pristine_(pristine_folder) {
    WriteFile(box_.Path("source.txt"), clean_dump);
  }
  Sandbox& box() { return box_; }
  std::string Trace() const { return box_.Path("trace.txt"); }

  void RestoreServer(const std::string& name) {
    proof::CopyServer(pristine_, box_.sim_dir(), name);
  }

  // Runs cubesec with `args`, failing the call at `position` (none when null), with or
  // without a message.
  RunResult Run(const std::vector<std::string>& args, const Position* position, bool answer_yes,
                bool with_message = true) {
    fs::remove(box_.LogPath());
    fs::remove(Trace());
    RunOptions options = box_.Options();
    options.env["CUBESEC_SIM_TRACE"] = Trace();
    if (position) options.env["CUBESEC_SIM_FAULTS"] = position->Fault(with_message);
    options.merge_error = true;
    // Wine's console reads no answer from a pseudo-terminal: there the reset is confirmed on
    // the command line instead.
    std::vector<std::string> all_args = args;
    if (answer_yes && TestingWindowsPrograms()) {
      all_args.push_back("--yes");
    } else {
      options.stdin_terminal = answer_yes;
      options.stdin_text = answer_yes ? "y\n" : "";
    }
    return RunProgram(box_.cubesec(), all_args, options);
  }

 private:
  std::string pristine_;
  Sandbox box_;
};

enum class Command { kDump, kRestore, kReset };

// The last line of a reset that passed over failed deletions.
const std::regex kIncompleteReset(
    "[-0-9]+ [:0-9]+\tSecurity reset of .* incomplete: ([0-9]+) failure\\(s\\), each logged as "
    "NOT deleted above");

struct CleanRun {
  std::vector<Position> positions;  // of every call, in the trace's order
  std::string dump;                 // the dump file a clean dump writes
  std::string final;                // the server's exported state after a clean restore or reset
};

// Runs with the number of sessions of the parameter.
class FaultSweep : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    master_.LoadFixture("demo", "examples/demo-server.json");
    master_.LoadFixtureText("target", proof::EmptyCopy(master_.Export("demo"), kAdmin, kPassword));
    target_before_ = master_.Export("target");
    RunResult dump = master_.Cubesec({"/D" + master_.Path("demo.txt"), "/Sdemo",
                                      std::string("/U") + kAdmin, std::string("/P") + kPassword});
    ASSERT_EQ(dump.exit_code, 0) << dump.err;
    clean_dump_ = ReadFile(master_.Path("demo.txt"));
  }

  static std::vector<std::string> Args(Command command, const std::string& file) {
    std::string first = command == Command::kDump      ? "/D" + file
                        : command == Command::kRestore ? "/R" + file
                                                       : "/C" + file;
    const std::string server = command == Command::kRestore ? "target" : "demo";
    std::vector<std::string> args = {first, "/S" + server, std::string("/U") + kAdmin,
                                     std::string("/P") + kPassword};
    if (command != Command::kReset) {
      args.push_back("--sessions");
      args.push_back(std::to_string(GetParam()));
    }
    return args;
  }
  static std::string ServerOf(Command command) {
    return command == Command::kRestore ? "target" : "demo";
  }

  // Seeds the dump file and its five backups with texts that tell them apart.
  static void SeedBackups(World& world) {
    for (int i = 0; i <= kBackups; ++i) {
      WriteFile(world.box().Path(BackupFile(i)), "generation " + std::to_string(i) + "\r\n");
    }
    fs::remove(world.box().Path(kIncomplete));
  }
  static constexpr const char* kIncomplete = "dump.incomplete.txt";
  static std::string BackupFile(int i) {
    return i == 0 ? "dump.txt" : i == 1 ? "dump.bak.txt" : "dump.bak" + std::to_string(i) + ".txt";
  }

  CleanRun Clean(World& world, Command command) {
    CleanRun clean;
    world.RestoreServer(ServerOf(command));
    if (command == Command::kDump) SeedBackups(world);
    const std::string file =
        world.box().Path(command == Command::kDump ? "dump.txt" : "source.txt");
    RunResult run = world.Run(Args(command, file), nullptr, command == Command::kReset);
    EXPECT_EQ(run.exit_code, 0) << run.out;
    clean.positions = PositionsOf(ReadTrace(world.Trace()), GetParam());
    if (command == Command::kDump) clean.dump = ReadFile(file);
    if (command != Command::kDump) {
      clean.final = proof::Canonical(world.box().Export(ServerOf(command)));
    }
    return clean;
  }

  // Everything wrong with the run that failed the call at `position`; empty when it ended as
  // it must. `exit_code` receives the run's exit status.
  std::vector<std::string> Check(World& world, Command command, const CleanRun& clean,
                                 const Position& position, bool with_message, int* exit_code) {
    std::vector<std::string> faults;
    auto fault = [&](const std::string& what) {
      faults.push_back("position " + position.Text() + (with_message ? "" : " (no message)") +
                       ": " + what);
    };
    world.RestoreServer(ServerOf(command));
    if (command == Command::kDump) SeedBackups(world);
    const std::string file =
        world.box().Path(command == Command::kDump ? "dump.txt" : "source.txt");
    const std::vector<std::string> args = Args(command, file);
    const RunResult run = world.Run(args, &position, command == Command::kReset, with_message);
    *exit_code = run.exit_code;
    const std::vector<TraceLine> trace = ReadTrace(world.Trace());
    const std::string log = world.box().Log();

    if (run.timed_out) fault("the run hung");
    if (run.signal != 0) fault("the run crashed with signal " + std::to_string(run.signal));
    if (run.exit_code != 0 && run.exit_code != 1) {
      fault("exit status " + std::to_string(run.exit_code) + ": " + run.out);
    }
    const int failed = IndexOf(trace, position);
    if (failed < 0 || trace[failed].status != std::to_string(kInjected)) {
      fault("the planned call did not fail");
      return faults;
    }

    // The client is always released: logout after a login, the end after a start.
    const std::vector<std::string> calls = CallsWithoutMessages(trace);
    if (Succeeded(trace, "EsbInit") && (calls.empty() || calls.back() != "EsbTerm")) {
      fault("the trace does not end with EsbTerm");
    }
    if (Succeeded(trace, "EsbLogin") &&
        (calls.size() < 2 || calls[calls.size() - 2] != "EsbLogout")) {
      fault("the trace does not end with EsbLogout and EsbTerm");
    }

    const std::vector<std::string> log_lines = Lines(log);
    std::smatch incomplete;
    if (run.exit_code == 1 && command == Command::kReset && log_lines.size() >= 2 &&
        std::regex_match(log_lines[log_lines.size() - 2], incomplete, kIncompleteReset)) {
      // A reset that passed over failed deletions ends with their number, which must be that
      // of its NOT deleted lines, then the empty line.
      const auto not_deleted = std::count_if(log_lines.begin(), log_lines.end(), [](auto& line) {
        return line.find(" NOT deleted (ref=") != std::string::npos;
      });
      if (incomplete[1] != std::to_string(not_deleted) || !log_lines.back().empty()) {
        fault("an incomplete reset's last line does not count its failures: " + log);
      }
    } else if (run.exit_code == 1) {
      // The error is the run log's last entry: "\tError: N - DESCRIPTION", where a failed
      // call's description is "Essbase Error calling NAME (ref=STATUS)" and its message text
      // on the lines after it.
      const size_t error_at = log.rfind("\tError: ");
      if (error_at == std::string::npos) {
        fault("a failed run without an error line in the run log: " + log);
      } else if (!EndsWith(log, "\r\n\r\n")) {
        fault("the failed run's last line is not followed by the empty line: " +
              log.substr(error_at));
      } else {
        std::vector<std::string> entry = Lines(log.substr(error_at));
        entry.pop_back();  // the empty line that closes every run
        for (size_t i = 1; i < entry.size(); ++i) {
          if (!entry[i].empty() && (entry[i][0] == '\t' || std::isdigit(entry[i][0]))) {
            fault("log lines follow the error line: " + log.substr(error_at));
            break;
          }
        }
        const std::string injected = "(ref=" + std::to_string(kInjected) + ")";
        const std::string text = with_message ? "Injected fault" : "";
        if (entry[0].find(injected) != std::string::npos &&
            (entry.size() > 2 || (entry.size() == 2 ? entry[1] : "") != text)) {
          fault("the error line is not followed by the message text alone: " +
                log.substr(error_at));
        }
      }
    } else if (run.exit_code == 0) {
      if (log.find("\tError: ") != std::string::npos) fault("a completed run logged an error");
      if (!log.empty() && !EndsWith(log, "\r\n\r\n")) {
        fault("the completed run's last line is not followed by the empty line");
      }
      if (log_lines.size() < 2 ||
          log_lines[log_lines.size() - 2].find("Completed security") == std::string::npos) {
        fault("a completed run without its completion line");
      }
    }

    if (command == Command::kDump) CheckDump(world, clean, run, fault);
    if (command != Command::kDump) {
      std::vector<std::string> flagless;
      if (command == Command::kRestore) {
        const std::string state = world.box().Export(ServerOf(command));
        flagless = FlaglessUsers(state, clean.final);
        if (flagless.size() > 1) {
          fault("more than one user was left without the expired-password flag: " + flagless[0] +
                ", " + flagless[1]);
        }
        for (const std::string& user : CreatedButNotLogged(state, target_before_, log)) {
          fault("the failed run created user '" + user + "' without logging its password");
        }
      }
      // Once more without the fault: the server ends as after a clean run.
      const RunResult again = world.Run(args, nullptr, command == Command::kReset);
      if (again.exit_code != 0) {
        fault("the run again without the fault failed: " + world.box().Log());
      } else {
        std::string final = proof::Canonical(world.box().Export(ServerOf(command)));
        if (!flagless.empty()) {
          ++flag_window_;
          final = WithCleanFlag(final, clean.final, flagless);
        }
        if (final != clean.final) {
          fault("the run again without the fault ends in another state than a clean run:\n" +
                FirstDifference(final, clean.final));
        }
      }
    }
    return faults;
  }

  // A completed dump rotates the backups by one generation and is the clean dump; a failed
  // one leaves the dump file and its backups as they were and keeps what it wrote as the
  // incomplete file, a line-by-line prefix of the clean dump that the check refuses.
  template <typename Fault>
  void CheckDump(World& world, const CleanRun& clean, const RunResult& run, Fault& fault) {
    std::vector<std::string> backups;
    for (int i = 0; i <= kBackups; ++i) {
      const std::string path = world.box().Path(BackupFile(i));
      backups.push_back(FileExists(path) ? ReadFile(path) : "(missing)");
    }
    bool rotated = true, untouched = true;
    for (int i = 1; i <= kBackups; ++i) {
      rotated = rotated && backups[i] == "generation " + std::to_string(i - 1) + "\r\n";
      untouched = untouched && backups[i] == "generation " + std::to_string(i) + "\r\n";
    }
    untouched = untouched && backups[0] == "generation 0\r\n";
    for (const fs::directory_entry& entry : fs::directory_iterator(world.box().dir().path())) {
      if (entry.path().extension() == ".tmp") fault("a temporary file was left behind");
    }
    const std::string incomplete = world.box().Path(kIncomplete);
    if (run.exit_code == 0) {
      if (!rotated) fault("a completed dump did not rotate the backups by one generation");
      if (WithoutValidityLines(backups[0]) != WithoutValidityLines(clean.dump)) {
        fault("a completed dump differs from the clean one");
      }
      if (FileExists(incomplete)) fault("a completed dump left an incomplete file");
      return;
    }
    if (!untouched) fault("a failed dump changed the dump file or its backups");
    // A run that failed before the dump began (the client's start, the login) wrote nothing.
    if (!FileExists(incomplete)) {
      if (world.box().Log().find("Creating security dump") != std::string::npos) {
        fault("a failed dump kept no incomplete file");
      }
      return;
    }
    const std::string written = ReadFile(incomplete);
    if (clean.dump.compare(0, written.size(), written) != 0 ||
        (!written.empty() && !EndsWith(written, "\r\n"))) {
      fault("the incomplete dump file is not a line-by-line prefix of the clean one");
    }
    if (world.box().Log().find("kept as '" + incomplete + "'") == std::string::npos) {
      fault("the run log does not name the incomplete file");
    }
    const RunResult check = world.box().Cubesec({"--check", incomplete});
    if (check.exit_code != 1) fault("the check passes an incomplete dump: " + check.out);
  }

  void Sweep(Command command, const char* what) {
    // Each worker has a sandbox of its own, so runs do not share a log, a trace or a server.
    const unsigned workers = std::max(2u, std::min(4u, std::thread::hardware_concurrency()));
    std::vector<std::unique_ptr<World>> worlds;
    for (unsigned i = 0; i < workers; ++i) {
      worlds.push_back(std::make_unique<World>(master_.sim_dir(), clean_dump_));
    }
    const CleanRun clean = Clean(*worlds[0], command);
    const int calls = static_cast<int>(clean.positions.size());
    ASSERT_GT(calls, 10) << "the clean " << what << " made almost no calls";
    const std::vector<int> positions = Positions(calls);

    std::mutex mutex;
    std::vector<std::string> faults;
    std::map<int, int> exit_codes;  // by position, of the failures with a message
    // Runs Check at each of `tried` on the workers.
    auto sweep = [&](const std::vector<int>& tried, bool with_message) {
      std::atomic<size_t> next{0};
      std::vector<std::thread> threads;
      for (unsigned i = 0; i < workers; ++i) {
        threads.emplace_back([&, i] {
          for (size_t k = next++; k < tried.size(); k = next++) {
            int exit_code = -1;
            const Position& position = clean.positions[tried[k] - 1];
            std::vector<std::string> found =
                Check(*worlds[i], command, clean, position, with_message, &exit_code);
            std::lock_guard<std::mutex> lock(mutex);
            if (with_message) {
              exit_codes[tried[k]] = exit_code;
            } else if (exit_code != exit_codes[tried[k]]) {
              found.push_back("position " + position.Text() + ": exit status " +
                              std::to_string(exit_code) + " without a message, " +
                              std::to_string(exit_codes[tried[k]]) + " with one");
            }
            faults.insert(faults.end(), found.begin(), found.end());
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
    };
    sweep(positions, true);
    const std::vector<int> messageless = MessagelessPositions(positions);
    sweep(messageless, false);

    std::cout << "[ sweep    ] " << what << " (" << GetParam() << " session"
              << (GetParam() > 1 ? "s" : "") << "): " << positions.size() << " of " << calls
              << " call positions tried, " << messageless.size() << " again without a message";
    if (flag_window_ > 0) {
      std::cout << " (" << flag_window_
                << " between a user's creation and its password-expired flag)";
    }
    std::cout << "\n";
    std::sort(faults.begin(), faults.end());
    std::string report;
    for (size_t i = 0; i < faults.size() && i < 25; ++i) report += faults[i] + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " faulty runs, the first:\n" << report;
  }

  Sandbox master_;
  std::string clean_dump_;
  // The target exported before any restore.
  std::string target_before_;
  std::atomic<int> flag_window_{0};  // restore positions between a creation and its flag
};

TEST_P(FaultSweep, DumpEndsCleanlyWhereverACallFails) { Sweep(Command::kDump, "dump"); }

TEST_P(FaultSweep, RestoreEndsCleanlyAndCanBeRunAgainWhereverACallFails) {
  Sweep(Command::kRestore, "restore");
}

// A reset works in one session whatever the parameter: it runs once.
using ResetFaultSweep = FaultSweep;
TEST_P(ResetFaultSweep, ResetEndsCleanlyAndCanBeRunAgainWhereverACallFails) {
  Sweep(Command::kReset, "reset");
}

INSTANTIATE_TEST_SUITE_P(Sessions, FaultSweep, ::testing::Values(1, 4, 8),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::to_string(info.param) + "Sessions";
                         });
INSTANTIATE_TEST_SUITE_P(OneSession, ResetFaultSweep, ::testing::Values(1));

}  // namespace
}  // namespace cubesec::e2e
