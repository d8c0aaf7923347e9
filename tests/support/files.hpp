// Temporary directories and whole files, for tests that run the program or
// write result files.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

namespace support {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the scope:
// root() for the files of the test (the redirected streams), dir() its
// subdirectory "run" for the program's working directory.
class Sandbox {
 public:
  Sandbox() {
    std::string name = (fs::temp_directory_path() / "dimerscan-test-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr)
      throw fs::filesystem_error("mkdtemp", std::error_code(errno, std::generic_category()));
    root_ = name;
    fs::create_directory(dir());
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::permissions(dir(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(root_, ignored);
  }
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const fs::path& root() const { return root_; }
  fs::path dir() const { return root_ / "run"; }

 private:
  fs::path root_;
};

// Makes dir the current directory for the life of the scope.
class InDir {
 public:
  explicit InDir(const fs::path& dir) : old_(fs::current_path()) { fs::current_path(dir); }
  ~InDir() {
    std::error_code ignored;
    fs::current_path(old_, ignored);
  }
  InDir(const InDir&) = delete;
  InDir& operator=(const InDir&) = delete;

 private:
  fs::path old_;
};

// The bytes of a regular file, or nothing when there is none.
inline std::optional<std::string> slurp(const fs::path& path) {
  if (!fs::is_regular_file(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void put(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace support
