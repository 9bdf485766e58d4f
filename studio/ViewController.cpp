// The main window's controller: construction, outlets and actions, the speak and save
// requests, the audio graph, live playback and the offline render into a saved file.

#include "studio/ViewController.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSlider>
#include <QUuid>
#include <algorithm>
#include <string>
#include <utility>

#include "platform/MainQueue.h"
#include "platform/NumberTextQt.h"
#include "platform/SavePanel.h"
#include "studio/ConsoleLine.h"
#include "studio/audio/AudioOutputDevice.h"
#include "studio/speech/EspeakSpeechSynthesizer.h"

namespace lorvanta {

namespace {

using studio::printLine;

// Largest number of frames one offline render call may ask for.
constexpr uint32_t kMaximumRenderFrameCount = 8096;
// Consecutive render passes that leave the sample time where it was before the save gives up.
constexpr int kMaximumIdleRenderPasses = 16;

std::unique_ptr<AudioEngine> makeEngine(const StudioServices& services) {
  if (services.makeOutputDevice) return std::make_unique<AudioEngine>(services.makeOutputDevice());
  return std::make_unique<AudioEngine>(makeDefaultOutputDevice());
}

std::unique_ptr<SpeechSynthesizer> makeSynthesizer(const StudioServices& services) {
  if (services.makeSynthesizer) return services.makeSynthesizer();
  return std::make_unique<EspeakSpeechSynthesizer>(mainQueueAsync);
}

}  // namespace

ViewController::ViewController(const InterfaceCoder& /*coder*/, StudioServices services)
    : ViewController(std::move(services)) {}

ViewController::ViewController(const std::optional<QString>& /*nibName*/, const Bundle* /*bundle*/,
                               StudioServices services)
    : ViewController(std::move(services)) {}

ViewController::ViewController(StudioServices services)
    : audioEngine(makeEngine(services)),
      playerNode(std::make_shared<AudioPlayerNode>()),
      audioFile(std::make_shared<AudioFile>()),
      auTimePitch(std::make_shared<AudioUnitTimePitch>()),
      speechSynthesizer(makeSynthesizer(services)) {
  selectedVoice = speechSynthesizer->defaultVoice();
}

ViewController::~ViewController() {
  // A finished call still on its way finds no delegate.
  if (speechSynthesizer && speechSynthesizer->delegate() == this) speechSynthesizer->setDelegate(nullptr);
}

bool ViewController::setOutlet(const QString& name, QWidget* widget) {
  if (name == QLatin1String("fVoicesPopUpButton")) {
    auto* box = qobject_cast<QComboBox*>(widget);
    if (!box && widget) return false;
    fVoicesPopUpButton = PopUpButton(box);
  } else if (name == QLatin1String("fSpokenTextView")) {
    auto* edit = qobject_cast<QPlainTextEdit*>(widget);
    if (!edit && widget) return false;
    fSpokenTextView = TextView(edit);
  } else if (name == QLatin1String("rate_slider") || name == QLatin1String("pitch_slider")) {
    auto* slider = qobject_cast<QSlider*>(widget);
    if (!slider && widget) return false;
    (name == QLatin1String("rate_slider") ? rate_slider : pitch_slider) = Slider(slider);
  } else if (name == QLatin1String("rate_textfield") || name == QLatin1String("pitch_textfield")) {
    auto* edit = qobject_cast<QLineEdit*>(widget);
    if (!edit && widget) return false;
    (name == QLatin1String("rate_textfield") ? rate_textfield : pitch_textfield) = TextField(edit);
  } else if (name == QLatin1String("jd_nsprogressindicator")) {
    auto* bar = qobject_cast<QProgressBar*>(widget);
    if (!bar && widget) return false;
    jd_nsprogressindicator = ProgressIndicator(bar);
  } else {
    return false;
  }
  return true;
}

namespace {

using Action = void (ViewController::*)(QObject*);

struct ActionEntry {
  const char* name;
  Action method;
};

constexpr ActionEntry kActions[] = {
    {"playTTS", &ViewController::playTTS},
    {"test_save", &ViewController::test_save},
    {"set_rate_slider_action", &ViewController::set_rate_slider_action},
    {"set_picth_rate_textfield_action", &ViewController::set_picth_rate_textfield_action},
    {"voicePopupSelected", &ViewController::voicePopupSelected},
};

const ActionEntry* findAction(const QString& action) {
  for (const ActionEntry& entry : kActions) {
    if (action == QLatin1String(entry.name)) return &entry;
  }
  return nullptr;
}

}  // namespace

bool ViewController::respondsToAction(const QString& action) const { return findAction(action) != nullptr; }

void ViewController::performAction(const QString& action, QObject* sender) {
  if (const ActionEntry* entry = findAction(action)) (this->*(entry->method))(sender);
}

void ViewController::viewDidLoad() {
  speechSynthesizer->setDelegate(this);
  awakeFromNib();
  rate_textfield.setStringValue(floatText(rate));
  rate_slider.setStringValue(floatText(rate));
  pitch_textfield.setStringValue(floatText(pitch));
  pitch_slider.setStringValue(floatText(pitch));
  jd_nsprogressindicator.startAnimation();
  jd_nsprogressindicator.setHidden(true);
}

std::optional<QUrl> ViewController::makeTempAIFFURL() {
  const QString directory = QDir::tempPath();
  const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".aiff");
  if (directory.isEmpty()) return std::nullopt;
  const QUrl url = QUrl::fromLocalFile(QDir(directory).filePath(name));
  if (!url.isValid() || !url.isLocalFile()) return std::nullopt;
  return url;
}

