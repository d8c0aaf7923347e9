#include "textio/statements.hpp"

#include <span>
#include <string>

#include "textio/platform.hpp"
#include "textio/record.hpp"

namespace textio {

void prepare_process() {
  platform::ensure_standard_handles();
  platform::ignore_signal(platform::Signal::broken_pipe);
  // A file grown to the size limit fails its write, as a full disk does.
  platform::ignore_signal(platform::Signal::file_size);
}

void compile_format(Format& format, const char* text) {
  std::string error;
  if (!format.parse(text, &error)) report_internal_error("bad format " + std::string(text) + ": " + error);
}

void write(const Location& where, int unit, const Format& format,
           std::initializer_list<double> values) {
  if (Status status = write_statement(installed().units(), unit, format,
                                      std::span<const double>(values.begin(), values.size()))) {
    report_failure(where, *status);
  }
}

}  // namespace textio
