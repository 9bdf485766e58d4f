#pragma once

#include <cstdint>
#include <string>

struct sf_private_tag;  // libsndfile's SNDFILE

namespace lorvanta {

// A sound file written through libsndfile on a descriptor of its own. Every failure comes
// back as its cause in plain words: the system's when the system refused, libsndfile's
// otherwise. Releasing an open writer closes it without a word.
class SoundFileWriter {
 public:
  SoundFileWriter() = default;
  ~SoundFileWriter();
  SoundFileWriter(const SoundFileWriter&) = delete;
  SoundFileWriter& operator=(const SoundFileWriter&) = delete;

  // Creates `path` or empties the file there, for libsndfile's `format` (SF_FORMAT_*), rate
  // and channels. Empty on success; the cause otherwise, and a file it created is gone again.
  std::string open(const std::string& path, int format, int sampleRate, int channels);
  bool isOpen() const { return file_ != nullptr; }

  // Append `frames` interleaved frames and return how many reached the file; `failure` gets
  // the cause when not all of them did.
  int64_t write(const int16_t* data, int64_t frames, std::string& failure);
  int64_t write(const int32_t* data, int64_t frames, std::string& failure);
  int64_t write(const float* data, int64_t frames, std::string& failure);

  // Finishes the file (its final header), flushes it to disk first when `sync`, and closes
  // it. Empty on success; the cause of the first failure otherwise. Closing again does nothing.
  std::string close(bool sync);

 private:
  sf_private_tag* file_ = nullptr;
  int descriptor_ = -1;
};

}  // namespace lorvanta
