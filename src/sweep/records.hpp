// The sweep's records, D1 and one value in the layout (1x,e12.6,2x,e12.6):
// laid straight into the window of the unit's connection where the write
// statement needs nothing else, and otherwise left to the general record
// walk of the text layer, which gives the same bytes.
#pragma once

#include <cstddef>

#include "model/record_layout.hpp"
#include "textio/units.hpp"

namespace sweep {

// Characters of a record before its line end: a blank, E12.6, two blanks, E12.6.
inline constexpr std::size_t record_size = model::record::width;
// Characters of an E12.6 field.
inline constexpr int field_width = static_cast<int>(model::record::field_width);
inline constexpr int field_digits = static_cast<int>(model::record::decimals);

// Lays the record of the field d1 (the E12.6 text of D1) and value into the
// window of c, ended by carriage return and line feed; false, with nothing
// written, when c is null or the statement must take the general walk.
bool lay_record(textio::Connection* c, const char* d1, double value);

}  // namespace sweep
