// The records of dimerscan's result files, fort.10 and fort.20, as its
// readers meet them: one blank, D1 in an E12.6 field, two blanks, the value
// in E12.6, carriage return and line feed.
#pragma once

#include <cstddef>

namespace model::record {

// The format the program writes each record with.
inline constexpr const char* format = "(1x,e12.6,2x,e12.6)";

inline constexpr std::size_t field_width = 12;   // an E12.6 field
inline constexpr std::size_t decimals = 6;       // digits after the point
inline constexpr std::size_t d1_column = 1;      // offset of D1 (0-based)
inline constexpr std::size_t value_column = 15;  // offset of the value: after two blanks
inline constexpr std::size_t width = 27;         // the record without its line end
inline constexpr std::size_t bytes = 29;         // with CR LF
static_assert(d1_column + field_width + 2 == value_column);
static_assert(value_column + field_width == width && width + 2 == bytes);

// Records a pass writes to fort.10: one for each of the sixteen levels.
inline constexpr int levels = 16;

}  // namespace model::record
