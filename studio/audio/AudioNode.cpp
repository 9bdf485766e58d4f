#include "studio/audio/AudioNode.h"

#include "studio/audio/dsp/RenderGraph.h"

namespace lorvanta {

AudioNode::AudioNode(std::unique_ptr<audio::RenderNode> renderer) : renderer_(std::move(renderer)) {}

AudioNode::~AudioNode() = default;

}  // namespace lorvanta
