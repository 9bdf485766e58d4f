// The main window's controller: construction, outlets and actions, the speak and save
// requests, the audio graph, live playback and the offline render into a saved file.

#include "studio/ViewController.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSlider>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "base/ConsoleLine.h"
#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/MainQueue.h"
#include "platform/NumberTextQt.h"
#include "platform/SavePanel.h"
#include "studio/audio/AudioOutputDevice.h"
#include "studio/audio/ReplacingAudioFile.h"
#include "studio/speech/EspeakSpeechSynthesizer.h"

namespace lorvanta {

namespace {

// Largest number of frames one offline render call may ask for.
constexpr uint32_t kMaximumRenderFrameCount = 8096;
// Consecutive render passes that leave the sample time where it was before the save gives up.
constexpr int kMaximumIdleRenderPasses = 16;
// The reason a save gives when the engine did not say why it rendered nothing.
constexpr const char* kRenderFailure = "the speech could not be rendered";

std::unique_ptr<AudioEngine> makeEngine(const StudioServices& services) {
  if (services.makeOutputDevice) return std::make_unique<AudioEngine>(services.makeOutputDevice());
  return std::make_unique<AudioEngine>(makeDefaultOutputDevice());
}

std::unique_ptr<SpeechSynthesizer> makeSynthesizer(const StudioServices& services) {
  if (services.makeSynthesizer) return services.makeSynthesizer();
  return std::make_unique<EspeakSpeechSynthesizer>(mainQueueAsync);
}

// The window's texts in the user's language (string table context "ViewController").
QString tr(const char* text) { return QCoreApplication::translate("ViewController", text); }

// A reason from the layers below, translated where the table knows it: whole, or the part
// before a detail in parentheses ("no sound server is running (Connection refused)").
QString reasonText(const QString& reason) {
  const QByteArray utf8 = reason.toUtf8();
  const QString whole = tr(utf8.constData());
  if (whole != reason) return whole;
  const qsizetype detail = reason.indexOf(QStringLiteral(" ("));
  if (detail <= 0 || !reason.endsWith(QLatin1Char(')'))) return reason;
  const QByteArray head = reason.left(detail).toUtf8();
  return tr(head.constData()) + reason.mid(detail);
}

// "What failed: why." for a warning; the reason may be missing.
QString failureSentence(const QString& what, const std::string& reason) {
  QString why = QString::fromStdString(reason).trimmed();
  while (why.endsWith(QLatin1Char('.'))) why.chop(1);
  return why.isEmpty() ? tr("%1.").arg(what) : tr("%1: %2.").arg(what, reasonText(why));
}

// A request's temporary file; one that is already gone is no fault.
void removeTemporaryFile(const std::optional<QUrl>& url) {
  if (url) QFile::remove(url->toLocalFile());
}

// A render that lasts longer than this shows how far it has come.
constexpr qint64 kProgressDelayMs = 500;
// How often a render attends to the window: its painting, the progress and Cancel.
constexpr qint64 kProgressIntervalMs = 25;
constexpr int kProgressSteps = 1000;

// How far a save's render has come, shown once it has lasted longer than half a second in a
// window-modal dialog named after the destination file, with a Cancel button. Until then
// only the window's painting is attended to; afterwards the dialog blocks the window, so
// no input reaches it and no action runs.
class RenderProgress {
 public:
  RenderProgress(QWidget* window, QString fileName) : window_(window), fileName_(std::move(fileName)) {
    clock_.start();
  }
  RenderProgress(const RenderProgress&) = delete;
  RenderProgress& operator=(const RenderProgress&) = delete;

  // Before every pass: true when the render is to stop (Cancel, or a quit signal).
  bool stopRequested(int64_t done, int64_t total) {
    if (quitSignalReceived()) return true;
    const qint64 now = clock_.elapsed();
    if (now < nextLook_) return false;
    nextLook_ = now + kProgressIntervalMs;
    if (!dialog_ && window_ != nullptr && now >= kProgressDelayMs) show();
    if (!dialog_) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      return quitSignalReceived();
    }
    dialog_->setValue(static_cast<int>(done * kProgressSteps / std::max<int64_t>(total, 1)));
    QCoreApplication::processEvents();
    return dialog_->wasCanceled() || quitSignalReceived();
  }

  void close() { dialog_.reset(); }

 private:
  void show() {
    dialog_ = std::make_unique<QProgressDialog>(window_);
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setWindowTitle(fileName_);
    dialog_->setLabelText(tr("Saving '%1'…").arg(fileName_));
    dialog_->setRange(0, kProgressSteps);
    dialog_->setAutoReset(false);
    dialog_->setAutoClose(false);
    dialog_->setMinimumDuration(0);
    // Wide enough for the file's name in the title.
    dialog_->setMinimumWidth(dialog_->fontMetrics().averageCharWidth() * 48);
    dialog_->show();
    // Busy, but Cancel may be clicked.
    QApplication::changeOverrideCursor(Qt::BusyCursor);
  }

