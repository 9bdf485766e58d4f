#pragma once

#include <memory>

namespace lorvanta {

namespace audio {
class RenderNode;
}

// A node of an engine's graph: at most one input bus 0 and one output bus 0.
// Graph edits happen on the main thread; rendering happens on the engine's render thread.
class AudioNode : public std::enable_shared_from_this<AudioNode> {
 public:
  virtual ~AudioNode();
  AudioNode(const AudioNode&) = delete;
  AudioNode& operator=(const AudioNode&) = delete;

 protected:
  explicit AudioNode(std::unique_ptr<audio::RenderNode> renderer);

 private:
  // The engine renders the node through it.
  friend class AudioEngine;
  const std::unique_ptr<audio::RenderNode> renderer_;
};

}  // namespace lorvanta
