#include "restore/dump_check.h"

#include <gmock/gmock.h>

#include <algorithm>

#include "client/dump_format.h"
#include "restore/name_lists.h"
#include "restore/restore_test_fixture.h"

namespace cubesec {
namespace {

using ::testing::ElementsAre;

// A file of the current format: the server block with its Format line, then `body`, then the
// End block.
std::string Whole(const std::string& body) {
  return "Server: s\r\n   Format: 2\r\n\r\n" + body + "End: complete\r\n\r\n";
}

TEST(CheckDumpFile, ASoundFileHasNoProblemsAndAMissingEmptyLineIsAWarning) {
  const std::string sound =
      "\xEF\xBB\xBFServer: s\r\n   Validity: 2.5\r\n   MinLength: 8 Characters\r\n"
      "   Format: 2\r\n\r\n"
      "User: u * Account Disabled *\r\n   Access: Read (Can Create Users)\r\n"
      "   * Account Disabled *\r\n\r\nApplication: A\r\n\r\nDatabase: D\r\n\r\n"
      "Filter: f\r\n   Active: yes\r\n   Default Access: None\r\n"
      "   Meta (Can Create Users): \"East\"\r\n   2: \"West\"\r\n   None: \r\n"
      "   *** Filter row 1 failed validity check (ref=5)\r\n"
      "   * Filter is not used by any users/groups *\r\nUser Access: u\r\n   Access: Calc\r\n"
      "   Calcs: \"Alloc,Q1\", CalcAll\r\n\r\nEnd: complete\r\n";
  const std::vector<DumpProblem> problems = CheckDumpFile(sound);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_TRUE(problems[0].warning);
  EXPECT_EQ(problems[0].line, 22);
  EXPECT_EQ(DescribeProblem(problems[0]),
            "Line 22: \"User Access: u\": warning: no empty line before this head line");
  EXPECT_EQ(ErrorCount(problems), 0u);
  EXPECT_EQ(ProblemCounts(problems), "1 warning");
  EXPECT_EQ(DumpFileFormat(sound), 2);
  EXPECT_EQ(DumpFileFormat("Server: s\r\n\r\nGroup: g\r\n   Format: 2\r\n"), 1);
  EXPECT_EQ(DumpFileFormat("\r\n\r\nServer: s\r\n   Format: 2\r\n"), 2);
}

// Files that a restore would read otherwise than they were meant, or apply in part: each is
// refused on the line where it goes wrong (the first problem of each, by line and message).
TEST(CheckDumpFile, HostileAndDamagedFilesAreRefusedOnTheirLine) {
  const std::string db = "Application: A\r\n\r\nDatabase: D\r\n\r\n";
  const std::string long_name(121, 'n');
  struct Case {
    std::string text;
    int line;
    std::string message;
  };
  const std::vector<Case> cases = {
      // Not a dump file at all: one error.
      {"", 1, "not a dump file: it is empty"},
      {"\r\n\r\n", 1, "not a dump file: it is empty"},
      {"Group: g\r\n   Access: Read\r\n\r\n", 1,
       "not a dump file: it does not begin with a Server block"},
      {"\x89PNG\r\n\x1a\n\x01\x02\r\n", 1,
       "not a dump file: it does not begin with a Server block"},
      {std::string("Server: s\r\n\0\0\0\r\n", 16), 1,
       "the file holds NUL bytes: it is not text, and not a dump file"},
      // Cut short: a file that says its format must end with its End block.
      {"Server: s\r\n   Format: 2\r\n\r\nGroup: g\r\n   Access: Read\r\n", 5,
       "the file ends without its \"End: complete\" block: the dump is incomplete"},
      {"Server: s\r\n   Format: 2\r\n\r\nUser: jsm", 4,
       "the file ends without its \"End: complete\" block: the dump is incomplete"},
      {"Server: s\r\n   Format: 3\r\n\r\nEnd: complete\r\n\r\n", 2,
       "\"3\" is no format this program reads (1 to 2)"},
      {Whole("") + "Group: late\r\n   Access: Read\r\n\r\n", 6,
       "a block after the End block of line 4"},
      {"Server: s\r\n   Format: 2\r\n\r\nEnd: partial\r\n\r\n", 4,
       "\"partial\" is not \"complete\""},
      // Blocks out of their place.
      {Whole("Server: t\r\n\r\n"), 4, "a second Server block (the first is on line 1)"},
      {Whole(db + "Group: g\r\n   Access: Read\r\n\r\n"), 8,
       "a Group block after the first Application block"},
      {Whole("Database: D\r\n\r\n"), 4, "a Database block outside any Application block"},
      {Whole(
           "Application: A\r\n\r\nFilter: F\r\n   Active: Yes\r\n   Default Access: None\r\n\r\n"),
       6, "a Filter block outside any Database block"},
      {Whole("User Access: u\r\n   Access: Read\r\n\r\n"), 4,
       "an access block outside any Database block"},
      // The same object twice, names compared as the server compares them.
      {Whole("User: bob\r\n\r\nUser: BOB * Inactive *\r\n\r\n"), 6,
       "\"BOB\" has a block of its own already, on line 4"},
      {Whole("Group: g\r\n\r\nUser: G\r\n\r\n"), 6,
       "\"G\" has a block of its own already, on line 4"},
      {Whole(db +
             "User Access: u\r\n   Access: Read\r\n\r\nGroup Access: U\r\n   Access: Read\r\n\r\n"),
       11, "\"U\" has a block of its own already, on line 8"},
      // What a server refuses.
      {Whole("Group: " + long_name + "\r\n\r\n"), 4,
       "\"" + long_name + "\": the name is longer than 120 characters"},
      // A C1 control is shown, never quoted raw: U+009B starts an escape sequence.
      {Whole("Group: g\xC2\x85x\r\n\r\n"), 4,
       "\"g\\xC2\\x85x\": the name holds a control character"},
      {Whole("User: u\r\n   Groups: a, \"b\xC2\x9B\"\r\n\r\n"), 5,
       "\"b\\xC2\\x9B\": the name holds a control character"},
      // Names that do not read one way.
      {Whole("Group: \"open\r\n\r\n"), 4, "\"\"open\": a quoted name without its closing quote"},
      {Whole("User: \"a\" b\r\n\r\n"), 4,
       "\"\"a\" b\": the name is followed by text that is no marker"},
      {Whole("User: a * Inactiv *\r\n\r\n"), 4,
       "\"a * Inactiv *\": \"Inactiv\" is no marker of a user, or not in its place"},
      {Whole("User: a\r\n   Groups: x,, y\r\n\r\n"), 5, "\"x,, y\": an empty name in the list"},
      {Whole(db + "User Access: u\r\n   Access: Read\r\n   Filter: \"F\" G\r\n\r\n"), 10,
       "\"\"F\" G\": text after the closing quote"},
      // An older file: a list or a user head line that its own names let read two ways.
      {"Server: s\r\n\r\nGroup: A\r\n\r\nGroup: B\r\n\r\nGroup: A, B\r\n\r\n"
       "User: u1\r\n   Groups: A, B\r\n\r\n",
       10, "\"A, B\" can be read as one name or as several names of this file"},
      {"Server: s\r\n\r\nUser: bob * Inactive * Inactive *\r\n\r\nUser: bob * Inactive\r\n\r\n", 3,
       "the head line can be read as user \"bob * Inactive\" (a user of this file too) or as "
       "user \"bob\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ShowControlCharacters(c.text));
    const std::vector<DumpProblem> problems = CheckDumpFile(c.text);
    ASSERT_FALSE(problems.empty());
    EXPECT_GE(ErrorCount(problems), 1u);
    const DumpProblem& first = *std::find_if(problems.begin(), problems.end(),
                                             [](const DumpProblem& p) { return !p.warning; });
    EXPECT_EQ(first.line, c.line);
    EXPECT_EQ(first.message, c.message);
  }
  // A file of blank lines is refused on its first line, which the problem shows as it is.
  const std::vector<DumpProblem> blank = CheckDumpFile("\r\r\r  ");
  ASSERT_EQ(blank.size(), 1u);
  EXPECT_EQ(blank[0].line, 1);
  EXPECT_EQ(blank[0].text, "");
}

// What a dump writes for names at the edge passes the check, and an older file that can be
// read one way only is accepted with a warning that its completeness is unknown.
TEST(CheckDumpFile, QuotedNamesPassAndOlderFilesGetAWarning) {
  const std::string quoted = Whole(
      "Group: \"A, B\"\r\n   Users: \"\"\"q\", \"x, y\"\r\n\r\n"
      "User: \"* Inactive\" * Inactive *\r\n   Groups: \"A, B\", \"<All>\"\r\n\r\n"
      "Application: A\r\n\r\nDatabase: D\r\n\r\nUser Access: \"x, y\"\r\n   Access: Calc\r\n"
      "   Filter: \"F, G\"\r\n   Calcs: \"<All>\", \"Roll, Up\"\r\n\r\n");
  EXPECT_TRUE(CheckDumpFile(quoted).empty()) << DescribeProblem(CheckDumpFile(quoted)[0]);

  const std::vector<DumpProblem> older =
      CheckDumpFile("Server: s\r\n\r\nGroup: A, B\r\n\r\nUser: u\r\n   Groups: A, B\r\n\r\n");
  ASSERT_EQ(older.size(), 1u);
  EXPECT_TRUE(older[0].warning);
  EXPECT_EQ(older[0].line, 1);
  EXPECT_EQ(older[0].message,
            "a file of an older format: whether it is complete cannot be checked");
}

TEST(CheckDumpFile, ProblemsComeInLineOrderAndLongLinesAreCutWhenShown) {
  const std::string text = Whole("Group: g\r\n   Access: " + std::string(200, 'x') +
                                 "\r\n   Users: a\r\n\r\n   Access: Read\r\n");
  const std::vector<DumpProblem> problems = CheckDumpFile(text);
  ASSERT_EQ(problems.size(), 3u);  // the End line follows without its empty line: a warning
  EXPECT_EQ(problems[0].line, 5);
  EXPECT_EQ(problems[1].line, 8);
  EXPECT_EQ(DescribeProblem(problems[0]).find("Line 5: \"   Access: xxx"), 0u);
  EXPECT_NE(DescribeProblem(problems[0]).find("...\": \"xxx"), std::string::npos);
  EXPECT_EQ(ProblemCounts(problems), "2 errors, 1 warning");

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
      CheckDumpFile(Whole("Application: A\r\n\r\nDatabase: D\r\n\r\n"
                          "Filter: F\r\n   Actve: Yes\r\n   Default Access: None\r\n\r\n"));
  ASSERT_GE(lacking.size(), 2u);
  for (size_t i = 1; i < lacking.size(); ++i) EXPECT_LE(lacking[i - 1].line, lacking[i].line);
  EXPECT_EQ(lacking.front().line, 8);

  // It follows the head line's own problems and comes before those of the line that ends
  // the block, even when that line's problems are found before the block is closed.
  std::vector<std::string> found;
  for (const DumpProblem& problem :
       CheckDumpFile("Server: s\r\n   Format: 2\r\n\r\nApplication: A\r\n\r\nDatabase: D\r\n\r\n"
                     "Filter: \r\n   Default Access: Nonee\r\nEnd: complete\x01\r\n")) {
    found.push_back(std::to_string(problem.line) + " " + problem.message);
  }
  EXPECT_THAT(found,
              ElementsAre("8 a head line without a name", "8 the block has no \"Active:\" line",
                          "9 \"Nonee\" is no access level", "10 the line holds a control character",
                          "10 no empty line before this head line",
                          "10 \"complete\\x01\" is not \"complete\""));
}

// A report goes to a terminal and into the run log: a control character of the file (an
// escape sequence among them) is shown as \xNN in the message as well as in the line.
TEST(CheckDumpFile, NoReportHoldsAControlCharacterOfTheFile) {
  const std::string esc = "\x1B[31m";
  const std::vector<std::string> lines = {
      "Server: s",
      "   Validity: 3" + esc + " Days",
      "   Logins: Y" + esc,
      "",
      "Gr" + esc + "oup: g",
      "   Access: Read",
      "",
      "Group: g",
      "   Acc" + esc + "ess: Read",
      "   Access: Re" + esc + "ad",
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

TEST(UserHeadValue, NamesThatCouldBeTakenForMarkersAreQuotedAndReadBackWhole) {
  struct Case {
    std::string name;
    UserMarkers markers;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"ann", {}, "ann"},
      {"ann", {true, true, true}, "ann * Account Disabled * Password Expired * Inactive *"},
      {"star * * name", {false, false, true}, "\"star * * name\" * Inactive *"},
      {"trail*", {true, false, false}, "\"trail*\" * Account Disabled *"},
      {"* Inactive", {false, false, true}, "\"* Inactive\" * Inactive *"},
      {"bob * Inactive", {}, "\"bob * Inactive\""},
      {"say \"hi\"", {}, "say \"hi\""},
      {"\"q", {false, true, false}, "\"\"\"q\" * Password Expired *"},
      {" lead", {}, "\" lead\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    EXPECT_EQ(UserHeadValue(c.name, c.markers), c.written);
    const std::optional<UserHead> head = ReadUserHead(c.written);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->name, c.name);
    EXPECT_EQ(head->markers.disabled, c.markers.disabled);
    EXPECT_EQ(head->markers.expired, c.markers.expired);
    EXPECT_EQ(head->markers.inactive, c.markers.inactive);
  }
  for (const char* bad : {"bob * Inactiv *", "\"bob", "\"bob\" x", "bob * Inactive",
                          "bob * Inactive * Account Disabled *", "bob * Inactive * Inactive *"}) {
    SCOPED_TRACE(bad);
    std::string why;
    EXPECT_FALSE(ReadUserHead(bad, &why).has_value());
    EXPECT_FALSE(why.empty());
  }
  // An older file's markers come off the right, in any order; each reading is known.
  EXPECT_TRUE(ParseUserHeadValue("u * Inactive * Account Disabled *").markers.disabled);
  EXPECT_EQ(ParseUserHeadValue("* Inactive *").name, "");
  EXPECT_THAT(UserHeadReadings("bob * Inactive * Inactive *"),
              ElementsAre("bob * Inactive * Inactive *", "bob * Inactive", "bob"));
  EXPECT_THAT(UserHeadReadings("bob * x"), ElementsAre("bob * x"));
}

TEST(Names, AreQuotedOnlyWhenTheBareTextWouldNotReadBackAndListsReadOneWay) {
  const std::vector<std::string> names = {"plain", "with space", "x, y",       "a,b",    "star*",
                                          "\"q",   "in\"side",   " lead",      "trail ", "",
                                          "<All>", "colon:name", "Caf\xC3\xA9"};
  const std::vector<std::string> bare = {"plain", "with space", "in\"side", "colon:name",
                                         "Caf\xC3\xA9"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string written = QuoteName(name);
    EXPECT_EQ(written == name, std::find(bare.begin(), bare.end(), name) != bare.end());
    EXPECT_EQ(ReadName(written), name);
  }
  EXPECT_THAT(ReadNameList(JoinNames(names)).value(), ::testing::ElementsAreArray(names));
  EXPECT_THAT(ReadNameList("a, b,c").value(), ElementsAre("a", "b", "c"));
  EXPECT_THAT(ReadNameList("").value(), ElementsAre());
  for (const char* bad : {"\"a", "a,", "\"a\" b", "a,,b", ", a"}) {
    SCOPED_TRACE(bad);
    std::string why;
    EXPECT_FALSE(ReadNameList(bad, &why).has_value());
    EXPECT_FALSE(why.empty());
  }
  // A long list reads in time proportional to its length.
  std::vector<std::string> many;
  for (int i = 0; i < 20000; ++i) many.push_back("user, " + std::to_string(i));
  EXPECT_EQ(ReadNameList(JoinNames(many)).value(), many);
}

using NameListTest = RestoreTest;

TEST_F(NameListTest, OlderListsSplitAtTheirSeparatorAndRejoinNamesOfEarlierHeadLines) {
  Dump("Group: grp, with comma\r\nGroup: grp\r\nUser: o'brien, pat * Inactive *\r\n\r\n");
  std::string line;
  while (ReadRestoreLine(state, file, line)) {
  }
  EXPECT_THAT(SplitGroupsValue(file, "grp, grp, with comma,other , "),
              ElementsAre("grp", "grp, with comma", "other"));
  EXPECT_THAT(SplitUsersValue(file, "SuperG, O'Brien, pat, pat"),
              ElementsAre("SuperG", "O'Brien, pat", "pat"));
  // Without head lines that name them, the pieces stay apart; calc names never rejoin.
  EXPECT_THAT(SplitUsersValue(file, "a, b,c"), ElementsAre("a", "b,c"));
  EXPECT_THAT(SplitCalcsValue(file, "Alloc,Q1, CalcAll"), ElementsAre("Alloc,Q1", "CalcAll"));
  // A file of the current format quotes instead: nothing is joined by guessing.
  file.dump_format = kDumpFormat;
  EXPECT_THAT(SplitUsersValue(file, "\"O'Brien, pat\", pat, SuperG"),
              ElementsAre("O'Brien, pat", "pat", "SuperG"));
  EXPECT_THAT(SplitGroupsValue(file, "grp, \"grp, with comma\""),
              ElementsAre("grp", "grp, with comma"));
  EXPECT_EQ(HeadName(file, "\"a, b\""), "a, b");
  EXPECT_EQ(UserHeadOf(file, "\"* Inactive\" * Inactive *").name, "* Inactive");
}

TEST(NameLists, AnOlderListOfManyNamesIsSplitInTimeProportionalToItsLength) {
  std::set<std::string> known;
  std::string value;
  for (int i = 0; i < 20000; ++i) {
    known.insert("u" + std::to_string(i));
    value += (i ? ", u" : "u") + std::to_string(i);
  }
  known.insert("a, b");
  EXPECT_EQ(SplitAndRejoin(value, ", ", &known, 2).size(), 20000u);
}

TEST_F(NameListTest, AHeadLineEndsTheBlockBeforeItWithoutAnEmptyLine) {
  Dump("   Access: Read\r\nUser: b * Inactive *\r\n   Access: Write\r\n");
  std::string key, value;
  EXPECT_TRUE(state.ReadKeyLine(key, value));
  EXPECT_FALSE(state.ReadKeyLine(key, value));  // stops before the head line
  EXPECT_FALSE(state.ReadKeyLine(key, value));  // and stays there
  EXPECT_EQ(NextLine(), "User: b * Inactive *");
  EXPECT_EQ(file.head_names.count("b"), 1u);
  EXPECT_TRUE(state.ReadKeyLine(key, value));
  EXPECT_EQ(value, "Write");
}

}  // namespace
}  // namespace cubesec
