#include "front/qt_main_window.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>

#include "front/testing_qt_app.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

using M = MainWindowModel;

class QtMainWindowTest : public QtTest {
 protected:
  QtMainWindowTest() {
    platform_.ini["/etc/essbase.ini|LOGIN|SERVER"] = "olap1";
    platform_.ini["/etc/essbase.ini|LOGIN|USER"] = "admin";
  }
  QLineEdit* Field(QWidget& window, int index) {
    return window.findChild<QLineEdit*>(QtMainWindow::ControlName("txtParm", index));
  }
  QPushButton* Button(QWidget& window, FormButton button) {
    const std::string_view name = M::ButtonName(button);
    return window.findChild<QPushButton*>(QString::fromLatin1(name.data(), name.size()));
  }
  // Shows the window and waits until it has the focus where the model wants it.
  void ShowAndSettle(QtMainWindow& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
  }

  FakePlatform platform_;
};

TEST_F(QtMainWindowTest, WidgetsCarryTheControlNamesCaptionsAndTitle) {
  RunParameters params;
  params.password = "from-command-line";
  M model(platform_, "secutil", params);
  QtMainWindow window(model);

  EXPECT_EQ(window.objectName(), "frmQMX");
  EXPECT_EQ(window.windowTitle(), "Dumps/Rebuilds Essbase Security");
  const char* labels[] = {"Dump &File: ", "&Server: ", "&User: ", "&Password:  "};
  const char* texts[] = {"olap1.DAT", "olap1", "admin", ""};
  for (int i = 0; i < M::kFieldCount; ++i) {
    QLineEdit* field = Field(window, i);
    ASSERT_NE(field, nullptr) << i;
    EXPECT_EQ(field->text(), texts[i]) << i;
    auto* label = window.findChild<QLabel*>(QtMainWindow::ControlName("lblParm", i));
    ASSERT_NE(label, nullptr) << i;
    EXPECT_EQ(label->text(), labels[i]);
    EXPECT_EQ(label->buddy(), field) << "the access key must lead to its field";
  }
  EXPECT_EQ(Field(window, M::kPassword)->echoMode(), QLineEdit::Password);
  EXPECT_EQ(Field(window, M::kDumpFile)->echoMode(), QLineEdit::Normal);

  for (int i = 0; i < M::kInfoCount; ++i) {
    auto* info = window.findChild<QLabel*>(QtMainWindow::ControlName("lblInfo", i));
    ASSERT_NE(info, nullptr) << i;
    // The batch lines stand in cells: the lead, then one per switch.
    std::string text = info->text().toStdString();
    if (i == 5 || i == 6) {
      text += " ";
      for (const char* letter : {i == 5 ? "D" : "R", "S", "U", "P"}) {
        auto* cell =
            window.findChild<QLabel*>(QtMainWindow::ControlName("lblInfo", i) + "/" + letter);
        ASSERT_NE(cell, nullptr) << i << letter;
        text += " " + cell->text().toStdString();
      }
    }
    EXPECT_EQ(text, model.Info(i));
  }
  EXPECT_EQ(window.findChild<QLabel*>("lblInfo(6)")->text(), "Restore Security: secutil");
  // Ctrl+C is the copy key elsewhere: the window says what it does here.
  auto* reset_key = window.findChild<QLabel*>("lblResetKey");
  ASSERT_NE(reset_key, nullptr);
  EXPECT_EQ(reset_key->text(),
            "Ctrl+C here does not copy: it starts Reset Security, which deletes all other users, "
            "all groups and all security filters once its warning is answered Yes.");

  EXPECT_EQ(Button(window, FormButton::kDumpIt)->text(), "&Dump Security");
  EXPECT_EQ(Button(window, FormButton::kRestoreIt)->text(), "&Restore Security");
  EXPECT_EQ(Button(window, FormButton::kCancel)->text(), "Cancel");
  // Enter presses Dump Security only, the command that changes nothing on the server.
  EXPECT_TRUE(Button(window, FormButton::kDumpIt)->isDefault());
  EXPECT_FALSE(Button(window, FormButton::kRestoreIt)->isDefault());
  EXPECT_FALSE(Button(window, FormButton::kCancel)->isDefault());
  for (auto* push : window.findChildren<QPushButton*>()) EXPECT_FALSE(push->autoDefault());
  EXPECT_NE(window.findChild<QFrame*>("Line1"), nullptr);
  EXPECT_NE(window.findChild<QFrame*>("Line2"), nullptr);

  // Every access key leads to one control only.
  QSet<QChar> keys;
  QStringList captions;
  for (auto* label : window.findChildren<QLabel*>()) {
    if (label->textFormat() != Qt::PlainText) captions << label->text();
  }
  for (auto* push : window.findChildren<QPushButton*>()) captions << push->text();
  for (const QString& caption : captions) {
    const qsizetype amp = caption.indexOf('&');
    if (amp < 0 || amp + 1 >= caption.size()) continue;
    const QChar key = caption.at(amp + 1).toLower();
    EXPECT_FALSE(keys.contains(key)) << "Alt+" << QString(key).toStdString() << " is taken twice";
    keys.insert(key);
  }
  EXPECT_EQ(keys.size(), 7);
}

