#include "eigen/eigen.hpp"
#include "eigen/views.hpp"

namespace eigen {

namespace {

// An N x N matrix held row by row: element (k, j) at p[(k-1)*N + (j-1)].
template <int N>
class RowMajor {
 public:
  explicit RowMajor(double* p) : p_(p) {}
  double& operator()(int k, int j) const { return p_[(k - 1) * N + (j - 1)]; }

 private:
  double* p_;
};

// Applies the Householder reflection stored in row i (normaliser h) to the
// columns j..j+W-1 of the vectors, side by side: their sums are independent.
template <int W, typename Reduction, typename Vectors>
inline void reflect(const Reduction& ar, const Reduction& ai, const Vectors& zr,
                    const Vectors& zi, int i, double h, int j) {
  const int l = i - 1;
  // sigma = sum of u(k) z(k) without conjugation, u the vector of row i
  double s[W] = {};
  double si[W] = {};
  for (int k = 1; k <= l; ++k) {
    for (int c = 0; c < W; ++c) {
      s[c] = s[c] + ar(i, k) * zr(k, j + c) - ai(i, k) * zi(k, j + c);
      si[c] = si[c] + ar(i, k) * zi(k, j + c) + ai(i, k) * zr(k, j + c);
    }
  }
  // sigma / h / h: two divisions, not one by h * h
  for (int c = 0; c < W; ++c) {
    s[c] = (s[c] / h) / h;
    si[c] = (si[c] / h) / h;
  }
  // z(k) = z(k) - sigma conj(u(k))
  for (int k = 1; k <= l; ++k) {
    for (int c = 0; c < W; ++c) {
      zr(k, j + c) = zr(k, j + c) - s[c] * ar(i, k) - si[c] * ai(i, k);
      zi(k, j + c) = zi(k, j + c) - si[c] * ar(i, k) + s[c] * ai(i, k);
    }
  }
}

template <typename Order>
void htribk_body(Order nm, Order n, const double* __restrict ar_, const double* __restrict ai_,
                 const double* __restrict tau_, Order m, double* __restrict zr_,
                 double* __restrict zi_) {
  const Matrix1<const double, Order> ar(ar_, nm);
  const Matrix1<const double, Order> ai(ai_, nm);
  const Matrix1<const double, std::integral_constant<int, 2>> tau(tau_, {});
  const Matrix1<double, Order> zr(zr_, nm);
  const Matrix1<double, Order> zi(zi_, nm);

  if (m == 0) return;

  if constexpr (!std::is_same_v<Order, int>) {
    // At the fixed order the vectors are worked on row by row, in local
    // copies, so that the sixteen columns run side by side in vectors.
    constexpr int N = Order::value;
    double zr_rows[N * N];
    double zi_rows[N * N];
    const RowMajor<N> yr(zr_rows);
    const RowMajor<N> yi(zi_rows);

    // Row k of every vector times the conjugate of the phase factor of row k.
    for (int k = 1; k <= N; ++k) {
      for (int j = 1; j <= N; ++j) {
        yi(k, j) = -(zr(k, j) * tau(2, k));
        yr(k, j) = zr(k, j) * tau(1, k);
      }
    }
    // Householder reflections of rows 2..n, ascending.
    for (int i = 2; i <= N; ++i) {
      const double h = ai(i, i);
      if (h != 0.0) reflect<N>(ar, ai, yr, yi, i, h, 1);
    }
    for (int j = 1; j <= N; ++j) {
      for (int k = 1; k <= N; ++k) {
        zr(k, j) = yr(k, j);
        zi(k, j) = yi(k, j);
      }
    }
    return;
  }

  // Row k of every vector times the conjugate of the phase factor of row k.
  for (int k = 1; k <= n; ++k) {
    for (int j = 1; j <= m; ++j) {
      zi(k, j) = -(zr(k, j) * tau(2, k));
      zr(k, j) = zr(k, j) * tau(1, k);
    }
  }

  if (n == 1) return;

  // Householder reflections of rows 2..n, ascending.
  for (int i = 2; i <= n; ++i) {
    const double h = ai(i, i);
    if (h == 0.0) continue;  // row i carries no reflection

    // Columns four at a time.
    int j = 1;
    for (; j + 3 <= m; j += 4) reflect<4>(ar, ai, zr, zi, i, h, j);
    for (; j <= m; ++j) reflect<1>(ar, ai, zr, zi, i, h, j);
  }
}

}  // namespace

void htribk(int nm, int n, const double* ar, const double* ai, const double* tau, int m,
            double* zr, double* zi) {
  htribk_body(nm, n, ar, ai, tau, m, zr, zi);
}

void fixed::htribk(const double* ar, const double* ai, const double* tau, double* zr, double* zi) {
  htribk_body(Order16{}, Order16{}, ar, ai, tau, Order16{}, zr, zi);
}

}  // namespace eigen
