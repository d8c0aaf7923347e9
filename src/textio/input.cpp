#include "textio/input.hpp"

#include "textio/platform.hpp"

namespace textio {

namespace {
// Bytes asked of the descriptor at a time.
constexpr std::size_t chunk = 4096;
}  // namespace

InputStream::InputStream(int fd) : fd_(fd), buffer_(chunk, '\0') {}

InputStream::InputStream(std::string_view text) : fd_(-1), buffer_(text), size_(text.size()) {}

int InputStream::get() {
  if (pushed_ != none) {
    const int c = pushed_;
    pushed_ = none;
    return c;
  }
  if (next_ == size_) {
    if (fd_ < 0) return end_of_input;
    std::size_t got = 0;
    if (const int err = platform::read_some(fd_, buffer_.data(), buffer_.size(), got)) {
      errnum_ = err;
      return read_error;
    }
    if (got == 0) return end_of_input;
    next_ = 0;
    size_ = got;
  }
  return static_cast<unsigned char>(buffer_[next_++]);
}

}  // namespace textio
