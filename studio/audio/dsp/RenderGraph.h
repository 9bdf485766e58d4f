#pragma once

#include <cstdint>

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
  bool offline = false;
  // A file's data has been consumed by its player; `end.sampleTime` says when it is heard.
  virtual void segmentConsumed(const SegmentEnd& end) = 0;

 protected:
  ~RenderContext() = default;
};

// A node's render side. The engine wires sources while no rendering runs.
class RenderSource {
 public:
  // Render thread. Fills `frames` (at most kRenderBlock) frames of each of the graph's
  // channel buffers with the audio for graph time `sampleTime`.
  virtual void render(float* const* out, uint32_t frames, int64_t sampleTime, RenderContext& context) = 0;

 protected:
  ~RenderSource() = default;
};

}  // namespace lorvanta::audio
