#include "studio/audio/AudioEngine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <thread>
#include <vector>

#include "studio/audio/dsp/RenderGraph.h"
#include "studio/audio/dsp/SpscQueue.h"
#include "studio/audio/dsp/Wakeup.h"

namespace lorvanta {

namespace {

void setError(AudioError* error, const char* message) {
  if (error) *error = AudioError{message};
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

// The output node renders nothing itself: the engine pulls what feeds its input.
class OutputRenderNode final : public audio::RenderNode {
 public:
  bool hasOutputBus() const override { return false; }
  // Never pulled: nothing can take the output node's output.
  void render(float* const*, uint32_t, int64_t, audio::RenderContext&) override {}
};

// How long the notification thread sleeps at least while a completion waits for the device
// clock, so that a clock that stands still (a paused stream) is not polled fast.
constexpr auto kShortestClockWait = std::chrono::milliseconds(10);

}  // namespace

AudioOutputNode::AudioOutputNode() : AudioNode(std::make_unique<OutputRenderNode>()) {}

audio::RenderNode& AudioEngine::rendererOf(const AudioNode& node) { return *node.renderer_; }

struct AudioEngine::Impl final : audio::RenderContext {
  struct Connection {
    std::shared_ptr<AudioNode> source;
    AudioFormat format;
  };
  // Stopped, rendering for the output device, or rendering on the caller's pull.
  enum class Mode { Stopped, Live, Offline };
  struct ManualRendering {
    AudioFormat format;
    uint32_t maximumFrameCount = 0;
    int64_t sampleTime = 0;  // frames rendered since manual rendering was switched on
  };

  explicit Impl(std::unique_ptr<AudioOutputDevice> outputDevice) : device(std::move(outputDevice)) {
    waiting.reserve(256);
    if (device) device->setFailureCallback([this](const AudioError& error) { deviceFailed(error); });
    notifier = std::jthread([this](std::stop_token stop) { notify(stop); });
  }

  // ---- main thread
  bool isNodeAttached(const AudioNode* node) const {
    if (node == output.get()) return true;
    return std::any_of(attached.begin(), attached.end(), [node](const auto& n) { return n.get() == node; });
  }

  // Live output runs on other threads: an edit pauses it and applies the graph again.
  template <typename Edit>
  void editGraph(Edit edit) {
    const bool resume = mode == Mode::Live;
    if (resume) pauseLive();
    edit();
    if (mode == Mode::Offline) {
      configureGraph(manual->format);
    } else if (mode == Mode::Live) {
      configureGraph(liveFormat);
    } else {
      releaseNodesOffChain();
    }
    if (resume) {
      AudioError ignored;
      if (!resumeLive(&ignored)) mode = Mode::Stopped;
    }
  }

  // Nodes that feed the output, directly or through others.
  std::set<const AudioNode*> outputChain() const {
    std::set<const AudioNode*> chain;
    for (auto it = inputs.find(output.get()); it != inputs.end(); it = inputs.find(it->second.source.get()))
      chain.insert(it->second.source.get());
    return chain;
  }

  // A node off the output's chain holds no processing memory; configureGraph gives it back
  // to a node that is connected again. Main thread, while nothing renders.
  void releaseNodesOffChain() {
    const auto chain = outputChain();
    for (const auto& node : attached) {
      if (!chain.count(node.get())) rendererOf(*node).releaseProcessingMemory();
    }
  }

  void configureGraph(const AudioFormat& format) {
    releaseNodesOffChain();
    renderFormat = format;
    for (const auto& node : attached) {
      const auto it = inputs.find(node.get());
      rendererOf(*node).setUpstream(it == inputs.end() ? nullptr : &rendererOf(*it->second.source));
    }
    root = nullptr;
    const auto top = inputs.find(output.get());
    if (top != inputs.end()) root = &rendererOf(*top->second.source);
    // Everything upstream of the output renders in the graph's format.
    for (auto it = top; it != inputs.end(); it = inputs.find(it->second.source.get()))
      rendererOf(*it->second.source).prepare(format);
    prefetchers.clear();
    for (const auto& node : attached) prefetchers.push_back(&rendererOf(*node));
    pendingCount = 0;
  }

  bool resumeLive(AudioError* error) {
    runFailed.store(false, std::memory_order_release);
    reader = std::jthread([this](std::stop_token stop) { read(stop); });
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
      if (!device) deviceError = AudioError{"no audio output device"};
      if (error) *error = deviceError;
      return false;
    }
    latencyFrames.store(static_cast<int64_t>(device->outputLatency() * liveFormat.sampleRate),
                        std::memory_order_relaxed);
    return true;
  }

  void pauseLive() {
    if (device) device->stop();
    stopReader();
    epoch.fetch_add(1, std::memory_order_acq_rel);
  }

