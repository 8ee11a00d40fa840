#include "restore/restore_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace cubesec {
namespace {

TEST(FilterKey, NamesCompareWithoutRegardToCase) {
  EXPECT_EQ(RestoreState::FilterKey("Sample", "Basic", "ReadEast"), "sample\tbasic\treadeast");
  EXPECT_EQ(RestoreState::FilterKey("SAMPLE", "basic", "READEAST"),
            RestoreState::FilterKey("Sample", "Basic", "ReadEast"));
  // The separator keeps names apart that would run together.
  EXPECT_NE(RestoreState::FilterKey("ab", "c", "d"), RestoreState::FilterKey("a", "bc", "d"));
}

// Sessions restoring databases of one application at once: each unit takes its turn at a key
// after the earlier units announced for it, so it decides and sends as in one session; a
// unit that ends without setting the key lets the later ones go; a failed send sets nothing.
TEST(ApplicationAccess, IsNeverLoweredAndUnitsTakeTheirTurnsInFileOrder) {
  RestoreFileState file;
  const std::string key = RestoreState::NameKey("App", "Ann");
  std::atomic<int> sending{0}, overlaps{0};
  std::vector<std::pair<long, uint16_t>> sent;
  std::mutex sent_mutex;
  auto send = [&](long unit, uint16_t wanted, EsbStatus status) {
    return [&, unit, wanted, status] {
      if (sending++ != 0) ++overlaps;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      {
        std::lock_guard<std::mutex> lock(sent_mutex);
        sent.emplace_back(unit, wanted);
      }
      --sending;
      return status;
    };
  };
  // Unit 1 fails, unit 2 never reaches the call, units 3 to 8 want Read and Design in turn.
  for (long unit = 1; unit <= 8; ++unit) file.turns.Expect(ApplicationAccessTurn(key), unit);
  std::vector<std::thread> threads;
  for (long unit = 8; unit >= 1; --unit) {
    threads.emplace_back([&, unit] {
      if (unit == 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        file.turns.EndAll(unit);
        return;
      }
      const uint16_t wanted = unit % 2 ? 0x0100 : 0x0200;
      const EsbStatus status = unit == 1 ? 1051012 : 0;
      EXPECT_EQ(file.RaiseApplicationAccess(key, wanted, send(unit, wanted, status), unit), status);
      file.turns.EndAll(unit);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps, 0);
  EXPECT_EQ(sent, (std::vector<std::pair<long, uint16_t>>{{1, 0x0100}, {3, 0x0100}, {4, 0x0200}}));
  // Another name of the application is a key of its own; a restore of one session announces
  // nothing and takes no turns.
  sent.clear();
  EXPECT_EQ(
      file.RaiseApplicationAccess(RestoreState::NameKey("App", "Bob"), 0x0100, send(-1, 0x0100, 0)),
      0);
  EXPECT_EQ(sent.size(), 1u);
}

TEST(HeadNames, AnOlderFilesGroupAndUserHeadLinesAreNoted) {
  RestoreFileState file;
  file.NoteHeadLine("Group: grp, with comma");
  file.NoteHeadLine("User: o'brien, pat * Inactive *");
  file.NoteHeadLine("Filter: f, g");
  file.NoteHeadLine("   Groups: a, b, c");
  EXPECT_EQ(file.head_names, (std::set<std::string>{"grp, with comma", "o'brien, pat"}));
  EXPECT_EQ(file.head_name_most_commas, 1u);
}

}  // namespace
}  // namespace cubesec
