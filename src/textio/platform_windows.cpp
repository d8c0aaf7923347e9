// The platform interface on Windows, through the C run-time's descriptors.
// Every descriptor is in binary mode: the bytes written are the bytes that
// arrive, so a record ends with carriage return and line feed on the console
// as in the files, never with an extra carriage return.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "textio/platform.hpp"

namespace textio::platform {

namespace {

// Exit status of a console process ended by Ctrl+C or Ctrl+Break.
constexpr DWORD control_c_exit = 0xC000013AUL;

int number_of(Signal sig) {
  switch (sig) {
    case Signal::file_size:
    case Signal::broken_pipe: return 0;  // Windows raises neither
  }
  return 0;
}

// The run-time's signals taken as interrupts: Ctrl+C, termination as raise()
// gives it, and Ctrl+Break in place of the hang-up that Windows lacks.
struct Named {
  int number;
  const char* name;
};
constexpr Named interrupts[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGBREAK, "SIGBREAK"}};

volatile std::sig_atomic_t caught = 0;

// The run-time resets the handler before it calls it: the handler sets
// itself again, so that a further interrupt changes nothing and the run ends
// by the first one. The console's handler runs on a thread of its own; it
// only sets the flag.
extern "C" void on_interrupt(int number) {
  std::signal(number, on_interrupt);
  if (caught == 0) caught = number;
}

// Identity of a disk file: its volume and its file index.
bool identity(HANDLE h, std::uint64_t& device, std::uint64_t& inode) {
  BY_HANDLE_FILE_INFORMATION about;
  if (!::GetFileInformationByHandle(h, &about)) return false;
  device = about.dwVolumeSerialNumber;
  inode = (static_cast<std::uint64_t>(about.nFileIndexHigh) << 32) | about.nFileIndexLow;
  return true;
}

}  // namespace

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
  const int number = number_of(sig);
  if (number == 0) return 0;  // nothing to ignore
  return std::signal(number, SIG_IGN) == SIG_ERR ? errno : 0;
}

void catch_interrupts() {
  for (const Named& sig : interrupts) {
    const auto before = std::signal(sig.number, on_interrupt);
    if (before == SIG_IGN) std::signal(sig.number, SIG_IGN);  // stays ignored
  }
}

bool interrupt_caught(int& number) {
  number = caught;
  return number != 0;
}

void end_by_signal(int) {
  // What the console does to a program it interrupts.
  ::ExitProcess(control_c_exit);
}

const char* signal_name(int number) {
  for (const Named& sig : interrupts) {
    if (sig.number == number) return sig.name;
  }
  return "a signal";
}

int open_result_file(const char* name, Handle& handle, FileInfo::Kind& kind) {
  // A name in the current directory is a disk file (devices such as NUL are
  // opened as they are, and never cut).
  kind = FileInfo::Kind::regular;
  handle = ::_open(name, _O_RDWR | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
  if (handle < 0) return errno;
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(handle));
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    kind = ::GetFileType(h) == FILE_TYPE_PIPE ? FileInfo::Kind::fifo : FileInfo::Kind::device;
  }
  return 0;
}

int file_info(Handle handle, FileInfo& info) {
  struct _stat64 st;
  if (::_fstat64(handle, &st) != 0) return errno;
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(handle));
  const DWORD type = ::GetFileType(h);
  info.kind = type == FILE_TYPE_DISK   ? FileInfo::Kind::regular
              : type == FILE_TYPE_PIPE ? FileInfo::Kind::fifo
              : type == FILE_TYPE_CHAR ? FileInfo::Kind::device
                                       : FileInfo::Kind::other;
  if ((st.st_mode & _S_IFMT) == _S_IFDIR) info.kind = FileInfo::Kind::other;
  info.size = static_cast<std::int64_t>(st.st_size);
  // Pipes have no file index: only disk files are told apart.
  info.identified = info.kind == FileInfo::Kind::regular && identity(h, info.device, info.inode);
  return 0;
}

bool lock_exclusive(Handle handle) {
  // Windows locks are mandatory for the range they cover: the lock covers
  // the last byte of the largest offset, which no record ever reaches, so
  // it stops only another run's lock, never a reader.
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(handle));
  OVERLAPPED at{};
  at.Offset = 0xFFFFFFFEUL;
  at.OffsetHigh = 0x7FFFFFFFUL;
  if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return true;
  const DWORD err = ::GetLastError();
  return err != ERROR_LOCK_VIOLATION && err != ERROR_SHARING_VIOLATION;
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

}  // namespace textio::platform
