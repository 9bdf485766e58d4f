#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <thread>

#include "FixtureVoiceSynthesizer.h"
#include "platform/Bundle.h"
#include "platform/ReviewPrompt.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "update/UpdateManager.h"

namespace lorvanta {
namespace {

const QString kCounterKey = QStringLiteral("requestReviewID");
const QString kLastPromptedKey = QStringLiteral("lastVersionPromptedForReview");

QList<QDialog*> visiblePrompts() {
  QList<QDialog*> prompts;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(widget);
    if (dialog && dialog->isVisible() && dialog->objectName() == ReviewPrompt::kDialogObjectName) {
      prompts << dialog;
    }
  }
  return prompts;
}

void closePrompts() {
  for (QDialog* dialog : visiblePrompts()) dialog->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Processes events until `done` holds or `seconds` have passed; the milliseconds it took.
qint64 runMainQueue(
    double seconds, const std::function<bool()>& done = [] { return false; }) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < static_cast<qint64>(seconds * 1000)) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return clock.elapsed();
}

// Past the 2.0 s delay of every step scheduled before.
constexpr double kPastDelay = 2.3;

class ReviewRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(resources_.isValid());
    defaults().removeObjectForKey(kCounterKey);
    defaults().removeObjectForKey(kLastPromptedKey);
    ReviewPrompt::setSystemVersionForTesting(std::nullopt);
    Workspace::shared().setOpener([](const QUrl&) { return true; });
    useInfo(R"({"CFBundleVersion": "1"})");
    state_->voices = {{"en", {}}};
    state_->defaultVoice = "en";
    controller_ = voicetest::makeFixtureController(state_);
  }

  void TearDown() override {
    controller_.reset();
    runMainQueue(0.05);
    closePrompts();
    Workspace::shared().setOpener({});
    ReviewPrompt::setSystemVersionForTesting(std::nullopt);
    defaults().removeObjectForKey(kCounterKey);
    defaults().removeObjectForKey(kLastPromptedKey);
    Bundle::setMainResourceDirectory(QStringLiteral(LORVANTA_RESOURCE_DIR));
  }

  static UserDefaults& defaults() { return UserDefaults::standard(); }

  // Points the main bundle at a fresh directory whose information list is `json`.
  void useInfo(const QByteArray& json) {
    const QString dir = resources_.filePath(QString::number(++infoCount_));
    ASSERT_TRUE(QDir().mkpath(dir));
    QFile file(dir + "/Info.json");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();
    Bundle::setMainResourceDirectory(dir);
  }
  void useBuild(const QString& build) { useInfo("{\"CFBundleVersion\": \"" + build.toUtf8() + "\"}"); }

  std::string request() {
    testing::internal::CaptureStdout();
    controller_->countClickForReview();
    return testing::internal::GetCapturedStdout();
  }
  static std::string runPastDelay() {
    testing::internal::CaptureStdout();
    runMainQueue(kPastDelay);
    return testing::internal::GetCapturedStdout();
  }

  QTemporaryDir resources_;
  int infoCount_ = 0;
  std::shared_ptr<voicetest::FixtureVoiceState> state_ = std::make_shared<voicetest::FixtureVoiceState>();
  std::unique_ptr<ViewController> controller_;
};

TEST_F(ReviewRequestTest, TheFifthRequestOfAFreshInstallationAsksForThePromptTwoSecondsLater) {
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(request(), "1 nil false " + std::to_string(n) + "\n");
    EXPECT_EQ(defaults().integerForKey(kCounterKey), n);
  }
  EXPECT_EQ(runPastDelay(), "") << "requests one to four schedule nothing";

  QElapsedTimer sinceRequest;
  sinceRequest.start();
  EXPECT_EQ(request(), "1 nil true 5\n");
  EXPECT_EQ(defaults().integerForKey(kCounterKey), 5);
  EXPECT_FALSE(defaults().hasKey(kLastPromptedKey));
  testing::internal::CaptureStdout();
  runMainQueue(10.0, [] { return UserDefaults::standard().hasKey(kLastPromptedKey); });
  const qint64 elapsed = sinceRequest.elapsed();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "tc\n");
  EXPECT_GE(elapsed, 2000);
  EXPECT_EQ(defaults().stringForKey(kLastPromptedKey), QStringLiteral("1"));
  EXPECT_EQ(visiblePrompts().size(), 1);

  EXPECT_EQ(request(), "1 Optional(\"1\") true 6\n");
  EXPECT_EQ(runPastDelay(), "");
}

