// Decimal text to double, the same in every locale.
#pragma once

#include <charconv>

namespace textio {

// std::from_chars for a double in the general format, on every C++ library:
// where the library has no conversion of floating-point text (Clang's libc++),
// the same forms, correctly rounded by the C library, whatever its locale.
std::from_chars_result nearest_double(const char* first, const char* last, double& value);

enum class Conversion { ok, out_of_range, not_a_number };

// Converts [first, last), a number of the form [sign] digits [. digits]
// [e [sign] digits] with at least one mantissa digit, to the nearest double
// in *out. out_of_range, with *out unchanged, for a magnitude that overflows,
// that rounds to zero although the number is not zero, or that lies below
// the smallest normal double without being exactly a double:
//   "1e400", "1e-400", "1e-310", "2.2250738585072012e-308" -> out_of_range;
//   "2.2250738585072014e-308" (rounds above the smallest normal) -> ok, and so
//   is the exact decimal expansion of a subnormal double.
// not_a_number for text not of that form.
Conversion to_double(const char* first, const char* last, double* out);

}  // namespace textio
