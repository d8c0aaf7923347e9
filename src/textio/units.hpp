// The table of units: which unit number writes to or reads from which
// handle, the 8192-byte output window of each, the files fort.N that a
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
#include "textio/platform.hpp"

namespace textio {

inline constexpr int stdin_unit = 5;
inline constexpr int stdout_unit = 6;
inline constexpr int stderr_unit = 0;

// Bytes of a stream's output window.
inline constexpr std::size_t window_size = 8192;
// Longest record, in characters.
inline constexpr std::int64_t record_limit = 1073741824;

// One connected unit. A write statement runs as begin_statement(), then
// put() and put_blanks() for the pieces of a record, end_record() after
// each record, and end_statement(). Each step returns false when it fails,
// and failure() then tells why; the statement is over.
class Connection {
 public:
  enum class Direction { read, write, read_write };
  // none: bytes from before the run may follow the current position.
  enum class EndFile { none, at_end };

  Connection(int unit, platform::Handle handle, std::string file, Direction direction,
             EndFile end_file, bool unbuffered);
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Begins a write statement and its first record. The first record on a
  // result file cuts the file there: what it held before the run is gone.
  bool begin_statement() {
    bytes_left_ = record_limit;
    if (direction_ != Direction::read && (standard_ || records_ > 0)) return true;
    return begin_statement_through();
  }

  // Puts one piece of the current record into the window, writing the
  // window's bytes out first when the piece would not fit.
  bool put(const char* piece, std::size_t size) {
    if (fits(size)) {
      std::memcpy(window_.data() + used_, piece, size);
      take(size);
      return true;
    }
    return put_through(piece, size);
  }
  // Puts count blanks into the current record.
  bool put_blanks(int count) {
    if (count <= blank_run && fits(static_cast<std::size_t>(count))) {
      std::memset(window_.data() + used_, ' ', static_cast<std::size_t>(count));
      take(static_cast<std::size_t>(count));
      return true;
    }
    return put_blanks_through(count);
  }
  // Ends the record with carriage return and line feed and begins the next;
  // on an unbuffered stream the record goes out at once.
  bool end_record() {
    bytes_left_ = record_limit;
    if (!unbuffered_ && used_ + 2 <= window_size) {
      window_[used_] = '\r';
      window_[used_ + 1] = '\n';
      used_ += 2;
      ++records_;
      return true;
    }
    return end_record_through();
  }
  // Ends the statement: an unbuffered stream is written out; a file that had
  // old contents is written out, cut after this run's first record and from
  // then on at its end.
  bool end_statement() {
    if (!unbuffered_ && end_file_ == EndFile::at_end) return true;
    return end_statement_through();
  }

  // A write statement of one record of size characters laid by the caller
  // straight into the window, where the statement needs nothing but room
  // there (a buffered connection for writing that has had its first record,
  // no old contents after it, room for the record and its line end): the
  // place for the characters, and end_laid_record(size) after them ends the
  // statement as its steps would. nullptr: the statement takes its steps.
  char* room_for_record(std::size_t size) {
    const bool plain = !unbuffered_ && !lost_ && direction_ != Direction::read &&
                       end_file_ == EndFile::at_end && (standard_ || records_ > 0);
    return plain && size + 2 <= window_size - used_ ? window_.data() + used_ : nullptr;
  }
  void end_laid_record(std::size_t size) {
    used_ += size;
    window_[used_] = '\r';
    window_[used_ + 1] = '\n';
    used_ += 2;
    ++records_;
  }

  // Why the last step that returned false failed.
  const IoError& failure() const { return failure_; }

  // Writes the window's unwritten bytes out.
  bool write_out();
  // At the end of the run: writes the window out and closes the file (the
  // standard streams stay open). Returns 0 or the host's error number; bytes
  // already lost to a failed write-out are not tried again.
  int close();
  // The first half of close(): writes the window out, unless bytes were lost
  // before. Returns 0 or the host's error number.
  int write_out_last();
  // True once a write-out failed: bytes of this run are missing from the file.
  bool lost() const { return lost_; }
  // Bytes written out to the file, from its start.
  std::int64_t written() const { return position_; }
  // Cuts a regular file back to length bytes, which it holds: 0 or the
  // host's error number; other files stay as they are.
  int cut_back(std::int64_t length);