TEST_F(ReviewRequestTest, TheStoredBuildIsComparedAsText) {
  struct Case {
    QString lastPrompted, build;
    bool schedules;
  };
  const Case cases[] = {
      {"7", "7", false},
      {"1.1", "1.10", true},
      {"1.10", "1.1", true},
  };
  int64_t n = 40;
  defaults().setInteger(n, kCounterKey);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lastPrompted.toStdString() + " -> " + c.build.toStdString());
    defaults().setString(c.lastPrompted, kLastPromptedKey);
    useBuild(c.build);
    EXPECT_EQ(request(), c.build.toStdString() + " Optional(\"" + c.lastPrompted.toStdString() + "\") true " +
                             std::to_string(++n) + "\n");
    EXPECT_EQ(runPastDelay(), c.schedules ? "tc\n" : "");
    EXPECT_EQ(defaults().stringForKey(kLastPromptedKey), c.schedules ? c.build : c.lastPrompted);
  }
}

TEST_F(ReviewRequestTest, TwoRequestsWithinTheDelayScheduleTwoSteps) {
  defaults().setInteger(4, kCounterKey);
  EXPECT_EQ(request(), "1 nil true 5\n");
  EXPECT_EQ(request(), "1 nil true 6\n");
  EXPECT_EQ(runPastDelay(), "tc\ntc\n");
  EXPECT_EQ(defaults().stringForKey(kLastPromptedKey), QStringLiteral("1"));
  EXPECT_EQ(visiblePrompts().size(), 1) << "one prompt at a time";
}

TEST_F(ReviewRequestTest, ARequestWithAnEmptyTextIsCounted) {
  voicetest::FixtureWindow window;
  window.bind(*controller_);
  defaults().setInteger(4, kCounterKey);
  testing::internal::CaptureStdout();
  controller_->playTTS(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "1 nil true 5\n");
  EXPECT_EQ(defaults().integerForKey(kCounterKey), 5);
  EXPECT_EQ(state_->starts, 0);
  EXPECT_EQ(runPastDelay(), "tc\n");
}

TEST_F(ReviewRequestTest, TheStepTestsTheSystemVersionWhenItRuns) {
  struct Case {
    OperatingSystemVersion version;
    bool prompts;
  };
  const Case cases[] = {{{10, 13, 6}, false},
                        {{10, 14, 0}, true},
                        {{10, 9, 9}, false},
                        {{11, 0, 0}, true},
                        {{9, 20, 0}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version.majorVersion) + "." + std::to_string(c.version.minorVersion));
    defaults().removeObjectForKey(kLastPromptedKey);
    ReviewPrompt::setSystemVersionForTesting(c.version);
    testing::internal::CaptureStdout();
    controller_->requestReviewOnce(QStringLiteral("3"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.prompts ? "tc\n" : "");
    EXPECT_EQ(defaults().hasKey(kLastPromptedKey), c.prompts);
    EXPECT_EQ(visiblePrompts().size(), c.prompts ? 1 : 0);
    closePrompts();
  }
}

TEST_F(ReviewRequestTest, AMissingBuildNumberIsReportedAndSchedulesNothing) {
  for (const QByteArray& info :
       {QByteArray(R"({"CFBundleName": "Lorvanta"})"), QByteArray(R"({"CFBundleVersion": 7})")}) {
    SCOPED_TRACE(info.toStdString());
    useInfo(info);
    defaults().setInteger(9, kCounterKey);
    testing::internal::CaptureStderr();
    EXPECT_EQ(request(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Expected to find a bundle version in the info dictionary\n");
    EXPECT_EQ(defaults().integerForKey(kCounterKey), 10) << "the counter is stored first";
  }
  EXPECT_EQ(runPastDelay(), "");
}

TEST_F(ReviewRequestTest, TheCounterStaysAtItsLargestValue) {
  constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();
  defaults().setInteger(kLargest - 1, kCounterKey);
  defaults().setString(QStringLiteral("1"), kLastPromptedKey);
  EXPECT_EQ(request(), "1 Optional(\"1\") true " + std::to_string(kLargest) + "\n");
  EXPECT_EQ(request(), "1 Optional(\"1\") true " + std::to_string(kLargest) + "\n");
  EXPECT_EQ(defaults().integerForKey(kCounterKey), kLargest);
}

TEST_F(ReviewRequestTest, AStepDueAfterTheControllerIsGoneDoesNothing) {
  defaults().setInteger(4, kCounterKey);
  EXPECT_EQ(request(), "1 nil true 5\n");
  controller_.reset();
  EXPECT_EQ(runPastDelay(), "");
  EXPECT_FALSE(defaults().hasKey(kLastPromptedKey));
}

TEST_F(ReviewRequestTest, AStoredBuildIsPrintedAsAQuotedText) {
  defaults().setString(QStringLiteral("a \"b\"\\c"), kLastPromptedKey);
  EXPECT_EQ(request(), "1 Optional(\"a \\\"b\\\"\\\\c\") false 1\n");
}

class ReviewPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Workspace::shared().setOpener([this](const QUrl& url) {
      opened_ << url;
      return true;
    });
  }
  void TearDown() override {
    closePrompts();
    Workspace::shared().setOpener({});
  }

  static QPushButton* button(QDialog* dialog, const QString& text) {
    for (QPushButton* candidate : dialog->findChildren<QPushButton*>()) {
      if (candidate->text() == text) return candidate;
    }
    return nullptr;
  }

  QList<QUrl> opened_;
};

