#pragma once

#include <memory>
#include <string>

#include "studio/audio/AudioFile.h"
#include "studio/audio/AudioFormat.h"
#include "studio/audio/AudioPCMBuffer.h"

namespace lorvanta {

// A new audio file that takes the place of a destination only once it is complete.
//
// The destination's symbolic links are followed first; the file is written beside the file
// they lead to, under a hidden name of its own (".lorvanta-<id>.wav" for a WAV destination),
// and commit() renames it over that file, so a link stays a link. A file it replaces keeps
// its permission bits (and its owner and group as far as the user may set them); a new file
// gets the default mode. Dropped without a successful commit(), it removes what it wrote:
// the destination is then as it was.
class ReplacingAudioFile {
 public:
  ~ReplacingAudioFile();
  ReplacingAudioFile(const ReplacingAudioFile&) = delete;
  ReplacingAudioFile& operator=(const ReplacingAudioFile&) = delete;

  // nullptr and `error` set when the file cannot be made (a folder stands at the destination,
  // the folder takes no new file, the settings are not writable). The container follows
  // the destination's extension, as for AudioFile::openForWriting.
  static std::unique_ptr<ReplacingAudioFile> openReplacing(const std::string& destination,
                                                           const AudioFileSettings& settings,
                                                           AudioError* error = nullptr);

  // Appends buffer.frameLength() frames; false and `error` set when not all of them reached
  // the file.
  bool writeFromBuffer(const AudioPCMBuffer& buffer, AudioError* error = nullptr);

  // Finishes the file, flushes it to disk and renames it over the target. False and `error`
  // set when any of that failed; the hidden file is then gone and the target as it was.
  // Once only: a second call fails.
  bool commit(AudioError* error = nullptr);

  // The file the destination finally names, and the hidden file written beside it.
  const std::string& targetPath() const { return target_; }
  const std::string& partPath() const { return part_; }

 private:
  ReplacingAudioFile(std::string target, std::string part, std::shared_ptr<AudioFile> file);
  void discard();

  std::string target_;
  std::string part_;
  std::shared_ptr<AudioFile> file_;  // null once committed or discarded
};

}  // namespace lorvanta
