#pragma once

#include <functional>
#include <memory>

#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioNode.h"

namespace lorvanta {

enum class AudioPlayerNodeCompletionCallbackType {
  DataConsumed = 0,
  DataRendered = 1,
  DataPlayedBack = 2,
};

// Plays scheduled files into its output bus.
class AudioPlayerNode final : public AudioNode {
 public:
  using CompletionHandler = std::function<void(AudioPlayerNodeCompletionCallbackType)>;

  AudioPlayerNode();
  ~AudioPlayerNode() override;

  // Queues the whole file to play as soon as possible after what is already queued.
  // The handler runs once, on the engine's notification thread, never on the render
  // thread; for DataPlayedBack after the output device has played the file's last frame.
  void scheduleFile(std::shared_ptr<AudioFile> file, AudioPlayerNodeCompletionCallbackType type,
                    CompletionHandler handler);
  void scheduleFile(std::shared_ptr<AudioFile> file);

  void play();
  // Silent at once; nothing stays scheduled; pending completions are dropped.
  void stop();
  void reset();
  bool isPlaying() const;

 private:
  struct Impl;
  explicit AudioPlayerNode(std::unique_ptr<Impl>&& owner);
  AudioPlayerNode(Impl& impl, std::unique_ptr<Impl>&& owner);

  Impl& impl_;
};

}  // namespace lorvanta
