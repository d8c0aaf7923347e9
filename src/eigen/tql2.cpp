#include <cmath>

#include "eigen/eigen.hpp"
#include "eigen/views.hpp"

namespace eigen {

void tql2(int nm, int n, double* d_, double* e_, double* z_, int& ierr) {
  const Vector1<double> d(d_);
  const Vector1<double> e(e_);
  const Matrix1<double> z(z_, nm);

  ierr = 0;
  // A matrix of order 1 is its own eigenvalue; orders below 1 have none.
  if (n <= 1) return;

  // From here on e(i) couples rows i and i+1.
  for (int i = 2; i <= n; ++i) e(i - 1) = e(i);
  e(n) = 0.0;

  double f = 0.0;  // sum of the shifts
  double b = 0.0;  // running tolerance

  for (int l = 1; l <= n; ++l) {
    int j = 0;
    double h = eps * (std::fabs(d(l)) + std::fabs(e(l)));
    if (b < h) b = h;

    // Look for a small sub-diagonal element; the search ends at n even when
    // the tolerance is not a number.
    int m = l;
    while (m < n && !(std::fabs(e(m)) <= b)) ++m;

    if (m != l) {
      do {
        if (j == max_sweeps) {
          ierr = l;
          return;
        }
        ++j;

        // Shift by the eigenvalue of the leading 2 x 2 block nearer to d(l).
        double g = d(l);
        double p = (d(l + 1) - g) / (2.0 * e(l));
        double r = std::sqrt(p * p + 1.0);
        r = std::copysign(r, p);
        d(l) = e(l) / (p + r);
        h = g - d(l);
        for (int i = l + 1; i <= n; ++i) d(i) = d(i) - h;
        f = f + h;

        // QL sweep over rows m down to l, each rotation applied to z.
        p = d(m);
        double c = 1.0;
        double s = 0.0;
        for (int i = m - 1; i >= l; --i) {
          g = c * e(i);
          h = c * p;
          if (std::fabs(p) >= std::fabs(e(i))) {
            c = e(i) / p;
            r = std::sqrt(c * c + 1.0);
            e(i + 1) = s * p * r;
            s = c / r;
            c = 1.0 / r;
          } else {
            c = p / e(i);
            r = std::sqrt(c * c + 1.0);
            e(i + 1) = s * e(i) * r;
            s = 1.0 / r;
            c = c * s;
          }
          p = c * d(i) - s * g;
          d(i + 1) = h + s * (c * g + s * d(i));
          for (int k = 1; k <= n; ++k) {
            const double t = z(k, i + 1);
            z(k, i + 1) = s * z(k, i) + c * t;
            z(k, i) = c * z(k, i) - s * t;
          }
        }
        e(l) = s * p;
        d(l) = c * p;
      } while (std::fabs(e(l)) > b);
    }
    d(l) = d(l) + f;
  }

  // Selection sort of the eigenvalues, exchanging the vectors with them.
  for (int i = 1; i <= n - 1; ++i) {
    int k = i;
    double p = d(i);
    for (int j = i + 1; j <= n; ++j) {
      if (d(j) < p) {
        k = j;
        p = d(j);
      }
    }
    if (k != i) {
      d(k) = d(i);
      d(i) = p;
      for (int q = 1; q <= n; ++q) {
        const double t = z(q, i);
        z(q, i) = z(q, k);
        z(q, k) = t;
      }
    }
  }
}

}  // namespace eigen
