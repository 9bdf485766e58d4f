#pragma once

#include <cstdint>
#include <string>

namespace lorvanta {

// Processing format: 32-bit float samples, one buffer per channel.
struct AudioFormat {
  double sampleRate = 0.0;
  uint32_t channelCount = 0;

  bool isValid() const { return sampleRate > 0.0 && channelCount > 0; }
  friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

// What went wrong, in plain words.
struct AudioError {
  std::string message;
};

}  // namespace lorvanta
