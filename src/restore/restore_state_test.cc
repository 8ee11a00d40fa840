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

// Sessions restoring databases of one application at once: each key is sent only while no
// other session sends it, never lower than what was set, and a failed send sets nothing.
TEST(ApplicationAccess, IsNeverLoweredAndOneKeyIsSentByOneSessionAtATime) {
  RestoreFileState file;
  std::atomic<int> sending{0}, overlaps{0};
  std::vector<uint16_t> sent;
  std::mutex sent_mutex;
  auto send = [&](uint16_t wanted, EsbStatus status) {
    return [&, wanted, status] {
      if (sending++ != 0) ++overlaps;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      {
        std::lock_guard<std::mutex> lock(sent_mutex);
        sent.push_back(wanted);
      }
      --sending;
      return status;
    };
  };
  EXPECT_EQ(file.RaiseApplicationAccess("app\tann", 0x0100, send(0x0100, 1051012)), 1051012);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    const uint16_t wanted = i % 2 ? 0x0200 : 0x0100;
    threads.emplace_back([&, wanted] {
      EXPECT_EQ(file.RaiseApplicationAccess("app\tann", wanted, send(wanted, 0)), 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overlaps, 0);
  // After the failed send, each send raised the access; once 0x0200 is set nothing follows.
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent.back(), 0x0200);
  for (size_t i = 2; i < sent.size(); ++i) EXPECT_GT(sent[i], sent[i - 1]);
  EXPECT_LE(sent.size(), 3u);
  // Another name of the application is a key of its own.
  sent.clear();
  EXPECT_EQ(file.RaiseApplicationAccess("app\tbob", 0x0100, send(0x0100, 0)), 0);
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