  void stopReader() {
    if (!reader.joinable()) return;
    reader.request_stop();
    reader.join();
  }

  // ---- render thread (or the offline caller): the one pull of the graph.
  bool isOffline() const override { return mode == Mode::Offline; }

  void pull(float* const* out, uint32_t frames, double outputTime) {
    const uint32_t channels = renderFormat.channelCount;
    const bool offline = mode == Mode::Offline;
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
      const bool playedBack = !offline && end.type == AudioPlayerNodeCompletionCallbackType::DataPlayedBack;
      // Played back only once the device has asked for the frames its latency holds after it.
      const int64_t heldBack = playedBack ? latencyFrames.load(std::memory_order_relaxed) : 0;
      if (end.sampleTime + heldBack > sampleTime) {
        ++i;
        continue;
      }
      // When the file's last frame is heard; it may lie in an earlier render call.
      const double due =
          playedBack ? outputTime + static_cast<double>(end.sampleTime - start) / renderFormat.sampleRate
                     : 0.0;
      queueCompletion(CompletionEvent{end.receiver, end.segment, end.generation, end.type, due,
                                      epoch.load(std::memory_order_acquire)});
      pendingEnds[i] = pendingEnds[--pendingCount];
    }
    if (completionQueued) {
      completionQueued = false;
      notifierWakeup.notify();
    }
  }

  void segmentConsumed(const audio::SegmentEnd& end) override {
    if (end.type == AudioPlayerNodeCompletionCallbackType::DataConsumed) {
      queueCompletion(CompletionEvent{end.receiver, end.segment, end.generation, end.type, 0.0,
                                      epoch.load(std::memory_order_acquire)});
    } else if (pendingCount < pendingEnds.size()) {
      pendingEnds[pendingCount++] = end;
    }
  }

  void queueCompletion(const CompletionEvent& event) {
    if (events.push(event)) completionQueued = true;
  }

  void requestPrefetch() override { readerWakeup.notify(); }

