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
#include "textio/run.hpp"

namespace textio {

// Parses one of the program's own format texts, checked when the program was
// compiled.
void compile_format(Format& format, const ConstantFormat& text);

// A formatted write of values to unit.
void write(const Location& where, int unit, const Format& format,
           std::initializer_list<double> values = {});

// From now on the result files of shares are written in whole passes: a
// failed write leaves each of them at the passes all of them hold whole
// (UnitTable::write_in_passes).
void write_in_passes(std::initializer_list<PassShare> shares);

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
