#pragma once

#include <memory>

namespace lorvanta {

class AudioEngine;

// A node of an engine's graph: at most one input bus 0 and one output bus 0.
// Graph edits happen on the main thread; rendering happens on the engine's render thread.
class AudioNode : public std::enable_shared_from_this<AudioNode> {
 public:
  virtual ~AudioNode() = default;
  AudioNode(const AudioNode&) = delete;
  AudioNode& operator=(const AudioNode&) = delete;

 protected:
  AudioNode() = default;
};

}  // namespace lorvanta