  int unit() const { return unit_; }
  Direction direction() const { return direction_; }
  EndFile end_file() const { return end_file_; }
  bool unbuffered() const { return unbuffered_; }
  // Records ended since the connection was made.
  std::int64_t records() const { return records_; }
  // "fort.N"; empty for the standard streams.
  const std::string& file() const { return file_; }
  bool standard() const { return standard_; }

 private:
  // Blanks written in one piece at most.
  static constexpr int blank_run = 64;

  // The piece fits both the window and the record.
  bool fits(std::size_t size) const {
    return size <= window_size - used_ && static_cast<std::int64_t>(size) <= bytes_left_;
  }
  void take(std::size_t size) {
    used_ += size;
    bytes_left_ -= static_cast<std::int64_t>(size);
  }
  // The general cases of the steps.
  bool begin_statement_through();
  bool put_through(const char* piece, std::size_t size);
  bool put_blanks_through(int count);
  bool end_record_through();
  bool end_statement_through();
  // Writes the window's bytes (data is the window) or a piece larger than the
  // window (the window is then empty) to the handle.
  bool write_through(const char* data, std::size_t size);
  // Cuts a regular file at the current position; other files stay as they are.
  bool cut();
  bool fail(IoError error) {
    failure_ = std::move(error);
    return false;
  }

  int unit_;
  platform::Handle handle_;
  std::string file_;
  bool standard_;
  Direction direction_;
  EndFile end_file_;
  bool unbuffered_;
  std::int64_t records_ = 0;
  std::int64_t bytes_left_ = record_limit;  // in the current record
  std::int64_t position_ = 0;  // file offset of the window's first byte
  std::size_t used_ = 0;       // bytes in the window not yet written out
  bool lost_ = false;          // a write-out failed: the window's bytes are gone
  IoError failure_{ErrorKind::os_error, {}};
  std::array<char, window_size> window_{};
};

// The bytes that one pass of a sweep writes to the file of a unit.
struct PassShare {
  int unit;
  std::int64_t bytes;
};

// A result file whose window could not be written out when it was closed.
struct NotWritten {
  const Connection* connection;
  int errnum;  // the host's error number
};

class UnitTable {
 public:
  // Connects units 5 and 6 to standard input and output; unit 0 is connected
  // to standard error at its first write. Output to a terminal is unbuffered.
  explicit UnitTable(platform::StandardHandles handles);
  UnitTable(const UnitTable&) = delete;
  UnitTable& operator=(const UnitTable&) = delete;

  // The connection of unit, or nullptr if it has none.
  Connection* find(int unit);
  // Connects unit 0 to standard error; any other unit to the file
  // "fort.<unit>" in the current directory, created if need be and not cut, unbuffered when it is a terminal: a
  // regular file opened for reading and writing and held with an exclusive
  // lock to the end of the run, a FIFO or a device for writing only. Sets
  // status and returns nullptr, the file unchanged, when it cannot be opened,
  // when another run holds its lock, or when it is the same file as standard
  // input, output or error or as another result file of the run.
  Connection* connect(int unit, Status& status);

  InputStream& input() { return input_; }

  // From now on the result files of shares are written in whole passes: when
  // bytes of one cannot be written out (a full disk, a file size limit, a
  // reader gone), close_results cuts every one that is a regular file back
  // to the passes that all of them hold whole. A unit not yet connected
  // holds none.
  void write_in_passes(std::vector<PassShare> shares) { shares_ = std::move(shares); }

  // Writes out the window of every result file and closes it, once; returns
  // those whose bytes could not all be written out, in the order they were
  // connected. Bytes lost to a write-out that failed during the run (and was
  // reported then) are not tried again. Then, when bytes were lost, the files
  // written in passes are cut back to whole passes (write_in_passes).
  std::vector<NotWritten> close_results();
  // Writes out the windows of the standard streams, which stay open; their
  // failures are ignored.
  void close_standard();

 private:
  // The file of a result unit, known by its identity.
  struct ResultFile {
    std::string name;
    platform::FileInfo info;
  };

  // Why the file info of name may not be written by this run: the same file
  // as a standard stream or as another result file; nothing when it may.
  Status shared(const std::string& name, const platform::FileInfo& info) const;
  // Cuts the files of shares_ back to the passes all of them hold on disk.
  void cut_back_to_whole_passes();

  platform::Handle standard_input_;
  platform::Handle standard_output_;
  platform::Handle standard_error_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<ResultFile> result_files_;
  std::vector<PassShare> shares_;
  InputStream input_;
  bool results_closed_ = false;
  bool standard_closed_ = false;
};

}  // namespace textio
