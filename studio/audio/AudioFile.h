#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "studio/audio/AudioFormat.h"
#include "studio/audio/AudioPCMBuffer.h"

namespace lorvanta {

// The stored format of a file, as a writer needs it to make a file of the same kind.
struct AudioFileSettings {
  enum class Container { Unknown, AIFF, WAV };
  enum class SampleFormat { Unknown, PCM8, PCM16, PCM24, PCM32, Float32, Float64 };

  Container container = Container::Unknown;
  SampleFormat sampleFormat = SampleFormat::Unknown;
  double sampleRate = 0.0;
  uint32_t channelCount = 0;
  uint32_t bitDepth = 0;

  friend bool operator==(const AudioFileSettings&, const AudioFileSettings&) = default;
};

struct AudioFileFormat {
  AudioFileSettings settings;
};

// An audio file on disk, open for reading or for writing. A default-made object stands
// for no file. Releasing the object closes the file; a written file is then complete, but
// only close() says whether finishing it worked.
class AudioFile {
 public:
  AudioFile();
  ~AudioFile();
  AudioFile(const AudioFile&) = delete;
  AudioFile& operator=(const AudioFile&) = delete;

  // nullptr and `error` set when the file cannot be opened.
  static std::shared_ptr<AudioFile> openForReading(const std::string& path, AudioError* error = nullptr);
  // The container follows the path's extension (".wav" gives RIFF WAVE, ".aif"/".aiff" AIFF);
  // rate, channels and sample format follow `settings`. The errors of a written file name
  // their cause in plain words ("No space left on device"), without the path.
  static std::shared_ptr<AudioFile> openForWriting(const std::string& path, const AudioFileSettings& settings,
                                                   AudioError* error = nullptr);

  bool isOpen() const;
  const std::string& path() const;
  AudioFormat processingFormat() const;
  AudioFileFormat fileFormat() const;
  // Frames in the file (for a written file: frames written so far).
  int64_t length() const;

  // Appends buffer.frameLength() frames; float data is clipped to the sample format.
  // False and `error` set when not all of them reached the file.
  bool writeFromBuffer(const AudioPCMBuffer& buffer, AudioError* error = nullptr);

  // Closes the file. A written file gets its final header and is flushed to disk first;
  // false and `error` set when any of that failed. Closing again does nothing.
  bool close(AudioError* error = nullptr);

  // Reads up to `frames` frames from `startFrame` into `buffer` (from frame 0), sets its
  // frame length and returns the frames read. Not for the real-time thread.
  uint32_t readFrames(int64_t startFrame, uint32_t frames, AudioPCMBuffer& buffer);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lorvanta
