#pragma once

#include <cstdint>
#include <memory>

#include "studio/audio/AudioOutputDevice.h"

namespace lorvanta {

// Plays on the sound server's default sink through libpulse. Each start connects afresh
// when there is no usable connection, so a server that came back is used again; a start
// gives up after a few seconds. The render callback runs on the client library's thread.
// A server that drops the connection, fails the stream or leaves a question unanswered for
// about three seconds while started is told through the failure callback; a stream the
// server pauses (a suspended sink, a corked or moved stream) waits and goes on. The device
// clock is published by the client library's thread: reading it takes no lock.
class PulseOutputDevice final : public AudioOutputDevice {
 public:
  PulseOutputDevice();
  ~PulseOutputDevice() override;

  bool start(const AudioFormat& format, RenderCallback render, AudioError* error) override;
  void stop() override;
  double currentTime() const override;
  double outputLatency() const override;
  void setFailureCallback(FailureCallback callback) override;

  // Times the server ran out of sound to play since the last start; any thread.
  uint64_t underflows() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lorvanta
