// Everything the text layer and the process entry ask of the operating
// system, behind one small interface. Each platform implements it in one
// file of its own (platform_posix.cpp); nothing else includes a system
// header. Functions that can fail return 0 or the host's error number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textio::platform {

// An open file or stream: a descriptor number on every host.
using Handle = int;
inline constexpr Handle no_handle = -1;

// The handles of standard input, output and error.
struct StandardHandles {
  Handle in, out, err;
};
StandardHandles standard_handles();

// Makes the three standard handles exist, each missing one opened on the
// null device, so that no result file can take the place of one.
void ensure_standard_handles();

// Signals whose disposition the process sets: a file grown past its size
// limit, a write to a pipe without a reader.
enum class Signal { file_size, broken_pipe };
// Makes the host ignore sig. Returns 0, or the error number (a host that
// lacks sig reports one).
int ignore_signal(Signal sig);

// From now on every signal whose default action ends the process is caught
// as an interrupt (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM,
// SIGXCPU, ...), except SIGKILL, which cannot be, the faults of the program
// itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT), and
// the ones the process ignores. The first one is remembered, and a write
// waiting for a pipe or a device gives up (write_all); every further one is
// held off: it only makes a write that waits give up, and never ends the
// process. An interrupt ignored when the process started stays ignored.
void catch_interrupts();
// True, with the host's number of its signal, once an interrupt has been
// caught.
bool interrupt_caught(int& number);
// Ends the process by the signal number as the host's default action would,
// running nothing more.
[[noreturn]] void end_by_signal(int number);
// "SIGINT", "SIGTERM", "SIGRTMIN+3", ...
const char* signal_name(int number);

// Facts about an open handle: a regular file has a length that can be cut;
// a regular file or a FIFO (pipe) has an identity, the same for every handle
// and every name of one file.
struct FileInfo {
  enum class Kind { regular, fifo, device, other };
  Kind kind = Kind::other;
  std::int64_t size = 0;
  bool identified = false;  // device and inode are valid
  std::uint64_t device = 0, inode = 0;
};
int file_info(Handle handle, FileInfo& info);

// Opens the result file name for writing, without cutting it and without
// newline translation; the handle is not inherited by child processes. A
// name that does not exist is created as a regular file (readable and
// writable); a regular file is opened for reading and writing. A FIFO or a
// device is opened for writing only, so that the run is never its own
// reader, and a FIFO without a reader fails at once instead of waiting for
// one. kind tells what the name was found to be, also when the open fails.
int open_result_file(const char* name, Handle& handle, FileInfo::Kind& kind);

// Takes an exclusive advisory lock on the whole file of handle, without
// waiting, held until the handle is closed. False when another open file
// holds one; a file system without locks (or any other failure to lock)
// gives true, and no lock is taken.
bool lock_exclusive(Handle handle);

// Cuts the regular file of handle at length bytes.
int cut(Handle handle, std::int64_t length);

// Writes all of data, going on after short writes and interruptions; once an
// interrupt has been caught, a write to a pipe or a device that it cut short
// gives up with the host's error number of an interrupted call.
int write_all(Handle handle, const char* data, std::size_t size);
// Reads up to size bytes into data; got = 0 at the end of the input.
int read_some(Handle handle, char* data, std::size_t size, std::size_t& got);
int close(Handle handle);

// True when handle is a terminal.
bool is_terminal(Handle handle);

// The host's text for an error number ("No space left on device").
const char* error_text(int errnum);
// The error number of memory refused by the host.
int out_of_memory_error();
// The error number of a handle used in a direction it was not opened for.
int bad_handle_error();

// Ends the process with status after the exit processing (functions
// registered with std::atexit, static destructors).
[[noreturn]] void exit_process(int status);
// Ends the process with status at once, running nothing.
[[noreturn]] void exit_immediately(int status);

}  // namespace textio::platform
