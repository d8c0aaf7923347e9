// The table of units: which unit number writes to or reads from which
// descriptor, the 8192-byte output window of each, the files fort.N that a
// first write connects, and the closing of everything at the end of the run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "textio/error.hpp"
#include "textio/input.hpp"

namespace textio {

inline constexpr int stdin_unit = 5;
inline constexpr int stdout_unit = 6;
inline constexpr int stderr_unit = 0;

// Bytes of a stream's output window.
inline constexpr std::size_t window_size = 8192;
// Longest record, in characters.
inline constexpr std::int64_t record_limit = 1073741824;

class Connection {
 public:
  enum class Direction { read, write, read_write };
  // none: bytes from before the run may follow the current position.
  enum class EndFile { none, at_end };

  Connection(int unit, int fd, std::string file, Direction direction, EndFile end_file,
             bool unbuffered);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Puts one piece of the current record into the window, writing the
  // window's bytes out first when the piece would not fit.
  Status put(const char* piece, std::size_t size) {
    if (fits(size)) {
      std::memcpy(window_.data() + used_, piece, size);
      take(size);
      return {};
    }
    return put_through(piece, size);
  }
  Status put_blanks(int count) {
    if (count <= blank_run && fits(static_cast<std::size_t>(count))) {
      std::memset(window_.data() + used_, ' ', static_cast<std::size_t>(count));
      take(static_cast<std::size_t>(count));
      return {};
    }
    return put_blanks_through(count);
  }
  // Ends the record: carriage return and line feed; on an unbuffered stream
  // the record goes out at once.
  Status end_record() {
    if (!unbuffered && used_ + 2 <= window_size) {
      window_[used_] = '\r';
      window_[used_ + 1] = '\n';
      used_ += 2;
      ++records;
      return {};
    }
    return end_record_through();
  }
  // Writes the window's unwritten bytes to the descriptor.
  Status write_out();
  // Cuts the file at the current position.
  Status cut();

  bool standard() const { return file_.empty(); }

  // Room for size bytes in the window as it stands, without writing out:
  // where to put them, or nullptr. commit() then takes the bytes put there
  // as one whole record (terminator included).
  char* room_for(std::size_t size) {
    return size <= window_size - used_ ? window_.data() + used_ : nullptr;
  }
  void commit_record(std::size_t size) {
    used_ += size;
    ++records;
  }

  int unit;
  int fd;
  Direction direction;
  EndFile end_file;
  bool unbuffered;
  std::int64_t records = 0;  // records ended since the connection was made
  std::int64_t bytes_left = record_limit;
  const std::string& file() const { return file_; }

 private:
  // Blanks written in one piece at most.
  static constexpr int blank_run = 64;

  // The piece fits both the window and the record.
  bool fits(std::size_t size) const {
    return size <= window_size - used_ && static_cast<std::int64_t>(size) <= bytes_left;
  }
  void take(std::size_t size) {
    used_ += size;
    bytes_left -= static_cast<std::int64_t>(size);
  }
  // The general cases of put, put_blanks and end_record.
  Status put_through(const char* piece, std::size_t size);
  Status put_blanks_through(int count);
  Status end_record_through();
  // Writes the window's bytes (data is the window) or a piece larger than the
  // window (the window is then empty) to the descriptor.
  Status write_through(const char* data, std::size_t size);

  std::string file_;  // "fort.N"; empty for the standard streams
  std::int64_t position_ = 0;  // file offset of the window's first byte
  std::size_t used_ = 0;       // bytes in the window not yet written out
  bool lost_ = false;          // a write-out failed: the window's bytes are gone
  std::array<char, window_size> window_{};

  friend class UnitTable;
};

class UnitTable {
 public:
  // Connects units 5, 6 and 0 to the given descriptors of standard input,
  // output and error; output to a terminal is unbuffered.
  UnitTable(int in_fd, int out_fd, int err_fd);
  UnitTable(const UnitTable&) = delete;
  UnitTable& operator=(const UnitTable&) = delete;

  // The connection of unit, or nullptr if it has none.
  Connection* find(int unit);
  // Connects unit to the file "fort.<unit>" in the current directory, opened
  // for reading and writing, created if need be and not cut, unbuffered when
  // it is a terminal. Sets status and returns nullptr when the file cannot be
  // opened.
  Connection* connect(int unit, Status& status);

  InputStream& input() { return input_; }
  int error_fd() const { return err_fd_; }

  // Writes out every window and closes every file (the standard descriptors
  // stay open). A result file whose bytes cannot be written out gets the line
  // "Fortran runtime error: fort.N: <host text>" on standard error and makes
  // the status 2. Returns the status the run ends with.
  int close_all(int status);

 private:
  std::vector<std::unique_ptr<Connection>> connections_;
  InputStream input_;
  int err_fd_;
  bool closed_ = false;
};

// The table of this run, connected to descriptors 0, 1 and 2 at first use.
UnitTable& units();

// Writes all of data to fd, going on after short writes and interruptions.
// Returns 0 or the host's error number.
int write_all(int fd, const char* data, std::size_t size);

}  // namespace textio
