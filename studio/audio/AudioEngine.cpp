#include "studio/audio/AudioEngine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "studio/audio/AudioPlayerNode.h"
#include "studio/audio/AudioPlayerNodeInternal.h"
#include "studio/audio/AudioUnitTimePitch.h"
#include "studio/audio/AudioUnitTimePitchInternal.h"
#include "studio/audio/dsp/RenderGraph.h"
#include "studio/audio/dsp/SpscQueue.h"

namespace lorvanta {

namespace {

enum ErrorCode : int {
  kErrorNoOutputDevice = -10851,
  kErrorNotConnected = -10852,
  kErrorInvalidFormat = -10868,
  kErrorRunning = -10860,
  kErrorNotRunning = -10861,
  kErrorNotManual = -10862,
  kErrorTooManyFrames = -10874,
  kErrorUnsupported = -10875,
};

void setError(AudioError* error, int code, const char* message) {
  if (error) *error = AudioError{code, message};
}

audio::RenderSource* renderSourceOf(AudioNode* node) {
  if (auto* player = dynamic_cast<AudioPlayerNode*>(node)) return &player->impl();
  if (auto* unit = dynamic_cast<AudioUnitTimePitch*>(node)) return &unit->impl();
  return nullptr;
}

// A completion on its way to the notification thread.
struct CompletionEvent {
  audio::CompletionReceiver* receiver;
  uint64_t segment;
  uint64_t generation;
  AudioPlayerNodeCompletionCallbackType type;
  double due;  // device time after which it runs; 0 for at once
  uint64_t epoch;
};

}  // namespace

struct AudioEngine::Impl final : audio::RenderContext {
  struct Connection {
    std::shared_ptr<AudioNode> source;
    AudioFormat format;
  };

  explicit Impl(std::unique_ptr<AudioOutputDevice> outputDevice) : device(std::move(outputDevice)) {
    waiting.reserve(256);
    if (device) device->setFailureCallback([this](const AudioError& error) { deviceFailed(error); });
    notifier = std::thread([this] { notify(); });
  }

  ~Impl() {
    {
      std::lock_guard lock(notifyMutex);
      quit = true;
    }
    notifyCondition.notify_all();
    notifier.join();
  }

  // ---- main thread
  bool isNodeAttached(const AudioNode* node) const {
    if (node == output.get()) return true;
    return std::any_of(attached.begin(), attached.end(), [node](const auto& n) { return n.get() == node; });
  }

  // Live output runs on other threads: an edit pauses it and applies the graph again.
  template <typename Edit>
  void editGraph(Edit edit) {
    const bool resume = running && !manual;
    if (resume) pauseLive();
    edit();
    if (running) {
      configureGraph(manual ? manualFormat : liveFormat);
    } else {
      releaseUnitsOffChain();
    }
    if (resume) {
      AudioError ignored;
      if (!resumeLive(&ignored)) running = false;
    }
  }

  // Nodes that feed the output, directly or through others.
  std::set<const AudioNode*> outputChain() const {
    std::set<const AudioNode*> chain;
    for (auto it = inputs.find(output.get()); it != inputs.end(); it = inputs.find(it->second.source.get()))
      chain.insert(it->second.source.get());
    return chain;
  }

  // A unit off the output's chain holds no processing memory; configureGraph gives it back
  // to a unit that is connected again. Main thread, while nothing renders.
  void releaseUnitsOffChain() {
    const auto chain = outputChain();
    for (const auto& node : attached) {
      if (chain.count(node.get())) continue;
      if (auto* unit = dynamic_cast<AudioUnitTimePitch*>(node.get())) unit->impl().release();
    }
  }

