// The speak road: controller state, requests, graph set-up and live playback.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

#include "FixtureVoiceSynthesizer.h"
#include "SavePanelDriver.h"
#include "ToneSynthesizer.h"
#include "WarningDriver.h"
#include "app/AppDelegate.h"
#include "platform/Bundle.h"
#include "platform/InterfaceLoader.h"
#include "platform/Translations.h"
#include "studio/audio/NullOutputDevice.h"

namespace lorvanta {
namespace {

using roadtest::FastOutputDevice;
using roadtest::spinFor;
using roadtest::spinUntil;
using roadtest::ToneState;

// Points the temporary folder (TMPDIR) at a fresh, empty folder while it lives.
class ScopedTemporaryFolder {
 public:
  ScopedTemporaryFolder() : saved_(qgetenv("TMPDIR")) { qputenv("TMPDIR", dir_.path().toLocal8Bit()); }
  ~ScopedTemporaryFolder() { qputenv("TMPDIR", saved_); }
  ScopedTemporaryFolder(const ScopedTemporaryFolder&) = delete;
  ScopedTemporaryFolder& operator=(const ScopedTemporaryFolder&) = delete;

  QStringList entries() const {
    return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
  }

 private:
  QTemporaryDir dir_;
  QByteArray saved_;
};

class MainRoadTest : public ::testing::Test {
 protected:
  void SetUp() override { roadtest::quietRatingPrompt(); }
  void load(StudioServices services) {
    controller_ = std::make_unique<ViewController>(std::nullopt, nullptr, std::move(services));
    window_.bind(*controller_);
    controller_->awakeFromNib();
    controller_->viewDidLoad();
  }
  void loadWithTone() { load(roadtest::toneServices(tone_)); }
  void loadWithEspeak() {
    StudioServices services;
    services.makeOutputDevice = [] { return std::make_unique<FastOutputDevice>(); };
    load(std::move(services));
  }

  void type(const QString& text) { window_.text->setPlainText(text); }

  void click(bool save) { controller_->performAction(save ? "test_save" : "playTTS", nullptr); }

  using Console = roadtest::WatchedConsole;
  Console watch(const std::function<bool(const std::string&)>& done, double seconds = 20.0) {
    return roadtest::watchConsole(done, seconds);
  }
  Console watchPlayback(double seconds = 20.0) {
    return watch(
        [&](const std::string& text) {
          return text.find("播放结束2") != std::string::npos && !controller_->audioEngine->isRunning();
        },
        seconds);
  }

