#include "front/terminal_form.h"

#include <gtest/gtest.h>

#include <deque>

#include "tools/fake_platform.h"

namespace cubesec {
namespace {

using M = MainWindowModel;

// A terminal whose answers are scripted. Each answer says whether it must be asked for as
// a secret; an answer read the other way fails the test, so the password cannot slip
// through an echoing read.
class ScriptedTerminal : public TerminalIo {
 public:
  struct Answer {
    std::string text;
    bool secret = false;
  };
  std::deque<Answer> answers;
  std::string output;
  std::vector<std::string> secret_prompts;

  bool ReadLine(std::string& line) override { return Next(false, line); }
  bool ReadSecretLine(std::string_view prompt, std::string& line) override {
    secret_prompts.emplace_back(prompt);
    output += prompt;
    return Next(true, line);
  }
  void Write(std::string_view text) override { output += text; }

 private:
  bool Next(bool secret, std::string& line) {
    if (answers.empty()) return false;
    Answer answer = answers.front();
    answers.pop_front();
    EXPECT_EQ(answer.secret, secret) << "answer \"" << answer.text << "\" read the wrong way";
    line = answer.text;
    return true;
  }
};

// The form of a run that the command line gave nothing: every field is asked.
TerminalFormRequest EveryField(Command chosen = Command::kNone) {
  return TerminalFormRequest{chosen, {M::kDumpFile, M::kServer, M::kUser, M::kPassword}, {}};
}

class TerminalFormTest : public ::testing::Test {
 protected:
  TerminalFormTest() {
    platform_.ini["/etc/essbase.ini|LOGIN|SERVER"] = "olap1";
    platform_.ini["/etc/essbase.ini|LOGIN|USER"] = "admin";
  }
  void Script(std::initializer_list<ScriptedTerminal::Answer> answers) {
    terminal_.answers = answers;
  }

