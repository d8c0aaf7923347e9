#include <cmath>

#include "eigen/eigen.hpp"
#include "eigen/views.hpp"

namespace eigen {

void tqlrat(int n, double* d_, double* e2_, int& ierr) {
  const Vector1<double> d(d_);
  const Vector1<double> e2(e2_);

  ierr = 0;
  // A matrix of order 1 is its own eigenvalue; orders below 1 have none.
  if (n <= 1) return;

  // From here on e2(i) couples rows i and i+1.
  for (int i = 2; i <= n; ++i) e2(i - 1) = e2(i);
  e2(n) = 0.0;

  double f = 0.0;  // sum of the shifts
  double b = 0.0;  // running tolerance
  double c = 0.0;  // b * b

  for (int l = 1; l <= n; ++l) {
    int j = 0;
    // b = max(b, eps (|d(l)| + |e(l)|)), c = b^2
    double h = eps * (std::fabs(d(l)) + std::sqrt(e2(l)));
    if (!(b > h)) {
      b = h;
      c = b * b;
    }

    // m = first row at or after l whose squared coupling is at most c; the
    // search ends at n even when the tolerance is not a number.
    int m = l;
    while (m < n && !(e2(m) <= c)) ++m;

    while (m != l) {
      if (j == max_sweeps) {
        ierr = l;
        return;
      }
      ++j;

      // Shift every d(i), i > l, by h, the eigenvalue of the 2 x 2 block of
      // rows l, l+1 nearer to d(l): p = (d(l+1) - d(l)) / 2e(l),
      // r = sign(p) sqrt(p^2 + 1), d(l) = e(l) / (p + r).
      double s = std::sqrt(e2(l));
      double g = d(l);
      double p = (d(l + 1) - g) / (2.0 * s);
      double r = std::copysign(std::sqrt(p * p + 1.0), p);
      d(l) = s / (p + r);
      h = g - d(l);
      for (int i = l + 1; i <= n; ++i) d(i) = d(i) - h;
      f = f + h;

      // Rational QL sweep over rows m down to l, on the squares only; a zero
      // divisor g is replaced by the tolerance b.
      g = d(m);
      if (g == 0.0) g = b;
      h = g;
      s = 0.0;
      for (int i = m - 1; i >= l; --i) {
        p = g * h;
        r = p + e2(i);
        e2(i + 1) = s * r;
        s = e2(i) / r;
        d(i + 1) = h + s * (h + d(i));
        g = d(i) - e2(i) / g;
        if (g == 0.0) g = b;
        h = g * p / r;
      }
      e2(l) = s * g;
      d(l) = h;

      // Converged when the new squared element e2(l) h is at most c.
      if (h == 0.0) break;
      if (std::fabs(e2(l)) <= std::fabs(c / h)) break;
      e2(l) = e2(l) * h;
      if (e2(l) == 0.0) break;
    }

    // Insert d(l) + f among the eigenvalues found so far, above equal ones.
    const double p = d(l) + f;
    int i = l;
    while (i >= 2 && !(p >= d(i - 1))) {
      d(i) = d(i - 1);
      --i;
    }
    d(i) = p;
  }
}

}  // namespace eigen
