#include "restore/dump_check.h"

#include <gmock/gmock.h>

#include "client/dump_format.h"
#include "restore/name_lists.h"
#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;

TEST(CheckDumpFile, ASoundFileHasNoProblemsAndAMissingEmptyLineIsAWarning) {
  const std::string sound =
      "\xEF\xBB\xBFServer: s\r\n   Validity: 2.5\r\n   MinLength: 8 Characters\r\n\r\n"
      "User: u * Account Disabled *\r\n   Access: Read (Can Create Users)\r\n"
      "   * Account Disabled *\r\n\r\nFilter: f\r\n   Active: yes\r\n   Default Access: None\r\n"
      "   Meta (Can Create Users): \"East\"\r\n   2: \"West\"\r\n   None: \r\n"
      "   *** Filter row 1 failed validity check (ref=5)\r\n"
      "   * Filter is not used by any users/groups *\r\nUser Access: u\r\n   Access: Calc\r\n"
      "   Calcs: Alloc,Q1, CalcAll\r\n";
  const std::vector<DumpProblem> problems = CheckDumpFile(sound);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].warning);
  EXPECT_EQ(problems[0].line, 17);
  EXPECT_EQ(DescribeProblem(problems[0]),
            "Line 17: \"User Access: u\": warning: no empty line before this head line");
  EXPECT_EQ(ErrorCount(problems), 0u);
  EXPECT_EQ(ProblemCounts(problems), "1 warning");
}

TEST(CheckDumpFile, ProblemsComeInLineOrderAndLongLinesAreCutWhenShown) {
  const std::string text = "Group: g\r\n   Access: " + std::string(200, 'x') +
                           "\r\n   Users: a\r\n\r\n   Access: Read\r\n";
  const std::vector<DumpProblem> problems = CheckDumpFile(text);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0].line, 2);
  EXPECT_EQ(problems[1].line, 5);
  EXPECT_EQ(DescribeProblem(problems[0]).find("Line 2: \"   Access: xxx"), 0u);
  EXPECT_NE(DescribeProblem(problems[0]).find("...\": \"xxx"), std::string::npos);
  EXPECT_EQ(ProblemCounts(problems), "2 errors");

  // The cut falls after 100 characters as shown; a control character shows as four.
  struct Cut {
    std::string line;
    std::string shown;
  };
  const std::string x99(99, 'x');
  const std::vector<Cut> cuts = {
      {std::string(100, 'x'), std::string(100, 'x')},
      {std::string(101, 'x'), std::string(100, 'x') + "..."},
      {x99 + "\x01", x99 + "\\..."},
      {"\x01" + x99, "\\x01" + std::string(96, 'x') + "..."},
      {std::string(100, '\x7F'), ([] {
         std::string shown;
         for (int i = 0; i < 25; ++i) shown += "\\x7F";
         return shown + "...";
       })()},
  };
  for (const Cut& cut : cuts) {
    EXPECT_EQ(DescribeProblem({3, cut.line, "m", false}), "Line 3: \"" + cut.shown + "\": m");
  }

  // A line the block lacks is known only at the block's end, but is reported at its head.
  const std::vector<DumpProblem> lacking =
      CheckDumpFile("Filter: F\r\n   Actve: Yes\r\n   Default Access: None\r\n\r\n");
  ASSERT_GE(lacking.size(), 2u);
  for (size_t i = 1; i < lacking.size(); ++i) EXPECT_LE(lacking[i - 1].line, lacking[i].line);
  EXPECT_EQ(lacking.front().line, 1);

  // It follows the head line's own problems and comes before those of the line that ends
  // the block, even when that line's problems are found before the block is closed.
  std::vector<std::string> found;
  for (const DumpProblem& problem :
       CheckDumpFile("Filter: \r\n   Default Access: Nonee\r\nUser: u\x01\r\n")) {
    found.push_back(std::to_string(problem.line) + " " + problem.message);
  }
  EXPECT_THAT(found,
              ElementsAre("1 a head line without a name", "1 the block has no \"Active:\" line",
                          "2 \"Nonee\" is no access level", "3 the line holds a control character",
                          "3 no empty line before this head line"));
}

// A report goes to a terminal and into the run log: a control character of the file (an
// escape sequence among them) is shown as \xNN in the message as well as in the line.
TEST(CheckDumpFile, NoReportHoldsAControlCharacterOfTheFile) {
  const std::string esc = "\x1B[31m";
  const std::vector<std::string> lines = {
      "Gr" + esc + "oup: g",
      "   Access: Read",
      "",
      "Group: g",
      "   Acc" + esc + "ess: Read",
      "   Access: Re" + esc + "ad",
      "",
      "Server: s",
      "   Validity: 3" + esc + " Days",
      "   Logins: Y" + esc,
      "",
      "Filter: f",
      "   Active: Yes",
      "   Default Access: None",
      "   " + esc + "7: \"East\"",
      "",
      esc + "stray",
  };
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  const std::vector<DumpProblem> problems = CheckDumpFile(text);
  size_t quoting = 0;  // problems whose message quotes the damaged part
  for (const DumpProblem& problem : problems) {
    SCOPED_TRACE(ShowControlCharacters(DescribeProblem(problem)));
    EXPECT_FALSE(HasControlCharacter(DescribeProblem(problem)));
    if (problem.message.find("\\x1B[31m") != std::string::npos) ++quoting;
  }
  EXPECT_EQ(quoting, 6u);
}

