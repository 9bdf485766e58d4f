#include <portaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>

#include "studio/audio/AudioOutputDevice.h"
#include "studio/audio/dsp/RenderGraph.h"

namespace lorvanta {

namespace {

// Seconds of output buffering asked for at least.
constexpr double kMinimumLatency = 0.1;

// The default output device. The stream's format follows the graph; the device or the
// sound server converts. Start, stop and the clock are called from non-real-time threads.
class PortAudioOutputDevice final : public AudioOutputDevice {
 public:
  ~PortAudioOutputDevice() override {
    stop();
    std::lock_guard lock(mutex_);
    if (initialized_) Pa_Terminate();
  }

  bool start(const AudioFormat& format, RenderCallback render, AudioError* error) override {
    std::lock_guard lock(mutex_);
    closeLocked();
    if (!format.isValid() || format.channelCount > audio::kMaxRenderChannels) {
      return fail(error, paInvalidChannelCount, "unsupported output format");
    }
    if (!initialized_) {
      const PaError status = Pa_Initialize();
      if (status != paNoError) return fail(error, status, Pa_GetErrorText(status));
      initialized_ = true;
    }
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) return fail(error, paDeviceUnavailable, "no audio output device");
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    PaStreamParameters output{};
    output.device = device;
    output.channelCount = static_cast<int>(format.channelCount);
    output.sampleFormat = paFloat32 | paNonInterleaved;
    // Speech needs no low latency; shorter buffers underrun through sound-server plugins.
    output.suggestedLatency = std::max(info ? info->defaultHighOutputLatency : 0.0, kMinimumLatency);
    render_ = std::move(render);
    PaError status =
        Pa_OpenStream(&stream_, nullptr, &output, format.sampleRate, paFramesPerBufferUnspecified, paNoFlag,
                      &PortAudioOutputDevice::callback, this);
    if (status != paNoError) {
      stream_ = nullptr;
      return fail(error, status, Pa_GetErrorText(status));
    }
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream_);
    latency_.store(streamInfo ? streamInfo->outputLatency : 0.0, std::memory_order_release);
    status = Pa_StartStream(stream_);
    if (status != paNoError) {
      closeLocked();
      return fail(error, status, Pa_GetErrorText(status));
    }
    return true;
  }

  void stop() override {
    std::lock_guard lock(mutex_);
    closeLocked();
  }

  double outputLatency() const override { return latency_.load(std::memory_order_acquire); }

  double currentTime() const override {
    std::lock_guard lock(mutex_);
    return stream_ ? Pa_GetStreamTime(stream_) : 0.0;
  }

 private:
  static int callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                      PaStreamCallbackFlags, void* user) {
    auto* self = static_cast<PortAudioOutputDevice*>(user);
    auto* const* channels = static_cast<float* const*>(output);
    // Some hosts (ALSA plugins) report no DAC time: then it is now plus the stream's latency.
    double heard = 0.0;
    if (time) {
      heard = time->outputBufferDacTime > time->currentTime
                  ? time->outputBufferDacTime
                  : time->currentTime + self->latency_.load(std::memory_order_relaxed);
    }
    self->render_(channels, static_cast<uint32_t>(frames), heard);
    return paContinue;
  }

  void closeLocked() {
    if (!stream_) return;
    Pa_StopStream(stream_);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
  }

  static bool fail(AudioError* error, int code, const char* message) {
    if (error) *error = AudioError{code, message ? message : "audio output error"};
    return false;
  }

  mutable std::mutex mutex_;
  bool initialized_ = false;
  PaStream* stream_ = nullptr;
  RenderCallback render_;
  std::atomic<double> latency_{0.0};
};

}  // namespace

std::unique_ptr<AudioOutputDevice> makeDefaultOutputDevice() {
  return std::make_unique<PortAudioOutputDevice>();
}

}  // namespace lorvanta
