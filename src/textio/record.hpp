// Formatted write statements.
#pragma once

#include <span>

#include "textio/error.hpp"
#include "textio/format.hpp"
#include "textio/units.hpp"

namespace textio {

// Writes values to unit with format: connects the unit to fort.<unit> at its
// first write (cutting the old contents there), writes the records the format
// makes, each ended by carriage return and line feed, and settles buffering
// and the end-file state. Blanks of nX are written only when something
// follows them in the record.
Status write_statement(UnitTable& units, int unit, const Format& format,
                       std::span<const double> values);

}  // namespace textio