TEST(ControlCharacters, AreFoundAndShownAnywhereInTheText) {
  struct Case {
    std::string text;
    bool control;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"", false, ""},
      {"plain text, tabs\tand all bytes from space on: ~\xA0\xFF", false,
       "plain text, tabs\tand all bytes from space on: ~\xA0\xFF"},
      // A C1 control is no error in a dump file, but a message shows it: 0x9B starts an
      // escape sequence on a terminal that reads 8-bit text, U+009B on one that reads UTF-8.
      // The bytes of UTF-8 characters in that range (0x82 in "\u20AC") stay.
      {"\x9B"
       "31m \x80 \xC2\x9B"
       "31m \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
       false, "\\x9B31m \\x80 \\xC2\\x9B31m \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
      // Cut off, overlong or surrogate: no character, so a byte 0x80 to 0x9F in it shows.
      {"\xE2\x82 \xC0\x80 \xED\xA0\x80", false, "\xE2\\x82 \xC0\\x80 \xED\xA0\\x80"},
      {"eight ok\x9B", false, "eight ok\\x9B"},
      {"\x1F", true, "\\x1F"},
      {"end\x7F", true, "end\\x7F"},
      {std::string("a\0b", 3), true, "a\\x00b"},
      {"\r\nx\x1B[0m", true, "\\x0D\\x0Ax\\x1B[0m"},
      {std::string(40, ' ') + "\x08", true, std::string(40, ' ') + "\\x08"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ShowControlCharacters(c.text));
    EXPECT_EQ(HasControlCharacter(c.text), c.control);
    EXPECT_EQ(ShowControlCharacters(c.text), c.shown);
  }
  // Every byte position of a longer text, so that no stretch of it goes unexamined.
  for (size_t at = 0; at < 40; ++at) {
    std::string text(40, 'a');
    text[at] = '\x05';
    EXPECT_TRUE(HasControlCharacter(text)) << at;
    text[at] = '\t';
    EXPECT_FALSE(HasControlCharacter(text)) << at;
  }
}

TEST(UserHeadValue, MarkersComeOffTheRightAndNamesStayWhole) {
  struct Case {
    std::string name;
    UserMarkers markers;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"ann", {}, "ann"},
      {"ann", {true, true, true}, "ann * Account Disabled * Password Expired * Inactive *"},
      {"star * * name", {false, false, true}, "star * * name * Inactive *"},
      {"trail*", {true, false, false}, "trail* * Account Disabled *"},
      {"a * b", {false, true, false}, "a * b * Password Expired *"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(UserHeadValue(c.name, c.markers), c.written);
    const UserHead head = ParseUserHeadValue(c.written);
    EXPECT_EQ(head.name, c.name);
    EXPECT_EQ(head.markers.disabled, c.markers.disabled);
    EXPECT_EQ(head.markers.expired, c.markers.expired);
    EXPECT_EQ(head.markers.inactive, c.markers.inactive);
  }
  // Any order reads; a name alone that ends as markers do is told.
  EXPECT_TRUE(ParseUserHeadValue("u * Inactive * Account Disabled *").markers.disabled);
  EXPECT_TRUE(EndsLikeUserMarkers("bob * Inactive *"));
  EXPECT_FALSE(EndsLikeUserMarkers("bob * Inactive"));
  EXPECT_EQ(ParseUserHeadValue("* Inactive *").name, "");
}

using NameListTest = RestoreTest;

TEST_F(NameListTest, ListsSplitAtTheirSeparatorAndRejoinNamesOfEarlierHeadLines) {
  Dump("Group: grp, with comma\r\nGroup: grp\r\nUser: o'brien, pat * Inactive *\r\n\r\n");
  std::string line;
  while (state.ReadDumpLine(line)) {
  }
  EXPECT_THAT(SplitGroupsValue(state, "grp, grp, with comma,other , "),
              ElementsAre("grp", "grp, with comma", "other"));
  EXPECT_THAT(SplitUsersValue(state, "SuperG, O'Brien, pat, pat"),
              ElementsAre("SuperG", "O'Brien, pat", "pat"));
  // Without head lines that name them, the pieces stay apart; calc names never rejoin.
  EXPECT_THAT(SplitUsersValue(state, "a, b,c"), ElementsAre("a", "b,c"));
  EXPECT_THAT(SplitCalcsValue("Alloc,Q1, CalcAll"), ElementsAre("Alloc,Q1", "CalcAll"));
}

TEST_F(NameListTest, AHeadLineEndsTheBlockBeforeItWithoutAnEmptyLine) {
  Dump("   Access: Read\r\nUser: b * Inactive *\r\n   Access: Write\r\n");
  std::string key, value;
  EXPECT_TRUE(state.ReadKeyLine(key, value));
  EXPECT_FALSE(state.ReadKeyLine(key, value));  // stops before the head line
  EXPECT_FALSE(state.ReadKeyLine(key, value));  // and stays there
  EXPECT_EQ(NextLine(), "User: b * Inactive *");
  EXPECT_EQ(state.head_names.count("b"), 1u);
  EXPECT_TRUE(state.ReadKeyLine(key, value));
  EXPECT_EQ(value, "Write");
}

}  // namespace
}  // namespace cubesec
