#include "front/qt_session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <map>

#include "front/main_window_model.h"
#include "front/progress_model.h"
#include "front/qt_display.h"
#include "front/qt_progress_window.h"
#include "front/testing_qt_app.h"
#include "tools/fake_platform.h"

namespace cubesec {
namespace {

class PresenterPlatform : public FakePlatform {
 public:
  MessageBoxPresenter* presenter = nullptr;
  void SetMessageBoxPresenter(MessageBoxPresenter* p) override { presenter = p; }
};

char kArg0[] = "cubesec";
char kQtOption[] = "-platform";
char kQtValue[] = "nonexistent";

QWidget* VisibleTopLevel(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == name && widget->isVisible()) return widget;
  }
  return nullptr;
}

// Every test here starts without a Qt application: the session is what must make one.
class QtSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QApplication::instance(), nullptr);
    QtTest::UseOffscreenUnlessChosen();
    platform_.env["QT_QPA_PLATFORM"] = qgetenv("QT_QPA_PLATFORM").toStdString();
    platform_.ini["/etc/essbase.ini|LOGIN|SERVER"] = "olap1";
    platform_.ini["/etc/essbase.ini|LOGIN|USER"] = "admin";
  }
  std::unique_ptr<InteractiveSession> Make(std::string* why = nullptr) {
    // Arguments that Qt would read as its own must not reach it.
    char* argv[] = {kArg0, kQtOption, kQtValue, nullptr};
    return MakeQtSession(platform_, "cubesec", 3, argv, why);
  }
  PresenterPlatform platform_;
};

TEST_F(QtSessionTest, TheApplicationIsMadeOnlyWhereItsPlatformCanStart) {
  // Displays that nothing serves: Qt is never started, so it cannot end the process.
  platform_.env = {{"DISPLAY", ":9797"}, {"QT_QPA_PLATFORM", "xcb"}};
  std::string why;
  EXPECT_EQ(Make(&why), nullptr);
  EXPECT_EQ(why, "cannot open X display \":9797\"");
  EXPECT_EQ(QApplication::instance(), nullptr);
  EXPECT_EQ(platform_.presenter, nullptr);

  platform_.env = {{"QT_QPA_PLATFORM", "offscreen"}};
  std::unique_ptr<InteractiveSession> session = Make();
  ASSERT_NE(session, nullptr);
  EXPECT_NE(QApplication::instance(), nullptr);
  EXPECT_EQ(QGuiApplication::platformName(), "offscreen");
  EXPECT_NE(platform_.presenter, nullptr);
  session.reset();
  EXPECT_EQ(platform_.presenter, nullptr);
  EXPECT_EQ(QApplication::instance(), nullptr);
}

TEST_F(QtSessionTest, AskShowsTheWindowAndReadsItBack) {
  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  ASSERT_NE(session, nullptr);
  bool seen = false;
  QTimer::singleShot(100, [&] {
    QWidget* window = VisibleTopLevel("frmQMX");
    ASSERT_NE(window, nullptr);
    seen = true;
    QTest::keyClicks(window->findChild<QLineEdit*>("txtParm(3)"), "pw");
    window->findChild<QPushButton*>("cmdDumpIt")->click();
  });
  RunParameters params;
  params.password = "ignored";
  ASSERT_EQ(session->Ask(params, {}), InteractiveResult::kRun);
  EXPECT_TRUE(seen);
  EXPECT_EQ(params.command, Command::kDump);
  EXPECT_EQ(params.dump_file, "olap1.DAT");
  EXPECT_EQ(params.server, "olap1");
  EXPECT_EQ(params.user, "admin");
  EXPECT_EQ(params.password, "pw");
  EXPECT_EQ(VisibleTopLevel("frmQMX"), nullptr);

  QTimer::singleShot(100, [&] {
    QWidget* window = VisibleTopLevel("frmQMX");
    ASSERT_NE(window, nullptr);
    window->findChild<QPushButton*>("cmdCancel")->click();
  });
  RunParameters again;
  EXPECT_EQ(session->Ask(again, {}), InteractiveResult::kCancelled);
  EXPECT_EQ(again.command, Command::kNone);
}

