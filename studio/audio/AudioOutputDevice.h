#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "studio/audio/AudioFormat.h"

namespace lorvanta {

// Where a running engine's output goes in real time.
class AudioOutputDevice {
 public:
  // Render thread: fill `frames` frames of `channels` non-interleaved buffers.
  // `outputTime`: the device time (seconds, device clock) at which the first frame is heard.
  using RenderCallback = std::function<void(float* const* channels, uint32_t frames, double outputTime)>;

  // Device thread: the device failed while started (sound server gone, device removed);
  // it renders no more until the next start.
  using FailureCallback = std::function<void(const AudioError& error)>;

  virtual ~AudioOutputDevice() = default;
  virtual bool start(const AudioFormat& format, RenderCallback render, AudioError* error) = 0;
  // Returns once the render callback has stopped running; also after a failure.
  virtual void stop() = 0;
  // Set while stopped. A device that can fail calls it at most once per start.
  virtual void setFailureCallback(FailureCallback callback) { (void)callback; }
  // Device clock now, in seconds (same clock as outputTime).
  virtual double currentTime() const = 0;
  // Seconds from handing a frame over to hearing it, once started.
  virtual double outputLatency() const { return 0.0; }
};

// The default output of the sound server (PulseAudio, or PipeWire serving its protocol).
std::unique_ptr<AudioOutputDevice> makeDefaultOutputDevice();

}  // namespace lorvanta
