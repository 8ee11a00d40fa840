#pragma once
// The published vectors of SHA-256 (FIPS 180-2) and PBKDF2-HMAC-SHA256 (RFC 7914 section 11
// and the SHA-256 counterparts of RFC 6070's cases), checked through a platform's door, so
// that each platform's library is proved with the same cases.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "tools/platform.h"

namespace cubesec::testing {

inline std::string Hex(const std::vector<unsigned char>& bytes) {
  std::string out;
  char pair[3];
  for (unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    out += pair;
  }
  return out;
}

inline void CheckCryptoVectors(Platform& platform) {
  using namespace std::string_view_literals;
  struct Pbkdf2Case {
    std::string_view password, salt;
    uint32_t iterations;
    size_t size;
    const char* key;
  };
  const Pbkdf2Case pbkdf2_cases[] = {
      {"password", "salt", 1, 32,
       "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
      {"password", "salt", 2, 32,
       "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
      {"password", "salt", 4096, 32,
       "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
      // More than one block of output, and inputs longer than one block of the digest.
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 40,
       "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1c635518c7dac47e9"},
      // NUL bytes inside both: nothing may stop at them.
      {"pass\0word"sv, "sa\0lt"sv, 4096, 16, "89b69d0516f829893c696226650a8687"},
      // A password longer than the digest's block is digested first; one of just a block
      // is not (values of Python's hashlib).
      {std::string_view("ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp"
                        "assword"),
       "salt", 3, 48,
       "f2952ada3170c38b57de978c35282c266497eda85e57d0a9dbee5cc05f815caaeb11e33f53abe097115d7868"
       "2d72660e"},
      {std::string_view("kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk"), "salt",
       3, 32, "59e38449e5b5499366e8ef715d2cb11880bafafa02ff5699caa77948092dc60c"},
      {"passwd", "salt", 1, 64,
       "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
       "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783"},
  };
  for (const Pbkdf2Case& c : pbkdf2_cases) {
    std::vector<unsigned char> key(c.size);
    ASSERT_TRUE(platform.DerivePbkdf2Sha256(c.password, c.salt, c.iterations, key.data(), c.size))
        << c.password << " " << c.iterations;
    EXPECT_EQ(Hex(key), c.key) << c.password << " " << c.iterations;
  }
  std::vector<unsigned char> unused(32);
  EXPECT_FALSE(platform.DerivePbkdf2Sha256("password", "salt", 0, unused.data(), unused.size()));

  struct DigestCase {
    std::string data;
    const char* digest;
  };
  const DigestCase digest_cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first padded block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const DigestCase& c : digest_cases) {
    std::vector<unsigned char> digest(32);
    ASSERT_TRUE(platform.Sha256(c.data, digest.data())) << c.data.size() << " bytes";
    EXPECT_EQ(Hex(digest), c.digest) << c.data.size() << " bytes";
  }

  const unsigned char a[] = {1, 2, 3, 4}, b[] = {1, 2, 3, 4}, c[] = {1, 2, 3, 5},
                      d[] = {0, 2, 3, 4};
  EXPECT_TRUE(platform.EqualInConstantTime(a, b, sizeof a));
  EXPECT_FALSE(platform.EqualInConstantTime(a, c, sizeof a));
  EXPECT_FALSE(platform.EqualInConstantTime(a, d, sizeof a));
  EXPECT_TRUE(platform.EqualInConstantTime(a, c, 3));  // only the bytes asked about count
}

}  // namespace cubesec::testing
