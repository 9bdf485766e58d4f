#include "studio/audio/NullOutputDevice.h"

#include <chrono>

namespace lorvanta {

NullOutputDevice::NullOutputDevice(Options options, Tap tap) : options_(options), tap_(std::move(tap)) {}

NullOutputDevice::~NullOutputDevice() { stop(); }

bool NullOutputDevice::start(const AudioFormat& format, RenderCallback render, AudioError* error) {
  std::lock_guard lock(mutex_);
  if (options_.failToStart) {
    if (error) *error = AudioError{"no audio output device"};
    return false;
  }
  if (!format.isValid() || !render) {
    if (error) *error = AudioError{"unsupported output format"};
    return false;
  }
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
  frames_.store(0, std::memory_order_release);
  rate_.store(format.sampleRate, std::memory_order_release);
  running_.store(true, std::memory_order_release);
  thread_ = std::jthread(
      [this, format, render = std::move(render)](std::stop_token stop) { run(stop, format, render); });
  return true;
}

void NullOutputDevice::stop() {
  std::lock_guard lock(mutex_);
  running_.store(false, std::memory_order_release);
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
}

double NullOutputDevice::currentTime() const {
  const double rate = rate_.load(std::memory_order_acquire);
  return rate > 0.0 ? static_cast<double>(frames_.load(std::memory_order_acquire)) / rate : 0.0;
}

void NullOutputDevice::run(const std::stop_token& stop, AudioFormat format, RenderCallback render) {
  const uint32_t block = options_.blockFrames ? options_.blockFrames : 256;
  std::vector<std::vector<float>> storage(format.channelCount, std::vector<float>(block));
  std::vector<float*> channels;
  for (auto& channel : storage) channels.push_back(channel.data());
  const auto started = std::chrono::steady_clock::now();
  uint64_t done = 0;
  while (!stop.stop_requested()) {
    // Block k is heard when the clock has passed it and the latency.
    render(channels.data(), block, static_cast<double>(done) / format.sampleRate + options_.latency);
    if (tap_) tap_(channels.data(), format.channelCount, block);
    done += block;
    if (options_.realTime) {
      std::this_thread::sleep_until(
          started + std::chrono::duration<double>(static_cast<double>(done) / format.sampleRate));
    }
    frames_.store(done, std::memory_order_release);
  }
}

}  // namespace lorvanta
