#include "textio/statements.hpp"

#include <span>

namespace textio {

void compile_format(Format& format, const ConstantFormat& text) { format.parse(text.text(), nullptr); }

void write(const Location& where, int unit, const Format& format,
           std::initializer_list<double> values) {
  if (Status status = installed().records().write(
          unit, format, std::span<const double>(values.begin(), values.size()))) {
    report_failure(where, *status);
  }
}

void write_in_passes(std::initializer_list<PassShare> shares) {
  installed().units().write_in_passes(std::vector<PassShare>(shares));
}

}  // namespace textio
