#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "studio/audio/AudioFormat.h"
#include "studio/audio/AudioNode.h"
#include "studio/audio/AudioOutputDevice.h"
#include "studio/audio/AudioPCMBuffer.h"

namespace lorvanta {

// The engine's output node: its input is what is heard, or what manual rendering returns.
class AudioOutputNode final : public AudioNode {
 public:
  AudioOutputNode();
};

enum class AudioEngineManualRenderingMode { Offline = 0, Realtime = 1 };

enum class AudioEngineManualRenderingStatus : int {
  Error = -1,
  Success = 0,
  InsufficientDataFromInputNode = 1,
  CannotDoInCurrentContext = 2,
};

// One audio graph. Every member is called on the main thread.
class AudioEngine {
 public:
  // Real-time output on the system's default output device.
  AudioEngine();
  // Real-time output on `device` (tests give a null device).
  explicit AudioEngine(std::unique_ptr<AudioOutputDevice> device);
  ~AudioEngine();
  AudioEngine(const AudioEngine&) = delete;
  AudioEngine& operator=(const AudioEngine&) = delete;

  // Attaching again changes nothing.
  void attachNode(const std::shared_ptr<AudioNode>& node);
  bool isAttached(const AudioNode& node) const;
  // source bus 0 -> destination bus 0 in `format`, replacing earlier connections on either bus.
  void connect(const std::shared_ptr<AudioNode>& source, const std::shared_ptr<AudioNode>& destination,
               const AudioFormat& format);
  // The node connected to `destination`'s input bus 0, or nullptr.
  std::shared_ptr<AudioNode> inputOf(const AudioNode& destination) const;
  std::shared_ptr<AudioOutputNode> outputNode() const;

  // Called on the engine's notification thread, at most once per start, when the output
  // device fails while the engine runs live (sound server gone, device removed). Pending
  // completions of that run are dropped; isRunning() stays true until stop() is called on
  // the main thread. Keep it short: post to the main queue.
  using DeviceFailureHandler = std::function<void(const AudioError& error)>;
  void setDeviceFailureHandler(DeviceFailureHandler handler);

  bool startAndReturnError(AudioError* error = nullptr);
  bool isRunning() const;
  void stop();
  void reset();

  bool enableManualRenderingMode(AudioEngineManualRenderingMode mode, const AudioFormat& format,
                                 uint32_t maximumFrameCount, AudioError* error = nullptr);
  void disableManualRenderingMode();
  bool isInManualRenderingMode() const;
  AudioFormat manualRenderingFormat() const;
  uint32_t manualRenderingMaximumFrameCount() const;
  // Frames rendered since manual rendering was switched on.
  int64_t manualRenderingSampleTime() const;
  // Pulls `frames` (at most the maximum) through the graph on the calling thread.
  AudioEngineManualRenderingStatus renderOffline(uint32_t frames, AudioPCMBuffer& buffer,
                                                 AudioError* error = nullptr);
  // Told the frame count of every renderOffline call, on the calling thread, before it
  // renders (tests see the passes a save asks for).
  using RenderPassObserver = std::function<void(uint32_t frames)>;
  void setRenderPassObserver(RenderPassObserver observer) { renderPassObserver_ = std::move(observer); }

 private:
  static audio::RenderNode& rendererOf(const AudioNode& node);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  RenderPassObserver renderPassObserver_;
};

}  // namespace lorvanta
