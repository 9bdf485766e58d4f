#pragma once

#include <soundtouch/SoundTouch.h>

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "studio/audio/AudioUnitTimePitch.h"
#include "studio/audio/dsp/RenderGraph.h"

namespace lorvanta {

// Pitch shifting on SoundTouch with its delay compensated: output frame n is input frame n.
//
// Processors: pitch 0 passes the input through untouched; any other pitch runs in one of
// four SoundTouch slots. The main thread prepares a slot for a new pitch and hands it over
// through `pending`; the render thread starts it at the current frame and cross-fades to it,
// so a change is heard within one fade. Only the main thread reconfigures the filters (that
// allocates); the render thread only feeds, reads and clears them.
//
// All of that memory lives in `processing`: the engine gives a unit processing memory while
// it is on the output's chain and takes it back once it is not (releaseProcessingMemory()).
struct AudioUnitTimePitch::Impl final : audio::RenderNode {
  // A processor is a slot index below kSlots, or one of the two markers after them.
  using Processor = size_t;
  static constexpr size_t kSlots = 4;
  static constexpr Processor kNone = kSlots;
  static constexpr Processor kPassThrough = kSlots + 1;
  static constexpr bool isSlot(Processor processor) { return processor < kSlots; }
  static constexpr uint64_t kHistoryFrames = 65536;
  static constexpr uint32_t kFeedChunk = 256;
  enum SlotState : int { Free = 0, Preparing = 1, Pending = 2, Rendering = 3 };

  struct Slot {
    soundtouch::SoundTouch stretch;
    std::atomic<int> state{Free};
    int delay = 0;          // frames of output before the output lines up with the input
    int64_t fedTo = 0;      // render thread: input frames fed so far
    int64_t toDiscard = 0;  // render thread: leading output frames still to drop
  };

  Impl();

  // Main thread, while the engine renders nothing.
  void setUpstream(audio::RenderNode* node) override { upstream = node; }
  void prepare(const AudioFormat& format) override;
  void releaseProcessingMemory() override;
  // Main thread.
  void resetState() override { resetRequested.store(true, std::memory_order_release); }
  void setPitch(float cents);
  // Render thread.
  void render(float* const* out, uint32_t frames, int64_t sampleTime, audio::RenderContext& context) override;

  // Engine wiring, changed while nothing renders.
  audio::RenderNode* upstream = nullptr;

  // Shared, atomic.
  std::atomic<float> pitch{0.0f};
  std::atomic<Processor> pending{kNone};
  std::atomic<bool> resetRequested{false};

 private:
  Processor preparePending(float cents);  // main thread, under mainMutex
  int delayFor(float cents) const;
  void resync(int64_t sampleTime, audio::RenderContext& context);
  void begin(Processor processor);
  void produce(Processor processor, float* interleaved, uint32_t frames, audio::RenderContext& context);
  void pullInput(audio::RenderContext& context);
  void freeSlot(Processor processor);

  struct Processing {
    std::array<Slot, kSlots> slots;
    // Render thread only.
    std::vector<float> history;  // kHistoryFrames interleaved frames of input
    std::vector<float> mixA, mixB;
    std::vector<float> planar;
    std::array<float*, audio::kMaxRenderChannels> planarPointers{};
  };

  std::mutex mainMutex;
  double rate = 0.0;
  uint32_t channels = 0;
  std::unique_ptr<Processing> processing;  // present from prepare() until releaseProcessingMemory()
  int64_t inPos = 0;
  int64_t outPos = 0;
  Processor active = kPassThrough;
  Processor outgoing = kNone;
  uint32_t fadeLength = 1;
  uint32_t fadePosition = 0;
};

}  // namespace lorvanta
