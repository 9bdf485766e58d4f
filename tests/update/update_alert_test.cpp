#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "FixtureHttpServer.h"
#include "UpdateTestSupport.h"
#include "platform/SavePanel.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "update/UpdateManager.h"

namespace lorvanta {
namespace {

using testing::FixtureBundle;
using testing::FixtureHttpServer;

class UpdateAlertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::clearSkipMemory();
    window_ = std::make_unique<QWidget>();
    window_->show();
    Workspace::shared().setOpener([this](const QUrl& url) {
      opened_.push_back(url.toString());
      return true;
    });
  }
  void TearDown() override {
    Workspace::shared().setOpener({});
    window_.reset();
    testing::closeAllWindows();
    testing::clearSkipMemory();
  }

  // Runs a check that finds `storeVersion` against `installedVersion` and returns its alert.
  QMessageBox* alertFor(const QString& installedVersion, const std::string& storeVersion,
                        bool withStringTable = false) {
    bundle_ = std::make_unique<FixtureBundle>(installedVersion, withStringTable);
    server_.setReply("/lookup", {200, testing::lookupReply(storeVersion), "", false});
    manager_ = UpdateManager::create(server_.url("/lookup?id=1482726981"));
    EXPECT_TRUE(testing::waitUntil([] { return testing::visibleAlert() != nullptr; }));
    return testing::visibleAlert();
  }

  FixtureHttpServer server_;
  std::unique_ptr<QWidget> window_;
  std::unique_ptr<FixtureBundle> bundle_;
  std::weak_ptr<UpdateManager> manager_;
  std::vector<QString> opened_;
};

QStringList titlesLeftToRight(QMessageBox* box) {
  QList<QAbstractButton*> buttons = box->buttons();
  std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
    return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
  });
  QStringList titles;
  for (QAbstractButton* button : buttons) titles << button->text();
  return titles;
}

TEST_F(UpdateAlertTest, ShowsBothNumbersInTheirTextForm) {
  struct Case {
    QString installed;
    std::string store;
    QString informative;
  };
  const Case cases[] = {
      {"1.10", "1.2", "本地版本: 1.1\n最新版本: 1.2"},
      {"2", "2.5", "本地版本: 2.0\n最新版本: 2.5"},
      {"1.0", "1.25", "本地版本: 1.0\n最新版本: 1.25"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.informative.toStdString());
    QMessageBox* box = alertFor(c.installed, c.store);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "检测到新版本");
    EXPECT_EQ(box->informativeText(), c.informative);
    EXPECT_EQ(titlesLeftToRight(box), QStringList({"去更新", "跳过本版本更新", "以后再说"}));
    EXPECT_EQ(box->defaultButton(), testing::alertButton(box, "去更新"));
    testing::alertButton(box, "以后再说")->click();
    EXPECT_TRUE(testing::waitUntil([this] { return manager_.expired(); }));
  }
}

TEST_F(UpdateAlertTest, EnglishTextsFromTheStringTable) {
  QMessageBox* box = alertFor("1.10", "1.2", /*withStringTable=*/true);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->text(), "A New Version Is Available");
  EXPECT_EQ(box->informativeText(), "Installed version: 1.1\nLatest version: 1.2");
  EXPECT_EQ(titlesLeftToRight(box), QStringList({"Update", "Skip This Version", "Not Now"}));
  testing::alertButton(box, "Not Now")->click();
}

// The program's own tables, as a user with these languages sees them: Chinese comes before
// an English fallback, and a language without a table shows the Chinese texts.
TEST(UpdateAlertLanguages, TextsFollowTheUsersFirstLanguage) {
  const QString chinese = "检测到新版本\n本地版本: 1.0\n最新版本: 1.2\n去更新\n跳过本版本更新\n以后再说";
  const QString english =
      "A New Version Is Available\nInstalled version: 1.0\nLatest version: 1.2\nUpdate\nSkip This Version\n"
      "Not Now";
  struct Case {
    const char* locale;
    const char* languages;
    QString texts;
  };
  // English for a language without a table of its own.
  const Case cases[] = {
      {"zh_CN.UTF-8", "zh_CN:en", chinese},
      {"de_DE.UTF-8", "de", english},
      {"en_GB.UTF-8", "en_GB:en", english},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.languages);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LC_ALL", c.locale);
    environment.insert("LANG", c.locale);
    environment.insert("LANGUAGE", c.languages);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start("/proc/self/exe",
                {"--print-alert-texts", QString::fromStdString(FixtureHttpServer::refusedURL())});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
    EXPECT_EQ(child.readAllStandardOutput().toStdString(), c.texts.toStdString());
  }
}