  std::shared_ptr<ToneState> tone_ = std::make_shared<ToneState>();
  voicetest::FixtureWindow window_;
  std::unique_ptr<ViewController> controller_;
};

TEST(MainRoadConstruction, BothInitialisersLeaveTheSameDefaults) {
  auto tone = std::make_shared<ToneState>();
  const std::function<std::unique_ptr<ViewController>()> makers[] = {
      [&] {
        return std::make_unique<ViewController>(InterfaceCoder{"ViewController", "controller"},
                                                roadtest::toneServices(tone));
      },
      [&] { return std::make_unique<ViewController>(std::nullopt, nullptr, roadtest::toneServices(tone)); },
  };
  for (const auto& make : makers) {
    const std::unique_ptr<ViewController> c = make();
    EXPECT_TRUE(c->tts_is_save);
    EXPECT_EQ(c->rate, 180.0f);
    EXPECT_EQ(c->pitch, 0.0f);
    EXPECT_EQ(c->buffer, nullptr);
    EXPECT_FALSE(c->aiff_tem_URL.has_value());
    ASSERT_TRUE(c->audioFile);
    EXPECT_FALSE(c->audioFile->isOpen());
    ASSERT_TRUE(c->audioEngine && c->playerNode && c->auTimePitch && c->speechSynthesizer);
    EXPECT_FALSE(c->audioEngine->isRunning());
    EXPECT_FALSE(c->audioEngine->isAttached(*c->playerNode));
    EXPECT_FALSE(c->audioEngine->isAttached(*c->auTimePitch));
    EXPECT_EQ(c->selectedVoice, "tone");
    EXPECT_EQ(c->speechSynthesizer->delegate(), nullptr);
    EXPECT_TRUE(c->fVoicesPopUpButton.isNull() && c->fSpokenTextView.isNull() && c->rate_slider.isNull() &&
                c->pitch_slider.isNull() && c->rate_textfield.isNull() && c->pitch_textfield.isNull() &&
                c->jd_nsprogressindicator.isNull());
    c->setRepresentedObject(QVariant(42));
    EXPECT_EQ(c->representedObject(), QVariant(42));
  }
}

TEST_F(MainRoadTest, ViewDidLoadShowsTheValuesAndHidesTheSpinningIndicator) {
  controller_ = std::make_unique<ViewController>(std::nullopt, nullptr, roadtest::toneServices(tone_));
  window_.bind(*controller_);
  const auto unitBefore = controller_->auTimePitch;
  testing::internal::CaptureStdout();
  controller_->viewDidLoad();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  EXPECT_EQ(window_.rateField->text(), "180.0");
  EXPECT_EQ(controller_->rate_slider.stringValue(), "180.0");
  EXPECT_EQ(window_.pitchField->text(), "0.0");
  EXPECT_EQ(controller_->pitch_slider.stringValue(), "0.0");
  EXPECT_TRUE(controller_->jd_nsprogressindicator.isHidden());
  EXPECT_TRUE(controller_->jd_nsprogressindicator.isAnimating());
  EXPECT_EQ(controller_->speechSynthesizer->delegate(), controller_.get());
  EXPECT_EQ(controller_->rate, 180.0f);
  EXPECT_EQ(controller_->pitch, 0.0f);
  EXPECT_EQ(controller_->auTimePitch, unitBefore);
  EXPECT_EQ(controller_->auTimePitch->pitch(), 0.0f);
}

// The main interface file's controls reach the window's controller: Speak speaks the typed
// text, Save asks where to save it, the rate slider sets the rate.
TEST_F(MainRoadTest, TheMainWindowsControlsReachTheirActions) {
  InterfaceClassRegistry::shared().registerClass(
      "AppDelegate", [](const InterfaceCoder& coder) { return std::make_unique<AppDelegate>(coder); });
  InterfaceClassRegistry::shared().registerClass(
      "ViewController", [tone = tone_](const InterfaceCoder& coder) {
        return std::make_unique<ViewController>(coder, roadtest::toneServices(tone));
      });
  const LoadedInterface loaded = loadInterfaceFile(Bundle(LORVANTA_RESOURCE_DIR).pathForResource("main.ui"));
  ASSERT_TRUE(loaded.window);
  auto* controller = dynamic_cast<ViewController*>(loaded.controller);
  ASSERT_NE(controller, nullptr);
  auto* text = loaded.window->findChild<QPlainTextEdit*>("fSpokenTextView");
  auto* speak = loaded.window->findChild<QPushButton*>("speakButton");
  auto* save = loaded.window->findChild<QPushButton*>("saveButton");
  auto* rate = loaded.window->findChild<QSlider*>("rate_slider");
  ASSERT_TRUE(text && speak && save && rate);
  text->setPlainText("tone");

  speak->click();
  ASSERT_EQ(tone_->starts.size(), 1u);
  EXPECT_EQ(tone_->starts[0].text, "tone");
  EXPECT_FALSE(controller->tts_is_save);
  const Console played = watch([&](const std::string& console) {
    return console.find("播放结束2") != std::string::npos && !controller->audioEngine->isRunning();
  });
  EXPECT_TRUE(played.ended) << played.text;

  const auto panel = roadtest::answerSavePanels(QString());
  save->click();
  EXPECT_TRUE(controller->tts_is_save);
  EXPECT_TRUE(spinUntil([&] { return panel->panels == 1 && !QApplication::activeModalWidget(); }));
  EXPECT_EQ(tone_->starts.size(), 2u);

  rate->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(controller->rate, 181.0f);
  EXPECT_EQ(loaded.window->findChild<QLineEdit*>("rate_textfield")->text(), "181.0");
}

TEST_F(MainRoadTest, OnlyOutletsOfTheirOwnKindAreBound) {
  loadWithTone();
  QLineEdit notAPopUp;
  EXPECT_FALSE(controller_->setOutlet("fVoicesPopUpButton", &notAPopUp));
  EXPECT_FALSE(controller_->setOutlet("buffer", &notAPopUp));
  EXPECT_EQ(controller_->fVoicesPopUpButton.widget(), window_.voices);
}

TEST_F(MainRoadTest, OnlyTheEmptyTextEndsARequest) {
  loadWithTone();
  controller_->performAction("playTTS", nullptr);
  EXPECT_FALSE(controller_->tts_is_save);
  EXPECT_FALSE(controller_->aiff_tem_URL.has_value());
  EXPECT_TRUE(tone_->starts.empty());
  EXPECT_TRUE(controller_->jd_nsprogressindicator.isHidden());

  type(" ");
  controller_->performAction("playTTS", nullptr);
  ASSERT_EQ(tone_->starts.size(), 1u);
  EXPECT_EQ(tone_->starts[0].text, " ");
  EXPECT_FALSE(controller_->jd_nsprogressindicator.isHidden());
  EXPECT_TRUE(spinUntil([&] { return controller_->jd_nsprogressindicator.isHidden(); }));

  // The synthesizer gets the whole text, past a NUL character.
  type(QStringLiteral("one") + QChar(0) + QStringLiteral("two"));
  controller_->performAction("playTTS", nullptr);
  ASSERT_EQ(tone_->starts.size(), 2u);
  EXPECT_EQ(tone_->starts[1].text, std::string("one\0two", 7));
}

TEST_F(MainRoadTest, EachRequestMakesANewTemporaryFileAndOnlyTheNewestStays) {
  loadWithTone();
  type("one");
  controller_->rate = 231.0f;
  controller_->performAction("playTTS", nullptr);
  const QUrl first = controller_->aiff_tem_URL.value();
  EXPECT_TRUE(QFileInfo::exists(first.toLocalFile()));
  controller_->performAction("playTTS", nullptr);
  const QUrl second = controller_->aiff_tem_URL.value();
  ASSERT_TRUE(spinUntil([&] { return tone_->reports.size() == 1; }));

  const QRegularExpression name("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.aiff$");
  for (const QUrl& url : {first, second}) {
    const QFileInfo file(url.toLocalFile());
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(file.fileName().size(), 41);
    EXPECT_TRUE(name.match(file.fileName()).hasMatch()) << file.fileName().toStdString();
    EXPECT_EQ(file.absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
  }
  EXPECT_NE(first, second);
  EXPECT_FALSE(QFileInfo::exists(first.toLocalFile()));
  EXPECT_TRUE(QFileInfo::exists(second.toLocalFile()));
  ASSERT_EQ(tone_->starts.size(), 2u);
  EXPECT_EQ(tone_->starts[1].path, second.toLocalFile().toStdString());
  EXPECT_EQ(tone_->starts[1].rate, 231.0f);
  ASSERT_TRUE(spinUntil([&] { return !controller_->audioEngine->isRunning(); }));

  // The window's controller takes the last one with it.
  controller_.reset();
  EXPECT_FALSE(QFileInfo::exists(second.toLocalFile()));
}

TEST_F(MainRoadTest, ASynthesisStillWritingWhenReplacedLeavesNoFile) {
  const ScopedTemporaryFolder temporary;
  loadWithEspeak();
  QString longText;
  for (int i = 0; i < 200; ++i) longText += "This sentence keeps the synthesizer busy for a while. ";
  type(longText);
  click(false);
  const QString first = controller_->aiff_tem_URL->toLocalFile();
  ASSERT_TRUE(spinUntil([&] { return QFileInfo::exists(first); }));

  type("Short.");
  click(false);
  const QString second = controller_->aiff_tem_URL->toLocalFile();
  ASSERT_TRUE(watchPlayback(60.0).ended);
  EXPECT_EQ(temporary.entries(), QStringList{QFileInfo(second).fileName()});

  // Superseded while the first speech is written.
  type(longText);
  click(false);
  const QString third = controller_->aiff_tem_URL->toLocalFile();
  ASSERT_TRUE(spinUntil([&] { return QFileInfo::exists(third); }));
  controller_.reset();
  spinFor(0.2);
  EXPECT_EQ(temporary.entries(), QStringList{});
}
// The graph after a set-up: player -> newest unit -> output.
void expectConnected(const ViewController& c) {
  EXPECT_EQ(c.audioEngine->inputOf(*c.audioEngine->outputNode()), c.auTimePitch);
  EXPECT_EQ(c.audioEngine->inputOf(*c.auTimePitch), c.playerNode);
}

TEST_F(MainRoadTest, SpeakPlaysTheFileBackAndStops) {
  loadWithTone();
  type("tone");
  click(false);
  EXPECT_FALSE(controller_->jd_nsprogressindicator.isHidden());
  const Console console = watchPlayback();
  ASSERT_TRUE(console.ended) << console.text;
  EXPECT_EQ(console.text, "完成\n播放结束2\n");
  EXPECT_TRUE(controller_->jd_nsprogressindicator.isHidden());
  EXPECT_FALSE(controller_->playerNode->isPlaying());
  EXPECT_EQ(controller_->audioFile->length(), tone_->frames);
  expectConnected(*controller_);
}

TEST_F(MainRoadTest, SpeakThroughEspeakEndsWithBothLines) {
  loadWithEspeak();
  type("Hello from the main window.");
  click(false);
  const Console console = watchPlayback(60.0);
  ASSERT_TRUE(console.ended) << console.text;
  EXPECT_EQ(console.text, "完成\n播放结束2\n");
  EXPECT_GT(controller_->audioFile->length(), 0);
  EXPECT_FALSE(controller_->tts_is_save);
}

TEST_F(MainRoadTest, SpeakWhilePlayingStopsThePlaybackFirst) {
  loadWithTone();
  type("long");
  tone_->frames = 22050 * 60;  // about three seconds on the fast device
  click(false);
  ASSERT_TRUE(spinUntil([&] { return controller_->playerNode->isPlaying(); }));
  const QUrl firstFile = controller_->aiff_tem_URL.value();

  // An empty text ends the request before anything is stopped.
  type("");
  click(false);
  EXPECT_TRUE(controller_->audioEngine->isRunning());
  EXPECT_TRUE(controller_->playerNode->isPlaying());
  EXPECT_EQ(controller_->aiff_tem_URL.value(), firstFile);

  type("long");
  tone_->frames = 4000;
  click(false);
  EXPECT_FALSE(controller_->audioEngine->isRunning());
  EXPECT_FALSE(controller_->playerNode->isPlaying());
  const Console console = watchPlayback();
  ASSERT_TRUE(console.ended) << console.text;
  // One playback ended: the first one's completion went with the stop.
  EXPECT_EQ(console.text, "完成\n播放结束2\n");
  EXPECT_NE(controller_->aiff_tem_URL.value(), firstFile);
  EXPECT_EQ(controller_->audioFile->length(), 4000);
}

TEST_F(MainRoadTest, EverySetUpConnectsOnlyANewUnitWithTheCurrentPitch) {
  loadWithTone();
  type("tone");
  const auto initialUnit = controller_->auTimePitch;
  click(false);
  ASSERT_TRUE(watchPlayback().ended);
  const auto firstUnit = controller_->auTimePitch;
  EXPECT_NE(firstUnit, initialUnit);
  EXPECT_FALSE(controller_->audioEngine->isAttached(*initialUnit));

  controller_->pitch = 300.0f;
  click(false);
  ASSERT_TRUE(watchPlayback().ended);
  const auto secondUnit = controller_->auTimePitch;
  EXPECT_NE(secondUnit, firstUnit);
  EXPECT_EQ(secondUnit->pitch(), 300.0f);
  EXPECT_TRUE(controller_->audioEngine->isAttached(*firstUnit));
  EXPECT_EQ(controller_->audioEngine->inputOf(*firstUnit), nullptr);
  expectConnected(*controller_);

  // The pitch controls act on the connected unit only.
  controller_->pitch_slider.setStringValue("12.5");
  controller_->set_rate_slider_action(window_.pitchSlider);
  const auto connected = std::dynamic_pointer_cast<AudioUnitTimePitch>(
      controller_->audioEngine->inputOf(*controller_->audioEngine->outputNode()));
  ASSERT_NE(connected, nullptr);
  EXPECT_EQ(connected->pitch(), 12.5f);
  EXPECT_EQ(firstUnit->pitch(), 0.0f);
}

TEST_F(MainRoadTest, SaveClickAfterAnUnfinishedSpeakIsHandledAsASave) {
  loadWithTone();
  type("tone");
  click(false);
  click(true);  // before the first synthesis has reported
  const auto panel = roadtest::answerSavePanels(QString());
  const Console console =
      watch([&](const std::string&) { return panel->panels == 1 && !QApplication::activeModalWidget(); });
  ASSERT_TRUE(console.ended);
  EXPECT_EQ(tone_->reports.size(), 1u);
  EXPECT_EQ(console.text, "");
  EXPECT_FALSE(controller_->audioEngine->isRunning());
  EXPECT_FALSE(controller_->playerNode->isPlaying());
}

TEST_F(MainRoadTest, AnUnreadableTemporaryFileEndsTheRequestWithAWarning) {
  loadWithTone();
  type("tone");
  const auto panel = roadtest::answerSavePanels(QString());
  const struct {
    const char* what;
    bool garbage;                               // the synthesizer writes no sound file
    std::function<void(const QString&)> spoil;  // done to the file before it is opened
    QString reason;                             // empty: whatever libsndfile says
  } cases[] = {
      {"removed by a cleaner", false, [](const QString& path) { QFile::remove(path); },
       "No such file or directory"},
      {"no sound in it", true, [](const QString&) {}, QString()},
      {"no permission", false, [](const QString& path) { QFile::setPermissions(path, {}); },
       "Permission denied"},
  };
  for (const auto& c : cases) {
    // Root reads any file.
    if (c.reason == "Permission denied" && ::geteuid() == 0) continue;
    tone_->writeGarbage = c.garbage;
    for (bool save : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (save ? ", save" : ", speak"));
      const auto warnings = roadtest::answerWarnings();
      roadtest::ConsoleCapture errors(STDERR_FILENO);
      click(save);
      c.spoil(controller_->aiff_tem_URL->toLocalFile());
      const Console console = watch([&](const std::string&) { return !warnings->isEmpty(); });
      errors.restore();
      ASSERT_TRUE(console.ended);
      EXPECT_EQ(console.text, "");
      ASSERT_EQ(warnings->size(), 1);
      const QString text = warnings->front().text;
      const QString start = save ? "The speech could not be saved: " : "The speech could not be played: ";
      EXPECT_TRUE(text.startsWith(start)) << text.toStdString();
      EXPECT_FALSE(text.contains(controller_->aiff_tem_URL->toLocalFile())) << text.toStdString();
      if (!c.reason.isEmpty()) {
        EXPECT_EQ(text, start + c.reason + ".");
      }
      EXPECT_EQ(roadtest::countLines(errors.text(), text.toStdString()), 1) << errors.text();
      EXPECT_FALSE(controller_->audioEngine->isRunning());
      EXPECT_FALSE(controller_->audioFile->isOpen());
    }
  }
  EXPECT_EQ(panel->panels, 0);

  // The window stays usable.
  tone_->writeGarbage = false;
  click(false);
  EXPECT_TRUE(watchPlayback().ended);
}

TEST_F(MainRoadTest, TheIndicatorIsBusyAtFirstThenShowsTheSpokenFractionUntilTheSynthesisEnds) {
  auto state = std::make_shared<voicetest::FixtureVoiceState>();
  state->voices = {{"v", {}}};
  state->defaultVoice = "v";
  load(voicetest::fixtureServices(state));
  type("a long text");
  const ProgressIndicator& indicator = controller_->jd_nsprogressindicator;
  SpeechSynthesizer& synthesizer = *controller_->speechSynthesizer;
  QProgressBar& bar = *window_.progress;
  for (int request = 0; request < 2; ++request) {
    SCOPED_TRACE(request);
    click(false);
    EXPECT_FALSE(indicator.isHidden());
    EXPECT_TRUE(indicator.isAnimating());
    // The first moment, which is all that a short text takes: still busy.
    state->delegate->speechSynthesizerDidProgress(synthesizer, 0.3);
    EXPECT_TRUE(indicator.isAnimating());
    spinFor(0.6);
    state->delegate->speechSynthesizerDidProgress(synthesizer, 0.4);
    EXPECT_FALSE(indicator.isAnimating());
    EXPECT_EQ(bar.value() * 10, bar.maximum() * 4);
    state->delegate->speechSynthesizerDidProgress(synthesizer, 0.75);
    EXPECT_EQ(bar.value() * 4, bar.maximum() * 3);
    state->delegate->speechSynthesizerDidFinishSpeaking(synthesizer, true);
    EXPECT_TRUE(indicator.isHidden());
  }
}

TEST_F(MainRoadTest, AWarningUnderAChineseLocaleIsChineseInTheDialogAndOnStandardError) {
  installTranslations(Bundle(LORVANTA_RESOURCE_DIR), QLocale(QLocale::Chinese, QLocale::China));
  const std::shared_ptr<void> english(nullptr, [](void*) {
    installTranslations(Bundle(LORVANTA_RESOURCE_DIR), QLocale(QLocale::English, QLocale::UnitedStates));
  });
  loadWithTone();
  type("tone");
  tone_->reportFinished = false;
  tone_->failureReason = "the text is too long to be spoken in one piece";
  const auto warnings = roadtest::answerWarnings();
  roadtest::ConsoleCapture errors(STDERR_FILENO);
  click(false);
  const Console console = watch([&](const std::string&) { return !warnings->isEmpty(); });
  errors.restore();
  ASSERT_TRUE(console.ended);
  const QString expected = QString::fromUtf8("无法合成语音：文字太长，无法一次读完。");
  ASSERT_EQ(warnings->size(), 1);
  EXPECT_EQ(warnings->front().text, expected);
  EXPECT_EQ(warnings->front().buttons, QStringList{QString::fromUtf8("确定")});
  EXPECT_EQ(roadtest::countLines(errors.text(), expected.toStdString()), 1) << errors.text();
}

// What ends a request early is told once, in a warning on the window and on stderr; nothing
// plays or is saved, and the window takes the next request.
TEST_F(MainRoadTest, WhatEndsARequestEarlyIsToldOnce) {
  using DeviceMaker = std::function<std::unique_ptr<AudioOutputDevice>()>;
  const DeviceMaker working = [] { return std::make_unique<FastOutputDevice>(); };
  const DeviceMaker notStarting = [] {
    NullOutputDevice::Options options;
    options.failToStart = true;
    return std::make_unique<NullOutputDevice>(options);
  };
  // Loses the sound server a quarter of a second into its first playback; then it is back.
  const DeviceMaker failingOnce = [] { return std::make_unique<FastOutputDevice>(22050 / 4); };
  const struct {
    const char* name;
    DeviceMaker device;
    bool synthesisFails;
    bool save;
    std::string warning;
    bool nextPlays;
  } cases[] = {
      {"synthesis fails, speak", working, true, false,
       "The speech could not be synthesised: No space left on device.", true},
      {"synthesis fails, save", working, true, true,
       "The speech could not be synthesised: No space left on device.", true},
      {"device does not start", notStarting, false, false,
       "The speech could not be played: no audio output device.", false},
      {"device fails during playback", failingOnce, false, false,
       "The speech could not be played: the sound server went away.", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StudioServices services = roadtest::toneServices(tone_);
    services.makeOutputDevice = c.device;
    controller_.reset();  // the fixture synthesizer serves one controller at a time
    load(std::move(services));
    tone_->frames = 22050 * 5;
    tone_->reportFinished = !c.synthesisFails;
    tone_->failureReason = "No space left on device";
    type("tone");
    const QTemporaryDir folder;
    const auto panel = roadtest::answerSavePanels(folder.filePath("never.wav"));
    const auto warnings = roadtest::answerWarnings();
    roadtest::ConsoleCapture errors(STDERR_FILENO);
    click(c.save);
    const QString temporaryFile = controller_->aiff_tem_URL->toLocalFile();
    const Console console = watch(
        [&](const std::string&) { return !warnings->isEmpty() && !controller_->audioEngine->isRunning(); });
    errors.restore();
    ASSERT_TRUE(console.ended);
    // Neither completion line: nothing reached its end.
    EXPECT_EQ(console.text, "");
    EXPECT_EQ(roadtest::toldWarning(*warnings, errors.text(), &window_.root).toStdString(), c.warning);
    EXPECT_TRUE(controller_->jd_nsprogressindicator.isHidden());
    EXPECT_FALSE(controller_->audioEngine->isRunning());
    EXPECT_FALSE(controller_->playerNode->isPlaying());
    if (c.synthesisFails) {
      EXPECT_FALSE(controller_->audioFile->isOpen());
      EXPECT_FALSE(QFileInfo::exists(temporaryFile));
    }
    EXPECT_EQ(panel->panels, 0);
    EXPECT_TRUE(QDir(folder.path()).isEmpty());

    if (!c.nextPlays) continue;
    tone_->reportFinished = true;
    tone_->frames = 22050 / 10;
    click(false);
    EXPECT_TRUE(watchPlayback().ended);
    EXPECT_EQ(warnings->size(), 1);
  }
}

// A window closed while its request is under way: nothing of that request runs any more
// (no line, no warning, no file left), and nothing touches the controller that is gone.
TEST_F(MainRoadTest, NothingRunsOnAControllerThatIsGone) {
  const ScopedTemporaryFolder temporary;
  const auto requestFiles = [&] { return temporary.entries().filter(".aiff"); };
  // What the console shows from `closing` on, while the event loop runs for `seconds`.
  const auto afterClosing = [&](const std::function<void()>& closing, double seconds) {
    roadtest::ConsoleCapture console;
    roadtest::ConsoleCapture errors(STDERR_FILENO);
    closing();
    spinFor(seconds);
    console.restore();
    errors.restore();
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(errors.text().find("The speech could not"), std::string::npos) << errors.text();
  };

  loadWithEspeak();
  type("A request that outlives its window.");
  click(false);
  afterClosing([&] { controller_.reset(); }, 1.0);  // before the synthesis reports
  EXPECT_EQ(requestFiles(), QStringList{});

  loadWithTone();
  tone_->frames = 22050 * 60;
  type("tone");
  click(false);
  ASSERT_TRUE(spinUntil([&] { return controller_->playerNode->isPlaying(); }));
  afterClosing([&] { controller_.reset(); }, 0.3);  // while playing
  EXPECT_EQ(requestFiles(), QStringList{});
}

}  // namespace
}  // namespace lorvanta
