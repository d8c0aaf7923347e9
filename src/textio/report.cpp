#include "textio/report.hpp"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "textio/units.hpp"

namespace textio {

namespace {

// Set while a report is produced: a failure inside it must not report again.
bool reporting = false;

void begin_report() {
  if (reporting) std::_Exit(exit_report_failed);
  reporting = true;
}

// Writes the pieces and a line feed to standard error in one write, built in
// place (a report may be due to refused memory).
void report_line(std::initializer_list<std::string_view> pieces) {
  char line[1024];
  std::size_t size = 0;
  for (const std::string_view piece : pieces) {
    const std::size_t room = sizeof line - 1 - size;
    const std::size_t n = piece.size() < room ? piece.size() : room;
    std::memcpy(line + size, piece.data(), n);
    size += n;
  }
  line[size++] = '\n';
  write_all(STDERR_FILENO, line, size);
}

}  // namespace

void report_failure(const Location& where, const IoError& error) {
  begin_report();
  const std::string message = message_of(error);
  if (where.source != nullptr) {
    char number[16];
    const auto end = std::to_chars(number, number + sizeof number, where.line).ptr;
    report_line({"At line ", std::string_view(number, end - number), " of file ", where.source});
  }
  report_line({"Fortran runtime error: ", message});
  end_run(exit_statement_failed);
}

void report_out_of_memory() {
  begin_report();
  report_line({"Operating system error: ", std::strerror(ENOMEM)});
  report_line({"Memory allocation failed"});
  end_run(exit_no_memory);
}

void report_internal_error(std::string_view what) {
  begin_report();
  report_line({"Internal Error: ", what});
  end_run(exit_internal_error);
}

void end_run(int status) { std::exit(units().close_all(status)); }

}  // namespace textio
