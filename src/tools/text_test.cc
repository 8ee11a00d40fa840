#include "tools/text.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace cubesec {
namespace {

TEST(FormatMsg, FillsPositionalValuesInOrder) {
  EXPECT_EQ(FormatMsg("%1 of %2", {std::string("a"), std::string("b")}), "a of b");
  EXPECT_EQ(FormatMsg("%2%1%2", {std::string("x"), std::string("y")}), "yxy");
  EXPECT_EQ(FormatMsg("[%1]", {std::string()}), "[]");
}

TEST(FormatMsg, NamedValueLeavesTheCounterForTheNextPositional) {
  EXPECT_EQ(FormatMsg("%1 is WHO", {NamedValue{"who", "me"}, std::string("x")}), "x is me");
}

TEST(FormatMsg, ReplacementsAreNeverReadAgain) {
  EXPECT_EQ(FormatMsg("%1 %2", {std::string("%2"), std::string("b")}), "%2 b");
  EXPECT_EQ(FormatMsg("%1 x", {std::string("x"), NamedValue{"x", "y"}}), "x y");
  // A positional value holding "=" is a text, not a name.
  EXPECT_EQ(FormatMsg("%1/%2", {std::string("who=me"), std::string("b")}), "who=me/b");
  EXPECT_EQ(FormatMsg("who", {NamedValue{"who", "a=b"}}), "a=b");
}

TEST(FormatMsg, NumberedPlaceholdersTakeTheWholeRunOfDigits) {
  // "%12" with two values is not "%1" followed by "2".
  EXPECT_EQ(FormatMsg("%12 %1 %3", {std::string("a"), std::string("b")}), "%12 a %3");
  std::vector<MsgValue> twelve;
  // Appended rather than "v" + to_string(i): GCC 12 at -O3 reports a false -Wrestrict there.
  for (int i = 1; i <= 12; ++i) twelve.emplace_back(std::string("v").append(std::to_string(i)));
  EXPECT_EQ(FormatMsg("%12,%1,%10", twelve), "v12,v1,v10");
  EXPECT_EQ(FormatMsg("100% %", {std::string("a")}), "100% %");
  EXPECT_EQ(FormatMsg("%99999999999999999999999", {std::string("a")}), "%99999999999999999999999");
}

TEST(FormatMsg, EarliestListedNamedValueWinsAtAPosition) {
  EXPECT_EQ(FormatMsg("abc", {NamedValue{"ab", "1"}, NamedValue{"abc", "2"}}), "1c");
  EXPECT_EQ(FormatMsg("abc", {NamedValue{"abc", "2"}, NamedValue{"ab", "1"}}), "2");
  EXPECT_EQ(FormatMsg("a", {NamedValue{"", "never"}}), "a");
}

TEST(TrimAndCutAtNul, TrimSpacesOnlyAndStopAtTheFirstNul) {
  EXPECT_EQ(Trim("  a b  "), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\tx\t"), "\tx\t");
  const std::string_view line = "   key :  ";
  EXPECT_EQ(TrimView(line), "key :");
  EXPECT_EQ(TrimView(line).data(), line.data() + 3);  // a view into the text, no copy
  EXPECT_EQ(TrimView(" "), "");
  EXPECT_EQ(TrimView("x"), "x");
  EXPECT_EQ(CutAtNul(std::string_view(" ab \0 zz", 8)), "ab");
  EXPECT_EQ(CutAtNul(std::string_view("\0abc", 4)), "");
  char full[5] = {' ', 'a', 'b', 'c', ' '};  // a buffer without NUL is trimmed whole
  EXPECT_EQ(CutAtNul(full), "abc");
}

TEST(ParseFlag, WordsNumbersAndJunk) {
  EXPECT_EQ(ParseFlag("yes"), 1);
  EXPECT_EQ(ParseFlag("TRUE"), 1);
  EXPECT_EQ(ParseFlag("No"), 0);
  EXPECT_EQ(ParseFlag("false"), 0);
  EXPECT_EQ(ParseFlag("3"), 3);
  EXPECT_EQ(ParseFlag("abc"), 0);
  EXPECT_EQ(ParseFlag(""), 0);
  EXPECT_EQ(ParseFlag(" TRUE"), 0);  // no trimming before the words
  EXPECT_EQ(ParseFlag("YESS"), 0);
  EXPECT_EQ(ParseFlag("-1"), -1);
  EXPECT_EQ(ParseFlag(" 7"), 7);
  EXPECT_EQ(ParseFlag("30 Days"), 30);
  EXPECT_EQ(ParseFlag("1e3"), 1000);
}

TEST(ParseFlag, RoundsHalfToEvenAndSaturates) {
  EXPECT_EQ(ParseFlag("2.5"), 2);
  EXPECT_EQ(ParseFlag("3.5"), 4);
  EXPECT_EQ(ParseFlag("-2.5"), -2);
  EXPECT_EQ(ParseFlag("2.51"), 3);
  EXPECT_EQ(ParseFlag("32767"), 32767);
  EXPECT_EQ(ParseFlag("40000"), 32767);
  EXPECT_EQ(ParseFlag("-40000"), -32768);
  EXPECT_EQ(ParseFlag("1e999"), 32767);
  EXPECT_EQ(ParseFlag(std::string(400, '9')), 32767);
  EXPECT_EQ(ParseFlag("-" + std::string(400, '9')), -32768);
  EXPECT_EQ(ParseFlag("1e-999"), 0);
}

TEST(LeadingNumber, TakesOnlyADecimalPrefix) {
  EXPECT_DOUBLE_EQ(LeadingNumber("+.5x"), 0.5);
  EXPECT_DOUBLE_EQ(LeadingNumber("\t 12.25 kg"), 12.25);
  EXPECT_DOUBLE_EQ(LeadingNumber("1e"), 1.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("1e+2"), 100.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("2E-1"), 0.2);
  EXPECT_DOUBLE_EQ(LeadingNumber("inf"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("nan"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("0x10"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("-"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("."), 0.0);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.5), 0.0);
  EXPECT_EQ(RoundHalfEven(1.5), 2.0);
  EXPECT_EQ(RoundHalfEven(-1.5), -2.0);
  EXPECT_EQ(RoundHalfEven(-0.5), 0.0);
  EXPECT_EQ(RoundHalfEven(2.4999), 2.0);
  EXPECT_EQ(RoundHalfEven(-2.6), -3.0);
}

TEST(NextToken, BlankSeparatedAndQuotedTokens) {
  std::string text = "  one two   three ";
  EXPECT_EQ(NextToken(text), "one");
  EXPECT_EQ(text, "two   three");
  EXPECT_EQ(NextToken(text), "two");
  EXPECT_EQ(NextToken(text), "three");
  EXPECT_EQ(text, "");
  EXPECT_EQ(NextToken(text), "");

  text = "\"a b\" c";
  EXPECT_EQ(NextToken(text), "a b");
  EXPECT_EQ(text, "c");

  text = "\"\"   x";
  EXPECT_EQ(NextToken(text), "");
  EXPECT_EQ(text, "x");

  text = " \"no end here";
  EXPECT_EQ(NextToken(text), "no end here");
  EXPECT_EQ(text, "");

  text = "ab\"cd ef";  // a quote inside a token is part of it
  EXPECT_EQ(NextToken(text), "ab\"cd");
  EXPECT_EQ(text, "ef");
}

TEST(CopyToField, CutsPadsAndAlwaysEndsWithNul) {
  char field[4];
  CopyToField("abcdef", field);
  EXPECT_EQ(std::string(field, 4), std::string("abc\0", 4));
  CopyToField("a", field, ' ');
  EXPECT_EQ(std::string(field, 4), std::string("a  \0", 4));
  CopyToField("", field);
  EXPECT_EQ(std::string(field, 4), std::string(4, '\0'));
}

TEST(TextHelpers, FindSplitReplace) {
  EXPECT_EQ(FindIgnoreCase("Read (CAN create users)", "(can Create"), 5u);
  EXPECT_EQ(FindIgnoreCase("abc", "abcd"), std::string::npos);
  EXPECT_EQ(FindIgnoreCase("abcabc", "ABC", 1), 3u);
  EXPECT_EQ(FindIgnoreCase("abc", "b", 9), std::string::npos);
  EXPECT_EQ(Split("a,,b", ","), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(Split("", ","), (std::vector<std::string>{""}));
  EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");  // one pass
  using Words = std::vector<std::string>;
  EXPECT_EQ(SplitWords("  vim\t-R  +1 "), (Words{"vim", "-R", "+1"}));
  EXPECT_EQ(SplitWords("\"/opt/My Editor/ed\" --title='run log' a\"b c\"d"),
            (Words{"/opt/My Editor/ed", "--title=run log", "ab cd"}));
  EXPECT_EQ(SplitWords("'' \"it's\" $HOME\\x"), (Words{"", "it's", "$HOME\\x"}));
  EXPECT_EQ(SplitWords("'unclosed quote"), (Words{"unclosed quote"}));
  EXPECT_EQ(SplitWords(" \t "), Words{});
}

// The forms worked out by the argv rules of the Windows C runtime: each reads back into
// exactly the argument it came from, whatever blanks, quotes or backslashes it holds.
TEST(QuoteWindowsArgument, QuotesSoThatTheArgvRulesGiveTheArgumentBack) {
  const struct {
    const char* argument;
    const char* quoted;
  } cases[] = {
      {R"(C:\Program Files\cubesec\cubesec.log)", R"("C:\Program Files\cubesec\cubesec.log")"},
      {"plain.log", R"("plain.log")"},
      {"", R"("")"},
      {R"(a"b)", R"("a\"b")"},
      {R"(a\"b)", R"("a\\\"b")"},
      {R"(C:\logs\)", R"("C:\logs\\")"},
      {"a & del x", R"("a & del x")"},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteWindowsArgument(c.argument), c.quoted) << c.argument;
}

TEST(RegistryDwordText, EightDigitsMostSignificantFirst) {
  EXPECT_EQ(RegistryDwordText(0x0001000A), "&h0001000A");
  EXPECT_EQ(RegistryDwordText(0), "&h00000000");
  EXPECT_EQ(RegistryDwordText(0xFFFFFFFF), "&hFFFFFFFF");
}

}  // namespace
}  // namespace cubesec