TEST_F(UpdateAlertTest, EachAnswerHasItsOwnEffect) {
  enum class Answer { Update, Skip, NotNow, Escape };
  struct Case {
    const char* name;
    Answer answer;
    bool stored;
    bool opened;
  };
  const Case cases[] = {
      {"update", Answer::Update, false, true},
      {"skip", Answer::Skip, true, false},
      {"not now", Answer::NotNow, false, false},
      {"escape", Answer::Escape, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::clearSkipMemory();
    opened_.clear();
    const QByteArray before = testing::settingsFileContents();
    QMessageBox* box = alertFor("1.10", "1.2");
    ASSERT_NE(box, nullptr);
    switch (c.answer) {
      case Answer::Update:
        testing::alertButton(box, "去更新")->click();
        break;
      case Answer::Skip:
        testing::alertButton(box, "跳过本版本更新")->click();
        break;
      case Answer::NotNow:
        testing::alertButton(box, "以后再说")->click();
        break;
      case Answer::Escape: {
        // Keys count once the alert has been up for a second.
        testing::waitUntil([] { return false; }, 1.1);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &escape);
        break;
      }
    }
    // The manager lives until the answer, then goes.
    EXPECT_TRUE(testing::waitUntil([this] { return manager_.expired(); }));
    EXPECT_EQ(testing::visibleAlert(), nullptr);
    EXPECT_EQ(opened_, c.opened ? std::vector<QString>{kUpdatePageAddress} : std::vector<QString>{});
    if (c.stored) {
      // The strings as read, not their numbers, and on disk.
      UserDefaults& defaults = UserDefaults::standard();
      EXPECT_TRUE(defaults.boolForKey(kNoAlertAgainKey));
      EXPECT_EQ(defaults.stringForKey(kNoAlertAgainLocalVersionKey), QString("1.10"));
      EXPECT_EQ(defaults.stringForKey(kNoAlertAgainStoreVersionKey), QString("1.2"));
      const QByteArray onDisk = testing::settingsFileContents();
      EXPECT_THAT(onDisk.toStdString(), ::testing::HasSubstr("NO_ALERt_AGAIN=true"));
      EXPECT_THAT(onDisk.toStdString(), ::testing::HasSubstr("NO_ALERt_AGAIN_localVersionVersio=1.10"));
      EXPECT_THAT(onDisk.toStdString(), ::testing::HasSubstr("NO_ALERt_AGAIN_appStoreVersion=1.2"));
    } else {
      EXPECT_EQ(testing::settingsFileContents(), before);
    }
  }
}

// Presses and releases `key` where the keyboard's input goes now: the focused widget, else
// `fallback`.
void typeKey(QWidget* fallback, int key, const QString& text = {}) {
  QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : fallback;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QCoreApplication::sendEvent(target, &release);
}

void typeText(QWidget* fallback, QChar c) {
  const int key = c == ' ' ? Qt::Key_Space : Qt::Key_A + (c.toLatin1() - 'a');
  typeKey(fallback, key, QString(c));
}

void pause(double seconds) {
  testing::waitUntil([] { return false; }, seconds);
}

// The check comes due while the user types into the text view: every key reaches the text
// view, and the alert appears only once the keyboard has been quiet for 1.5 s.
TEST_F(UpdateAlertTest, KeysTypedWhileTheAlertComesDueReachTheTextView) {
  auto* text = new QPlainTextEdit(window_.get());
  text->show();
  window_->activateWindow();
  text->setFocus();
  bundle_ = std::make_unique<FixtureBundle>("1.0");
  server_.setReply("/lookup", {200, testing::lookupReply("1.2"), "", false});
  manager_ = UpdateManager::create(server_.url("/lookup?id=1482726981"));

  // 150 ms a key, from the check's start to well past the moment the alert is due.
  const QString typed = "my file name for the speech";
  bool alertWhileTyping = false;
  for (const QChar c : typed) {
    typeText(text, c);
    pause(0.15);
    alertWhileTyping = alertWhileTyping || testing::visibleAlert() != nullptr;
  }
  QElapsedTimer sinceLastKey;
  sinceLastKey.start();
  EXPECT_FALSE(alertWhileTyping);
  ASSERT_TRUE(testing::waitUntil([] { return testing::visibleAlert() != nullptr; }));
  EXPECT_GE(sinceLastKey.elapsed(), 1500 - 150);
  EXPECT_EQ(text->toPlainText(), typed);
  // No button was pressed: the manager waits for an answer, nothing was opened or stored.
  EXPECT_FALSE(manager_.expired());
  EXPECT_TRUE(opened_.empty());
  EXPECT_FALSE(UserDefaults::standard().hasKey(kNoAlertAgainKey));
  testing::alertButton(testing::visibleAlert(), "以后再说")->click();
}

