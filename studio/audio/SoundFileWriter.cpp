#include "studio/audio/SoundFileWriter.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lorvanta {

namespace {

// The cause of a failed libsndfile call: the system's for `savedErrno` when the system
// refused (errno set to 0 before the call), libsndfile's own otherwise.
std::string sndfileFailure(int savedErrno, SNDFILE* file) {
  return savedErrno != 0 ? std::strerror(savedErrno) : sf_strerror(file);
}

// The same for a failed sf_close, from its result.
std::string sndfileCloseFailure(int savedErrno, int closeResult) {
  return savedErrno != 0 ? std::strerror(savedErrno) : sf_error_number(closeResult);
}

// The frames written, and the cause in `failure` when fewer than `frames`.
template <typename Write>
int64_t checked(SNDFILE* file, int64_t frames, std::string& failure, Write write) {
  if (file == nullptr) {
    failure = "the file is not open for writing";
    return 0;
  }
  errno = 0;
  const sf_count_t written = write();
  if (written != frames) failure = sndfileFailure(errno, file);
  return written > 0 ? written : 0;
}

}  // namespace

SoundFileWriter::~SoundFileWriter() {
  if (file_) sf_close(file_);
  if (descriptor_ >= 0) ::close(descriptor_);
}

std::string SoundFileWriter::open(const std::string& path, int format, int sampleRate, int channels) {
  if (isOpen()) return "the file is already open";
  // Opened here rather than by libsndfile, so the system's reason for a refusal is known
  // and the data can be flushed to disk before the file is closed.
  bool created = true;
  descriptor_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (descriptor_ < 0 && errno == EEXIST) {
    created = false;
    descriptor_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  }
  if (descriptor_ < 0) return std::strerror(errno);
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channels;
  info.format = format;
  errno = 0;
  file_ = sf_open_fd(descriptor_, SFM_WRITE, &info, SF_FALSE);
  if (file_ == nullptr) {
    const std::string failure = sndfileFailure(errno, nullptr);
    ::close(descriptor_);
    descriptor_ = -1;
    if (created) ::unlink(path.c_str());
    return failure;
  }
  return {};
}

int64_t SoundFileWriter::write(const int16_t* data, int64_t frames, std::string& failure) {
  return checked(file_, frames, failure, [&] { return sf_writef_short(file_, data, frames); });
}

int64_t SoundFileWriter::write(const int32_t* data, int64_t frames, std::string& failure) {
  return checked(file_, frames, failure, [&] { return sf_writef_int(file_, data, frames); });
}

int64_t SoundFileWriter::write(const float* data, int64_t frames, std::string& failure) {
  return checked(file_, frames, failure, [&] { return sf_writef_float(file_, data, frames); });
}

std::string SoundFileWriter::close(bool sync) {
  std::string failure;
  if (file_) {
    errno = 0;
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) failure = sndfileCloseFailure(errno, closed);
  }
  if (descriptor_ >= 0) {
    if (sync && ::fsync(descriptor_) != 0 && failure.empty()) failure = std::strerror(errno);
    if (::close(descriptor_) != 0 && failure.empty()) failure = std::strerror(errno);
    descriptor_ = -1;
  }
  return failure;
}

}  // namespace lorvanta