TEST_F(QtSessionTest, AfterARunThatChangedNothingTheWindowComesBackAtTheFieldToMend) {
  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  session->observer().OnProgress(
      RunProgress{"blocks", 1, 1, "Server"});  // the failed run had its progress window up
  ASSERT_NE(VisibleTopLevel("frmProgress"), nullptr);
  bool seen = false;
  QTimer::singleShot(100, [&] {
    QWidget* window = VisibleTopLevel("frmQMX");
    ASSERT_NE(window, nullptr);
    seen = true;
    EXPECT_EQ(VisibleTopLevel("frmProgress"), nullptr);
    auto* notice = window->findChild<QLabel*>("lblNotice");
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->text(), "Essbase Error calling EsbLogin\nCannot connect to server olap2");
    EXPECT_EQ(QApplication::focusWidget(), window->findChild<QLineEdit*>("txtParm(1)"));
    EXPECT_EQ(window->findChild<QLineEdit*>("txtParm(3)")->text(), "");
    window->findChild<QLineEdit*>("txtParm(1)")->setText("olap1");
    window->findChild<QLineEdit*>("txtParm(3)")->setText("pw");
    window->findChild<QPushButton*>("cmdRestoreIt")->click();
  });
  RunParameters params{Command::kDump, "kept.txt", "olap2", "boss", ""};
  FormRequest again;
  again.mend_field = MainWindowModel::kServer;
  again.error = "Essbase Error calling EsbLogin\r\nCannot connect to server olap2";
  ASSERT_EQ(session->Ask(params, again), InteractiveResult::kRun);
  EXPECT_TRUE(seen);
  EXPECT_EQ(params.command, Command::kRestore);
  EXPECT_EQ(params.dump_file, "kept.txt");
  EXPECT_EQ(params.server, "olap1");
  EXPECT_EQ(params.user, "boss");
  EXPECT_EQ(params.password, "pw");
}

TEST_F(QtSessionTest, ProgressWindowFollowsTheBlocksAndTheCompletionNamesTheLog) {
  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  QTimer::singleShot(100, [&] {
    QWidget* window = VisibleTopLevel("frmQMX");
    ASSERT_NE(window, nullptr);
    window->findChild<QLineEdit*>("txtParm(3)")->setText("pw");
    window->findChild<QPushButton*>("cmdRestoreIt")->click();
  });
  RunParameters params;
  ASSERT_EQ(session->Ask(params, {}), InteractiveResult::kRun);

  RunObserver& observer = session->observer();
  observer.OnProgress({"blocks", 1, 340, "Server"});
  platform_.steady_ms += ProgressModel::kIntervalMs;
  observer.OnProgress({"blocks", 2, 340, "Filter"});
  observer.PumpEvents();
  QWidget* progress = VisibleTopLevel("frmProgress");
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(progress->findChild<QLabel*>("lblProgress")->text(), "blocks 2/340 Filter");
  EXPECT_EQ(progress->findChild<QProgressBar*>("barProgress")->value(), 0);
  platform_.steady_ms += ProgressModel::kIntervalMs;
  observer.OnProgress({"blocks", 171, 340, "User"});
  EXPECT_EQ(progress->findChild<QProgressBar*>("barProgress")->value(), 50);

  // Cancel asks the run to stop and says it is heard; closing the window does the same, and
  // the window stays until the run has stopped.
  EXPECT_FALSE(observer.CancelRequested());
  auto* cancel = progress->findChild<QPushButton*>("cmdCancel");
  ASSERT_NE(cancel, nullptr);
  EXPECT_EQ(cancel->text(), "Cancel");
  cancel->click();
  EXPECT_TRUE(observer.CancelRequested());
  EXPECT_EQ(cancel->text(), "Cancelling...");
  EXPECT_FALSE(cancel->isEnabled());
  progress->close();
  EXPECT_EQ(VisibleTopLevel("frmProgress"), progress);

  QString note;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(100, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    note = box->text();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  session->ShowCompletion(Command::kRestore, RunEnd::kCompleted, "/opt/cubesec/bin/cubesec.log");
  EXPECT_EQ(note, "Security restore completed.\nRun log: /opt/cubesec/bin/cubesec.log");
  EXPECT_EQ(icon, QMessageBox::Information);
  EXPECT_EQ(VisibleTopLevel("frmProgress"), nullptr);
}

TEST_F(QtSessionTest, TheRunsMessageBoxesGoThroughQt) {
  platform_.has_display = true;
  std::unique_ptr<InteractiveSession> session = Make();
  ASSERT_NE(platform_.presenter, nullptr);
  QTimer::singleShot(100, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowTitle(), "Reset Security - cubesec");  // the program's name after
    box->button(QMessageBox::Yes)->click();
  });
  MessageBoxRequest request;
  request.title = "Reset Security";
  request.text = "sure?";
  request.buttons = MessageBoxButtons::kYesNo;
  request.default_is_no = true;
  EXPECT_EQ(platform_.presenter->Show(request), MessageBoxAnswer::kYes);
}

}  // namespace
}  // namespace cubesec