TEST_F(QtMainWindowTest, HeadingsStandOverTheirColumnsAndTheWindowKeepsItsSize) {
  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  ShowAndSettle(window);
  // "Server" stands over "/Sservername" of both lines, ..., "Dump File" over "/Ddumpfile"
  // and "/Rdumpfile".
  const char* columns[][2] = {{"S", "S"}, {"U", "U"}, {"P", "P"}, {"D", "R"}};
  for (int h = 0; h < M::kHeadingCount; ++h) {
    auto* heading =
        window.findChild<QLabel*>(QtMainWindow::ControlName("lblInfo", M::kFirstHeading + h));
    ASSERT_NE(heading, nullptr);
    for (int line = 0; line < 2; ++line) {
      auto* cell = window.findChild<QLabel*>(QtMainWindow::ControlName("lblInfo", 5 + line) + "/" +
                                             columns[h][line]);
      ASSERT_NE(cell, nullptr) << h << line;
      EXPECT_EQ(heading->geometry().left(), cell->geometry().left())
          << heading->text().toStdString() << " over " << cell->text().toStdString();
      EXPECT_LT(heading->geometry().bottom(), cell->geometry().top());
    }
  }
  // A fixed size: no resize can squeeze the grid or leave it stranded.
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  const QSize before = window.size();
  window.resize(before * 2);
  QTest::qWait(20);
  EXPECT_EQ(window.size(), before);
}

TEST_F(QtMainWindowTest, EnterInAFieldPressesDumpSecurity) {
  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  ShowAndSettle(window);
  QLineEdit* password = Field(window, M::kPassword);
  password->setFocus();
  QTest::keyClicks(password, "pw");
  QTest::keyClick(password, Qt::Key_Return);
  EXPECT_EQ(model.command(), Command::kDump);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(QtMainWindowTest, BrowseFillsTheDumpFileFromTheChooser) {
  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  QString offered;
  QString answer = "/data/chosen.txt";
  window.SetFileChooser([&](QWidget* parent, const QString& current) {
    EXPECT_EQ(parent, &window);
    offered = current;
    return answer;
  });
  ShowAndSettle(window);
  auto* browse = window.findChild<QPushButton*>("cmdBrowse");
  ASSERT_NE(browse, nullptr);
  EXPECT_EQ(browse->text(), "&Browse...");
  QTest::mouseClick(browse, Qt::LeftButton);
  EXPECT_EQ(offered, "olap1.DAT");
  EXPECT_EQ(Field(window, M::kDumpFile)->text(), "/data/chosen.txt");
  EXPECT_EQ(model.Field(M::kDumpFile), "/data/chosen.txt");
  EXPECT_TRUE(window.isVisible()) << "browsing starts nothing";
  // A dialog closed without a choice keeps the field.
  answer.clear();
  QTest::mouseClick(browse, Qt::LeftButton);
  EXPECT_EQ(model.Field(M::kDumpFile), "/data/chosen.txt");
}

TEST_F(QtMainWindowTest, ACommandWithAnEmptyFieldKeepsTheWindowAndSaysWhichField) {
  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  ShowAndSettle(window);
  auto* notice = window.findChild<QLabel*>("lblNotice");
  ASSERT_NE(notice, nullptr);
  EXPECT_FALSE(notice->isVisible());
  Field(window, M::kServer)->setFocus();
  QTest::mouseClick(Button(window, FormButton::kDumpIt), Qt::LeftButton);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(model.hidden());
  EXPECT_TRUE(notice->isVisible());
  EXPECT_EQ(notice->text(), "Nothing was started: the Password field is empty.");
  EXPECT_TRUE(Field(window, M::kPassword)->hasFocus());
  QTest::keyClicks(Field(window, M::kPassword), "pw");
  QTest::mouseClick(Button(window, FormButton::kDumpIt), Qt::LeftButton);
  EXPECT_EQ(model.command(), Command::kDump);
  EXPECT_FALSE(window.isVisible());
}

TEST_F(QtMainWindowTest, EachButtonSetsItsCommandAndHidesTheWindow) {
  struct Case {
    FormButton button;
    Command command;
    int result;
  };
  for (const Case& c : {Case{FormButton::kDumpIt, Command::kDump, QDialog::Accepted},
                        Case{FormButton::kRestoreIt, Command::kRestore, QDialog::Accepted},
                        Case{FormButton::kCancel, Command::kNone, QDialog::Rejected}}) {
    M model(platform_, "cubesec", {});
    QtMainWindow window(model);
    ShowAndSettle(window);
    QTest::keyClicks(Field(window, M::kPassword), "pw");
    QTest::mouseClick(Button(window, c.button), Qt::LeftButton);
    EXPECT_EQ(model.command(), c.command);
    EXPECT_TRUE(model.hidden());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), c.result);
    // What was typed reached the model.
    EXPECT_EQ(model.Result().password, "pw");
  }
}

