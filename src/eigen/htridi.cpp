#include <cmath>

#include "eigen/eigen.hpp"
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

  tau(1, n) = 1.0;
  tau(2, n) = 0.0;

  for (int i = 1; i <= n; ++i) d(i) = ar(i, i);

  // Rows n down to 1, one Householder reflection each.
  for (int ii = 1; ii <= n; ++ii) {
    const int i = n + 1 - ii;
    const int l = i - 1;
    double h = 0.0;
    double scale = 0.0;

    bool zero_row = true;
    if (l >= 1) {
      // scale = sum of |Re| + |Im| of the row left of the diagonal
      for (int k = 1; k <= l; ++k) scale = scale + std::fabs(ar(i, k)) + std::fabs(ai(i, k));
      if (scale == 0.0) {
        // A zero row restarts the phase factors.
        tau(1, l) = 1.0;
        tau(2, l) = 0.0;
      } else {
        zero_row = false;
      }
    }

    if (zero_row) {
      e(i) = 0.0;
      e2(i) = 0.0;
    } else {
      // Divide the row by scale; h = its squared norm.
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = ar(i, k) / scale;
        ai(i, k) = ai(i, k) / scale;
        h = h + ar(i, k) * ar(i, k) + ai(i, k) * ai(i, k);
      }

      e2(i) = scale * scale * h;
      double g = std::sqrt(h);
      e(i) = scale * g;
      double f = complex_modulus(ar(i, l), ai(i, l));
      double si;
      bool update = true;

      if (f != 0.0) {
        // Next phase factor from the element next to the diagonal.
        tau(1, l) = (ai(i, l) * tau(2, i) - ar(i, l) * tau(1, i)) / f;
        si = (ar(i, l) * tau(2, i) + ai(i, l) * tau(1, i)) / f;
        h = h + f * g;
        g = 1.0 + g / f;
        ar(i, l) = g * ar(i, l);
        ai(i, l) = g * ai(i, l);
        if (l == 1) update = false;
      } else {
        tau(1, l) = -tau(1, i);
        si = tau(2, i);
        ar(i, l) = g;
      }

      if (update) {
        // (e + i tau(2, .)) = (leading l x l block) * conj(row i) / h; f = its product with row i.
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

        const double hh = f / (h + h);

        // Rank-two update of the lower triangle of the leading l x l block.
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

      // Keep scale times the Householder vector in row i.
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = scale * ar(i, k);
        ai(i, k) = scale * ai(i, k);
      }
      tau(2, l) = -si;
    }

    // Swap the reduced diagonal element into d, restore the original; normaliser of row i.
    const double hh = d(i);
    d(i) = ar(i, i);
    ar(i, i) = hh;
    ai(i, i) = scale * std::sqrt(h);
  }
}

}  // namespace eigen
