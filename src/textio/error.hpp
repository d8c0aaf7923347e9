// Failures of input/output statements and the places they are reported for.
#pragma once

#include <optional>
#include <string>

namespace textio {

// Kinds of statement failure, with their codes.
enum class ErrorKind : int {
  end_of_file = -1,
  end_of_record = -2,
  os_error = 1,
  bad_value = 11,
};

struct IoError {
  ErrorKind kind;
  std::string message;  // empty: the default text of the kind
};

// nullopt when a step of a statement succeeded.
using Status = std::optional<IoError>;

// An operating-system error with the host's text for errnum ("Is a directory").
IoError os_error(int errnum);

// The message a report prints for error: its own, else the kind's default.
std::string message_of(const IoError& error);

// Exit statuses of the process.
inline constexpr int exit_normal = 0;            // the sweep is over
inline constexpr int exit_no_memory = 1;         // the host refused memory
inline constexpr int exit_statement_failed = 2;  // a statement failed and was reported
inline constexpr int exit_internal_error = 3;    // the input/output layer is inconsistent
inline constexpr int exit_report_failed = 4;     // a failure while a report was produced

// Where a statement stands in the program: source name and line number.
struct Location {
  const char* source;
  int line;
};

}  // namespace textio
