#include "textio/error.hpp"

#include "textio/platform.hpp"

namespace textio {

IoError os_error(int errnum) { return IoError{ErrorKind::os_error, platform::error_text(errnum)}; }

std::string message_of(const IoError& error) {
  if (!error.message.empty()) return error.message;
  switch (error.kind) {
    case ErrorKind::end_of_file:
      return "End of file";
    case ErrorKind::end_of_record:
      return "End of record";
    case ErrorKind::bad_value:
      return "Bad value during read";
    case ErrorKind::os_error:
      break;
  }
  return "Unknown error";
}

}  // namespace textio
