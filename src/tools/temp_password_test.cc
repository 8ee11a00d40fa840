#include "tools/temp_password.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <stdexcept>

#include "tools/fake_platform.h"

namespace cubesec {
namespace {

bool AllLettersAndDigits(const std::string& text) {
  for (unsigned char c : text) {
    if (!std::isalnum(c)) return false;
  }
  return true;
}

TEST(MakeTempPassword, LengthFollowsTheServersMinimum) {
  FakePlatform platform;
  for (int min_length : {-3, 0, 8, 16, 17, 40}) {
    std::string password = MakeTempPassword(platform, min_length);
    EXPECT_EQ(password.size(), static_cast<size_t>(std::max(16, min_length))) << min_length;
    EXPECT_EQ(password.substr(0, 2), "TP");
    EXPECT_TRUE(AllLettersAndDigits(password)) << password;
  }
}

TEST(MakeTempPassword, BytesThatWouldBiasTheLettersAreDropped) {
  // 62 letters and digits: bytes 248..255 would favour the first eight, so they are skipped.
  // Without skipping, the sequence 246, 247, 248, ... would repeat "ABCDEFGH" after "89".
  FakePlatform platform;
  platform.next_random = 246;
  EXPECT_EQ(MakeTempPassword(platform, 16), "TP89ABCDEFGHIJKL");
}

TEST(MakeTempPassword, NoRandomSourceIsAnError) {
  FakePlatform platform;
  platform.random_available = false;
  EXPECT_THROW(MakeTempPassword(platform, 16), std::runtime_error);
}

TEST(MakeTempPassword, SystemPasswordsDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) seen.insert(MakeTempPassword(SystemPlatform(), 16));
  EXPECT_EQ(seen.size(), 50u);
}

}  // namespace
}  // namespace cubesec
