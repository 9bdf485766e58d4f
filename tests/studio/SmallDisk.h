#pragma once

// A small file system of its own (tmpfs) that fills up after a few hundred KiB, for tests of
// what a full disk does. Mounting needs root (or CAP_SYS_ADMIN); where that is refused,
// mounted() is false and the test skips.

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lorvanta::testing_disk {

class SmallDisk {
 public:
  explicit SmallDisk(int kibibytes = 256) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/small-disk.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    const std::string options = "size=" + std::to_string(kibibytes) + "k,mode=0755";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SmallDisk() {
    // Detached, so a file still open somewhere does not keep it.
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace lorvanta::testing_disk
