#include "sim/password_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/fake_platform.h"

namespace cubesec::sim {
namespace {

// What a server written before passwords had an iteration count kept for "old-password".
constexpr const char* kOlderValue =
    "sha256:c3b61a519b6cb6506a68a537:"
    "8c730de9e05cc5019d09c6653e4bdd4151ac28cb8d1c6e9214faae08a905d320";

TEST(PasswordHashTest, OnlyTheSamePasswordMatches) {
  Platform& platform = SystemPlatform();
  std::string stored = HashPassword(platform, "s3cret", kDefaultPasswordIterations).value();
  EXPECT_EQ(stored.find("s3cret"), std::string::npos);
  EXPECT_TRUE(PasswordMatches(platform, "s3cret", stored));
  EXPECT_FALSE(PasswordMatches(platform, "S3cret", stored));
  EXPECT_FALSE(PasswordMatches(platform, "s3cret ", stored));
  EXPECT_FALSE(PasswordMatches(platform, "", stored));
  EXPECT_NE(HashPassword(platform, "s3cret", kDefaultPasswordIterations), stored);  // fresh salt
  EXPECT_TRUE(PasswordMatches(platform, "", HashPassword(platform, "", 1).value()));
}

// The value names algorithm, count, 16 bytes of salt from the platform's random source and
// the key, which is the published PBKDF2-HMAC-SHA256 key of the same inputs.
TEST(PasswordHashTest, TheValueHoldsCountSaltAndKey) {
  FakePlatform platform;
  EXPECT_EQ(
      HashPassword(platform, "pw", 4096).value(),
      HashPasswordWithSalt(platform, "pw",
                           "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10", 4096)
          .value());
  EXPECT_EQ(HashPasswordWithSalt(platform, "password", "salt", 4096).value(),
            "pbkdf2-sha256:4096:73616c74:"
            "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a");
  const std::string one_round = HashPassword(platform, "pw", 1).value();
  EXPECT_TRUE(one_round.starts_with("pbkdf2-sha256:1:1112131415161718191a1b1c1d1e1f20:"))
      << one_round;
  EXPECT_FALSE(HashPassword(platform, "pw", 0).has_value());
  EXPECT_FALSE(HashPassword(platform, "pw", kMaxPasswordIterations + 1).has_value());
  platform.random_available = false;
  EXPECT_FALSE(HashPassword(platform, "pw", 4096).has_value());
}

TEST(PasswordHashTest, AValueOfTheOlderFormStillMatchesAndAsksToBeKeptAnew) {
  Platform& platform = SystemPlatform();
  EXPECT_TRUE(PasswordMatches(platform, "old-password", kOlderValue));
  EXPECT_FALSE(PasswordMatches(platform, "old-Password", kOlderValue));
  EXPECT_FALSE(PasswordMatches(platform, "c3b61a519b6cb6506a68a537:old-password", kOlderValue));
  EXPECT_TRUE(NeedsNewHash(kOlderValue, kDefaultPasswordIterations));

  const std::string current = HashPassword(platform, "pw", 4096).value();
  EXPECT_FALSE(NeedsNewHash(current, 4096));
  EXPECT_TRUE(NeedsNewHash(current, 1000));  // the server's count changed
  // Another count is read from the value itself.
  EXPECT_TRUE(PasswordMatches(platform, "pw", HashPassword(platform, "pw", 7).value()));
}

TEST(PasswordHashTest, DamagedValuesMatchNothing) {
  Platform& platform = SystemPlatform();
  const std::string key = "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a";
  ASSERT_TRUE(PasswordMatches(platform, "password", "pbkdf2-sha256:4096:73616c74:" + key));
  for (const std::string& stored : {
           std::string("password"),
           std::string("sha256:nocolon"),
           std::string("sha256:salt:zz"),
           "pbkdf2-sha256:0:73616c74:" + key,
           "pbkdf2-sha256:4095:73616c74:" + key,
           "pbkdf2-sha256:+4096:73616c74:" + key,
           "pbkdf2-sha256:4096x:73616c74:" + key,
           "pbkdf2-sha256:99999999999:73616c74:" + key,
           "pbkdf2-sha256:4096::" + key,
           "pbkdf2-sha256:4096:73616c7:" + key,
           "pbkdf2-sha256:4096:73616c74:" + key.substr(2),
           "pbkdf2-sha256:4096:73616c74:" + key + "00",
           std::string("pbkdf2-sha256:4096:73616c74"),
           "PBKDF2-SHA256:4096:73616c74:" + key,
       }) {
    EXPECT_FALSE(PasswordMatches(platform, "password", stored)) << stored;
  }
}

}  // namespace
}  // namespace cubesec::sim
