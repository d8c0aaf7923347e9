// The one writer of standard error, and the reports it writes: whole lines,
// each written at once in one piece, built in place (a report may be due to
// refused memory).
#pragma once

#include <initializer_list>
#include <string_view>

#include "textio/error.hpp"
#include "textio/platform.hpp"

namespace textio {

class ErrorStream {
 public:
  explicit ErrorStream(platform::Handle handle) : handle_(handle) {}
  ErrorStream(const ErrorStream&) = delete;
  ErrorStream& operator=(const ErrorStream&) = delete;

  // Writes the pieces and a line feed; a line is cut at 1023 characters.
  void line(std::initializer_list<std::string_view> pieces);
  // "Fortran runtime error: " followed by the pieces, as one line.
  void runtime_error(std::initializer_list<std::string_view> pieces);

  // Marks the start of a report. A failure while a report is being produced
  // ends the process at once with status 4.
  void begin_report();

  // A failed statement, in two lines:
  //   At line <line> of file <source>
  //   Fortran runtime error: <message>
  // (the first left out for a statement without a source).
  void failure(const Location& where, const IoError& error);
  // "Operating system error: <host text>" and "Memory allocation failed".
  void out_of_memory();
  // "Internal Error: <what>".
  void internal_error(std::string_view what);
  // A result file whose bytes could not be written out at the end of the
  // run: "Fortran runtime error: fort.N: <host text>".
  void not_written(std::string_view file, int errnum);
  // "<program>: interrupted by signal <SIGNAME>", followed by " after
  // <after>" unless after is empty, then ": <held>" unless held is empty.
  void interrupted(std::string_view program, std::string_view signal, std::string_view after,
                   std::string_view held);

 private:
  platform::Handle handle_;
  bool reporting_ = false;
};

}  // namespace textio
