#pragma once

// Fixtures of the main road: a synthesizer that writes a known tone, an output device that
// plays faster than real time on a clock of its own, and small readers for the files.

#include <sndfile.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Bundle.h"
#include "platform/MainQueue.h"
#include "platform/UserDefaults.h"
#include "studio/ViewController.h"
#include "studio/audio/AudioOutputDevice.h"

namespace lorvanta::roadtest {

struct ToneStart {
  std::string text;
  std::string path;
  float rate = 0.0f;
};

// What the tone synthesizer writes, and what it was asked; shared with the test.
struct ToneState {
  int64_t frames = 20000;
  double frequency = 441.0;
  int sampleRate = 22050;
  int channels = 1;            // each channel carries the tone
  bool writeGarbage = false;   // a file that is no audio file
  bool reportFinished = true;  // the finished flag handed to the delegate
  std::string failureReason;   // told for a synthesis that did not finish
  std::vector<ToneStart> starts;
  std::vector<bool> reports;  // finishedSpeaking of each finished call delivered
  SpeechSynthesizerDelegate* delegate = nullptr;
  SpeechSynthesizer* owner = nullptr;
  uint64_t generation = 0;
  float rate = 180.0f;
};

inline bool writeTone(const std::string& path, const ToneState& state) {
  if (state.writeGarbage) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    std::fputs("not a sound file", file);
    std::fclose(file);
    return true;
  }
  SF_INFO info{};
  info.samplerate = state.sampleRate;
  info.channels = state.channels;
  info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) return false;
  constexpr int64_t kBlockFrames = 4096;
  const auto channels = static_cast<size_t>(state.channels);
  std::vector<float> block(kBlockFrames * channels);
  for (int64_t done = 0; done < state.frames;) {
    const int64_t n = std::min<int64_t>(kBlockFrames, state.frames - done);
    for (int64_t i = 0; i < n; ++i) {
      const auto sample = static_cast<float>(
          0.5 * std::sin(2.0 * M_PI * state.frequency * static_cast<double>(done + i) / state.sampleRate));
      std::fill_n(block.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(i) * channels), channels,
                  sample);
    }
    sf_writef_float(file, block.data(), n);
    done += n;
  }
  sf_close(file);
  return true;
}

// Writes the tone at once and reports on the main queue; only the newest start reports.
class ToneSynthesizer final : public SpeechSynthesizer {
 public:
  explicit ToneSynthesizer(std::shared_ptr<ToneState> state) : state_(std::move(state)) {
    state_->owner = this;
  }
  ~ToneSynthesizer() override {
    state_->owner = nullptr;
    ++state_->generation;
  }

  std::vector<VoiceName> availableVoices() const override { return {"tone"}; }
  VoiceName defaultVoice() const override { return "tone"; }
  VoiceAttributes attributesForVoice(const VoiceName&) const override { return {}; }
  void setDelegate(SpeechSynthesizerDelegate* delegate) override { state_->delegate = delegate; }
  SpeechSynthesizerDelegate* delegate() const override { return state_->delegate; }
  bool setVoice(const VoiceName& voice) override { return voice == "tone"; }
  void setRate(float wordsPerMinute) override { state_->rate = wordsPerMinute; }
  bool startSpeakingStringToURL(const std::string& text, const std::string& path) override {
    state_->starts.push_back({text, path, state_->rate});
    const bool ok = writeTone(path, *state_) && state_->reportFinished;
    const uint64_t generation = ++state_->generation;
    mainQueueAsync([state = state_, generation, ok] {
      if (generation != state->generation || !state->owner) return;
      state->reports.push_back(ok);
      if (state->delegate) state->delegate->speechSynthesizerDidFinishSpeaking(*state->owner, ok);
    });
    return true;
  }
  std::string lastFailureReason() const override {
    return state_->reports.empty() || state_->reports.back() ? std::string() : state_->failureReason;
  }

 private:
  std::shared_ptr<ToneState> state_;
};

