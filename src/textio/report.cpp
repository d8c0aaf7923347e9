#include "textio/report.hpp"

#include <charconv>
#include <cstring>
#include <string>

namespace textio {

void ErrorStream::line(std::initializer_list<std::string_view> pieces) {
  char text[1024];
  std::size_t size = 0;
  for (const std::string_view piece : pieces) {
    const std::size_t room = sizeof text - 1 - size;
    const std::size_t n = piece.size() < room ? piece.size() : room;
    std::memcpy(text + size, piece.data(), n);
    size += n;
  }
  text[size++] = '\n';
  platform::write_all(handle_, text, size);
}

void ErrorStream::runtime_error(std::initializer_list<std::string_view> pieces) {
  char text[1024];
  std::size_t size = 0;
  for (const std::string_view piece : pieces) {
    const std::size_t room = sizeof text - size;
    const std::size_t n = piece.size() < room ? piece.size() : room;
    std::memcpy(text + size, piece.data(), n);
    size += n;
  }
  line({"Fortran runtime error: ", std::string_view(text, size)});
}

void ErrorStream::begin_report() {
  if (reporting_) platform::exit_immediately(exit_report_failed);
  reporting_ = true;
}

void ErrorStream::failure(const Location& where, const IoError& error) {
  const std::string message = message_of(error);
  if (where.source != nullptr) {
    char number[16];
    const auto end = std::to_chars(number, number + sizeof number, where.line).ptr;
    line({"At line ", std::string_view(number, end - number), " of file ", where.source});
  }
  runtime_error({message});
}

void ErrorStream::out_of_memory() {
  line({"Operating system error: ", platform::error_text(platform::out_of_memory_error())});
  line({"Memory allocation failed"});
}

void ErrorStream::internal_error(std::string_view what) { line({"Internal Error: ", what}); }

void ErrorStream::not_written(std::string_view file, int errnum) {
  runtime_error({file, ": ", platform::error_text(errnum)});
}

void ErrorStream::interrupted(std::string_view program, std::string_view name,
                              std::string_view after, std::string_view held) {
  if (after.empty()) {
    line({program, ": interrupted by signal ", name});
  } else if (held.empty()) {
    line({program, ": interrupted by signal ", name, " after ", after});
  } else {
    line({program, ": interrupted by signal ", name, " after ", after, ": ", held});
  }
}

}  // namespace textio
