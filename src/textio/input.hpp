// Standard input taken one character at a time, with one character of push-back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "textio/platform.hpp"

namespace textio {

class InputStream {
 public:
  // get() results besides characters 0..255.
  static constexpr int end_of_input = -1;
  static constexpr int read_error = -2;  // errnum() tells the host's error

  // Reads handle through a buffer of its own.
  explicit InputStream(platform::Handle handle);
  // Reads the given text, then reports the end of input (for tests).
  explicit InputStream(std::string_view text);

  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;

  // The next character, end_of_input or read_error.
  int get();
  // Puts c (a character got last) back to be got again.
  void unget(int c) { pushed_ = c; }
  int errnum() const { return errnum_; }

 private:
  platform::Handle handle_;
  std::string buffer_;
  std::size_t next_ = 0;
  std::size_t size_ = 0;
  int pushed_ = none;
  int errnum_ = 0;
  static constexpr int none = -3;
};

}  // namespace textio