  void configureGraph(const AudioFormat& format) {
    releaseUnitsOffChain();
    renderFormat = format;
    for (const auto& node : attached) {
      const auto it = inputs.find(node.get());
      if (auto* unit = dynamic_cast<AudioUnitTimePitch*>(node.get())) {
        unit->impl().upstream = it == inputs.end() ? nullptr : renderSourceOf(it->second.source.get());
      }
    }
    root = nullptr;
    const auto top = inputs.find(output.get());
    if (top != inputs.end()) root = renderSourceOf(top->second.source.get());
    // Everything upstream of the output renders in the graph's format.
    for (auto it = top; it != inputs.end(); it = inputs.find(it->second.source.get())) {
      AudioNode* node = it->second.source.get();
      if (auto* player = dynamic_cast<AudioPlayerNode*>(node)) player->impl().configure(format.channelCount);
      if (auto* unit = dynamic_cast<AudioUnitTimePitch*>(node))
        unit->impl().configure(format.sampleRate, format.channelCount);
    }
    readerPlayers.clear();
    for (const auto& node : attached) {
      if (auto* player = dynamic_cast<AudioPlayerNode*>(node.get())) readerPlayers.push_back(&player->impl());
    }
    pendingCount = 0;
  }

  bool resumeLive(AudioError* error) {
    runFailed.store(false, std::memory_order_release);
    readerRunning.store(true, std::memory_order_release);
    reader = std::thread([this] { read(); });
    offline = false;
    latencyFrames.store(0, std::memory_order_relaxed);
    AudioError deviceError;
    const bool started = device && device->start(
                                       liveFormat,
                                       [this](float* const* channels, uint32_t frames, double outputTime) {
                                         pull(channels, frames, outputTime);
                                       },
                                       &deviceError);
    if (!started) {
      stopReader();
      if (!device) deviceError = AudioError{kErrorNoOutputDevice, "no audio output device"};
      if (error) *error = deviceError;
      return false;
    }

    latencyFrames.store(static_cast<int64_t>(device->outputLatency() * liveFormat.sampleRate),
                        std::memory_order_relaxed);
    liveRunning.store(true, std::memory_order_release);
    kickNotifier();
    return true;
  }

  void pauseLive() {
    if (device) device->stop();
    stopReader();
    liveRunning.store(false, std::memory_order_release);
    epoch.fetch_add(1, std::memory_order_acq_rel);
  }

  void stopReader() {
    readerRunning.store(false, std::memory_order_release);
    if (reader.joinable()) reader.join();
  }

  void kickNotifier() {
    {
      std::lock_guard lock(notifyMutex);
      kicked = true;
    }
    notifyCondition.notify_all();
  }

  // ---- render thread (or the offline caller): the one pull of the graph.
  void pull(float* const* out, uint32_t frames, double outputTime) {
    const uint32_t channels = renderFormat.channelCount;
    std::array<float*, audio::kMaxRenderChannels> block{};
    const int64_t start = sampleTime;
    for (uint32_t done = 0; done < frames;) {
      const uint32_t n = std::min(frames - done, audio::kRenderBlock);
      for (uint32_t c = 0; c < channels; ++c) block[c] = out[c] + done;
      if (root) {
        root->render(block.data(), n, sampleTime, *this);
      } else {
        for (uint32_t c = 0; c < channels; ++c) std::memset(block[c], 0, n * sizeof(float));
      }
      sampleTime += n;
      done += n;
    }
    // Files whose last frame is in what was just rendered.
    for (size_t i = 0; i < pendingCount;) {
      const audio::SegmentEnd& end = pendingEnds[i];
      // Played back only once the device has asked for the frames its latency holds after it.
      const int64_t heldBack = !offline && end.type == AudioPlayerNodeCompletionCallbackType::DataPlayedBack
                                   ? latencyFrames.load(std::memory_order_relaxed)
                                   : 0;
      if (end.sampleTime + heldBack > sampleTime) {
        ++i;
        continue;
      }
      // When the file's last frame is heard; it may lie in an earlier render call.
      double due = 0.0;
      if (!offline && end.type == AudioPlayerNodeCompletionCallbackType::DataPlayedBack) {
        due = outputTime + static_cast<double>(end.sampleTime - start) / renderFormat.sampleRate;
      }
      events.push(CompletionEvent{end.receiver, end.segment, end.generation, end.type, due,
                                  epoch.load(std::memory_order_acquire)});
      pendingEnds[i] = pendingEnds[--pendingCount];
    }
  }

