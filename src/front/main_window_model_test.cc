#include "front/main_window_model.h"

#include <gtest/gtest.h>

#include "tools/fake_platform.h"

namespace cubesec {
namespace {

using M = MainWindowModel;

class MainWindowModelTest : public ::testing::Test {
 protected:
  // The client's settings as essbase.ini in the Windows directory holds them.
  void SetDefaults(const std::string& server, const std::string& user) {
    if (!server.empty()) platform_.ini["/etc/essbase.ini|LOGIN|SERVER"] = server;
    if (!user.empty()) platform_.ini["/etc/essbase.ini|LOGIN|USER"] = user;
  }
  M Make(const RunParameters& params = {}) { return M(platform_, "cubesec", params); }

  FakePlatform platform_;
};

TEST_F(MainWindowModelTest, FieldsComeFromTheClientSettingsWhenNotGiven) {
  SetDefaults("olap1", "admin");
  M model = Make();
  EXPECT_EQ(model.Field(M::kDumpFile), "olap1.DAT");
  EXPECT_EQ(model.Field(M::kServer), "olap1");
  EXPECT_EQ(model.Field(M::kUser), "admin");
  EXPECT_EQ(model.Field(M::kPassword), "");

  // The registry wins over essbase.ini.
  platform_.registry["Software\\Hyperion Solutions\\Essbase\\Login|Server"] = "regsrv";
  EXPECT_EQ(Make().Field(M::kServer), "regsrv");
  EXPECT_EQ(Make().Field(M::kDumpFile), "regsrv.DAT");
}

TEST_F(MainWindowModelTest, GivenParametersWinOverDefaultsAndThePasswordIsAlwaysEmptied) {
  SetDefaults("olap1", "admin");
  RunParameters params;
  params.dump_file = "/tmp/sec.txt";
  params.server = "prod";
  params.user = "boss";
  params.password = "secret";
  params.command = Command::kDump;
  M model = Make(params);
  EXPECT_EQ(model.Field(M::kDumpFile), "/tmp/sec.txt");
  EXPECT_EQ(model.Field(M::kServer), "prod");
  EXPECT_EQ(model.Field(M::kUser), "boss");
  EXPECT_EQ(model.Field(M::kPassword), "");
  // The command property starts empty: the window chooses it.
  EXPECT_EQ(model.command(), Command::kNone);
  EXPECT_FALSE(model.hidden());
  EXPECT_EQ(model.Result().password, "");
}

TEST_F(MainWindowModelTest, DumpFileDefaultUsesTheDefaultServerNotTheGivenOne) {
  SetDefaults("olap1", "");
  RunParameters params;
  params.server = "prod";
  M model = Make(params);
  EXPECT_EQ(model.Field(M::kDumpFile), "olap1.DAT");
  EXPECT_EQ(model.Field(M::kServer), "prod");
  EXPECT_EQ(model.Field(M::kUser), "");
}

TEST_F(MainWindowModelTest, WithoutDefaultServerTheDumpFileFieldStaysEmpty) {
  M model = Make();
  EXPECT_EQ(model.Field(M::kDumpFile), "");
  EXPECT_EQ(model.Field(M::kServer), "");
  EXPECT_EQ(model.FocusTarget(), M::kDumpFile);
}

TEST_F(MainWindowModelTest, CaptionsHaveTheProgramNameForEveryPlaceholder) {
  M model(platform_, "secutil", {});
  EXPECT_EQ(model.Info(M::kFirstHelpLine), "This utility supports batch operation via:");
  EXPECT_EQ(model.Info(M::kFirstHelpLine + 1),
            "Dump Security: secutil  /Ddumpfile /Sservername /Uusername /Ppassword");
  EXPECT_EQ(model.Info(M::kFirstHelpLine + 2),
            "Restore Security: secutil  /Rdumpfile /Sservername /Uusername /Ppassword");
  EXPECT_EQ(model.Info(M::kFirstHelpLine + 3),
            "(the server being restored does not have to match the dumpfile's source)");
  for (int i = 0; i < M::kInfoCount; ++i) {
    EXPECT_EQ(model.Info(i).find("%1"), std::string::npos) << i;
  }
  // A name that itself looks like a placeholder is put in once, not read again.
  M odd(platform_, "%1x", {});
  EXPECT_EQ(odd.Info(M::kFirstHelpLine + 1),
            "Dump Security: %1x  /Ddumpfile /Sservername /Uusername /Ppassword");
}

TEST_F(MainWindowModelTest, FocusGoesToTheFirstEmptyOfDumpFileServerUserElsePassword) {
  // Every combination of empty and filled dump file, server and user.
  for (int mask = 0; mask < 8; ++mask) {
    M model = Make();
    for (int i = 0; i < 3; ++i) model.SetField(i, (mask >> i) & 1 ? "x" : "");
    int expected = M::kPassword;
    for (int i = 2; i >= 0; --i) {
      if (!((mask >> i) & 1)) expected = i;
    }
    EXPECT_EQ(model.FocusTarget(), expected) << "mask " << mask;
    // The password's own content never moves the focus.
    model.SetField(M::kPassword, "pw");
    EXPECT_EQ(model.FocusTarget(), expected) << "mask " << mask;
  }
}

TEST_F(MainWindowModelTest, FocusRuleWithCommandLineFileButNoDefaultServer) {
  RunParameters params;
  params.dump_file = "sec.txt";
  EXPECT_EQ(Make(params).FocusTarget(), M::kServer);
  SetDefaults("olap1", "admin");
  EXPECT_EQ(Make(params).FocusTarget(), M::kPassword);
}

TEST_F(MainWindowModelTest, FocusSelectsTheWholeText) {
  M model = Make();
  model.SetField(M::kServer, "olap1");
  FieldSelection selection = model.SelectionOnFocus(M::kServer);
  EXPECT_EQ(selection.start, 0);
  EXPECT_EQ(selection.length, 999);
  const std::string long_path(1500, 'p');
  model.SetField(M::kDumpFile, long_path);
  selection = model.SelectionOnFocus(M::kDumpFile);
  EXPECT_EQ(selection.start, 0);
  EXPECT_GE(selection.length, 1500);
}

TEST_F(MainWindowModelTest, ButtonsAndCtrlCChooseTheCommandAndHideTheWindow) {
  SetDefaults("olap1", "admin");
  struct Case {
    FormButton button;
    Command command;
    bool run;
  };
  for (const Case& c : {Case{FormButton::kDumpIt, Command::kDump, true},
                        Case{FormButton::kRestoreIt, Command::kRestore, true},
                        Case{FormButton::kCancel, Command::kNone, false}}) {
    M model = Make();
    model.SetField(M::kPassword, "pw");
    model.Press(c.button);
    EXPECT_TRUE(model.hidden());
    EXPECT_EQ(model.command(), c.command);
    EXPECT_EQ(model.WantsRun(), c.run);
    EXPECT_EQ(model.Result().command, c.command);
    EXPECT_EQ(model.Result().Complete(), c.run);
  }

  M model = Make();
  model.SetField(M::kPassword, "pw");
  EXPECT_FALSE(model.KeyPress('c'));
  EXPECT_FALSE(model.KeyPress(4));
  EXPECT_FALSE(model.hidden());
  EXPECT_EQ(model.command(), Command::kNone);
  EXPECT_TRUE(model.KeyPress(3));
  EXPECT_TRUE(model.hidden());
  EXPECT_EQ(model.command(), Command::kReset);
  EXPECT_TRUE(model.WantsRun());
}

TEST_F(MainWindowModelTest, ACommandWithAnEmptyFieldItNeedsStartsNothingAndNamesTheField) {
  SetDefaults("olap1", "admin");
  struct Case {
    int emptied;  // the field left empty; the password is filled unless it is this one
    bool reset;   // Ctrl+C instead of the Dump button
    const char* notice;
  };
  const Case cases[] = {
      {M::kPassword, false, "Nothing was started: the Password field is empty."},
      {M::kDumpFile, false, "Nothing was started: the Dump File field is empty."},
      {M::kServer, true, "Nothing was started: the Server field is empty."},
      {M::kUser, true, "Nothing was started: the User field is empty."},
  };
  for (const Case& c : cases) {
    M model = Make();
    if (c.emptied != M::kPassword) model.SetField(M::kPassword, "pw");
    model.SetField(c.emptied, "");
    if (c.reset) {
      EXPECT_TRUE(model.KeyPress(M::kResetKey));
    } else {
      model.Press(FormButton::kDumpIt);
    }
    EXPECT_FALSE(model.hidden()) << c.notice;
    EXPECT_FALSE(model.WantsRun());
    EXPECT_EQ(model.command(), Command::kNone);
    EXPECT_EQ(model.notice(), c.notice);
    EXPECT_EQ(model.FocusTarget(), c.emptied);
    // Filled in, the same choice goes ahead and the notice goes.
    model.SetField(c.emptied, "x");
    model.Press(FormButton::kRestoreIt);
    EXPECT_TRUE(model.WantsRun());
    EXPECT_EQ(model.notice(), "");
  }
  // A reset reads no dump file, so Ctrl+C does not need that field; Cancel needs nothing.
  M model = Make();
  model.SetField(M::kDumpFile, "");
  model.SetField(M::kPassword, "pw");
  EXPECT_TRUE(model.KeyPress(M::kResetKey));
  EXPECT_EQ(model.command(), Command::kReset);
  M empty = Make();
  empty.Press(FormButton::kCancel);
  EXPECT_TRUE(empty.hidden());
  EXPECT_EQ(empty.notice(), "");
}

TEST_F(MainWindowModelTest, CancelAfterEditingGivesNoRunAndResultReadsTheFields) {
  M model = Make();
  model.SetField(M::kDumpFile, "a.txt");
  model.SetField(M::kServer, "s");
  model.SetField(M::kUser, "u");
  model.SetField(M::kPassword, "p");
  RunParameters before = model.Result();
  EXPECT_EQ(before.dump_file, "a.txt");
  EXPECT_EQ(before.server, "s");
  EXPECT_EQ(before.user, "u");
  EXPECT_EQ(before.password, "p");
  model.Press(FormButton::kRestoreIt);
  model.Press(FormButton::kCancel);  // the last choice is the one that counts
  EXPECT_FALSE(model.WantsRun());
  EXPECT_EQ(model.Result().command, Command::kNone);
}

TEST(MainWindowModelHelpTest, BatchLinesAreCutIntoCellsUnderTheirHeadings) {
  const std::vector<std::string> cells = MainWindowModel::HelpLineCells(
      "Restore Security: my tool  /Rdumpfile /Sservername /Uusername /Ppassword");
  EXPECT_EQ(cells, (std::vector<std::string>{"Restore Security: my tool", "/Rdumpfile",
                                             "/Sservername", "/Uusername", "/Ppassword"}));
  const std::vector<std::string> dump = MainWindowModel::HelpLineCells(
      "Dump Security: x  /ddumpfile /Sservername /Uusername /Ppassword");
  // "Server", "User", "Password", "Dump File", whatever the case of the switch.
  EXPECT_EQ(MainWindowModel::HeadingColumn(0, dump), 2);
  EXPECT_EQ(MainWindowModel::HeadingColumn(1, dump), 3);
  EXPECT_EQ(MainWindowModel::HeadingColumn(2, dump), 4);
  EXPECT_EQ(MainWindowModel::HeadingColumn(3, dump), 1);
  EXPECT_EQ(MainWindowModel::HeadingColumn(3, cells), -1) << "no /D in the restore line";
  EXPECT_EQ(MainWindowModel::HelpLineCells("no switches"), std::vector<std::string>{"no switches"});
}

}  // namespace
}  // namespace cubesec
