// The main window's controller: construction, outlets and actions, the speak and save
// requests, the audio graph, live playback and the offline render into a saved file.

#include "studio/ViewController.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
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
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "platform/Alert.h"
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

// "What failed: why." for a warning; the reason may be missing.
QString failureSentence(const QString& what, const std::string& reason) {
  QString why = QString::fromStdString(reason).trimmed();
  while (why.endsWith(QLatin1Char('.'))) why.chop(1);
  return why.isEmpty() ? what + QLatin1Char('.') : what + QStringLiteral(": ") + why + QLatin1Char('.');
}

// A request's temporary file; one that is already gone is no fault.
void removeTemporaryFile(const std::optional<QUrl>& url) {
  if (url) QFile::remove(url->toLocalFile());
}

// The busy pointer over the whole application while it lives.
class BusyPointer {
 public:
  BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyPointer() { QApplication::restoreOverrideCursor(); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

// Flushes the entries of `folder` to disk, so that a rename in it lasts.
void syncFolder(const QString& folder) {
  const int descriptor = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  ::fsync(descriptor);
  ::close(descriptor);
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
  // Notification thread: which playback failed is settled here, the rest on the main queue.
  audioEngine->setDeviceFailureHandler([this, alive = std::weak_ptr<const bool>(lifetime_),
                                        generations = playbackGeneration_](const AudioError& error) {
    const uint64_t generation = generations->load(std::memory_order_acquire);
    mainQueueAsync([this, alive, generation, message = error.message] {
      if (alive.expired()) return;
      outputDeviceFailed(generation, message);
    });
  });
}

ViewController::~ViewController() {
  // A finished call still on its way finds no delegate.
  if (speechSynthesizer && speechSynthesizer->delegate() == this) speechSynthesizer->setDelegate(nullptr);
  // Stops a synthesis still under way (it removes what it wrote); then the last request's
  // file goes too.
  speechSynthesizer.reset();
  removeTemporaryFile(aiff_tem_URL);
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

  const std::optional<QUrl> previous = aiff_tem_URL;
  aiff_tem_URL = makeTempAIFFURL();
  // No place for the file: nothing to synthesise into, the request ends here.
  if (!aiff_tem_URL) {
    removeTemporaryFile(previous);
    return;
  }

  speechSynthesizer->setRate(rate);
  // The whole text, NUL characters and all.
  speechSynthesizer->startSpeakingStringToURL(text.toStdString(), aiff_tem_URL->toLocalFile().toStdString());
  // Only after the start: it has superseded a synthesis that may still write that file.
  removeTemporaryFile(previous);
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

void ViewController::speechSynthesizerDidFinishSpeaking(SpeechSynthesizer& sender, bool finishedSpeaking) {
  jd_nsprogressindicator.setHidden(true);
  if (!finishedSpeaking) {
    // What a failed synthesis left is not the speech of the text: nothing to play or save.
    removeTemporaryFile(aiff_tem_URL);
    warn(failureSentence(QStringLiteral("The speech could not be synthesised"), sender.lastFailureReason()));
    return;
  }
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
  const uint64_t generation = playbackGeneration_->fetch_add(1, std::memory_order_acq_rel) + 1;
  // Without a running engine nothing would play; the file is not left scheduled either.
  AudioError error;
  if (!audioEngine->startAndReturnError(&error)) {
    warn(failureSentence(QStringLiteral("The speech could not be played"), error.message));
    return;
  }
  playerNode->play();

  const std::weak_ptr<const bool> alive = lifetime_;
  playerNode->scheduleFile(audioFile, AudioPlayerNodeCompletionCallbackType::DataPlayedBack,
                           [this, alive, generation](AudioPlayerNodeCompletionCallbackType) {
                             printLine("完成");
                             mainQueueAsync([this, alive, generation] {
                               // Gone, or a newer playback has started since this one ended.
                               if (alive.expired() || generation != playbackGeneration_->load()) return;
                               stopAfterPlayback();
                             });
                           });
}

void ViewController::stopAfterPlayback() {
  printLine("播放结束2");
  audioEngine->stop();
  playerNode->stop();
}

void ViewController::outputDeviceFailed(uint64_t generation, const std::string& message) {
  // A newer request has stopped or replaced that playback already.
  if (generation != playbackGeneration_->load() || !audioEngine->isRunning()) return;
  // A completion still on its way belongs to a playback that did not reach its end.
  playbackGeneration_->fetch_add(1, std::memory_order_acq_rel);
  audioEngine->stop();
  playerNode->stop();
  warn(failureSentence(QStringLiteral("The speech could not be played"), message));
}

void ViewController::warn(const QString& message) {
  printLine(message.toStdString(), stderr);
  QWidget* view = fSpokenTextView.widget();
  if (view == nullptr) return;
  Alert alert;
  alert.setAlertStyle(Alert::Style::Warning);
  alert.setMessageText(message);
  alert.addButtonWithTitle(QStringLiteral("OK"));
  alert.beginSheetModalForWindow(view->window(), [](int64_t) {});
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
  // The window takes no input until the closing sequence has run; show it.
  std::optional<BusyPointer> busy(std::in_place);

  const AudioFormat renderFormat = audioFile->processingFormat();
  playerNode->scheduleFile(audioFile);

  const QString path = destination->toLocalFile();
  // The speech is written beside the destination, under a hidden name of its own, and takes
  // the destination's place only once it is complete: a failed save leaves the old file.
  const QString folder = QFileInfo(path).absolutePath();
  const QString partPath = QDir(folder).filePath(
      QStringLiteral(".lorvanta-") + QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".wav"));

  std::shared_ptr<AudioFile> output;
  bool manualRendering = false;
  std::string failure;
  // The closing steps that apply to how far the save got; then the new file is put in
  // place, or removed, and a failure is told.
  auto end = [&] {
    const bool wroteFile = output != nullptr;
    if (output) {
      AudioError error;
      if (!output->close(&error) && failure.empty()) failure = error.message;
      output.reset();
    }
    audioEngine->stop();
    playerNode->stop();
    audioEngine->reset();
    playerNode->reset();
    auTimePitch->reset();
    if (manualRendering) audioEngine->disableManualRenderingMode();

    if (wroteFile) {
      const QByteArray from = QFile::encodeName(partPath);
      if (failure.empty() && ::rename(from.constData(), QFile::encodeName(path).constData()) != 0) {
        failure = std::strerror(errno);
      }
      if (failure.empty()) {
        syncFolder(folder);
      } else {
        ::unlink(from.constData());
      }
    }
    busy.reset();
    if (!failure.empty()) {
      warn(failureSentence(
          QStringLiteral("The speech could not be saved to '%1'").arg(QFileInfo(path).fileName()), failure));
    }
  };
  const std::string renderFailure = "the speech could not be rendered";

  AudioError error;
  if (!audioEngine->enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, renderFormat,
                                              kMaximumRenderFrameCount, &error)) {
    failure = error.message.empty() ? renderFailure : error.message;
    end();
    return;
  }
  manualRendering = true;

  if (audioEngine->startAndReturnError()) playerNode->play();

  const AudioFileSettings settings = audioFile->fileFormat().settings;
  printLine(destination->toString(QUrl::FullyEncoded).toStdString());

  // A folder of that name is left alone; the file could never take its place.
  if (QFileInfo(path).isDir()) {
    failure = std::strerror(EISDIR);
    end();
    return;
  }
  // The ".wav" ending of the hidden name keeps the container the destination asks for.
  output = AudioFile::openForWriting(partPath.toStdString(), settings, &error);
  if (!output) {
    failure = error.message;
    end();
    return;
  }

  const std::unique_ptr<AudioPCMBuffer> renderBuffer = AudioPCMBuffer::create(
      audioEngine->manualRenderingFormat(), audioEngine->manualRenderingMaximumFrameCount());
  if (!renderBuffer) {
    failure = renderFailure;
    end();
    return;
  }

  int idlePasses = 0;
  for (;;) {
    const int64_t sampleTime = audioEngine->manualRenderingSampleTime();
    const int64_t length = audioFile->length();
    if (sampleTime >= length) break;

    const auto frames =
        static_cast<uint32_t>(std::min<int64_t>(renderBuffer->frameCapacity(), length - sampleTime));
    AudioError renderError;
    const AudioEngineManualRenderingStatus status =
        audioEngine->renderOffline(frames, *renderBuffer, &renderError);
    if (status == AudioEngineManualRenderingStatus::Error) break;
    if (status == AudioEngineManualRenderingStatus::Success) {
      AudioError writeError;
      // A disk that refused one pass takes no more: the save has failed.
      if (!output->writeFromBuffer(*renderBuffer, &writeError)) {
        failure = writeError.message;
        break;
      }
    }

    if (audioEngine->manualRenderingSampleTime() > sampleTime) {
      idlePasses = 0;
    } else if (++idlePasses >= kMaximumIdleRenderPasses) {
      break;
    }
  }
  // Every frame of the temporary file must have been rendered and written.
  if (failure.empty() && audioEngine->manualRenderingSampleTime() < audioFile->length())
    failure = renderFailure;

  end();
}

}  // namespace lorvanta
