// Ending the run: the one writer of standard error, run-time error reports
// and the exit processing.
#pragma once

#include <initializer_list>
#include <string_view>

#include "textio/error.hpp"
#include "textio/platform.hpp"

namespace textio {

// Standard error as the reports see it: whole lines, each written at once in
// one piece, built in place (a report may be due to refused memory), and the
// guard that stops a report from starting inside another.
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

 private:
  platform::Handle handle_;
  bool reporting_ = false;
};

// Reports a failed statement on standard error, unbuffered, in two lines
//   At line <line> of file <source>
//   Fortran runtime error: <message>
// and ends the run with status 2 after closing every connection.
[[noreturn]] void report_failure(const Location& where, const IoError& error);

// The host refused memory: "Operating system error: <host text>" and
// "Memory allocation failed", status 1.
[[noreturn]] void report_out_of_memory();

// An inconsistency of the input/output layer: "Internal Error: <what>", status 3.
[[noreturn]] void report_internal_error(std::string_view what);

// Closes every connection (writing out what is buffered) and ends the
// process with status, or with 2 when a result file could not be written out.
// After an interrupt (catch_interrupts) it says so in one line and ends the
// process by that signal instead.
[[noreturn]] void end_run(int status);

// From now on SIGINT, SIGTERM and SIGHUP are caught instead of ending the
// process at once: the run tests interrupted() where it can stop cleanly. A
// second interrupt ends the process at once. program names the run in the
// line that tells of an interrupt.
void catch_interrupts(const char* program);
// True once an interrupt has been caught.
bool interrupted();
// Ends the run after an interrupt: closes every connection, writes the line
//   <program>: interrupted by signal <SIGNAME> after <after>: <held>
// (without ": <held>" when a result file could not be written out) and ends
// the process by that signal, so that its parent sees it interrupted.
[[noreturn]] void end_interrupted(std::string_view after, std::string_view held);

}  // namespace textio
