#include "textio/units.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace textio {

int write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return 0;
}

Connection::Connection(int unit, int fd, std::string file, Direction direction, EndFile end_file,
                       bool unbuffered)
    : unit(unit),
      fd(fd),
      direction(direction),
      end_file(end_file),
      unbuffered(unbuffered),
      file_(std::move(file)) {}

Status Connection::write_out() { return write_through(window_.data(), used_); }

Status Connection::write_through(const char* data, std::size_t size) {
  const int err = size == 0 ? 0 : write_all(fd, data, size);
  used_ = 0;
  if (err != 0) {
    // The bytes are gone; the failure is reported once, here, and not again
    // when the run ends.
    lost_ = true;
    if (standard()) return os_error(err);
    return IoError{ErrorKind::os_error, file_ + ": " + std::strerror(err)};
  }
  position_ += static_cast<std::int64_t>(size);
  return {};
}

Status Connection::put_through(const char* piece, std::size_t size) {
  if (static_cast<std::int64_t>(size) > bytes_left) {
    if (!standard()) return IoError{ErrorKind::end_of_record, {}};
    bytes_left = record_limit;  // on the console the count simply starts again
  }
  bytes_left -= static_cast<std::int64_t>(size);
  if (used_ + size > window_size) {
    if (Status status = write_out()) return status;
    if (size > window_size) return write_through(piece, size);
  }
  std::memcpy(window_.data() + used_, piece, size);
  used_ += size;
  return {};
}

Status Connection::put_blanks_through(int count) {
  static constexpr char blanks[blank_run] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  while (count > 0) {
    const int piece = count < blank_run ? count : blank_run;
    if (Status status = put(blanks, static_cast<std::size_t>(piece))) return status;
    count -= piece;
  }
  return {};
}

Status Connection::end_record_through() {
  static constexpr char terminator[2] = {'\r', '\n'};
  if (used_ + sizeof terminator > window_size) {
    if (Status status = write_out()) return status;
  }
  std::memcpy(window_.data() + used_, terminator, sizeof terminator);
  used_ += sizeof terminator;
  ++records;
  if (unbuffered) return write_out();
  return {};
}

Status Connection::cut() {
  // Only a regular file has a length to cut; a pipe or a device named fort.N
  // is written to as it is.
  struct stat info;
  if (::fstat(fd, &info) != 0) return os_error(errno);
  if (!S_ISREG(info.st_mode)) return {};
  if (::ftruncate(fd, position_ + static_cast<std::int64_t>(used_)) != 0) return os_error(errno);
  return {};
}

UnitTable::UnitTable(int in_fd, int out_fd, int err_fd) : input_(in_fd), err_fd_(err_fd) {
  using Direction = Connection::Direction;
  using EndFile = Connection::EndFile;
  connections_.push_back(std::make_unique<Connection>(stdin_unit, in_fd, std::string(),
                                                      Direction::read, EndFile::none, false));
  connections_.push_back(std::make_unique<Connection>(stdout_unit, out_fd, std::string(),
                                                      Direction::write, EndFile::at_end,
                                                      ::isatty(out_fd) == 1));
  connections_.push_back(std::make_unique<Connection>(stderr_unit, err_fd, std::string(),
                                                      Direction::write, EndFile::at_end,
                                                      ::isatty(err_fd) == 1));
}

Connection* UnitTable::find(int unit) {
  for (const auto& connection : connections_) {
    if (connection->unit == unit) return connection.get();
  }
  return nullptr;
}

Connection* UnitTable::connect(int unit, Status& status) {
  std::string file = "fort." + std::to_string(unit);
  const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    status = os_error(errno);
    return nullptr;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    status = os_error(errno);
    ::close(fd);
    return nullptr;
  }
  const auto end_file = info.st_size == 0 ? Connection::EndFile::at_end : Connection::EndFile::none;
  // A fort.N that names a terminal gets each record at its terminator, like
  // standard output on a terminal.
  connections_.push_back(std::make_unique<Connection>(unit, fd, std::move(file),
                                                      Connection::Direction::read_write, end_file,
                                                      ::isatty(fd) == 1));
  return connections_.back().get();
}

int UnitTable::close_all(int status) {
  if (closed_) return status;
  closed_ = true;
  // The result files first, then the standard streams, whose failures are ignored.
  for (const bool standard : {false, true}) {
    for (const auto& connection : connections_) {
      Connection& c = *connection;
      if (c.standard() != standard || c.direction == Connection::Direction::read || c.lost_) {
        continue;
      }
      int err = c.used_ == 0 ? 0 : write_all(c.fd, c.window_.data(), c.used_);
      c.used_ = 0;
      if (standard) continue;
      if (::close(c.fd) != 0 && err == 0 && errno != EINTR) err = errno;
      if (err != 0) {
        // Formatted in place: this may run because memory was refused.
        char line[256];
        const int length = std::snprintf(line, sizeof line, "Fortran runtime error: %s: %s\n",
                                         c.file().c_str(), std::strerror(err));
        if (length > 0) {
          write_all(err_fd_, line, std::min(static_cast<std::size_t>(length), sizeof line - 1));
        }
        if (status == exit_normal) status = exit_statement_failed;
      }
    }
  }
  return status;
}

UnitTable& units() {
  // Lives until the process ends; closing is done by close_all.
  static UnitTable* const table = new UnitTable(STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO);
  return *table;
}

}  // namespace textio
