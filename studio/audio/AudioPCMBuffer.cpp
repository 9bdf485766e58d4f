#include "studio/audio/AudioPCMBuffer.h"

#include <algorithm>

namespace lorvanta {

namespace {
// More channels than this is taken for a corrupt format rather than allocated.
constexpr uint32_t kMaximumChannels = 64;
}  // namespace

std::unique_ptr<AudioPCMBuffer> AudioPCMBuffer::create(const AudioFormat& format, uint32_t frameCapacity) {
  if (!format.isValid() || format.channelCount > kMaximumChannels || frameCapacity == 0) return nullptr;
  return std::unique_ptr<AudioPCMBuffer>(new AudioPCMBuffer(format, frameCapacity));
}

AudioPCMBuffer::AudioPCMBuffer(const AudioFormat& format, uint32_t frameCapacity)
    : format_(format),
      frameCapacity_(frameCapacity),
      channels_(format.channelCount, std::vector<float>(frameCapacity, 0.0f)) {}

void AudioPCMBuffer::setFrameLength(uint32_t frames) { frameLength_ = std::min(frames, frameCapacity_); }

float* AudioPCMBuffer::channelData(uint32_t channel) {
  return channel < channels_.size() ? channels_[channel].data() : nullptr;
}

const float* AudioPCMBuffer::channelData(uint32_t channel) const {
  return channel < channels_.size() ? channels_[channel].data() : nullptr;
}

}  // namespace lorvanta
