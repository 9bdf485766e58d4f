#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bundle.h"
#include "platform/Controls.h"
#include "platform/InterfaceLoader.h"
#include "platform/InterfaceTarget.h"
#include "studio/audio/AudioEngine.h"
#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioPCMBuffer.h"
#include "studio/audio/AudioPlayerNode.h"
#include "studio/audio/AudioUnitTimePitch.h"
#include "studio/speech/SpeechSynthesizer.h"

namespace lorvanta {

class ReplacingAudioFile;

// What the window's controller is built from; empty members take the real components
// (the default output device, espeak-ng posting to the main queue).
struct StudioServices {
  std::function<std::unique_ptr<AudioOutputDevice>()> makeOutputDevice;
  std::function<std::unique_ptr<SpeechSynthesizer>()> makeSynthesizer;
};

// Controller of the main window: voice list, rate and pitch, speak and save requests.
// Everything runs on the main thread.
class ViewController final : public InterfaceTarget, public SpeechSynthesizerDelegate {
 public:
  // Made by the main interface file.
  explicit ViewController(const InterfaceCoder& coder, StudioServices services = {});
  // Made from code.
  ViewController(const std::optional<QString>& nibName, const Bundle* bundle, StudioServices services = {});
  ~ViewController() override;

  ViewController(const ViewController&) = delete;
  ViewController& operator=(const ViewController&) = delete;

  // InterfaceTarget
  bool setOutlet(const QString& name, QWidget* widget) override;
  bool respondsToAction(const QString& action) const override;
  void performAction(const QString& action, QObject* sender) override;
  void awakeFromNib() override;
  void viewDidLoad() override;

  QVariant representedObject() const { return representedObject_; }
  void setRepresentedObject(const QVariant& object) { representedObject_ = object; }

  // Operations, in declaration order.
  std::optional<QUrl> makeTempAIFFURL();
  void synthesizeTextToTempFile();
  void set_rate_slider_action(QObject* sender);
  void set_picth_rate_textfield_action(QObject* sender);
  void playTTS(QObject* sender);
  // `error` says why the temporary file could not be opened, when it could not.
  void setUpAudioGraph(AudioError* error = nullptr);
  void startPlayback();
  void renderToFile();
  void test_save(QObject* sender);
  std::optional<QUrl> askSaveURL();
  void voicePopupSelected(QObject* sender);
  void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer& sender, bool finishedSpeaking) override;
  void speechSynthesizerDidProgress(SpeechSynthesizer& sender, double fractionSpoken) override;

  // Rating prompt.
  void countClickForReview();
  void requestReviewOnce(const QString& buildNumber);

  // Fields, in declaration order.
  const std::unique_ptr<AudioEngine> audioEngine;
  std::shared_ptr<AudioPlayerNode> playerNode;
  std::shared_ptr<AudioFile> audioFile;
  std::shared_ptr<AudioUnitTimePitch> auTimePitch;
  std::unique_ptr<AudioPCMBuffer> buffer;
  std::optional<QUrl> aiff_tem_URL;
  bool tts_is_save = true;
  PopUpButton fVoicesPopUpButton;
  TextView fSpokenTextView;
  Slider rate_slider;
  Slider pitch_slider;
  TextField rate_textfield;
  TextField pitch_textfield;
  ProgressIndicator jd_nsprogressindicator;
  float rate = 180.0f;
  float pitch = 0.0f;
  VoiceName selectedVoice;
  std::unique_ptr<SpeechSynthesizer> speechSynthesizer;

 private:
  // Both initialisers run the same steps.
  explicit ViewController(StudioServices services);
  void stopAfterPlayback();
  // Asked before every render pass with the frames rendered and the frames in all: true
  // ends the save without a word (cancelled, or the program is to end).
  using StopTest = std::function<bool(int64_t done, int64_t total)>;
  // The save road after the panel: schedules, renders into `destination` and runs the
  // closing sequence. Returns what to tell of a failure; empty when saved or stopped.
  std::string saveInto(const QUrl& destination, const StopTest& stopRequested);
  enum class RenderEnd { Complete, Failed, Stopped };
  // Every pass of the render into `output`; `failure` says why one failed.
  RenderEnd renderPasses(ReplacingAudioFile& output, const StopTest& stopRequested, std::string* failure);
  // Stops and resets the engine and the nodes; `manualRendering` switches that mode off.
  void closeRender(bool manualRendering);
  void outputDeviceFailed(uint64_t generation, const std::string& message);
  // Ends a request that failed: `message` on stderr and in a warning on the window.
  void warn(const QString& message);

  QVariant representedObject_;
  // Since the newest synthesis started; the indicator stays a busy bar for its first moment.
  QElapsedTimer synthesisClock_;
  // Work that may run later (played-back completions, rating-prompt steps) holds this
  // weakly, so none of it runs on a destroyed controller.
  std::shared_ptr<const bool> lifetime_ = std::make_shared<const bool>(true);
  // Counts live playbacks; a completion stops only the playback it followed. Read by the
  // engine's notification thread when the output device fails, so shared and atomic.
  std::shared_ptr<std::atomic<uint64_t>> playbackGeneration_ = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace lorvanta
