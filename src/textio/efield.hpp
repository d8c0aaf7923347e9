// The Ew.d edit descriptor on output (scale factor 0, exponent width not given).
#pragma once

namespace textio {

// Writes value into out[0..w) as an Ew.d field: exactly w characters, no
// terminator. The value is shown as 0.d1d2...dd x 10^e with d correctly
// rounded significant digits; the exponent is E+dd for |e| <= 99 and +ddd for
// 100 <= |e| <= 999; a minus sign only for values below zero; a 0 before the
// point when a blank is left for it. A field too narrow for its text is w
// asterisks. Not-a-number is "NaN" and infinities are "+Infinity"/"-Infinity"
// ("+Inf"/"-Inf" for 4 <= w <= 8), right-justified.
// Examples (E12.6): 1.0 -> "0.100000E+01", -7.5 -> "-.750000E+01",
// 1.0e100 -> "0.100000+101". Requires 1 <= w and 1 <= d.
void format_e_field(char* out, double value, int w, int d);

}  // namespace textio
