#include "studio/audio/ReplacingAudioFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

namespace lorvanta {

namespace {

// As many links as the system itself follows in one path.
constexpr int kMaximumLinks = 40;

void setError(AudioError* error, std::string message) {
  if (error == nullptr) return;
  *error = AudioError{};
  error->message = std::move(message);
}

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

// ".wav" of "a/b.wav"; empty when the name has no extension.
std::string extensionOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

// The contents of the link at `path`; false and errno set when it cannot be read.
bool readLink(const std::string& path, std::string* contents) {
  std::vector<char> text(256);
  for (;;) {
    const ssize_t length = ::readlink(path.c_str(), text.data(), text.size());
    if (length < 0) return false;
    if (static_cast<size_t>(length) < text.size()) {
      contents->assign(text.data(), static_cast<size_t>(length));
      return true;
    }
    text.resize(text.size() * 2);
  }
}

// The file `path` finally names: every symbolic link of the last component followed, the
// last link possibly pointing at a file that does not exist yet. False and errno set when
// the links go round or one cannot be read.
bool followLinks(std::string path, std::string* target) {
  for (int links = 0; links <= kMaximumLinks; ++links) {
    struct stat status {};
    // Missing or out of reach: that is the place; opening it will tell what is wrong.
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      *target = std::move(path);
      return true;
    }
    std::string contents;
    if (!readLink(path, &contents)) return false;
    path = !contents.empty() && contents.front() == '/' ? contents : join(folderOf(path), contents);
  }
  errno = ELOOP;
  return false;
}

// 32 hexadecimal digits, new for every file.
std::string freshIdentifier() {
  std::random_device source;
  std::string text;
  for (int i = 0; i < 4; ++i) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(source()));
    text += digits;
  }
  return text;
}

// The new file takes over the permission bits of the file it replaces, and its owner and
// group where the user may set them. Owner first: a change of owner may clear set-id bits.
void takeOverAccess(const std::string& replaced, const std::string& part) {
  struct stat status {};
  if (::stat(replaced.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return;
  if (::chown(part.c_str(), status.st_uid, status.st_gid) != 0) {
    [[maybe_unused]] const int ignored = ::chown(part.c_str(), static_cast<uid_t>(-1), status.st_gid);
  }
  ::chmod(part.c_str(), status.st_mode & 07777);
}

// Flushes the entries of `folder` to disk, so that a rename in it lasts.
void syncFolder(const std::string& folder) {
  const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return;
  ::fsync(descriptor);
  ::close(descriptor);
}

}  // namespace

ReplacingAudioFile::ReplacingAudioFile(std::string target, std::string part, std::shared_ptr<AudioFile> file)
    : target_(std::move(target)), part_(std::move(part)), file_(std::move(file)) {}

ReplacingAudioFile::~ReplacingAudioFile() { discard(); }

std::unique_ptr<ReplacingAudioFile> ReplacingAudioFile::openReplacing(const std::string& destination,
                                                                      const AudioFileSettings& settings,
                                                                      AudioError* error) {
  std::string target;
  if (!followLinks(destination, &target)) {
    setError(error, std::strerror(errno));
    return nullptr;
  }
  // A folder of that name is left alone; the file could never take its place.
  struct stat status {};
  if (::stat(target.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
    setError(error, std::strerror(EISDIR));
    return nullptr;
  }
  // The extension the destination asks for keeps the container.
  std::string part = join(folderOf(target), ".lorvanta-" + freshIdentifier() + extensionOf(destination));
  std::shared_ptr<AudioFile> file = AudioFile::openForWriting(part, settings, error);
  if (!file) return nullptr;
  takeOverAccess(target, part);
  return std::unique_ptr<ReplacingAudioFile>(
      new ReplacingAudioFile(std::move(target), std::move(part), std::move(file)));
}

bool ReplacingAudioFile::writeFromBuffer(const AudioPCMBuffer& buffer, AudioError* error) {
  if (!file_) {
    setError(error, "the file is not open for writing");
    return false;
  }
  return file_->writeFromBuffer(buffer, error);
}

bool ReplacingAudioFile::commit(AudioError* error) {
  if (!file_) {
    setError(error, "the file is not open for writing");
    return false;
  }
  if (!file_->close(error)) {
    discard();
    return false;
  }
  if (::rename(part_.c_str(), target_.c_str()) != 0) {
    setError(error, std::strerror(errno));
    discard();
    return false;
  }
  file_.reset();
  syncFolder(folderOf(target_));
  return true;
}

void ReplacingAudioFile::discard() {
  if (!file_) return;
  file_.reset();
  ::unlink(part_.c_str());
}

}  // namespace lorvanta
