#include "sim/names.h"

#include <gtest/gtest.h>

namespace cubesec::sim {
namespace {

TEST(NamesTest, TextsAreCutAtACharacterBoundary) {
  const std::string mixed = "a\u00fc\u20ac\U0001F600b";  // 1, 2, 3, 4 and 1 bytes
  struct Case {
    size_t characters, bytes;
    std::string expected;
  };
  const Case cases[] = {
      {10, 100, mixed},   {2, 100, "a\u00fc"},      {0, 100, ""},
      {10, 2, "a"},  // the second character would be cut in two
      {10, 3, "a\u00fc"}, {10, 9, "a\u00fc\u20ac"}, {10, 10, "a\u00fc\u20ac\U0001F600"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.characters) + " characters, " + std::to_string(c.bytes));
    EXPECT_EQ(CutToCharacters(mixed, c.characters, c.bytes), c.expected);
  }
  EXPECT_EQ(CharacterCount(mixed), 5u);
  EXPECT_EQ(CutToCharacters("\x80\x80z", 1, 10), "\x80\x80");  // stray bytes stay together

  char field[6];
  CopyToField(field, "ab\u20acd");  // 6 bytes: the last would take the NUL's place
  EXPECT_EQ(std::string(field), "ab\u20ac");
  CopyToField(field, "abc\u20ac");
  EXPECT_EQ(std::string(field), "abc");
}

}  // namespace
}  // namespace cubesec::sim