TEST_F(ReviewPromptTest, ShowsOneNonModalInvitationWithoutBlocking) {
  EXPECT_TRUE(ReviewPrompt::isOperatingSystemAtLeastVersion({10, 14, 0}));
  ReviewPrompt::requestReview();  // returns at once: no event loop of its own
  ReviewPrompt::requestReview();
  const QList<QDialog*> prompts = visiblePrompts();
  ASSERT_EQ(prompts.size(), 1);
  EXPECT_FALSE(prompts[0]->isModal());
  QStringList texts;
  for (QLabel* label : prompts[0]->findChildren<QLabel*>()) texts << label->text();
  EXPECT_TRUE(texts.contains(QStringLiteral("Enjoying Lorvanta?")));
  EXPECT_NE(button(prompts[0], QStringLiteral("Not Now")), nullptr);
}

TEST_F(ReviewPromptTest, APromptShownDuringAModalPanelOutlivesThePanel) {
  QWidget window;
  window.show();
  QTimer::singleShot(0, [] {
    // The panel takes the focus, as under a window manager.
    QWidget* panel = QApplication::activeModalWidget();
    panel->activateWindow();
    runMainQueue(2.0, [panel] { return QApplication::activeWindow() == panel; });
    ReviewPrompt::requestReview();
    panel->close();
  });
  {
    QDialog panel(&window);  // as the save panel is made: on the stack, closed by the user
    panel.exec();
  }
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(visiblePrompts().size(), 1);
}

TEST_F(ReviewPromptTest, RateOpensTheProductPageAndNotNowOnlyCloses) {
  ReviewPrompt::requestReview();
  ASSERT_EQ(visiblePrompts().size(), 1);
  button(visiblePrompts()[0], QStringLiteral("Not Now"))->click();
  EXPECT_TRUE(visiblePrompts().isEmpty());
  EXPECT_TRUE(opened_.isEmpty());

  ReviewPrompt::requestReview();
  ASSERT_EQ(visiblePrompts().size(), 1);
  button(visiblePrompts()[0], QStringLiteral("Rate Lorvanta"))->click();
  EXPECT_TRUE(visiblePrompts().isEmpty());
  // The same page as the update alert's update button.
  EXPECT_EQ(opened_, QList<QUrl>{QUrl(QString::fromUtf8(kUpdatePageAddress))});
}

TEST_F(ReviewPromptTest, ThePromptLeavesTheFocusWhereItWas) {
  QMainWindow window;
  auto* field = new QLineEdit(&window);  // say, a file name being typed
  window.setCentralWidget(field);
  window.show();
  QApplication::setActiveWindow(&window);
  field->setFocus();
  ASSERT_EQ(QApplication::focusWidget(), field);

  ReviewPrompt::requestReview();
  runMainQueue(0.2);
  ReviewPrompt::requestReview();  // again while shown: raised, still not activated
  runMainQueue(0.2);

  const QList<QDialog*> prompts = visiblePrompts();
  ASSERT_EQ(prompts.size(), 1);
  EXPECT_EQ(prompts[0]->parentWidget(), &window) << "on top of the main window";
  EXPECT_FALSE(prompts[0]->isModal());
  EXPECT_EQ(QApplication::activeWindow(), &window);
  EXPECT_EQ(QApplication::focusWidget(), field);
}

}  // namespace
}  // namespace lorvanta
