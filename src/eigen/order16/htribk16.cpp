// htribk at the fixed order with all sixteen vectors: the vectors are worked
// on row by row, in local copies, so that the sixteen columns run side by
// side in vectors. Every element sees the operations of htribk, in its order.
#include "eigen/order16/kernels.hpp"

namespace eigen::order16 {

namespace {

// A 16 x 16 matrix held row by row (rows = true) or column by column, with
// indices from 1: element (k, j).
template <typename T, bool rows>
class Matrix16 {
 public:
  explicit Matrix16(T* p) : p_(p) {}
  T& operator()(int k, int j) const {
    return rows ? p_[(k - 1) * n + (j - 1)] : p_[(j - 1) * n + (k - 1)];
  }

 private:
  T* p_;
};

using Columns = Matrix16<const double, false>;
using Rows = Matrix16<double, true>;

// z = (I - conj(u) u^T / h^2) z for the Householder vector u of row i (its
// normaliser h), all sixteen columns of z side by side.
inline void reflect(const Columns& ar, const Columns& ai, const Rows& zr, const Rows& zi, int i,
                    double h) {
  const int l = i - 1;
  // sigma(j) = sum of u(k) z(k, j) without conjugation
  double s[n] = {};
  double si[n] = {};
  for (int k = 1; k <= l; ++k) {
    for (int c = 0; c < n; ++c) {
      s[c] = s[c] + ar(i, k) * zr(k, c + 1) - ai(i, k) * zi(k, c + 1);
      si[c] = si[c] + ar(i, k) * zi(k, c + 1) + ai(i, k) * zr(k, c + 1);
    }
  }
  // sigma / h / h: two divisions, not one by h * h
  for (int c = 0; c < n; ++c) {
    s[c] = (s[c] / h) / h;
    si[c] = (si[c] / h) / h;
  }
  // z(k) = z(k) - sigma conj(u(k))
  for (int k = 1; k <= l; ++k) {
    for (int c = 0; c < n; ++c) {
      zr(k, c + 1) = zr(k, c + 1) - s[c] * ar(i, k) - si[c] * ai(i, k);
      zi(k, c + 1) = zi(k, c + 1) - si[c] * ar(i, k) + s[c] * ai(i, k);
    }
  }
}

}  // namespace

void htribk16(const double* __restrict ar_, const double* __restrict ai_,
              const double* __restrict tau_, double* __restrict zr_, double* __restrict zi_) {
  const Columns ar(ar_);
  const Columns ai(ai_);
  const Matrix16<double, false> zr(zr_);
  const Matrix16<double, false> zi(zi_);
  const auto tau = [tau_](int c, int k) { return tau_[(k - 1) * 2 + (c - 1)]; };
  double zr_rows[n * n];
  double zi_rows[n * n];
  const Rows yr(zr_rows);
  const Rows yi(zi_rows);

  // z(k, j) = conj(tau(k)) z(k, j)
  for (int k = 1; k <= n; ++k) {
    for (int j = 1; j <= n; ++j) {
      yi(k, j) = -(zr(k, j) * tau(2, k));
      yr(k, j) = zr(k, j) * tau(1, k);
    }
  }
  // The reflections of rows 2..n, ascending; a normaliser 0 means none.
  for (int i = 2; i <= n; ++i) {
    const double h = ai(i, i);
    if (h != 0.0) reflect(ar, ai, yr, yi, i, h);
  }
  for (int j = 1; j <= n; ++j) {
    for (int k = 1; k <= n; ++k) {
      zr(k, j) = yr(k, j);
      zi(k, j) = yi(k, j);
    }
  }
}

}  // namespace eigen::order16