void ViewController::synthesizeTextToTempFile() {
  countClickForReview();
  const QString text = fSpokenTextView.string();
  if (text.isEmpty()) return;

  if (audioEngine->isRunning()) {
    audioEngine->stop();
    playerNode->stop();
  }

  aiff_tem_URL = makeTempAIFFURL();
  // No place for the file: nothing to synthesise into, the request ends here.
  if (!aiff_tem_URL) return;

  speechSynthesizer->setRate(rate);
  speechSynthesizer->startSpeakingStringToURL(text.toStdString(), aiff_tem_URL->toLocalFile().toStdString());
  jd_nsprogressindicator.setHidden(false);
}

void ViewController::playTTS(QObject* /*sender*/) {
  tts_is_save = false;
  synthesizeTextToTempFile();
}

void ViewController::test_save(QObject* /*sender*/) {
  tts_is_save = true;
  synthesizeTextToTempFile();
}

void ViewController::speechSynthesizerDidFinishSpeaking(SpeechSynthesizer& /*sender*/,
                                                        bool /*finishedSpeaking*/) {
  jd_nsprogressindicator.setHidden(true);
  const bool isSave = tts_is_save;
  setUpAudioGraph();
  // The temporary file could not be opened: nothing to play or save; the request ends.
  if (!audioFile->isOpen()) return;
  if (isSave) {
    renderToFile();
  } else {
    startPlayback();
  }
}

void ViewController::setUpAudioGraph() {
  std::shared_ptr<AudioFile> opened;
  if (aiff_tem_URL) opened = AudioFile::openForReading(aiff_tem_URL->toLocalFile().toStdString());
  if (!opened) {
    // Stands for no file; the graph is left as it was.
    audioFile = std::make_shared<AudioFile>();
    return;
  }
  audioFile = std::move(opened);

  audioEngine->attachNode(playerNode);
  auTimePitch = std::make_shared<AudioUnitTimePitch>();
  auTimePitch->setPitch(pitch);
  audioEngine->attachNode(auTimePitch);
  const AudioFormat format = audioFile->processingFormat();
  audioEngine->connect(playerNode, auTimePitch, format);
  audioEngine->connect(auTimePitch, audioEngine->outputNode(), format);
}

