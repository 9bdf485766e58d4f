// The real main interface file with the window's controller: its buttons start the speak
// and save roads.

#include <gtest/gtest.h>

#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "SavePanelDriver.h"
#include "ToneSynthesizer.h"
#include "platform/InterfaceLoader.h"

namespace lorvanta {
namespace {

using roadtest::ToneState;

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    roadtest::quietRatingPrompt();
    InterfaceClassRegistry::shared().registerClass(
        "ViewController", [tone = tone_](const InterfaceCoder& coder) {
          return std::make_unique<ViewController>(coder, roadtest::toneServices(tone));
        });
    loaded_ = loadInterfaceFile(QStringLiteral(LORVANTA_RESOURCE_DIR "/main.ui"));
    ASSERT_TRUE(loaded_.window);
    controller_ = dynamic_cast<ViewController*>(loaded_.controller);
    ASSERT_NE(controller_, nullptr);
    loaded_.window->show();
  }

  template <typename T>
  T* child(const char* name) const {
    return loaded_.window->findChild<T*>(QString::fromLatin1(name));
  }

  std::shared_ptr<ToneState> tone_ = std::make_shared<ToneState>();
  LoadedInterface loaded_;
  ViewController* controller_ = nullptr;
};

TEST_F(MainWindowTest, TheFileBindsEveryOutletAndTheControlsShowTheStartValues) {
  for (const QString& problem : loaded_.problems) {
    EXPECT_FALSE(problem.contains("ViewController") || problem.contains("outlet") ||
                 problem.contains("action"))
        << problem.toStdString();
  }
  EXPECT_EQ(controller_->fSpokenTextView.widget(), child<QPlainTextEdit>("fSpokenTextView"));
  EXPECT_EQ(controller_->jd_nsprogressindicator.widget(), child<QProgressBar>("jd_nsprogressindicator"));
  EXPECT_EQ(child<QLineEdit>("rate_textfield")->text(), "180.0");
  EXPECT_EQ(child<QLineEdit>("pitch_textfield")->text(), "0.0");
  EXPECT_EQ(controller_->rate_slider.stringValue(), "180.0");
  EXPECT_EQ(controller_->pitch_slider.stringValue(), "0.0");
  EXPECT_TRUE(child<QProgressBar>("jd_nsprogressindicator")->isHidden());
  EXPECT_EQ(controller_->speechSynthesizer->delegate(), controller_);
}

TEST_F(MainWindowTest, SpeakAndSaveButtonsRunBothRoads) {
  child<QPlainTextEdit>("fSpokenTextView")->setPlainText("From the window.");
  child<QPushButton>("speakButton")->click();
  EXPECT_FALSE(child<QProgressBar>("jd_nsprogressindicator")->isHidden());
  const roadtest::WatchedConsole played = roadtest::watchConsole([&](const std::string& text) {
    return text.find("播放结束2") != std::string::npos && !controller_->audioEngine->isRunning();
  });
  ASSERT_TRUE(played.ended) << played.text;
  EXPECT_EQ(played.text, "完成\n播放结束2\n");

  QTemporaryDir folder;
  const QString path = folder.filePath("window.wav");
  const auto panel = roadtest::answerSavePanels(path);
  child<QPushButton>("saveButton")->click();
  const roadtest::WatchedConsole saved = roadtest::watchConsole(
      [&](const std::string&) { return panel->panels == 1 && !QApplication::activeModalWidget(); });
  ASSERT_TRUE(saved.ended);
  const std::string line = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded).toStdString() + "\n";
  EXPECT_EQ(saved.text, line + line);
  EXPECT_EQ(roadtest::readSound(path.toStdString()).info.frames, tone_->frames);
  EXPECT_TRUE(child<QProgressBar>("jd_nsprogressindicator")->isHidden());
}

}  // namespace
}  // namespace lorvanta
