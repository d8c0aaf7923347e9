#include <cmath>

#include "eigen/eigen.hpp"
#include "eigen/modulus.hpp"
#include "eigen/views.hpp"

namespace eigen {

void htridi(int nm, int n, double* ar_, double* ai_, double* d_, double* e_, double* e2_,
            double* tau_) {
  const Matrix1<double> ar(ar_, nm);
  const Matrix1<double> ai(ai_, nm);
  const Matrix1<double> tau(tau_, 2);
  const Vector1<double> d(d_);
  const Vector1<double> e(e_);
  const Vector1<double> e2(e2_);

  // The last phase factor is 1.
  tau(1, n) = 1.0;
  tau(2, n) = 0.0;

  // d keeps the diagonal while the reduction works on ar.
  for (int i = 1; i <= n; ++i) d(i) = ar(i, i);

  // Rows n down to 1, one Householder reflection each.
  for (int ii = 1; ii <= n; ++ii) {
    const int i = n + 1 - ii;
    const int l = i - 1;
    double h = 0.0;
    double scale = 0.0;

    // scale = sum over k < i of |Re a(i, k)| + |Im a(i, k)|
    for (int k = 1; k <= l; ++k) scale = scale + std::fabs(ar(i, k)) + std::fabs(ai(i, k));

    if (scale == 0.0) {
      // A zero row (or row 1): no reflection; the phase factors restart at 1.
      if (l >= 1) {
        tau(1, l) = 1.0;
        tau(2, l) = 0.0;
      }
      e(i) = 0.0;
      e2(i) = 0.0;
    } else {
      // u = row i / scale; h = |u|^2
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = ar(i, k) / scale;
        ai(i, k) = ai(i, k) / scale;
        h = h + ar(i, k) * ar(i, k) + ai(i, k) * ai(i, k);
      }

      // e2(i) = scale^2 h; e(i) = scale sqrt(h); f = |u(l)|
      e2(i) = scale * scale * h;
      double g = std::sqrt(h);
      e(i) = scale * g;
      double f = step::modulus(ar(i, l), ai(i, l));
      double si;
      bool update = true;

      if (!step::negligible_element(f, g)) {
        // tau(l) = -tau(i) u(l) / |u(l)|, real part here, the imaginary part
        // with its sign reversed kept in si until the row is done.
        tau(1, l) = (ai(i, l) * tau(2, i) - ar(i, l) * tau(1, i)) / f;
        si = (ar(i, l) * tau(2, i) + ai(i, l) * tau(1, i)) / f;
        // h = |u|^2 + |u(l)| |u|: half the squared norm of the Householder
        // vector, whose element l is u(l) (1 + |u| / |u(l)|)
        h = h + f * g;
        g = 1.0 + g / f;
        ar(i, l) = g * ar(i, l);
        ai(i, l) = g * ai(i, l);
        if (l == 1) update = false;
      } else {
        // A zero or negligible element: tau(l) = -tau(i), u(l) = |u|.
        tau(1, l) = -tau(1, i);
        si = tau(2, i);
        ar(i, l) = g;
      }

      if (update) {
        // p = A conj(u) / h over the leading l x l block, A read from its
        // lower triangle (a(j, k) for k <= j, conj(a(k, j)) for k > j);
        // real parts in e, imaginary parts in tau(2, .); f = u^T p, real.
        f = 0.0;
        for (int j = 1; j <= l; ++j) {
          g = 0.0;
          double gi = 0.0;
          for (int k = 1; k <= j; ++k) {
            g = g + ar(j, k) * ar(i, k) + ai(j, k) * ai(i, k);
            gi = gi - ar(j, k) * ai(i, k) + ai(j, k) * ar(i, k);
          }
          for (int k = j + 1; k <= l; ++k) {
            g = g + ar(k, j) * ar(i, k) - ai(k, j) * ai(i, k);
            gi = gi - ar(k, j) * ai(i, k) - ai(k, j) * ar(i, k);
          }
          e(j) = g / h;
          tau(2, j) = gi / h;
          f = f + e(j) * ar(i, j) - tau(2, j) * ai(i, j);
        }

        // hh = u^T p / 2h
        const double hh = f / (h + h);

        // q = p - hh conj(u), real parts in e, imaginary parts negated in
        // tau(2, .); then A = A - conj(u) q^H - q u^T on the lower triangle:
        // with f + i fi = conj(u(j)) and g + i gi = q(j),
        // a(j, k) = a(j, k) - (f + i fi) conj(q(k)) - (g + i gi) u(k).
        for (int j = 1; j <= l; ++j) {
          f = ar(i, j);
          g = e(j) - hh * f;
          e(j) = g;
          const double fi = -ai(i, j);
          const double gi = tau(2, j) - hh * fi;
          tau(2, j) = -gi;
          for (int k = 1; k <= j; ++k) {
            ar(j, k) = ar(j, k) - f * e(k) - g * ar(i, k) + fi * tau(2, k) + gi * ai(i, k);
            ai(j, k) = ai(j, k) - f * tau(2, k) - g * ai(i, k) - fi * e(k) - gi * ar(i, k);
          }
        }
      }

      // Row i keeps scale times the Householder vector; tau(l) is complete.
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = scale * ar(i, k);
        ai(i, k) = scale * ai(i, k);
      }
      tau(2, l) = -si;
    }

    // d(i) = the reduced diagonal element, ar(i, i) = the original one;
    // ai(i, i) = scale sqrt(h), the normaliser of row i.
    const double hh = d(i);
    d(i) = ar(i, i);
    ar(i, i) = hh;
    ai(i, i) = scale * std::sqrt(h);
  }
}

}  // namespace eigen
