// The input/output statements as the program uses them: each carries its
// location, runs on the installed run-time context, and a failure ends the
// run with a report naming it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

#include "textio/error.hpp"
#include "textio/format.hpp"
#include "textio/listread.hpp"
#include "textio/report.hpp"
#include "textio/runtime.hpp"

namespace textio {

// Prepares the process for a run: the standard handles are made to exist (so
// that no result file can take their place), and neither a reader that went
// away nor a file size limit kills the run: the write that meets it fails
// instead.
void prepare_process();

// Parses one of the program's own format texts; a text that does not parse
// is an internal error.
void compile_format(Format& format, const char* text);

// A formatted write of values to unit.
void write(const Location& where, int unit, const Format& format,
           std::initializer_list<double> values = {});

// A free-form read of the items from standard input: doubles and 32-bit integers.
template <typename... Items>
void read(const Location& where, Items&... items) {
  ListRead statement(installed().units().input());
  Status status;
  const auto transfer = [&](auto& item) {
    if (status) return;
    if constexpr (std::is_same_v<std::remove_reference_t<decltype(item)>, double>) {
      status = statement.real(item);
    } else {
      static_assert(std::is_same_v<std::remove_reference_t<decltype(item)>, std::int32_t>);
      status = statement.integer(item);
    }
  };
  (transfer(items), ...);
  if (!status) status = statement.finish();
  if (status) report_failure(where, *status);
}

}  // namespace textio
