#pragma once

#include <memory>

#include "studio/audio/AudioNode.h"

namespace lorvanta {

// Shifts pitch in cents without changing duration. Output is aligned in time with input:
// the unit's latency is compensated, so a rendered file keeps its exact length.
class AudioUnitTimePitch final : public AudioNode {
 public:
  static constexpr float kMinimumPitch = -2400.0f;
  static constexpr float kMaximumPitch = 2400.0f;

  AudioUnitTimePitch();
  ~AudioUnitTimePitch() override;

  // Cents, clamped to [-2400, 2400]; takes effect at once, also while playing. Any thread.
  void setPitch(float cents);
  float pitch() const;
  void reset();

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace lorvanta