  FakePlatform platform_;
  ScriptedTerminal terminal_;
};

TEST_F(TerminalFormTest, ShowsHelpAndDefaultsAndKeepsThemOnEnter) {
  M model(platform_, "cubesec", {});
  Script({{""}, {""}, {""}, {"pw", true}, {"d"}});
  RunTerminalForm(model, terminal_, EveryField());

  const std::string& out = terminal_.output;
  EXPECT_EQ(out.find("Dumps/Rebuilds Essbase Security\n"), 0u);
  EXPECT_NE(out.find("This utility supports batch operation via:\n"), std::string::npos);
  EXPECT_NE(out.find("Dump Security: cubesec  /Ddumpfile /Sservername /Uusername /Ppassword\n"),
            std::string::npos);
  EXPECT_NE(out.find("(the server being restored does not have to match the dumpfile's source)"),
            std::string::npos);
  EXPECT_NE(out.find("Dump File [olap1.DAT]: "), std::string::npos);
  EXPECT_NE(out.find("Server [olap1]: "), std::string::npos);
  EXPECT_NE(out.find("User [admin]: "), std::string::npos);
  ASSERT_EQ(terminal_.secret_prompts.size(), 1u);
  EXPECT_EQ(terminal_.secret_prompts[0], "Password: ");
  // The help comes before the first prompt.
  EXPECT_LT(out.find("This utility"), out.find("Dump File ["));
  EXPECT_EQ(out.find("pw"), std::string::npos) << "the password must never be written";

  ASSERT_TRUE(model.WantsRun());
  const RunParameters params = model.Result();
  EXPECT_EQ(params.command, Command::kDump);
  EXPECT_EQ(params.dump_file, "olap1.DAT");
  EXPECT_EQ(params.server, "olap1");
  EXPECT_EQ(params.user, "admin");
  EXPECT_EQ(params.password, "pw");
  EXPECT_TRUE(terminal_.answers.empty());
}

TEST_F(TerminalFormTest, TypedValuesReplaceDefaultsAndTheCommandLetterIsCaseFree) {
  RunParameters given;
  given.password = "from-command-line";
  M model(platform_, "cubesec", given);
  Script({{"/data/sec.txt"}, {"prod"}, {"boss"}, {"s3cret", true}, {"  r "}});
  RunTerminalForm(model, terminal_, EveryField());
  const RunParameters params = model.Result();
  EXPECT_EQ(params.command, Command::kRestore);
  EXPECT_EQ(params.dump_file, "/data/sec.txt");
  EXPECT_EQ(params.server, "prod");
  EXPECT_EQ(params.user, "boss");
  EXPECT_EQ(params.password, "s3cret");
  EXPECT_EQ(terminal_.output.find("from-command-line"), std::string::npos);
}

TEST_F(TerminalFormTest, CIsTheSecurityResetAndOtherAnswersAreAskedAgain) {
  M model(platform_, "cubesec", {});
  Script({{""}, {""}, {""}, {"pw", true}, {"x"}, {"dump"}, {"C"}});
  RunTerminalForm(model, terminal_, EveryField());
  EXPECT_EQ(model.command(), Command::kReset);
  EXPECT_TRUE(model.WantsRun());
  EXPECT_TRUE(terminal_.answers.empty());
  size_t asked = 0;
  for (size_t at = 0; (at = terminal_.output.find("Command (", at)) != std::string::npos; ++at) {
    ++asked;
  }
  EXPECT_EQ(asked, 3u);
  EXPECT_NE(terminal_.output.find("D = Dump Security, R = Restore Security"), std::string::npos);
}

TEST_F(TerminalFormTest, EmptyCommandCancelsAndSaysSo) {
  M model(platform_, "cubesec", {});
  Script({{""}, {""}, {""}, {"pw", true}, {""}});
  RunTerminalForm(model, terminal_, EveryField());
  EXPECT_TRUE(model.hidden());
  EXPECT_EQ(model.command(), Command::kNone);
  EXPECT_FALSE(model.WantsRun());
  EXPECT_NE(terminal_.output.find("Enter = Cancel): Cancelled: nothing was run.\n"),
            std::string::npos);
}

TEST_F(TerminalFormTest, TheCommandLinesCommandIsWhatEnterChooses) {
  struct Case {
    Command chosen;
    const char* enter;
  };
  for (const Case& c :
       {Case{Command::kDump, "Dump Security"}, Case{Command::kRestore, "Restore Security"},
        Case{Command::kReset, "Reset Security"}}) {
    M model(platform_, "cubesec", {});
    ScriptedTerminal terminal;
    terminal.answers = {{""}, {""}, {""}, {"pw", true}, {"?"}, {""}};
    RunTerminalForm(model, terminal, EveryField(c.chosen));
    EXPECT_TRUE(model.WantsRun()) << c.enter;
    EXPECT_EQ(model.command(), c.chosen);
    EXPECT_NE(terminal.output.find(std::string("Enter = ") + c.enter + "): "), std::string::npos)
        << terminal.output;
    EXPECT_NE(terminal.output.find(std::string("or press Enter for ") + c.enter + ".\n"),
              std::string::npos)
        << terminal.output;
  }
}

TEST_F(TerminalFormTest, EndOfInputAtAnyPromptCancels) {
  // Input ends after 0, 1, ... answers: before each field, at the password, at the command.
  const std::vector<ScriptedTerminal::Answer> all = {{""}, {""}, {""}, {"pw", true}};
  for (size_t given = 0; given <= all.size(); ++given) {
    M model(platform_, "cubesec", {});
    ScriptedTerminal terminal;
    terminal.answers.assign(all.begin(), all.begin() + static_cast<long>(given));
    RunTerminalForm(model, terminal, EveryField());
    EXPECT_TRUE(model.hidden()) << given;
    EXPECT_FALSE(model.WantsRun()) << given;
  }
}

TEST_F(TerminalFormTest, AFieldWithoutValueIsAskedAgain) {
  FakePlatform bare;  // no client settings: no defaults
  M model(bare, "cubesec", {});
  Script({{""}, {"sec.txt"}, {"srv"}, {"usr"}, {"", true}, {"pw", true}, {"d"}});
  RunTerminalForm(model, terminal_, EveryField());
  EXPECT_TRUE(terminal_.answers.empty());
  EXPECT_EQ(model.Result().dump_file, "sec.txt");
  EXPECT_EQ(model.Result().password, "pw");
  EXPECT_NE(terminal_.output.find("Dump File is needed."), std::string::npos);
  EXPECT_NE(terminal_.output.find("Password is needed."), std::string::npos);
  // Without a default the prompt shows no brackets.
  EXPECT_NE(terminal_.output.find("Dump File: "), std::string::npos);
  EXPECT_EQ(terminal_.secret_prompts.size(), 2u);
}

TEST(PlainCaptionTest, DropsAccessKeysBlanksAndTheColon) {
  EXPECT_EQ(PlainCaption("Dump &File: "), "Dump File");
  EXPECT_EQ(PlainCaption("&Password:  "), "Password");
  EXPECT_EQ(PlainCaption("&Restore Security"), "Restore Security");
  EXPECT_EQ(PlainCaption("Save && E&xit"), "Save & Exit");
  EXPECT_EQ(PlainCaption("Cancel"), "Cancel");
}

}  // namespace
}  // namespace cubesec