// Pulls the engine in blocks, about twenty times faster than real time, and keeps a clock
// that counts the frames it has "played". Given `failAfterFrames`, its first start fails
// once it has played that many frames, as a sound server that goes away would; later starts
// play on, as with a server that has come back.
class FastOutputDevice final : public AudioOutputDevice {
 public:
  explicit FastOutputDevice(int64_t failAfterFrames = -1) : failAfterFrames_(failAfterFrames) {}
  ~FastOutputDevice() override { stop(); }
  bool start(const AudioFormat& format, RenderCallback render, AudioError*) override {
    stop();
    format_ = format;
    running_ = true;
    const int64_t failAfterFrames = starts_++ == 0 ? failAfterFrames_ : -1;
    thread_ = std::thread([this, failAfterFrames, render = std::move(render)] {
      constexpr uint32_t kBlock = 512;
      std::vector<std::vector<float>> storage(format_.channelCount, std::vector<float>(kBlock));
      std::vector<float*> channels;
      for (auto& channel : storage) channels.push_back(channel.data());
      int64_t playedThisStart = 0;
      while (running_) {
        if (failAfterFrames >= 0 && playedThisStart >= failAfterFrames) {
          if (failed_) failed_(AudioError{"the sound server went away"});
          return;
        }
        const double when = static_cast<double>(played_.load()) / format_.sampleRate;
        render(channels.data(), kBlock, when);
        played_ += kBlock;
        playedThisStart += kBlock;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    return true;
  }
  void stop() override {
    running_ = false;
    if (thread_.joinable()) thread_.join();
  }
  void setFailureCallback(FailureCallback callback) override { failed_ = std::move(callback); }
  double currentTime() const override {
    return format_.sampleRate > 0 ? static_cast<double>(played_.load()) / format_.sampleRate : 0.0;
  }

 private:
  const int64_t failAfterFrames_;
  int starts_ = 0;
  AudioFormat format_;
  FailureCallback failed_;
  std::atomic<bool> running_{false};
  std::atomic<int64_t> played_{0};
  std::thread thread_;
};

// Runs the event loop until `done` holds or `seconds` pass; returns `done()`.
inline bool spinUntil(const std::function<bool()>& done, double seconds = 20.0) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (static_cast<double>(timer.elapsed()) > seconds * 1000.0) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Processes events for `seconds`.
inline void spinFor(double seconds) {
  spinUntil([] { return false; }, seconds);
}

// Sends standard output (or standard error) into a file while it lives; text() reads what
// arrived so far.
class ConsoleCapture {
 public:
  explicit ConsoleCapture(int stream = STDOUT_FILENO) : stream_(stream) {
    file_.open();
    flush();
    saved_ = ::dup(stream_);
    ::dup2(file_.handle(), stream_);
  }
  ~ConsoleCapture() { restore(); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

  std::string text() const {
    flush();
    std::ifstream in(file_.fileName().toStdString(), std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }
  void restore() {
    if (saved_ < 0) return;
    flush();
    ::dup2(saved_, stream_);
    ::close(saved_);
    saved_ = -1;
  }

 private:
  void flush() const { std::fflush(stream_ == STDERR_FILENO ? stderr : stdout); }

  const int stream_;
  QTemporaryFile file_;
  int saved_ = -1;
};

struct WatchedConsole {
  bool ended = false;
  std::string text;
};

// Records the console until `done` holds for what arrived so far, then a little longer.
// The test's own output is not recorded: its checks come after.
inline WatchedConsole watchConsole(const std::function<bool(const std::string&)>& done,
                                   double seconds = 20.0) {
  WatchedConsole result;
  ConsoleCapture console;
  result.ended = spinUntil([&] { return done(console.text()); }, seconds);
  spinFor(0.15);
  console.restore();
  result.text = console.text();
  return result;
}

struct SoundData {
  bool opened = false;
  SF_INFO info{};
  std::vector<short> samples;  // interleaved
};

inline SoundData readSound(const std::string& path) {
  SoundData data;
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &data.info);
  if (!file) return data;
  data.opened = true;
  data.samples.resize(static_cast<size_t>(data.info.frames * data.info.channels));
  sf_readf_short(file, data.samples.data(), data.info.frames);
  sf_close(file);
  return data;
}

// Frequency of a mono signal from its upward zero crossings over [from, to).
inline double zeroCrossingFrequency(const std::vector<short>& samples, size_t from, size_t to,
                                    int sampleRate) {
  size_t first = 0, last = 0, count = 0;
  for (size_t i = from + 1; i < to && i < samples.size(); ++i) {
    if (samples[i - 1] < 0 && samples[i] >= 0) {
      if (count == 0) first = i;
      last = i;
      ++count;
    }
  }
  if (count < 2) return 0.0;
  return static_cast<double>(count - 1) * sampleRate / static_cast<double>(last - first);
}

inline double rms(const std::vector<short>& samples, size_t from, size_t to) {
  double sum = 0.0;
  size_t n = 0;
  for (size_t i = from; i < to && i < samples.size(); ++i, ++n) sum += double(samples[i]) * samples[i];
  return n ? std::sqrt(sum / static_cast<double>(n)) / 32768.0 : 0.0;
}

// Marks the rating prompt as shown for this build, so no prompt (nor its console line)
// turns up in the middle of a test however many requests the program has made.
inline void quietRatingPrompt() {
  const std::optional<QVariant> build = Bundle::main().objectForInfoDictionaryKey(kCFBundleVersionKey);
  if (build)
    UserDefaults::standard().setString(build->toString(), QStringLiteral("lastVersionPromptedForReview"));
}

inline StudioServices toneServices(const std::shared_ptr<ToneState>& state) {
  StudioServices services;
  services.makeOutputDevice = [] { return std::make_unique<FastOutputDevice>(); };
  services.makeSynthesizer = [state] { return std::make_unique<ToneSynthesizer>(state); };
  return services;
}

}  // namespace lorvanta::roadtest
