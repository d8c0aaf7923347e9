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

// Signals whose disposition the process entry sets.
enum class Signal { interrupt, terminate, hangup, file_size, broken_pipe };
// Makes the host ignore sig. Returns 0, or the error number (a host that
// lacks sig reports one).
int ignore_signal(Signal sig);

// Opens the file name for reading and writing, creating it (readable and
// writable) if it does not exist, without cutting it and without newline
// translation; the handle is not inherited by child processes.
int open_read_write(const char* name, Handle& handle);

// Facts about an open handle: a regular file has a length that can be cut.
struct FileInfo {
  bool regular = false;
  std::int64_t size = 0;
};
int file_info(Handle handle, FileInfo& info);

// Cuts the regular file of handle at length bytes.
int cut(Handle handle, std::int64_t length);

// Writes all of data, going on after short writes and interruptions.
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
