#include "sim/password_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace cubesec::sim {
namespace {

std::string Hex(const std::array<uint8_t, 32>& digest) {
  std::string out;
  char buffer[3];
  for (uint8_t byte : digest) {
    std::snprintf(buffer, sizeof buffer, "%02x", byte);
    out += buffer;
  }
  return out;
}

TEST(PasswordHashTest, Sha256MatchesTheStandardVectors) {
  EXPECT_EQ(Hex(Sha256("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Hex(Sha256("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first padded block.
  EXPECT_EQ(Hex(Sha256("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Hex(Sha256(std::string(1000000, 'a'))),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(PasswordHashTest, OnlyTheSamePasswordMatches) {
  std::string stored = HashPassword("s3cret");
  EXPECT_EQ(stored.find("s3cret"), std::string::npos);
  EXPECT_TRUE(PasswordMatches("s3cret", stored));
  EXPECT_FALSE(PasswordMatches("S3cret", stored));
  EXPECT_FALSE(PasswordMatches("s3cret ", stored));
  EXPECT_FALSE(PasswordMatches("", stored));
  EXPECT_NE(HashPassword("s3cret"), stored);  // a fresh salt each time
  EXPECT_TRUE(PasswordMatches("", HashPassword("")));
  EXPECT_FALSE(PasswordMatches("s3cret", "s3cret"));
  EXPECT_FALSE(PasswordMatches("x", "sha256:nocolon"));
}

}  // namespace
}  // namespace cubesec::sim
