#include "textio/statements.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <span>
#include <string>

#include "textio/record.hpp"

namespace textio {

void start_run() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // Takes the lowest free descriptor, which is fd.
      ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  // A closed pipe on standard output is reported by write, not by a signal.
  std::signal(SIGPIPE, SIG_IGN);
  units();
}

void compile_format(Format& format, const char* text) {
  std::string error;
  if (!format.parse(text, &error)) report_internal_error("bad format " + std::string(text) + ": " + error);
}

void write(const Location& where, int unit, const Format& format,
           std::initializer_list<double> values) {
  if (Status status = write_statement(units(), unit, format,
                                      std::span<const double>(values.begin(), values.size()))) {
    report_failure(where, *status);
  }
}

}  // namespace textio
