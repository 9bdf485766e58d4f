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

  // Cents, clamped to [-2400, 2400]; takes effect at once, also while playing. Any thread but
  // the render thread: it takes a lock, and the first use of a pitch measures the unit's
  // delay there (which allocates).
  void setPitch(float cents);
  // Any thread.
  float pitch() const;
  void reset();

 private:
  struct Impl;
  explicit AudioUnitTimePitch(std::unique_ptr<Impl>&& owner);
  AudioUnitTimePitch(Impl& impl, std::unique_ptr<Impl>&& owner);

  Impl& impl_;
};

}  // namespace lorvanta
