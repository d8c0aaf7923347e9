// The platform interface on Windows, through the C run-time's descriptors.
// Every descriptor is in binary mode: the bytes written are the bytes that
// arrive, so a record ends with carriage return and line feed on the console
// as in the files, never with an extra carriage return.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "textio/platform.hpp"

namespace textio::platform {

StandardHandles standard_handles() { return {0, 1, 2}; }

void ensure_standard_handles() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::_get_osfhandle(fd) == -1) {
      // Takes the lowest free descriptor, which is fd.
      ::_open("NUL", fd == 0 ? _O_RDONLY | _O_BINARY : _O_WRONLY | _O_BINARY);
    }
    ::_setmode(fd, _O_BINARY);
  }
}

int ignore_signal(Signal sig) {
  int number = 0;
  switch (sig) {
    case Signal::interrupt: number = SIGINT; break;
    case Signal::terminate: number = SIGTERM; break;
    // Windows raises none of these: there is nothing to ignore.
    case Signal::hangup:
    case Signal::file_size:
    case Signal::broken_pipe:
      return 0;
  }
  return std::signal(number, SIG_IGN) == SIG_ERR ? errno : 0;
}

int open_read_write(const char* name, Handle& handle) {
  handle = ::_open(name, _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  return handle < 0 ? errno : 0;
}

int file_info(Handle handle, FileInfo& info) {
  struct _stat64 st;
  if (::_fstat64(handle, &st) != 0) return errno;
  info.regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  info.size = static_cast<std::int64_t>(st.st_size);
  return 0;
}

int cut(Handle handle, std::int64_t length) { return ::_chsize_s(handle, length); }

int write_all(Handle handle, const char* data, std::size_t size) {
  while (size > 0) {
    // _write takes an unsigned int count.
    const unsigned piece = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
    const int done = ::_write(handle, data, piece);
    if (done < 0) return errno;
    if (done == 0) return ENOSPC;  // nothing taken: the disk is full
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

int read_some(Handle handle, char* data, std::size_t size, std::size_t& got) {
  const unsigned piece = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
  const int n = ::_read(handle, data, piece);
  if (n < 0) {
    got = 0;
    return errno;
  }
  got = static_cast<std::size_t>(n);
  return 0;
}

int close(Handle handle) { return ::_close(handle) != 0 ? errno : 0; }

bool is_terminal(Handle handle) { return ::_isatty(handle) != 0; }

const char* error_text(int errnum) { return std::strerror(errnum); }
int out_of_memory_error() { return ENOMEM; }
int bad_handle_error() { return EBADF; }

void exit_process(int status) { std::exit(status); }
void exit_immediately(int status) { std::_Exit(status); }

}  // namespace textio::platform
