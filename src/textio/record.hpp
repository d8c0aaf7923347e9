// Formatted write statements.
#pragma once

#include <span>

#include "textio/efield.hpp"
#include "textio/error.hpp"
#include "textio/format.hpp"
#include "textio/units.hpp"

namespace textio {

// The record writer of one run, over its unit table, with the fields it made
// lately (a sweep writes the same D1 beside every level of a pass).
class RecordWriter {
 public:
  // cppcheck-suppress uninitMemberVar ; fields_ starts empty: its slots' text is made before it is read
  explicit RecordWriter(UnitTable& units) : units_(units) {}
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  // Writes values to unit with format: connects the unit at its first write
  // (a result file's old contents are cut there), writes the records the
  // format makes, each ended by carriage return and line feed, and settles
  // buffering and the end-file state. Blanks of nX are written only when
  // something follows them in the record.
  Status write(int unit, const Format& format, std::span<const double> values);

 private:
  UnitTable& units_;
  FieldMemo fields_;
};

}  // namespace textio
