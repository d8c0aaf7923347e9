// htribk of one call at the fixed order with all sixteen vectors, in
// vectors of W columns: the vectors are worked on row by row in local copies,
// so that the sixteen columns run side by side. Every element sees the
// operations of htribk, in its order.
#pragma once

#include <cstddef>

#include "eigen/order16/lanes.hpp"

namespace eigen::order16 {

// htribk(16, 16, ar, ai, tau, 16, zr, zi): nm, n and m must be 16.
template <int W>
void htribk_columns(int /*nm*/, int /*n*/, const double* __restrict ar, const double* __restrict ai,
                    const double* __restrict tau, int /*m*/, double* __restrict zr,
                    double* __restrict zi) {
  using V = typename Pack<W>::V;
  const auto splat = [](double x) { return x - V{}; };  // x - 0 is x, -0 included
  constexpr int nv = n / W;
  const auto at = [](int i, int k) { return (k - 1) * n + (i - 1); };
  // Row k of the vectors: columns W v + 1 .. W v + W in yr[k - 1][v].
  V yr[n][nv];
  V yi[n][nv];

  // z(k, j) = conj(tau(k)) z(k, j)
  for (int k = 1; k <= n; ++k) {
    const double t1 = tau[std::ptrdiff_t{k - 1} * 2];
    const double t2 = tau[std::ptrdiff_t{k - 1} * 2 + 1];
    for (int j = 0; j < n; ++j) {
      yi[k - 1][j / W][j % W] = -(zr[at(k, j + 1)] * t2);
      yr[k - 1][j / W][j % W] = zr[at(k, j + 1)] * t1;
    }
  }

  // z = (I - conj(u) u^T / h^2) z for the Householder vector u of each row
  // i = 2..n, ascending; a normaliser h of 0 means no reflection.
  for (int i = 2; i <= n; ++i) {
    const int l = i - 1;
    const double h = ai[at(i, i)];
    if (h == 0.0) continue;
    // sigma(j) = sum of u(k) z(k, j) without conjugation
    V s[nv] = {};
    V si[nv] = {};
    for (int k = 1; k <= l; ++k) {
      const V ur = splat(ar[at(i, k)]);
      const V ui = splat(ai[at(i, k)]);
      for (int v = 0; v < nv; ++v) {
        s[v] = s[v] + ur * yr[k - 1][v] - ui * yi[k - 1][v];
        si[v] = si[v] + ur * yi[k - 1][v] + ui * yr[k - 1][v];
      }
    }
    // sigma / h / h: two divisions, not one by h * h
    const V hv = splat(h);
    for (int v = 0; v < nv; ++v) {
      s[v] = s[v] / hv / hv;
      si[v] = si[v] / hv / hv;
    }
    // z(k) = z(k) - sigma conj(u(k))
    for (int k = 1; k <= l; ++k) {
      const V ur = splat(ar[at(i, k)]);
      const V ui = splat(ai[at(i, k)]);
      for (int v = 0; v < nv; ++v) {
        yr[k - 1][v] = yr[k - 1][v] - s[v] * ur - si[v] * ui;
        yi[k - 1][v] = yi[k - 1][v] - si[v] * ur + s[v] * ui;
      }
    }
  }

  for (int k = 1; k <= n; ++k) {
    for (int j = 0; j < n; ++j) {
      zr[at(k, j + 1)] = yr[k - 1][j / W][j % W];
      zi[at(k, j + 1)] = yi[k - 1][j / W][j % W];
    }
  }
}

}  // namespace eigen::order16
