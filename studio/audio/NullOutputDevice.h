#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "studio/audio/AudioOutputDevice.h"

namespace lorvanta {

// An output device without sound, for tests: a thread of its own pulls the engine in blocks,
// paced like a real device (or as fast as it can), and can hand each block to a tap.
// Its clock is the time of the frames it has pulled.
class NullOutputDevice final : public AudioOutputDevice {
 public:
  struct Options {
    bool realTime = true;        // pace blocks by the wall clock; otherwise pull flat out
    uint32_t blockFrames = 256;  // frames per render call
    bool failToStart = false;    // start() answers false with an error, like a machine without sound
    double latency = 0.0;        // seconds from pulling a frame to hearing it
  };
  // Device thread: one block as rendered.
  using Tap = std::function<void(const float* const* channels, uint32_t channelCount, uint32_t frames)>;

  NullOutputDevice() : NullOutputDevice(Options{}) {}
  explicit NullOutputDevice(Options options, Tap tap = nullptr);
  ~NullOutputDevice() override;

  bool start(const AudioFormat& format, RenderCallback render, AudioError* error) override;
  void stop() override;
  double currentTime() const override;
  double outputLatency() const override { return options_.latency; }

  // Frames pulled since the last start; any thread.
  uint64_t framesRendered() const { return frames_.load(std::memory_order_acquire); }
  bool isStarted() const { return running_.load(std::memory_order_acquire); }

 private:
  void run(const std::stop_token& stop, AudioFormat format, RenderCallback render);

  const Options options_;
  const Tap tap_;
  std::mutex mutex_;
  std::jthread thread_;
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> frames_{0};
  std::atomic<double> rate_{0.0};
};

}  // namespace lorvanta