  // ---- reader thread: fills the nodes' prefetch buffers when the render side asks.
  void read(std::stop_token stop) {
    std::stop_callback wake(stop, [this] { readerWakeup.notify(); });
    while (!stop.stop_requested()) {
      for (auto* node : prefetchers) {
        while (!stop.stop_requested() && node->prefetch()) {
        }
      }
      readerWakeup.wait();
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
    notifierWakeup.notify();
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
  // clock has passed the file's last frame. Sleeps until a completion or a failure comes,
  // or until the next waiting completion is due.
  void notify(std::stop_token stop) {
    std::stop_callback wake(stop, [this] { notifierWakeup.notify(); });
    while (!stop.stop_requested()) {
      takeFailure();
      CompletionEvent event{};
      while (events.pop(event)) {
        if (event.due > 0.0 && runFailed.load(std::memory_order_acquire)) continue;
        waiting.push_back(event);
      }
      const double nextDue = deliverDueCompletions();
      if (stop.stop_requested()) return;
      if (nextDue >= 0.0) {
        notifierWakeup.waitFor(std::max<std::chrono::duration<double>>(std::chrono::duration<double>(nextDue),
                                                                       kShortestClockWait));
      } else {
        notifierWakeup.wait();
      }
    }
  }

  // Notification thread: delivers the waiting completions that are due and drops those of a
  // stopped run; returns the seconds of device time until the nearest one still waiting, or
  // -1 when none waits for the clock.
  double deliverDueCompletions() {
    double nextDue = -1.0;
    const double now = device ? device->currentTime() : 0.0;
    for (size_t i = 0; i < waiting.size();) {
      const CompletionEvent& e = waiting[i];
      if (e.due > 0.0) {
        if (e.epoch != epoch.load(std::memory_order_acquire)) {
          waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
          continue;
        }
        if (!device || now < e.due) {
          if (device && (nextDue < 0.0 || e.due - now < nextDue)) nextDue = e.due - now;
          ++i;
          continue;
        }
      }
      const CompletionEvent ready = e;
      waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
      ready.receiver->deliverCompletion(ready.segment, ready.generation, ready.type);
    }
    return nextDue;
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

  // Main thread; the render side reads `mode` only while it renders, and it changes only
  // while nothing renders.
  std::vector<std::shared_ptr<AudioNode>> attached;
  std::map<const AudioNode*, Connection> inputs;  // destination -> what feeds its input bus 0
  Mode mode = Mode::Stopped;
  std::optional<ManualRendering> manual;  // present while manual rendering is switched on
  AudioFormat liveFormat;

  // Render side: changed by the main thread only while nothing renders.
  audio::RenderNode* root = nullptr;
  AudioFormat renderFormat;
  int64_t sampleTime = 0;
  std::atomic<int64_t> latencyFrames{0};
  std::array<audio::SegmentEnd, 64> pendingEnds{};
  size_t pendingCount = 0;
  bool completionQueued = false;

  // Reader thread.
  std::vector<audio::RenderNode*> prefetchers;
  audio::Wakeup readerWakeup;
  std::jthread reader;

  // Notification thread.
  audio::SpscQueue<CompletionEvent> events{256};
  std::vector<CompletionEvent> waiting;
  std::atomic<uint64_t> epoch{0};
  std::atomic<bool> runFailed{false};  // the live run's device failed; cleared by a start
  audio::Wakeup notifierWakeup;
  std::jthread notifier;  // last: stopped and joined before anything it uses goes
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
  if (!rendererOf(*source).hasOutputBus() || !rendererOf(*destination).hasInputBus()) return;
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
  if (d.mode != Impl::Mode::Stopped) return true;
  if (d.manual) {
    d.configureGraph(d.manual->format);
    d.sampleTime = 0;
    d.mode = Impl::Mode::Offline;
    return true;
  }
  const auto top = d.inputs.find(d.output.get());
  if (top == d.inputs.end()) {
    setError(error, "nothing is connected to the output node");
    return false;
  }
  d.liveFormat = top->second.format;
  if (d.liveFormat.channelCount > audio::kMaxRenderChannels) {
    setError(error, "unsupported output format");
    return false;
  }
  d.configureGraph(d.liveFormat);
  d.sampleTime = 0;
  d.mode = Impl::Mode::Live;
  if (!d.resumeLive(error)) {
    d.mode = Impl::Mode::Stopped;
    return false;
  }
  return true;
}

bool AudioEngine::isRunning() const { return impl_->mode != Impl::Mode::Stopped; }

void AudioEngine::stop() {
  Impl& d = *impl_;
  if (d.mode == Impl::Mode::Live) d.pauseLive();
  d.mode = Impl::Mode::Stopped;
}

void AudioEngine::reset() {
  for (const auto& node : impl_->attached) rendererOf(*node).resetState();
}

bool AudioEngine::enableManualRenderingMode(AudioEngineManualRenderingMode mode, const AudioFormat& format,
                                            uint32_t maximumFrameCount, AudioError* error) {
  Impl& d = *impl_;
  if (d.mode != Impl::Mode::Stopped) {
    setError(error, "the engine must be stopped to change its rendering mode");
    return false;
  }
  if (mode != AudioEngineManualRenderingMode::Offline) {
    setError(error, "only offline manual rendering is supported");
    return false;
  }
  if (!format.isValid() || format.channelCount > audio::kMaxRenderChannels) {
    setError(error, "unsupported manual rendering format");
    return false;
  }
  if (maximumFrameCount == 0) {
    setError(error, "the maximum frame count must not be 0");
    return false;
  }
  d.manual = Impl::ManualRendering{format, maximumFrameCount, 0};
  return true;
}

void AudioEngine::disableManualRenderingMode() {
  Impl& d = *impl_;
  if (!d.manual) return;
  stop();
  d.manual.reset();
}

bool AudioEngine::isInManualRenderingMode() const { return impl_->manual.has_value(); }
AudioFormat AudioEngine::manualRenderingFormat() const {
  return impl_->manual ? impl_->manual->format : AudioFormat{};
}
uint32_t AudioEngine::manualRenderingMaximumFrameCount() const {
  return impl_->manual ? impl_->manual->maximumFrameCount : 0;
}
int64_t AudioEngine::manualRenderingSampleTime() const {
  return impl_->manual ? impl_->manual->sampleTime : 0;
}

AudioEngineManualRenderingStatus AudioEngine::renderOffline(uint32_t frames, AudioPCMBuffer& buffer,
                                                            AudioError* error) {
  if (renderPassObserver_) renderPassObserver_(frames);
  Impl& d = *impl_;
  if (!d.manual) {
    setError(error, "the engine is not in manual rendering mode");
    return AudioEngineManualRenderingStatus::Error;
  }
  if (d.mode != Impl::Mode::Offline) {
    setError(error, "the engine is not running");
    return AudioEngineManualRenderingStatus::Error;
  }
  if (frames > d.manual->maximumFrameCount || frames > buffer.frameCapacity()) {
    setError(error, "more frames than the maximum or the buffer's capacity");
    return AudioEngineManualRenderingStatus::Error;
  }
  if (buffer.format().channelCount != d.manual->format.channelCount) {
    setError(error, "the buffer's format differs from the manual rendering format");
    return AudioEngineManualRenderingStatus::Error;
  }
  std::array<float*, audio::kMaxRenderChannels> channels{};
  for (uint32_t c = 0; c < d.manual->format.channelCount; ++c) channels[c] = buffer.channelData(c);
  d.pull(channels.data(), frames, 0.0);
  buffer.setFrameLength(frames);
  d.manual->sampleTime += frames;
  return AudioEngineManualRenderingStatus::Success;
}

}  // namespace lorvanta
