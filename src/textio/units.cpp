#include "textio/units.hpp"

namespace textio {

Connection::Connection(int unit, platform::Handle handle, std::string file, Direction direction,
                       EndFile end_file, bool unbuffered)
    : unit_(unit),
      handle_(handle),
      file_(std::move(file)),
      standard_(file_.empty()),
      direction_(direction),
      end_file_(end_file),
      unbuffered_(unbuffered) {}

bool Connection::begin_statement_through() {
  if (direction_ == Direction::read) return fail(os_error(platform::bad_handle_error()));
  return cut();  // the first record on a result file
}

bool Connection::write_out() { return write_through(window_.data(), used_); }

bool Connection::write_through(const char* data, std::size_t size) {
  const int err = size == 0 ? 0 : platform::write_all(handle_, data, size);
  used_ = 0;
  if (err != 0) {
    // The bytes are gone; the failure is reported once, here, and not again
    // when the run ends.
    lost_ = true;
    if (standard()) return fail(os_error(err));
    return fail(IoError{ErrorKind::os_error, file_ + ": " + platform::error_text(err)});
  }
  position_ += static_cast<std::int64_t>(size);
  return true;
}

bool Connection::put_through(const char* piece, std::size_t size) {
  if (static_cast<std::int64_t>(size) > bytes_left_) {
    if (!standard()) return fail(IoError{ErrorKind::end_of_record, {}});
    bytes_left_ = record_limit;  // on the console the count simply starts again
  }
  bytes_left_ -= static_cast<std::int64_t>(size);
  if (used_ + size > window_size) {
    if (!write_out()) return false;
    if (size > window_size) return write_through(piece, size);
  }
  std::memcpy(window_.data() + used_, piece, size);
  used_ += size;
  return true;
}

bool Connection::put_blanks_through(int count) {
  static constexpr char blanks[blank_run + 1] =
      "                                                                ";
  while (count > 0) {
    const int piece = count < blank_run ? count : blank_run;
    if (!put(blanks, static_cast<std::size_t>(piece))) return false;
    count -= piece;
  }
  return true;
}

bool Connection::end_record_through() {
  static constexpr char terminator[2] = {'\r', '\n'};
  if (used_ + sizeof terminator > window_size) {
    if (!write_out()) return false;
  }
  std::memcpy(window_.data() + used_, terminator, sizeof terminator);
  used_ += sizeof terminator;
  ++records_;
  if (unbuffered_) return write_out();
  return true;
}

bool Connection::end_statement_through() {
  if (unbuffered_ && !write_out()) return false;
  // A file with old contents after this run's first record: cut them now.
  if (end_file_ == EndFile::none) {
    if (!write_out() || !cut()) return false;
    end_file_ = EndFile::at_end;
  }
  return true;
}

bool Connection::cut() {
  // Only a regular file has a length to cut; a pipe or a device named fort.N
  // is written to as it is.
  platform::FileInfo info;
  if (const int err = platform::file_info(handle_, info)) return fail(os_error(err));
  if (info.kind != platform::FileInfo::Kind::regular) return true;
  if (const int err = platform::cut(handle_, position_ + static_cast<std::int64_t>(used_))) {
    return fail(os_error(err));
  }
  return true;
}

int Connection::write_out_last() {
  if (direction_ == Direction::read || lost_ || used_ == 0) return 0;
  const int err = platform::write_all(handle_, window_.data(), used_);
  if (err != 0) lost_ = true;
  else position_ += static_cast<std::int64_t>(used_);
  used_ = 0;
  return err;
}

int Connection::close() {
  if (direction_ == Direction::read) return 0;
  const int err = write_out_last();
  if (standard()) return err;
  const int closed = platform::close(handle_);
  return err != 0 ? err : closed;
}

int Connection::cut_back(std::int64_t length) {
  if (direction_ != Direction::read_write) return 0;  // a FIFO or a device
  return platform::cut(handle_, length);
}

UnitTable::UnitTable(platform::StandardHandles handles)
    : standard_input_(handles.in),
      standard_output_(handles.out),
      standard_error_(handles.err),
      input_(handles.in) {
  using Direction = Connection::Direction;
  using EndFile = Connection::EndFile;
  connections_.push_back(std::make_unique<Connection>(stdin_unit, handles.in, std::string(),
                                                      Direction::read, EndFile::none, false));
  connections_.push_back(std::make_unique<Connection>(stdout_unit, handles.out, std::string(),
                                                      Direction::write, EndFile::at_end,
                                                      platform::is_terminal(handles.out)));
}

Connection* UnitTable::find(int unit) {
  for (const auto& connection : connections_) {
    if (connection->unit() == unit) return connection.get();
  }
  return nullptr;
}

namespace {

bool same_file(const platform::FileInfo& a, const platform::FileInfo& b) {
  return a.identified && b.identified && a.device == b.device && a.inode == b.inode;
}

IoError about_file(const std::string& name, std::string_view what) {
  return IoError{ErrorKind::os_error, name + ": " + std::string(what)};
}

}  // namespace

Status UnitTable::shared(const std::string& name, const platform::FileInfo& info) const {
  // A device such as /dev/null may be written by anyone; a regular file or a
  // pipe written through two handles would have its records overwritten or
  // cut into each other, or (standard input) be the run's own input, which
  // nobody else reads; standard error would lose its reports.
  const struct {
    platform::Handle handle;
    const char* what;
  } standard[] = {{standard_output_, "the same file as standard output"},
                  {standard_input_, "the same file as standard input"},
                  {standard_error_, "the same file as standard error"}};
  for (const auto& stream : standard) {
    platform::FileInfo about;
    if (platform::file_info(stream.handle, about) == 0 && same_file(info, about)) {
      return about_file(name, stream.what);
    }
  }
  for (const ResultFile& other : result_files_) {
    if (same_file(info, other.info)) return about_file(name, "the same file as " + other.name);
  }
  return {};
}

Connection* UnitTable::connect(int unit, Status& status) {
  if (unit == stderr_unit) {
    connections_.push_back(std::make_unique<Connection>(
        stderr_unit, standard_error_, std::string(), Connection::Direction::write,
        Connection::EndFile::at_end, platform::is_terminal(standard_error_)));
    return connections_.back().get();
  }
  std::string file = "fort." + std::to_string(unit);
  using Kind = platform::FileInfo::Kind;
  platform::Handle handle = platform::no_handle;
  Kind kind = Kind::regular;
  if (const int err = platform::open_result_file(file.c_str(), handle, kind)) {
    // A FIFO without a reader, a device that is not there: named, since the
    // file itself is not at fault.
    status = kind == Kind::fifo || kind == Kind::device
                 ? about_file(file, platform::error_text(err))
                 : os_error(err);
    return nullptr;
  }
  platform::FileInfo info;
  if (const int err = platform::file_info(handle, info)) {
    status = os_error(err);
    platform::close(handle);
    return nullptr;
  }
  status = shared(file, info);
  if (!status && info.identified && !platform::lock_exclusive(handle)) {
    status = about_file(file, "another run is writing this file");
  }
  if (status) {
    platform::close(handle);
    return nullptr;
  }
  result_files_.push_back({file, info});
  const auto end_file = info.size == 0 ? Connection::EndFile::at_end : Connection::EndFile::none;
  const auto direction = info.kind == Kind::regular ? Connection::Direction::read_write
                                                    : Connection::Direction::write;
  // A fort.N that names a terminal gets each record at its terminator, like
  // standard output on a terminal.
  connections_.push_back(std::make_unique<Connection>(unit, handle, std::move(file), direction,
                                                      end_file, platform::is_terminal(handle)));
  return connections_.back().get();
}

std::vector<NotWritten> UnitTable::close_results() {
  std::vector<NotWritten> failed;
  if (results_closed_) return failed;
  results_closed_ = true;
  bool lost = false;
  for (const auto& connection : connections_) {
    if (connection->standard()) continue;
    if (const int err = connection->write_out_last()) failed.push_back({connection.get(), err});
    lost = lost || connection->lost();
  }
  if (lost) cut_back_to_whole_passes();
  for (const auto& connection : connections_) {
    if (connection->standard()) continue;
    const int err = connection->close();
    if (err != 0 && !connection->lost()) failed.push_back({connection.get(), err});
  }
  return failed;
}

void UnitTable::cut_back_to_whole_passes() {
  if (shares_.empty()) return;
  std::int64_t whole = -1;  // passes on disk in every file
  for (const PassShare& share : shares_) {
    const Connection* connection = find(share.unit);
    const std::int64_t passes = connection == nullptr ? 0 : connection->written() / share.bytes;
    if (whole < 0 || passes < whole) whole = passes;
  }
  // The run ends with its report of the failure already made; a file that
  // cannot be cut keeps its bytes.
  for (const PassShare& share : shares_) {
    if (Connection* connection = find(share.unit)) connection->cut_back(whole * share.bytes);
  }
}

void UnitTable::close_standard() {
  if (standard_closed_) return;
  standard_closed_ = true;
  for (const auto& connection : connections_) {
    if (connection->standard()) connection->close();
  }
}

}  // namespace textio
