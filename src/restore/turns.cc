#include "restore/turns.h"

namespace cubesec {

void Turns::Expect(const std::string& key, long unit) {
  std::lock_guard<std::mutex> lock(mutex_);
  expected_[key].insert(unit);
  keys_of_unit_[unit].insert(key);
}

void Turns::Await(const std::string& key, long unit) {
  if (unit < 0) return;
  std::unique_lock<std::mutex> lock(mutex_);
  settled_.wait(lock, [&] {
    auto expected = expected_.find(key);
    return expected == expected_.end() || expected->second.empty() ||
           *expected->second.begin() >= unit;
  });
}

void Turns::End(const std::string& key, long unit) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto keys = keys_of_unit_.find(unit);
    if (keys == keys_of_unit_.end() || keys->second.erase(key) == 0) return;
    Forget(key, unit);
  }
  settled_.notify_all();
}

void Turns::EndAll(long unit) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto keys = keys_of_unit_.find(unit);
    if (keys == keys_of_unit_.end()) return;
    for (const std::string& key : keys->second) Forget(key, unit);
    keys_of_unit_.erase(keys);
  }
  settled_.notify_all();
}

void Turns::Forget(const std::string& key, long unit) {
  auto expected = expected_.find(key);
  if (expected == expected_.end()) return;
  expected->second.erase(unit);
  if (expected->second.empty()) expected_.erase(expected);
}

}  // namespace cubesec
