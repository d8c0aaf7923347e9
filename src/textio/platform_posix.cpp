// The platform interface on POSIX hosts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "textio/platform.hpp"

namespace textio::platform {

StandardHandles standard_handles() { return {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}; }

void ensure_standard_handles() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // Takes the lowest free descriptor, which is fd.
      ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
}

int ignore_signal(Signal sig) {
  int number = 0;
  switch (sig) {
    case Signal::interrupt: number = SIGINT; break;
    case Signal::terminate: number = SIGTERM; break;
    case Signal::hangup: number = SIGHUP; break;
    case Signal::file_size: number = SIGXFSZ; break;
    case Signal::broken_pipe: number = SIGPIPE; break;
  }
  return std::signal(number, SIG_IGN) == SIG_ERR ? errno : 0;
}

int open_read_write(const char* name, Handle& handle) {
  handle = ::open(name, O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  return handle < 0 ? errno : 0;
}

int file_info(Handle handle, FileInfo& info) {
  struct stat st;
  if (::fstat(handle, &st) != 0) return errno;
  info.regular = S_ISREG(st.st_mode);
  info.size = static_cast<std::int64_t>(st.st_size);
  return 0;
}


int cut(Handle handle, std::int64_t length) {
  return ::ftruncate(handle, static_cast<off_t>(length)) != 0 ? errno : 0;
}

int write_all(Handle handle, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(handle, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

int read_some(Handle handle, char* data, std::size_t size, std::size_t& got) {
  ssize_t n;
  do {
    n = ::read(handle, data, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    got = 0;
    return errno;
  }
  got = static_cast<std::size_t>(n);
  return 0;
}

int close(Handle handle) {
  // After EINTR the descriptor is gone all the same on Linux: not an error.
  return ::close(handle) != 0 && errno != EINTR ? errno : 0;
}

bool is_terminal(Handle handle) { return ::isatty(handle) == 1; }

const char* error_text(int errnum) { return std::strerror(errnum); }
int out_of_memory_error() { return ENOMEM; }
int bad_handle_error() { return EBADF; }

void exit_process(int status) { std::exit(status); }
void exit_immediately(int status) { std::_Exit(status); }

}  // namespace textio::platform
