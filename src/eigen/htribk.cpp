#include "eigen/eigen.hpp"
#include "eigen/views.hpp"

namespace eigen {

void htribk(int nm, int n, const double* ar_, const double* ai_, const double* tau_, int m,
            double* zr_, double* zi_) {
  const Matrix1<const double> ar(ar_, nm);
  const Matrix1<const double> ai(ai_, nm);
  const Matrix1<const double> tau(tau_, 2);
  const Matrix1<double> zr(zr_, nm);
  const Matrix1<double> zi(zi_, nm);

  // No vectors: nothing is read or written.
  if (m == 0) return;

  // z(k, j) = conj(tau(k)) z(k, j): row k of every vector times the
  // conjugate of the phase factor of row k.
  for (int k = 1; k <= n; ++k) {
    for (int j = 1; j <= m; ++j) {
      zi(k, j) = -(zr(k, j) * tau(2, k));
      zr(k, j) = zr(k, j) * tau(1, k);
    }
  }

  if (n == 1) return;

  // z = (I - conj(u) u^T / h^2) z for the Householder vector u of each row
  // i = 2..n, ascending, h its normaliser.
  for (int i = 2; i <= n; ++i) {
    const int l = i - 1;
    const double h = ai(i, i);
    if (h == 0.0) continue;  // row i carries no reflection

    for (int j = 1; j <= m; ++j) {
      // sigma = sum of u(k) z(k) without conjugation, u the vector of row i
      double s = 0.0;
      double si = 0.0;
      for (int k = 1; k <= l; ++k) {
        s = s + ar(i, k) * zr(k, j) - ai(i, k) * zi(k, j);
        si = si + ar(i, k) * zi(k, j) + ai(i, k) * zr(k, j);
      }
      // sigma / h / h: two divisions, not one by h * h
      s = (s / h) / h;
      si = (si / h) / h;
      // z(k) = z(k) - sigma conj(u(k))
      for (int k = 1; k <= l; ++k) {
        zr(k, j) = zr(k, j) - s * ar(i, k) - si * ai(i, k);
        zi(k, j) = zi(k, j) - si * ar(i, k) + s * ai(i, k);
      }
    }
  }
}

}  // namespace eigen