TEST_F(QtMainWindowTest, CtrlCInATextFieldChoosesTheReset) {
  for (int index : {M::kServer, M::kPassword}) {
    M model(platform_, "cubesec", {});
    QtMainWindow window(model);
    ShowAndSettle(window);
    QTest::keyClicks(Field(window, M::kPassword), "pw");
    QLineEdit* field = Field(window, index);
    field->setFocus();
    QTest::keyClicks(field, "x");
    EXPECT_FALSE(model.hidden()) << "a plain key only types";
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(model.command(), Command::kReset) << index;
    EXPECT_TRUE(model.hidden());
    EXPECT_FALSE(window.isVisible());
  }
  // The same key on a button, outside any field.
  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  ShowAndSettle(window);
  QTest::keyClicks(Field(window, M::kPassword), "pw");
  QTest::keyClick(Button(window, FormButton::kCancel), Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(model.command(), Command::kReset);
}

TEST_F(QtMainWindowTest, EscapeOrClosingIsCancel) {
  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  ShowAndSettle(window);
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_TRUE(model.hidden());
  EXPECT_EQ(model.command(), Command::kNone);
  EXPECT_FALSE(model.WantsRun());

  M closed(platform_, "cubesec", {});
  QtMainWindow second(closed);
  ShowAndSettle(second);
  second.close();
  EXPECT_TRUE(closed.hidden());
  EXPECT_FALSE(closed.WantsRun());
}

TEST_F(QtMainWindowTest, FocusLandsWhereTheModelSaysAndSelectsTheWholeText) {
  struct Case {
    bool defaults;
    const char* dump_file;
    int expected;
  };
  for (const Case& c : {Case{true, "", M::kPassword}, Case{false, "sec.txt", M::kServer},
                        Case{false, "", M::kDumpFile}}) {
    FakePlatform platform;
    if (c.defaults) platform.ini = platform_.ini;
    RunParameters params;
    params.dump_file = c.dump_file;
    M model(platform, "cubesec", params);
    ASSERT_EQ(model.FocusTarget(), c.expected);
    QtMainWindow window(model);
    ShowAndSettle(window);
    EXPECT_EQ(QApplication::focusWidget(), Field(window, c.expected)) << c.dump_file;
  }

  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  ShowAndSettle(window);
  QLineEdit* server = Field(window, M::kServer);
  server->setCursorPosition(2);
  server->deselect();
  server->setFocus(Qt::MouseFocusReason);
  QTest::qWait(20);
  EXPECT_EQ(server->selectedText(), "olap1");
}

TEST_F(QtMainWindowTest, ScreenshotIsWritten) {
  // CUBESEC_SCREENSHOT names where the picture goes (the README's docs/main-window.png);
  // otherwise a temporary folder holds it.
  QTemporaryDir temp;
  ASSERT_TRUE(temp.isValid());
  const char* wanted = std::getenv("CUBESEC_SCREENSHOT");
  const QString path = wanted && *wanted ? QString(wanted) : temp.filePath("main-window.png");

  M model(platform_, "cubesec", {});
  QtMainWindow window(model);
  ShowAndSettle(window);
  QTest::keyClicks(Field(window, M::kPassword), "secret");
  ASSERT_TRUE(window.grab().save(path, "PNG"));

  QImage image(path);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), window.size() * window.devicePixelRatio());
  // Text and frames make many colours; a blank or failed render has one or two.
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 20);
}

TEST(CharCodeTest, ControlLettersGiveTheirControlCodes) {
  EXPECT_EQ(CharCodeOf(Qt::Key_C, true, "c"), 3);
  EXPECT_EQ(CharCodeOf(Qt::Key_C, true, QString(QChar(3))), 3);
  EXPECT_EQ(CharCodeOf(Qt::Key_A, true, ""), 1);
  EXPECT_EQ(CharCodeOf(Qt::Key_C, false, "c"), 'c');
  EXPECT_EQ(CharCodeOf(Qt::Key_Shift, false, ""), 0);
}

}  // namespace
}  // namespace cubesec