void ViewController::startPlayback() {
  ++playbackGeneration_;
  // Without a running engine nothing would play; the file is not left scheduled either.
  if (!audioEngine->startAndReturnError()) return;
  playerNode->play();

  const std::weak_ptr<const bool> alive = lifetime_;
  const uint64_t generation = playbackGeneration_;
  playerNode->scheduleFile(audioFile, AudioPlayerNodeCompletionCallbackType::DataPlayedBack,
                           [this, alive, generation](AudioPlayerNodeCompletionCallbackType) {
                             printLine("完成");
                             mainQueueAsync([this, alive, generation] {
                               // Gone, or a newer playback has started since this one ended.
                               if (alive.expired() || generation != playbackGeneration_) return;
                               stopAfterPlayback();
                             });
                           });
}

void ViewController::stopAfterPlayback() {
  printLine("播放结束2");
  audioEngine->stop();
  playerNode->stop();
}

std::optional<QUrl> ViewController::askSaveURL() {
  SavePanel panel;
  panel.setAllowedFileTypes({QStringLiteral("wav")});
  panel.setCanCreateDirectories(true);
  panel.setExtensionHidden(false);
  panel.setAllowsOtherFileTypes(false);
  if (panel.runModal() != SavePanel::kOK) return std::nullopt;
  std::optional<QUrl> url = panel.URL();
  if (!url) return std::nullopt;
  printLine(url->toString(QUrl::FullyEncoded).toStdString());
  return url;
}

void ViewController::renderToFile() {
  if (audioEngine->isRunning()) {
    audioEngine->stop();
    playerNode->stop();
  }

  const std::optional<QUrl> destination = askSaveURL();
  if (!destination) return;

  const AudioFormat renderFormat = audioFile->processingFormat();
  playerNode->scheduleFile(audioFile);

  std::shared_ptr<AudioFile> output;
  bool manualRendering = false;
  // Runs the closing steps that apply to how far the save got.
  auto close = [&] {
    output.reset();
    audioEngine->stop();
    playerNode->stop();
    audioEngine->reset();
    playerNode->reset();
    auTimePitch->reset();
    if (manualRendering) audioEngine->disableManualRenderingMode();
  };

  if (!audioEngine->enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, renderFormat,
                                              kMaximumRenderFrameCount)) {
    close();
    return;
  }
  manualRendering = true;

  if (audioEngine->startAndReturnError()) playerNode->play();

  const QString path = destination->toLocalFile();
  // Only a file is replaced; a folder of that name is left alone (and the open below fails).
  if (QFileInfo(path).isFile() || QFileInfo(path).isSymLink()) QFile::remove(path);

  const AudioFileSettings settings = audioFile->fileFormat().settings;
  printLine(destination->toString(QUrl::FullyEncoded).toStdString());

  output = AudioFile::openForWriting(path.toStdString(), settings);
  if (!output) {
    close();
    return;
  }

  const std::unique_ptr<AudioPCMBuffer> renderBuffer = AudioPCMBuffer::create(
      audioEngine->manualRenderingFormat(), audioEngine->manualRenderingMaximumFrameCount());
  if (!renderBuffer) {
    close();
    return;
  }

  int idlePasses = 0;
  for (;;) {
    const int64_t sampleTime = audioEngine->manualRenderingSampleTime();
    const int64_t length = audioFile->length();
    if (sampleTime >= length) break;

    const auto frames =
        static_cast<uint32_t>(std::min<int64_t>(renderBuffer->frameCapacity(), length - sampleTime));
    AudioError error;
    const AudioEngineManualRenderingStatus status = audioEngine->renderOffline(frames, *renderBuffer, &error);
    if (status == AudioEngineManualRenderingStatus::Error && error.code == 0) break;
    if (status == AudioEngineManualRenderingStatus::Success && error.code == 0) {
      output->writeFromBuffer(*renderBuffer);
    }

    if (audioEngine->manualRenderingSampleTime() > sampleTime) {
      idlePasses = 0;
    } else if (++idlePasses >= kMaximumIdleRenderPasses) {
      break;
    }
  }

  close();
}

}  // namespace lorvanta
