#include "textio/input.hpp"

#include "textio/platform.hpp"

namespace textio {

namespace {
// Bytes asked of the handle at a time.
constexpr std::size_t chunk = 4096;
}  // namespace

InputStream::InputStream(platform::Handle handle) : handle_(handle), buffer_(chunk, '\0') {}

InputStream::InputStream(std::string_view text)
    : handle_(platform::no_handle), buffer_(text), size_(text.size()) {}

int InputStream::get() {
  if (pushed_ != none) {
    const int c = pushed_;
    pushed_ = none;
    return c;
  }
  if (next_ == size_) {
    if (handle_ == platform::no_handle) return end_of_input;
    std::size_t got = 0;
    if (const int err = platform::read_some(handle_, buffer_.data(), buffer_.size(), got)) {
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
