#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "studio/audio/AudioFormat.h"

namespace lorvanta {

// Float PCM frames, one buffer per channel; storage is allocated once, at creation.
class AudioPCMBuffer {
 public:
  // nullptr for an invalid format or a capacity of 0.
  static std::unique_ptr<AudioPCMBuffer> create(const AudioFormat& format, uint32_t frameCapacity);

  const AudioFormat& format() const { return format_; }
  uint32_t frameCapacity() const { return frameCapacity_; }
  uint32_t frameLength() const { return frameLength_; }
  // Clamped to the capacity.
  void setFrameLength(uint32_t frames);

  float* channelData(uint32_t channel);
  const float* channelData(uint32_t channel) const;

 private:
  AudioPCMBuffer(const AudioFormat& format, uint32_t frameCapacity);

  AudioFormat format_;
  uint32_t frameCapacity_ = 0;
  uint32_t frameLength_ = 0;
  std::vector<std::vector<float>> channels_;
};

}  // namespace lorvanta
