// The check that a pass's levels are numbers: a Hamiltonian beyond the range
// of doubles (J, D1 or E near 1e308) gives levels that are infinite or not a
// number, whether eigenvectors are computed or not, and such a pass ends the
// run instead of being written.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace sweep {

// True when each of the n levels w[0..n-1] is finite.
inline bool finite_levels(const double* w, int n) {
  bool finite = true;
  for (int i = 0; i < n; ++i) finite &= std::isfinite(w[i]);
  return finite;
}

// The message of pass kpass (from 1) whose levels are not finite.
inline std::string not_finite(std::int64_t kpass) {
  return "Levels of pass " + std::to_string(kpass) +
         " are not finite: the Hamiltonian is beyond the range of doubles";
}

}  // namespace sweep
