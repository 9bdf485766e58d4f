#pragma once

#include <cstdint>

#include "studio/audio/AudioFormat.h"
#include "studio/audio/AudioPlayerNode.h"

namespace lorvanta::audio {

// Largest number of frames a node is asked for in one call; engines split longer requests.
inline constexpr uint32_t kRenderBlock = 512;
// Channels a graph may carry.
inline constexpr uint32_t kMaxRenderChannels = 8;

class CompletionReceiver;

// The end of a scheduled file as the player saw it, in the graph's time line.
struct SegmentEnd {
  CompletionReceiver* receiver = nullptr;
  uint64_t segment = 0;
  uint64_t generation = 0;
  AudioPlayerNodeCompletionCallbackType type = AudioPlayerNodeCompletionCallbackType::DataPlayedBack;
  int64_t sampleTime = 0;  // the frame after the file's last frame
};

// Takes completions on the engine's notification thread.
class CompletionReceiver {
 public:
  virtual void deliverCompletion(uint64_t segment, uint64_t generation,
                                 AudioPlayerNodeCompletionCallbackType type) = 0;

 protected:
  ~CompletionReceiver() = default;
};

// What one pull of the graph carries besides the audio. Render thread (or the offline caller).
class RenderContext {
 public:
  // Whether the pull renders offline: then the caller reads files itself, synchronously.
  virtual bool isOffline() const = 0;
  // A file's data has been consumed by its player; `end.sampleTime` says when it is heard.
  virtual void segmentConsumed(const SegmentEnd& end) = 0;
  // A node's prefetched data runs low: wakes the engine's reader. Never blocks.
  virtual void requestPrefetch() = 0;

 protected:
  ~RenderContext() = default;
};

// What the engine knows of a node. The public node types own one each and forward to it.
class RenderNode {
 public:
  virtual ~RenderNode() = default;

  virtual bool hasInputBus() const { return true; }
  virtual bool hasOutputBus() const { return true; }

  // Main thread, while nothing renders: what feeds the input bus, the graph's format, the
  // memory processing needs (given back once the node is off the output's chain).
  virtual void setUpstream(RenderNode* upstream) { (void)upstream; }
  virtual void prepare(const AudioFormat& format) { (void)format; }
  virtual void releaseProcessingMemory() {}
  // Main thread: back to the state of a new node, keeping its settings.
  virtual void resetState() {}

  // Reader side: moves one step of data toward the render side (a file chunk into a ring).
  // True when it did anything. Nodes without prefetched data do nothing.
  virtual bool prefetch() { return false; }

  // Render thread. Fills `frames` (at most kRenderBlock) frames of each of the graph's
  // channel buffers with the audio for graph time `sampleTime`.
  virtual void render(float* const* out, uint32_t frames, int64_t sampleTime, RenderContext& context) = 0;
};

}  // namespace lorvanta::audio
