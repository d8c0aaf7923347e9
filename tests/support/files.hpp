// Files and directories for tests that write result files.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace support {

// A fresh directory made the current one for the life of a test.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/dimerscan_test.XXXXXX";
    path_ = ::mkdtemp(name);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~TempDir() {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_, old_;
};

// The bytes of a file; empty when there is none.
inline std::string slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void spit(const char* path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace support