  void segmentConsumed(const audio::SegmentEnd& end) override {
    if (end.type == AudioPlayerNodeCompletionCallbackType::DataConsumed) {
      events.push(CompletionEvent{end.receiver, end.segment, end.generation, end.type, 0.0,
                                  epoch.load(std::memory_order_acquire)});
    } else if (pendingCount < pendingEnds.size()) {
      pendingEnds[pendingCount++] = end;
    }
  }

  // ---- reader thread: keeps the players' rings full.
  void read() {
    while (readerRunning.load(std::memory_order_acquire)) {
      bool busy = false;
      for (auto* player : readerPlayers) {
        for (int i = 0; i < 8 && player->fill(); ++i) busy = true;
      }
      if (!busy) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // ---- device thread: the output failed while started.
  void deviceFailed(const AudioError& error) {
    {
      std::lock_guard lock(failureMutex);
      failure = error;
      failureEpoch = epoch.load(std::memory_order_acquire);
      failurePending = true;
    }
    kickNotifier();
  }

  // ---- notification thread: a failure of the running live output ends the run's playback:
  // what waits to be heard is never heard, and the handler is told once.
  void takeFailure() {
    AudioError error;
    {
      std::lock_guard lock(failureMutex);
      if (!failurePending) return;
      failurePending = false;
      // A failure of a run that has since been stopped is old news.
      if (failureEpoch != epoch.load(std::memory_order_acquire)) return;
      error = std::move(failure);
    }
    if (runFailed.exchange(true, std::memory_order_acq_rel)) return;
    std::erase_if(waiting, [](const CompletionEvent& e) { return e.due > 0.0; });
    if (deviceFailureHandler) deviceFailureHandler(error);
  }

  // ---- notification thread: runs completions, those of played-back data once the device
  // clock has passed the file's last frame.
  void notify() {
    for (;;) {
      takeFailure();
      CompletionEvent event{};
      while (events.pop(event)) {
        if (event.due > 0.0 && runFailed.load(std::memory_order_acquire)) continue;
        waiting.push_back(event);
      }
      for (size_t i = 0; i < waiting.size();) {
        const CompletionEvent& e = waiting[i];
        if (e.due > 0.0) {
          if (e.epoch != epoch.load(std::memory_order_acquire)) {
            waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
          }
          if (!device || device->currentTime() < e.due) {
            ++i;
            continue;
          }
        }
        const CompletionEvent ready = e;
        waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
        ready.receiver->deliverCompletion(ready.segment, ready.generation, ready.type);
      }
      std::unique_lock lock(notifyMutex);
      if (quit) return;
      if (liveRunning.load(std::memory_order_acquire) || !waiting.empty()) {
        notifyCondition.wait_for(lock, std::chrono::milliseconds(2), [this] { return quit; });
      } else {
        notifyCondition.wait_for(lock, std::chrono::milliseconds(100), [this] { return quit || kicked; });
        kicked = false;
      }
      if (quit) return;
    }
  }

  // Set on the main thread while nothing runs live; read by the notification thread.
  DeviceFailureHandler deviceFailureHandler;

  // Device thread -> notification thread.
  std::mutex failureMutex;
  AudioError failure;
  uint64_t failureEpoch = 0;
  bool failurePending = false;

  // Immutable.
  const std::unique_ptr<AudioOutputDevice> device;
  const std::shared_ptr<AudioOutputNode> output = std::make_shared<AudioOutputNode>();

  // Main thread.
  std::vector<std::shared_ptr<AudioNode>> attached;
  std::map<const AudioNode*, Connection> inputs;  // destination -> what feeds its input bus 0
  bool running = false;
  bool manual = false;
  AudioFormat manualFormat;
  AudioFormat liveFormat;
  uint32_t manualMaximum = 0;
  int64_t manualSampleTime = 0;

  // Render side: changed by the main thread only while nothing renders.
  audio::RenderSource* root = nullptr;
  AudioFormat renderFormat;
  int64_t sampleTime = 0;
  std::atomic<int64_t> latencyFrames{0};
  std::array<audio::SegmentEnd, 64> pendingEnds{};
  size_t pendingCount = 0;

  // Reader thread.
  std::thread reader;
  std::atomic<bool> readerRunning{false};
  std::vector<AudioPlayerNode::Impl*> readerPlayers;

  // Notification thread.
  audio::SpscQueue<CompletionEvent> events{256};
  std::vector<CompletionEvent> waiting;
  std::atomic<uint64_t> epoch{0};
  std::atomic<bool> liveRunning{false};
  std::atomic<bool> runFailed{false};  // the live run's device failed; cleared by a start
  std::mutex notifyMutex;
  std::condition_variable notifyCondition;
  bool quit = false;
  bool kicked = false;
  std::thread notifier;
};

AudioEngine::AudioEngine() : AudioEngine(makeDefaultOutputDevice()) {}

AudioEngine::AudioEngine(std::unique_ptr<AudioOutputDevice> device)
    : impl_(std::make_unique<Impl>(std::move(device))) {}

AudioEngine::~AudioEngine() { stop(); }

void AudioEngine::attachNode(const std::shared_ptr<AudioNode>& node) {
  if (!node || impl_->isNodeAttached(node.get())) return;
  impl_->editGraph([&] { impl_->attached.push_back(node); });
}

void AudioEngine::setDeviceFailureHandler(DeviceFailureHandler handler) {
  impl_->deviceFailureHandler = std::move(handler);
}

bool AudioEngine::isAttached(const AudioNode& node) const { return impl_->isNodeAttached(&node); }

void AudioEngine::connect(const std::shared_ptr<AudioNode>& source,
                          const std::shared_ptr<AudioNode>& destination, const AudioFormat& format) {
  Impl& d = *impl_;
  if (!source || !destination || source == destination || !format.isValid()) return;
  if (!d.isNodeAttached(source.get()) || !d.isNodeAttached(destination.get())) return;
  // The output node has no output bus; a player has no input bus.
  if (source.get() == d.output.get() || dynamic_cast<AudioPlayerNode*>(destination.get())) return;
  // No cycles: the destination must not already feed the source.
  for (auto it = d.inputs.find(source.get()); it != d.inputs.end();
       it = d.inputs.find(it->second.source.get())) {
    if (it->second.source.get() == destination.get()) return;
  }
  d.editGraph([&] {
    for (auto it = d.inputs.begin(); it != d.inputs.end();) {
      it = it->second.source == source ? d.inputs.erase(it) : std::next(it);
    }
    d.inputs[destination.get()] = Impl::Connection{source, format};
    if (destination.get() == d.output.get()) d.liveFormat = format;
  });
}

std::shared_ptr<AudioNode> AudioEngine::inputOf(const AudioNode& destination) const {
  const auto it = impl_->inputs.find(&destination);
  return it == impl_->inputs.end() ? nullptr : it->second.source;
}

std::shared_ptr<AudioOutputNode> AudioEngine::outputNode() const { return impl_->output; }

bool AudioEngine::startAndReturnError(AudioError* error) {
  Impl& d = *impl_;
  if (d.running) return true;
  if (d.manual) {
    d.configureGraph(d.manualFormat);
    d.sampleTime = 0;
    d.offline = true;
    d.running = true;
    return true;
  }
  const auto top = d.inputs.find(d.output.get());
  if (top == d.inputs.end()) {
    setError(error, kErrorNotConnected, "nothing is connected to the output node");
    return false;
  }
  d.liveFormat = top->second.format;
  if (d.liveFormat.channelCount > audio::kMaxRenderChannels) {
    setError(error, kErrorInvalidFormat, "unsupported output format");
    return false;
  }
  d.configureGraph(d.liveFormat);
  d.sampleTime = 0;
  if (!d.resumeLive(error)) return false;
  d.running = true;
  return true;
}

bool AudioEngine::isRunning() const { return impl_->running; }

void AudioEngine::stop() {
  Impl& d = *impl_;
  if (!d.running) return;
  if (!d.manual) d.pauseLive();
  d.running = false;
}

void AudioEngine::reset() {
  for (const auto& node : impl_->attached) {
    if (auto* player = dynamic_cast<AudioPlayerNode*>(node.get())) player->reset();
    if (auto* unit = dynamic_cast<AudioUnitTimePitch*>(node.get())) unit->reset();
  }
}

bool AudioEngine::enableManualRenderingMode(AudioEngineManualRenderingMode mode, const AudioFormat& format,
                                            uint32_t maximumFrameCount, AudioError* error) {
  Impl& d = *impl_;
  if (d.running) {
    setError(error, kErrorRunning, "the engine must be stopped to change its rendering mode");
    return false;
  }
  if (mode != AudioEngineManualRenderingMode::Offline) {
    setError(error, kErrorUnsupported, "only offline manual rendering is supported");
    return false;
  }
  if (!format.isValid() || format.channelCount > audio::kMaxRenderChannels) {
    setError(error, kErrorInvalidFormat, "unsupported manual rendering format");
    return false;
  }
  if (maximumFrameCount == 0) {
    setError(error, kErrorTooManyFrames, "the maximum frame count must not be 0");
    return false;
  }
  d.manual = true;
  d.manualFormat = format;
  d.manualMaximum = maximumFrameCount;
  d.manualSampleTime = 0;
  return true;
}

void AudioEngine::disableManualRenderingMode() {
  Impl& d = *impl_;
  if (!d.manual) return;
  stop();
  d.manual = false;
  d.manualFormat = {};
  d.manualMaximum = 0;
}

bool AudioEngine::isInManualRenderingMode() const { return impl_->manual; }
AudioFormat AudioEngine::manualRenderingFormat() const {
  return impl_->manual ? impl_->manualFormat : AudioFormat{};
}
uint32_t AudioEngine::manualRenderingMaximumFrameCount() const {
  return impl_->manual ? impl_->manualMaximum : 0;
}
int64_t AudioEngine::manualRenderingSampleTime() const { return impl_->manual ? impl_->manualSampleTime : 0; }

AudioEngineManualRenderingStatus AudioEngine::renderOffline(uint32_t frames, AudioPCMBuffer& buffer,
                                                            AudioError* error) {
  if (renderPassObserver_) renderPassObserver_(frames);
  Impl& d = *impl_;
  if (!d.manual) {
    setError(error, kErrorNotManual, "the engine is not in manual rendering mode");
    return AudioEngineManualRenderingStatus::Error;
  }
  if (!d.running) {
    setError(error, kErrorNotRunning, "the engine is not running");
    return AudioEngineManualRenderingStatus::Error;
  }
  if (frames > d.manualMaximum || frames > buffer.frameCapacity()) {
    setError(error, kErrorTooManyFrames, "more frames than the maximum or the buffer's capacity");
    return AudioEngineManualRenderingStatus::Error;
  }
  if (buffer.format().channelCount != d.manualFormat.channelCount) {
    setError(error, kErrorInvalidFormat, "the buffer's format differs from the manual rendering format");
    return AudioEngineManualRenderingStatus::Error;
  }
  std::array<float*, audio::kMaxRenderChannels> channels{};
  for (uint32_t c = 0; c < d.manualFormat.channelCount; ++c) channels[c] = buffer.channelData(c);
  d.pull(channels.data(), frames, 0.0);
  buffer.setFrameLength(frames);
  d.manualSampleTime += frames;
  d.kickNotifier();
  return AudioEngineManualRenderingStatus::Success;
}

}  // namespace lorvanta
