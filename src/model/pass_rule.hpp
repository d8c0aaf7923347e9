// The passes of a sweep, for the program and its companion tools:
// pass k (from 1) has D1 = (k - 1) x step + D1min while that does not exceed
// D1max, each D1 computed afresh from the pass counter, so that long sweeps
// do not drift.
#pragma once

#include <cstdint>

namespace passes {

// The sweep's pass counter is 32 bits wide: pass 2147483648 never comes.
inline constexpr std::int64_t max_passes = 2147483647;

// D1 of pass kpass (from 1).
inline double d1_of(std::int64_t kpass, double D1min, double step) {
  return static_cast<double>(kpass - 1) * step + D1min;
}

// True when the sweep ends in time: D1 of pass max_passes + 1 would exceed
// D1max, or there is no pass at all. A step that is not positive, is not a
// number or is too small for 2147483647 passes gives false.
inline bool sweep_ends(double D1min, double D1max, double step) {
  return D1min > D1max || d1_of(max_passes + 1, D1min, step) > D1max;
}

// The terms of dimerscan's pass at D1 beside D1 itself: both ions carry D1
// (the D2 of the dialogue takes no part), the ratios scale it.
struct PassTerms {
  double D2, E1, E2;
};
inline PassTerms pass_terms(double D1, double ratio1, double ratio2) {
  const double D2 = D1;
  return {D2, D1 * ratio1, D2 * ratio2};
}

// The message of a sweep that does not end.
inline constexpr const char* endless =
    "D1 sweep does not end: the step must be positive and give at most 2147483647 passes";

}  // namespace passes
