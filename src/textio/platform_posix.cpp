// The platform interface on POSIX hosts (Linux, macOS, the BSDs): POSIX
// calls only, and flock, which all of them have.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "textio/platform.hpp"

namespace textio::platform {

namespace {

int number_of(Signal sig) {
  switch (sig) {
    case Signal::file_size: return SIGXFSZ;
    case Signal::broken_pipe: return SIGPIPE;
  }
  return SIGPIPE;
}

// The signals whose default action ends the process and that a run takes as
// an interrupt, with their names. Not here: SIGKILL and SIGSTOP, which
// cannot be caught; the faults of the program itself (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT), which must end it where they
// happen; SIGPIPE and SIGXFSZ, which the run ignores so that the write
// fails instead. The real-time signals are taken as well (signal_name).
struct Named {
  int number;
  const char* name;
};
constexpr Named interrupts[] = {
    {SIGHUP, "SIGHUP"},   {SIGINT, "SIGINT"},       {SIGQUIT, "SIGQUIT"},
    {SIGTERM, "SIGTERM"}, {SIGUSR1, "SIGUSR1"},     {SIGUSR2, "SIGUSR2"},
    {SIGALRM, "SIGALRM"}, {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},
    {SIGXCPU, "SIGXCPU"},
#if defined(__linux__)
    // Signals whose default action ends the process on Linux only.
    {SIGPOLL, "SIGPOLL"}, {SIGPWR, "SIGPWR"},
#if defined(SIGSTKFLT)
    {SIGSTKFLT, "SIGSTKFLT"},
#endif
#endif
};

// The number of the first interrupt caught, 0 before one.
volatile std::sig_atomic_t caught = 0;

// Remembers the first interrupt. A further one changes nothing: it only
// makes a call that waits return (no SA_RESTART), and the run ends by the
// first one.
extern "C" void on_interrupt(int number) {
  if (caught == 0) caught = number;
}

// Calls catch_one for the number of every interrupt.
template <typename CatchOne>
void for_each_interrupt(CatchOne catch_one) {
  for (const Named& sig : interrupts) catch_one(sig.number);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) catch_one(number);
#endif
}

bool special(mode_t mode) { return S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode); }

FileInfo::Kind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return FileInfo::Kind::regular;
  if (S_ISFIFO(mode)) return FileInfo::Kind::fifo;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileInfo::Kind::device;
  return FileInfo::Kind::other;
}

}  // namespace

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
  struct sigaction action{};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  return ::sigaction(number_of(sig), &action, nullptr) != 0 ? errno : 0;
}

void catch_interrupts() {
  struct sigaction action{};
  action.sa_handler = on_interrupt;
  // No SA_RESTART: a write waiting for a pipe returns, and gives up.
  action.sa_flags = 0;
  // While one interrupt is being remembered, the others wait.
  sigemptyset(&action.sa_mask);
  for_each_interrupt([&action](int number) { sigaddset(&action.sa_mask, number); });
  for_each_interrupt([&action](int number) {
    struct sigaction before{};
    if (::sigaction(number, nullptr, &before) != 0) return;
    // Ignored from the start (nohup, a background job): stays ignored.
    if (before.sa_handler == SIG_IGN) return;
    ::sigaction(number, &action, nullptr);
  });
}

bool interrupt_caught(int& number) {
  number = caught;
  return number != 0;
}

void end_by_signal(int number) {
  struct sigaction action{};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(number, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, number);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(number);
  // Only a host that does not end the process for number gets here.
  std::_Exit(128 + number);
}

const char* signal_name(int number) {
  for (const Named& sig : interrupts) {
    if (sig.number == number) return sig.name;
  }
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  if (number >= SIGRTMIN && number <= SIGRTMAX) {
    // "SIGRTMIN+k"; a run names at most one signal.
    static char name[24] = "SIGRTMIN";
    const int k = number - SIGRTMIN;
    if (k == 0) return name;
    char* at = name + 8;
    *at++ = '+';
    if (k >= 10) *at++ = static_cast<char>('0' + k / 10);
    *at++ = static_cast<char>('0' + k % 10);
    *at = '\0';
    return name;
  }
#endif
  return "a signal";
}

int open_result_file(const char* name, Handle& handle, FileInfo::Kind& kind) {
  struct stat st;
  bool write_only = ::stat(name, &st) == 0 && special(st.st_mode);
  kind = write_only ? kind_of(st.st_mode) : FileInfo::Kind::regular;
  // The name may change between the look and the open: the open is checked
  // and made again, as the file it found requires.
  for (int attempt = 0;; ++attempt) {
    const int flags = write_only ? O_WRONLY | O_NONBLOCK : O_RDWR | O_CREAT;
    handle = ::open(name, flags | O_CLOEXEC | O_NOCTTY, 0666);
    if (handle < 0) {
      const int err = errno;
      if (write_only && err == ENOENT && attempt < 2) {
        write_only = false;  // gone since the look
        kind = FileInfo::Kind::regular;
        continue;
      }
      return err;
    }
    if (::fstat(handle, &st) != 0) {
      const int err = errno;
      ::close(handle);
      handle = no_handle;
      return err;
    }
    kind = kind_of(st.st_mode);
    if (special(st.st_mode) == write_only || attempt == 2) break;
    ::close(handle);
    write_only = special(st.st_mode);
  }
  if (write_only) {
    // Opened without waiting for a reader; written with waiting, as any file.
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags == -1 || ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) == -1) {
      const int err = errno;
      ::close(handle);
      handle = no_handle;
      return err;
    }
  }
  return 0;
}

int file_info(Handle handle, FileInfo& info) {
  struct stat st;
  if (::fstat(handle, &st) != 0) return errno;
  info.kind = kind_of(st.st_mode);
  info.size = static_cast<std::int64_t>(st.st_size);
  info.identified = info.kind == FileInfo::Kind::regular || info.kind == FileInfo::Kind::fifo;
  info.device = static_cast<std::uint64_t>(st.st_dev);
  info.inode = static_cast<std::uint64_t>(st.st_ino);
  return 0;
}

bool lock_exclusive(Handle handle) {
  while (::flock(handle, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    // EWOULDBLOCK: held by another open file. Anything else (ENOLCK,
    // EOPNOTSUPP, EINVAL, ...): no locks here, and the run goes on without.
    return errno != EWOULDBLOCK && errno != EAGAIN;
  }
  return true;
}

int cut(Handle handle, std::int64_t length) {
  return ::ftruncate(handle, static_cast<off_t>(length)) != 0 ? errno : 0;
}

int write_all(Handle handle, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(handle, data, size);
    if (done < 0) {
      if (errno != EINTR) return errno;
      // Waiting for a pipe or a device when an interrupt came: given up.
      if (caught != 0) return EINTR;
      continue;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
    if (size > 0 && caught != 0) {
      // Cut short by the interrupt while waiting; a regular file cut short
      // (a full disk) tells its own reason at the next write.
      struct stat st;
      if (::fstat(handle, &st) != 0 || !S_ISREG(st.st_mode)) return EINTR;
    }
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

}  // namespace textio::platform