  QWidget* const window_;
  const QString fileName_;
  QElapsedTimer clock_;
  qint64 nextLook_ = 0;
  std::unique_ptr<QProgressDialog> dialog_;
};

// The temporary file opened for reading; on failure `error` says why in plain words: the
// system's reason when the file cannot be opened at all (removed, no permission).
std::shared_ptr<AudioFile> openTemporaryFile(const std::string& path, AudioError* error) {
  AudioError failure;
  std::shared_ptr<AudioFile> file = AudioFile::openForReading(path, &failure);
  if (file || error == nullptr) return file;
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    failure.message = std::strerror(errno);
  } else {
    ::close(descriptor);
    // The reader's message names the file, which the user never chose: its cause only.
    const auto cause = failure.message.rfind(": ");
    if (failure.message.find(path) != std::string::npos && cause != std::string::npos)
      failure.message.erase(0, cause + 2);
  }
  *error = failure;
  return nullptr;
}

// The busy pointer over the whole application while it lives.
class BusyPointer {
 public:
  BusyPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyPointer() { QApplication::restoreOverrideCursor(); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;
};

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

namespace {

// Binds `outlet` to `widget` (null unbinds it); a widget of another kind is refused.
template <class Widget, class Outlet>
bool bindOutlet(QWidget* widget, Outlet& outlet) {
  auto* typed = qobject_cast<Widget*>(widget);
  if (!typed && widget) return false;
  outlet = Outlet(typed);
  return true;
}

}  // namespace

bool ViewController::setOutlet(const QString& name, QWidget* widget) {
  if (name == QLatin1String("fVoicesPopUpButton")) return bindOutlet<QComboBox>(widget, fVoicesPopUpButton);
  if (name == QLatin1String("fSpokenTextView")) return bindOutlet<QPlainTextEdit>(widget, fSpokenTextView);
  if (name == QLatin1String("rate_slider")) return bindOutlet<QSlider>(widget, rate_slider);
  if (name == QLatin1String("pitch_slider")) return bindOutlet<QSlider>(widget, pitch_slider);
  if (name == QLatin1String("rate_textfield")) return bindOutlet<QLineEdit>(widget, rate_textfield);
  if (name == QLatin1String("pitch_textfield")) return bindOutlet<QLineEdit>(widget, pitch_textfield);
  if (name == QLatin1String("jd_nsprogressindicator"))
    return bindOutlet<QProgressBar>(widget, jd_nsprogressindicator);
  return false;
}

namespace {

constexpr ActionTable<ViewController>::Entry kActionEntries[] = {
    {"playTTS", &ViewController::playTTS},
    {"test_save", &ViewController::test_save},
    {"set_rate_slider_action", &ViewController::set_rate_slider_action},
    {"set_picth_rate_textfield_action", &ViewController::set_picth_rate_textfield_action},
    {"voicePopupSelected", &ViewController::voicePopupSelected},
};
constexpr ActionTable<ViewController> kActions(kActionEntries);

}  // namespace

bool ViewController::respondsToAction(const QString& action) const { return kActions.contains(action); }

void ViewController::performAction(const QString& action, QObject* sender) {
  kActions.perform(*this, action, sender);
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
  synthesisClock_.start();
  jd_nsprogressindicator.startAnimation();
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
    warn(failureSentence(tr("The speech could not be synthesised"), sender.lastFailureReason()));
    return;
  }
  const bool isSave = tts_is_save;
  AudioError error;
  setUpAudioGraph(&error);
  // The temporary file could not be opened: nothing to play or save; the request ends.
  if (!audioFile->isOpen()) {
    warn(failureSentence(isSave ? tr("The speech could not be saved") : tr("The speech could not be played"),
                         error.message));
    return;
  }
  if (isSave) {
    renderToFile();
  } else {
    startPlayback();
  }
}

void ViewController::speechSynthesizerDidProgress(SpeechSynthesizer& /*sender*/, double fractionSpoken) {
  // A short synthesis ends while the bar is still busy; a long one shows how far it is.
  constexpr qint64 kBusyMilliseconds = 500;
  if (!synthesisClock_.isValid() || synthesisClock_.elapsed() < kBusyMilliseconds) return;
  jd_nsprogressindicator.setDoubleValue(fractionSpoken);
}

void ViewController::setUpAudioGraph(AudioError* error) {
  std::shared_ptr<AudioFile> opened;
  if (aiff_tem_URL) opened = openTemporaryFile(aiff_tem_URL->toLocalFile().toStdString(), error);
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
    warn(failureSentence(tr("The speech could not be played"), error.message));
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
  warn(failureSentence(tr("The speech could not be played"), message));
}

