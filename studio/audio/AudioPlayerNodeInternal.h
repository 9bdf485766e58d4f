#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "studio/audio/AudioPlayerNode.h"
#include "studio/audio/dsp/RenderGraph.h"
#include "studio/audio/dsp/SpscQueue.h"

namespace lorvanta {

// The player's three sides: the main thread schedules and stops; a reader (the engine's
// reader thread live, the rendering caller offline) moves file data into a ring; the render
// thread plays from the ring, reports where each file ends and wakes the reader when the
// ring falls below half.
struct AudioPlayerNode::Impl final : audio::RenderNode, audio::CompletionReceiver {
  static constexpr uint64_t kRingFrames = 32768;
  static constexpr uint32_t kReadChunk = 4096;

  bool hasInputBus() const override { return false; }
  // Main thread, while the engine renders nothing.
  void prepare(const AudioFormat& format) override;
  void resetState() override;
  // Reader side: moves up to one chunk of file data into the ring. True when it did anything.
  bool prefetch() override;
  // Render thread.
  void render(float* const* out, uint32_t frames, int64_t sampleTime, audio::RenderContext& context) override;
  // Render thread: hands the ends of segments within the `produced` frames after ring count
  // `read` to the engine; drops the markers of earlier generations.
  void reportSegmentEnds(uint64_t read, uint32_t produced, uint64_t currentGeneration, int64_t sampleTime,
                         audio::RenderContext& context);
  // Notification thread.
  void deliverCompletion(uint64_t segment, uint64_t generation,
                         AudioPlayerNodeCompletionCallbackType type) override;

  void schedule(std::shared_ptr<AudioFile> file, AudioPlayerNodeCompletionCallbackType type,
                CompletionHandler handler);
  // Silent at once; nothing stays scheduled; pending completions are dropped.
  void stop();

  struct Segment {
    uint64_t id = 0;
    std::shared_ptr<AudioFile> file;
    int64_t next = 0;
    int64_t length = 0;
    bool reported = false;  // whether its end goes to the render side
    AudioPlayerNodeCompletionCallbackType type = AudioPlayerNodeCompletionCallbackType::DataPlayedBack;
  };
  struct Marker {
    uint64_t segment;
    uint64_t generation;
    AudioPlayerNodeCompletionCallbackType type;
    uint64_t end;  // ring write count after the segment's last frame
  };

  // Immutable while rendering.
  uint32_t channels = 0;
  std::vector<float> ring;  // kRingFrames interleaved frames

  // Shared, atomic.
  std::atomic<bool> playing{false};
  std::atomic<uint64_t> generation{0};
  std::atomic<uint64_t> writeCount{0};
  std::atomic<uint64_t> readCount{0};
  std::atomic<uint64_t> flushTo{0};
  std::atomic<bool> moreToRead{false};         // files wait to be read into the ring
  std::atomic<bool> prefetchRequested{false};  // the render side has asked the reader for data
  audio::SpscQueue<Marker> markers{64};

  // Guarded by `mutex` (main, reader and notification threads; never the render thread).
  std::mutex mutex;
  std::deque<Segment> toRead;
  std::map<uint64_t, CompletionHandler> handlers;
  uint64_t nextSegment = 1;
  std::unique_ptr<AudioPCMBuffer> scratch;

  // Held while a completion runs, so that stop() returns only when none is running.
  std::recursive_mutex deliveryMutex;
};

}  // namespace lorvanta
