// Ending the run: run-time error reports and the exit processing.
#pragma once

#include <string_view>

#include "textio/error.hpp"

namespace textio {

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
[[noreturn]] void end_run(int status);

}  // namespace textio