void ViewController::warn(const QString& message) {
  printLine(message.toStdString(), stderr);
  QWidget* view = fSpokenTextView.widget();
  if (view == nullptr) return;
  Alert alert;
  alert.setAlertStyle(Alert::Style::Warning);
  alert.setMessageText(message);
  alert.addButtonWithTitle(tr("OK"));
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
  // The save takes the engine over: what a playback still has on its way is stale.
  playbackGeneration_->fetch_add(1, std::memory_order_acq_rel);
  QWidget* window = fSpokenTextView.widget() != nullptr ? fSpokenTextView.widget()->window() : nullptr;
  // The panel's picture goes before the render begins.
  if (window != nullptr) {
    window->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  // The window takes no input until the closing sequence has run; show it.
  std::optional<BusyPointer> busy(std::in_place);
  RenderProgress progress(window, QFileInfo(destination->toLocalFile()).fileName());
  const std::string failure = saveInto(
      *destination, [&progress](int64_t done, int64_t total) { return progress.stopRequested(done, total); });
  progress.close();
  busy.reset();
  if (!failure.empty()) {
    warn(failureSentence(
        tr("The speech could not be saved to '%1'").arg(QFileInfo(destination->toLocalFile()).fileName()),
        failure));
  }
}

std::string ViewController::saveInto(const QUrl& destination, const StopTest& stopRequested) {
  const AudioFormat renderFormat = audioFile->processingFormat();
  playerNode->scheduleFile(audioFile);

  AudioError error;
  if (!audioEngine->enableManualRenderingMode(AudioEngineManualRenderingMode::Offline, renderFormat,
                                              kMaximumRenderFrameCount, &error)) {
    closeRender(false);
    return error.message.empty() ? kRenderFailure : error.message;
  }
  if (audioEngine->startAndReturnError()) playerNode->play();

  const AudioFileSettings settings = audioFile->fileFormat().settings;
  printLine(destination.toString(QUrl::FullyEncoded).toStdString());

  std::string failure;
  // Written beside the destination; it takes the destination's place only once complete.
  std::unique_ptr<ReplacingAudioFile> output =
      ReplacingAudioFile::openReplacing(destination.toLocalFile().toStdString(), settings, &error);
  if (!output) {
    failure = error.message;
  } else if (renderPasses(*output, stopRequested, &failure) == RenderEnd::Complete) {
    if (!output->commit(&error)) failure = error.message;
  }
  // A file that did not take the destination's place goes.
  output.reset();
  closeRender(true);
  return failure;
}

ViewController::RenderEnd ViewController::renderPasses(ReplacingAudioFile& output,
                                                       const StopTest& stopRequested, std::string* failure) {
  const std::unique_ptr<AudioPCMBuffer> renderBuffer = AudioPCMBuffer::create(
      audioEngine->manualRenderingFormat(), audioEngine->manualRenderingMaximumFrameCount());
  if (!renderBuffer) {
    *failure = kRenderFailure;
    return RenderEnd::Failed;
  }

  int idlePasses = 0;
  for (int64_t sampleTime = audioEngine->manualRenderingSampleTime(); sampleTime < audioFile->length();
       sampleTime = audioEngine->manualRenderingSampleTime()) {
    // Cancelled, or the program is asked to end: the save ends here, without a word.
    if (stopRequested(sampleTime, audioFile->length())) return RenderEnd::Stopped;
    const auto frames = static_cast<uint32_t>(
        std::min<int64_t>(renderBuffer->frameCapacity(), audioFile->length() - sampleTime));
    AudioError error;
    switch (audioEngine->renderOffline(frames, *renderBuffer, &error)) {
      case AudioEngineManualRenderingStatus::Success:
        // A disk that refused one pass takes no more: the save has failed.
        if (!output.writeFromBuffer(*renderBuffer, &error)) {
          *failure = error.message;
          return RenderEnd::Failed;
        }
        break;
      case AudioEngineManualRenderingStatus::Error:
        *failure = error.message.empty() ? kRenderFailure : error.message;
        return RenderEnd::Failed;
      default:
        // Nothing rendered; the loop's test decides, within the bound on idle passes.
        break;
    }
    if (audioEngine->manualRenderingSampleTime() > sampleTime) {
      idlePasses = 0;
    } else if (++idlePasses >= kMaximumIdleRenderPasses) {
      break;
    }
  }
  // Every frame of the temporary file must have been rendered and written.
  if (audioEngine->manualRenderingSampleTime() < audioFile->length()) {
    *failure = kRenderFailure;
    return RenderEnd::Failed;
  }
  return RenderEnd::Complete;
}

void ViewController::closeRender(bool manualRendering) {
  audioEngine->stop();
  playerNode->stop();
  audioEngine->reset();
  playerNode->reset();
  auTimePitch->reset();
  if (manualRendering) audioEngine->disableManualRenderingMode();
}

}  // namespace lorvanta
