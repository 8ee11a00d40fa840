#pragma once
// Sessions restoring parts of one file at once take turns wherever the order of their calls
// shows: in the order in which users are created, in the order of a group's members, and in
// what a name's application access becomes (a later database never lowers it). Before the
// sessions start, each unit of work (numbered in file order) announces the keys at which it
// may take a turn; a unit at a key waits for every earlier unit announced there, so the
// calls at each key come in the file's order, as in one session, while calls at other keys
// and all other calls run at once.

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace cubesec {

class Turns {
 public:
  /// Announces that unit `unit` may take a turn at `key`.
  void Expect(const std::string& key, long unit);
  /// Waits until no unit before `unit` is still announced at `key`. A unit of a restore of
  /// one session (negative) never waits.
  void Await(const std::string& key, long unit);
  /// Unit `unit` is done at `key`, or will not come to it: later units may go on.
  void End(const std::string& key, long unit);
  /// Unit `unit` has ended, however: it takes no more turns anywhere.
  void EndAll(long unit);

 private:
  // Under mutex_: `unit` is no longer announced at `key`.
  void Forget(const std::string& key, long unit);

  std::mutex mutex_;
  std::condition_variable settled_;
  std::map<std::string, std::set<long>> expected_;  // the units still announced at each key
  std::map<long, std::set<std::string>> keys_of_unit_;
};

}  // namespace cubesec