namespace cubesec {
namespace {

TEST(UsableQtPlatformsTest, KeepsOnlyPlatformsWhoseDisplayOpens) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string platforms;
    std::string why;
  };
  const Case cases[] = {
      // A platform that needs no display server is taken as it stands.
      {{{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ":9797"}}, "offscreen", ""},
      {{{"QT_QPA_PLATFORM", "xcb;minimal"}}, "xcb;minimal", ""},
      {{}, "", "no display is set"},
      {{{"DISPLAY", ":9797"}}, "", "cannot open X display \":9797\""},
      {{{"QT_QPA_PLATFORM", " xcb ; xcb "}, {"DISPLAY", ":9797"}},
       "",
       "cannot open X display \":9797\""},
      // Only the displays of the chosen platforms count.
      {{{"QT_QPA_PLATFORM", "wayland"}, {"DISPLAY", ":9797"}}, "", "no display is set"},
  };
  for (const Case& c : cases) {
    FakePlatform platform;
    platform.env = c.env;
    std::string why;
    EXPECT_EQ(UsableQtPlatforms(platform, &why), c.platforms) << ::testing::PrintToString(c.env);
    EXPECT_EQ(why, c.why) << ::testing::PrintToString(c.env);
  }
}

// A display that opens: a private X server on a socket of its own, when Xvfb is installed.
TEST(UsableQtPlatformsTest, AServedXDisplayIsUsed) {
  const QString xvfb = QStandardPaths::findExecutable("Xvfb");
  if (xvfb.isEmpty()) GTEST_SKIP() << "Xvfb is not installed";
  const std::string display = ":" + std::to_string(200 + getpid() % 700);
  QProcess server;
  server.start(xvfb, {QString::fromStdString(display), "-nolisten", "tcp"});
  ASSERT_TRUE(server.waitForStarted(5000));
  FakePlatform platform;
  platform.env = {{"DISPLAY", display}, {"QT_QPA_PLATFORM", "wayland;xcb"}};
  std::string platforms;
  std::string why;
  // The server takes a moment to listen.
  for (int attempt = 0; attempt < 50 && platforms.empty(); ++attempt) {
    platforms = UsableQtPlatforms(platform, &why);
    if (platforms.empty()) QTest::qWait(100);
  }
  EXPECT_EQ(platforms, "xcb") << why;
  server.terminate();  // so that it removes its socket
  server.waitForFinished(5000);
}

}  // namespace
}  // namespace cubesec
