// The life of one run: the process made ready, its run-time context (the
// unit table, the record writer and the writer of standard error) made by
// the process entry and installed for the statements, the reports that end
// it, the end of the run, and interrupts. A test makes its own context on
// descriptors of its choice.
#pragma once

#include <string_view>

#include "textio/error.hpp"
#include "textio/platform.hpp"
#include "textio/record.hpp"
#include "textio/report.hpp"
#include "textio/units.hpp"

namespace textio {

// Prepares the process for a run: the standard handles are made to exist (so
// that no result file can take their place), and neither a reader that went
// away nor a file size limit kills the run: the write that meets it fails
// instead.
void prepare_process();

class Runtime {
 public:
  // Units 5 and 6 on handles.in and handles.out (unit 0 on handles.err at its
  // first write); reports go to handles.err.
  explicit Runtime(platform::StandardHandles handles)
      : errors_(handles.err), units_(handles), records_(units_) {}
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  UnitTable& units() { return units_; }
  RecordWriter& records() { return records_; }
  ErrorStream& errors() { return errors_; }
  // Writes out and closes every connection, once: the result files first,
  // each one that cannot be written out reported on standard error and
  // making the status 2, then the standard streams. The status the run ends
  // with.
  int close_all(int status);

 private:
  ErrorStream errors_;
  UnitTable units_;
  RecordWriter records_;
};

// Makes runtime (or none, for nullptr) the one the statements and reports
// use; returns the one installed before.
Runtime* install(Runtime* runtime);

// The installed run-time context. Without one, a statement is an internal
// error of the input/output layer.
Runtime& installed();

// Reports a failed statement on standard error (ErrorStream::failure) and
// ends the run with status 2.
[[noreturn]] void report_failure(const Location& where, const IoError& error);
// The host refused memory: the report, then the end of the run with status 1.
[[noreturn]] void report_out_of_memory();
// An inconsistency of the input/output layer: the report, then status 3.
[[noreturn]] void report_internal_error(std::string_view what);

// Closes every connection (writing out what is buffered) and ends the
// process with status, or with 2 when a result file could not be written out.
// After an interrupt (catch_interrupts) it says so in one line and ends the
// process by that signal instead.
[[noreturn]] void end_run(int status);

// From now on SIGINT, SIGTERM, SIGHUP and every other signal whose default
// action ends the process (platform::catch_interrupts) are caught instead of
// ending the process at once: the run tests interrupted() where it can stop
// cleanly. Further interrupts are held off while the run ends by the first.
// program names the run in the line that tells of an interrupt.
void catch_interrupts(const char* program);
// True once an interrupt has been caught.
bool interrupted();
// Ends the run after an interrupt: closes every connection, writes the line
//   <program>: interrupted by signal <SIGNAME> after <after>: <held>
// (without ": <held>" when a result file could not be written out) and ends
// the process by that signal, so that its parent sees it interrupted.
[[noreturn]] void end_interrupted(std::string_view after, std::string_view held);

}  // namespace textio
