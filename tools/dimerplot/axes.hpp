// Axis ranges and tick labels at round values.
#pragma once

#include <string>
#include <vector>

namespace dimerplot {

// An axis from lo to hi with ticks at the multiples of step between them.
// Long double: the widest range of doubles (-1.8e308 .. 1.8e308) fits.
struct Axis {
  long double lo = 0, hi = 1, step = 1;
  std::vector<long double> ticks;
};

// The axis over [min, max] with about `ticks` intervals: step is 1, 2 or 5
// times a power of ten, lo and hi the multiples of step at or just beyond min
// and max. A single value v (min == max) gets the axis over v -+ |v|/10, 0 the
// axis over -1 .. 1; no value at all (min > max, or either not finite) the
// axis over 0 .. 1. Example: nice_axis(-7.5, 4.78, 6) -> -8 .. 6, step 2.
Axis nice_axis(long double min, long double max, int ticks);

// The label of tick value v on an axis with that step: as many decimals as
// the step needs ("0.05", "-7.5", "200"), or in powers of ten when the
// values are large or small ("1.5e+300", "2e-07"). Zero is "0".
std::string tick_label(long double v, long double step);

}  // namespace dimerplot
