#include <cmath>
#include <limits>
#include <utility>

#include "eigen/eigen.hpp"

namespace eigen {

double complex_modulus(double x, double y) {
  double a = std::fabs(x);
  double b = std::fabs(y);
  if (std::isinf(a) || std::isinf(b)) return std::numeric_limits<double>::infinity();
  if (std::isnan(a) || std::isnan(b)) return a + b;
  if (a < b) std::swap(a, b);
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

bool negligible(double f, double g) {
  return f == 0.0 || g / f > std::numeric_limits<double>::max();
}

}  // namespace eigen
