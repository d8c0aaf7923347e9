// A small file system of its own, for a disk that fills: tmpfs mounted at a
// directory, where this process may mount.
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/files.hpp"

namespace support {

class SmallDisk {
 public:
  // Mounts a tmpfs of size ("64k") at the new directory at.
  SmallDisk(const fs::path& at, const char* size) : at_(at) {
    fs::create_directory(at_);
    const std::string options = std::string("size=") + size;
    if (::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      refused_ = std::string("tmpfs cannot be mounted here: ") + std::strerror(errno);
    }
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool mounted() const { return mounted_; }
  // Why it is not mounted.
  const std::string& refused() const { return refused_; }
  const fs::path& path() const { return at_; }
  // Fills the file system up to its last leave free bytes.
  void fill_up_to(std::size_t leave) {
    const fs::space_info space = fs::space(at_);
    const std::size_t take = space.available > leave ? space.available - leave : 0;
    put(at_ / "filler", std::string(take, 'x'));
  }

 private:
  fs::path at_;
  bool mounted_ = false;
  std::string refused_;
};

}  // namespace support
