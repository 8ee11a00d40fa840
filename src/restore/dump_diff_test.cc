#include "restore/dump_diff.h"

#include <gtest/gtest.h>

namespace cubesec {
namespace {

std::vector<std::string> Diff(const std::string& before, const std::string& after,
                              bool all = false) {
  DiffOptions options;
  options.all = all;
  return DiffDumps(ReadDumpModel(before), ReadDumpModel(after), options);
}

// Each case: two files and the lines that tell them apart. The server block is left out: the
// model needs none.
TEST(DumpDiffTest, ValuesListsRowsAndNoticesAsTheModelReadsThem) {
  struct Case {
    const char* name;
    std::string before, after;
    std::vector<std::string> lines;
  };
  const std::string filter_head =
      "Application: Sample\n\nDatabase: Basic\n\nFilter: F\n   Active: Yes\n"
      "   Default Access: None\n";
  const Case cases[] = {
      {"a group's members in another order and case",
       "Group: G\n   Access: None\n   Users: ann, bob\n\n",
       "Group: g\n   Access: None\n   Users: BOB, ann\n\n",
       {}},
      {"the notice of no members is an empty list",
       "Group: G\n   Access: None\n   *** No users in this group ***\n\n",
       "Group: G\n   Access: None\n   Users: ann\n\n",
       {"~ Group: G: Users: + ann"}},
      {"all calc scripts against a list",
       "Application: A\n\nDatabase: D\n\nUser Access: bob\n   Access: Calc\n   Calcs: <All>\n\n",
       "Application: A\n\nDatabase: D\n\nUser Access: bob\n   Access: Calc\n   Calcs: X, Y\n\n",
       {"~ User Access: bob on A:D: Calcs: <All> -> X, Y"}},
      {"validity notices change by themselves",
       filter_head + "   Read: \"East\"\n   *** Filter row 1 failed validity check (ref=1)\n\n",
       filter_head + "   Read: \"East\"\n\n",
       {}},
      {"a row added and the disabled marker on a line of its own",
       filter_head + "   Read: \"East\"\n\nUser: bob\n   * Account Disabled *\n\n",
       filter_head + "   Read: \"East\"\n   Meta: \"West\"\n\nUser: bob * Account Disabled *\n\n",
       {"~ Filter: F on Sample:Basic: row 2: (none) -> Meta: \"West\""}},
      {"an older file's list is split where no head name is cut",
       "Group: a, b\n   Access: None\n\nUser: u\n   Access: None\n   Groups: a, b\n\n",
       "Group: a, b\n   Access: None\n\nUser: u\n   Access: None\n   Groups: a, b, c\n\n",
       {"~ User: u: Groups: + c"}},
      {"a quoted name of the current format",
       "Server: s\n   Format: 2\n\nGroup: \"a, b\"\n   Access: None\n\n",
       "Server: s\n   Format: 2\n\nGroup: \"A, B\"\n   Access: Read\n\n",
       {"~ Group: A, B: Access: None -> Read"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Diff(c.before, c.after), c.lines) << c.name;
  }
}

TEST(DumpDiffTest, DatesAndMarkersThatChangeByThemselvesOnlyWithAll) {
  const std::string before =
      "Server: one\n   Date Made: 2026-01-01\n\nUser: bob\n   Last Login: Monday\n\n";
  const std::string after =
      "Server: two\n   Date Made: 2026-02-02\n\nUser: bob * Inactive *\n   Last Login: "
      "<Unknown>\n\n";
  EXPECT_EQ(Diff(before, after), std::vector<std::string>{});
  EXPECT_EQ(
      Diff(before, after, /*all=*/true),
      (std::vector<std::string>{
          "~ Server: Name: one -> two", "~ Server: Date Made: 2026-01-01 -> 2026-02-02",
          "~ User: bob: Inactive: No -> Yes", "~ User: bob: Last Login: Monday -> <Unknown>"}));
}

}  // namespace
}  // namespace cubesec
