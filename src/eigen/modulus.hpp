// The complex modulus and the test of a negligible element, inline for the
// reduction, which takes them once per row on its chain of dependent
// operations. Internal linkage on purpose: each file that includes this has
// its own copy, built for that file's instruction set, so that a copy built
// for AVX-512 is never linked into code that runs without it. Elsewhere they
// are eigen::complex_modulus and eigen::negligible.
#pragma once

#include <cmath>
#include <limits>

namespace eigen::step {
namespace {

// Only built-in operations here (no library function that could be emitted
// out of line): |x| > largest finite is infinite, x != x is not a number.
constexpr double largest = std::numeric_limits<double>::max();
constexpr double infinity = std::numeric_limits<double>::infinity();

// sqrt(x^2 + y^2) to double accuracy, exactly 0 for (0, 0), free of
// overflow and underflow of the squares.
inline double modulus(double x, double y) {
  double a = std::fabs(x);
  double b = std::fabs(y);
  if (a > largest || b > largest) return infinity;
  if (a != a || b != b) return a + b;
  if (a < b) {
    const double t = a;
    a = b;
    b = t;
  }
  if (a == 0.0) return 0.0;
  // Scale by a power of two (exact) so that the squares neither overflow nor
  // underflow; the tiny arguments of a divided row would otherwise square to 0.
  constexpr double big = 0x1p+500;
  constexpr double small = 0x1p-500;
  constexpr double up = 0x1p+600;
  constexpr double down = 0x1p-600;
  if (a > big) {
    a *= down;
    b *= down;
    return std::sqrt(a * a + b * b) * up;
  }
  if (a < small) {
    a *= up;
    b *= up;
    return std::sqrt(a * a + b * b) * down;
  }
  return std::sqrt(a * a + b * b);
}

// f = |u(l)| is 0, or so small against g = |u| that g / f overflows.
inline bool negligible_element(double f, double g) { return f == 0.0 || g / f > largest; }

}  // namespace
}  // namespace eigen::step