// The check comes due while the save panel is open: the alert appears after it closes.
TEST_F(UpdateAlertTest, WaitsUntilTheSavePanelHasClosed) {
  bundle_ = std::make_unique<FixtureBundle>("1.0");
  server_.setReply("/lookup", {200, testing::lookupReply("1.2"), "", false});
  manager_ = UpdateManager::create(server_.url("/lookup?id=1482726981"));
  QElapsedTimer started;
  started.start();
  bool alertWhilePanelOpen = false;
  auto* watch = new QTimer(qApp);
  QObject::connect(watch, &QTimer::timeout, watch, [&] {
    auto* panel = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (panel == nullptr) return;
    alertWhilePanelOpen = alertWhilePanelOpen || testing::visibleAlert() != nullptr;
    if (started.elapsed() > 4000) {
      watch->deleteLater();
      watch->stop();
      panel->reject();
    }
  });
  watch->start(20);
  SavePanel panel;
  panel.setAllowedFileTypes({"wav"});
  EXPECT_EQ(panel.runModal(), SavePanel::kCancel);
  EXPECT_FALSE(alertWhilePanelOpen);
  ASSERT_TRUE(testing::waitUntil([] { return testing::visibleAlert() != nullptr; }));
  testing::alertButton(testing::visibleAlert(), "以后再说")->click();
  EXPECT_TRUE(testing::waitUntil([this] { return manager_.expired(); }));
}

// Keys in the alert's first second press nothing; after it, Return presses the default button.
TEST_F(UpdateAlertTest, KeysInTheAlertsFirstSecondPressNothing) {
  QMessageBox* box = alertFor("1.0", "1.2");
  ASSERT_NE(box, nullptr);
  for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space, Qt::Key_Escape}) {
    typeKey(box->defaultButton(), key, key == Qt::Key_Space ? " " : "");
  }
  pause(0.1);
  EXPECT_EQ(testing::visibleAlert(), box);
  EXPECT_FALSE(manager_.expired());
  EXPECT_TRUE(opened_.empty());

  pause(1.0);
  typeKey(box->defaultButton(), Qt::Key_Return);
  EXPECT_TRUE(testing::waitUntil([this] { return manager_.expired(); }));
  EXPECT_EQ(opened_, std::vector<QString>{kUpdatePageAddress});
}

// Skip 1.2 while 1.0 is installed: the next check is quiet, a later 1.3 is offered again.
TEST_F(UpdateAlertTest, ASkippedVersionStaysQuietUntilTheStoreMovesOn) {
  QMessageBox* box = alertFor("1.0", "1.2");
  ASSERT_NE(box, nullptr);
  testing::alertButton(box, "跳过本版本更新")->click();
  ASSERT_TRUE(testing::waitUntil([this] { return manager_.expired(); }));

  {
    testing::StdoutCapture capture;
    std::weak_ptr<UpdateManager> again = UpdateManager::create(server_.url("/lookup?id=1482726981"));
    ASSERT_TRUE(testing::waitUntil([&] { return again.expired(); }));
    EXPECT_EQ(capture.finish(), "已经是最新版本了哦\n");
    EXPECT_TRUE(UserDefaults::standard().boolForKey(kNoAlertAgainKey));
  }

  box = alertFor("1.0", "1.3");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->informativeText(), "本地版本: 1.0\n最新版本: 1.3");
  EXPECT_FALSE(UserDefaults::standard().boolForKey(kNoAlertAgainKey));
  testing::alertButton(box, "以后再说")->click();
}

}  // namespace
}  // namespace lorvanta
