// Two matrices reduced side by side: every element is a pair of doubles, one
// for each matrix, and every operation acts on both halves alike, so that each
// matrix gets exactly the bits it would get alone while the latencies of the
// two overlap.
#pragma once

#include <cmath>
#include <limits>
#include <type_traits>

#include "eigen/eigen.hpp"

namespace eigen {

typedef double Pair __attribute__((vector_size(16)));

// x in every half.
template <typename Real>
constexpr Real splat(double x) {
  if constexpr (std::is_same_v<Real, double>) {
    return x;
  } else {
    return Real{x, x};
  }
}

inline double abs_of(double x) { return std::fabs(x); }
inline Pair abs_of(Pair x) { return Pair{std::fabs(x[0]), std::fabs(x[1])}; }

inline double sqrt_of(double x) { return std::sqrt(x); }
inline Pair sqrt_of(Pair x) { return Pair{std::sqrt(x[0]), std::sqrt(x[1])}; }

inline double modulus_of(double x, double y) { return complex_modulus(x, y); }
inline Pair modulus_of(Pair x, Pair y) {
  return Pair{complex_modulus(x[0], y[0]), complex_modulus(x[1], y[1])};
}

// An exact test against zero (not-a-number counts as non-zero) taken by
// every half: all of them zero, none, or some of each.
enum class Zero { all, none, mixed };

// The outcome of a test that each half passed (true) or failed.
inline Zero both_halves(bool first, bool second) {
  if (first != second) return Zero::mixed;
  return first ? Zero::all : Zero::none;
}

inline Zero zero_test(double x) { return x == 0.0 ? Zero::all : Zero::none; }
inline Zero zero_test(Pair x) { return both_halves(x[0] == 0.0, x[1] == 0.0); }

// The element next to the diagonal, of modulus f, in a row whose squared norm
// has the root g (both after the division by the row's scale): negligible when
// it is 0, or so small that the ratio q = g / f overflows. The reflection then
// treats it as zero; with 1 + q it would turn the whole reduction into
// infinities and NaN.
inline bool negligible(double f, double q) {
  return f == 0.0 || q > std::numeric_limits<double>::max();
}
inline Zero negligible_test(double f, double q) {
  return negligible(f, q) ? Zero::all : Zero::none;
}
inline Zero negligible_test(Pair f, Pair q) {
  return both_halves(negligible(f[0], q[0]), negligible(f[1], q[1]));
}

}  // namespace eigen
