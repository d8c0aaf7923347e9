// Vectors of W rows for the reduction at the fixed order, and the matrix
// being reduced in them.
//
// The matrix is reduced in a work copy whose strict upper triangle mirrors
// the lower one, element (j, k) holding the conjugate of (k, j), so that the
// product of each step reads column k in one contiguous run; the conjugate's
// imaginary part is the exact negation, and a + b * (-c) is exactly a - b * c.
// Every element of the work copy and every sum sees exactly the operations, in
// exactly the order, of htridi: vectors only run the rows side by side.
//
// Rows below the block of a step are dead in the work copy: the step that
// finishes row i writes it to ar and ai at once. Their lanes carry zeros in
// the Householder vector and the products, so that the update leaves them
// finite, and nothing reads them again.
#pragma once

#include <cstddef>
#include <cstring>

#include "eigen/order16/kernels.hpp"

namespace eigen::order16 {

// Vectors of W doubles and of W lane masks.
template <int W>
struct VectorTypes {
  typedef double V __attribute__((vector_size(8 * W)));
  typedef long long M __attribute__((vector_size(8 * W)));
};

// Vectors of W doubles, their lane masks, and the operations on them.
template <int W>
struct Lanes {
  static constexpr int nv = n / W;  // vectors in a column
  using V = typename VectorTypes<W>::V;
  using M = typename VectorTypes<W>::M;

  // x in every lane (x - 0 is x exactly, -0 included).
  [[gnu::always_inline]] static V splat(double x) { return x - V{}; }
  // Row indices (from 0) of the lanes of vector v.
  [[gnu::always_inline]] static M rows(int v) {
    return lane_numbers() + static_cast<long long>(W) * v;
  }
  // 0, 1, ..., W - 1.
  [[gnu::always_inline]] static M lane_numbers() {
    M m;
    for (int k = 0; k < W; ++k) m[k] = k;
    return m;
  }
  // a in the lanes of m, b elsewhere.
  [[gnu::always_inline]] static V select(M m, V a, V b) {
    return reinterpret_cast<V>((reinterpret_cast<M>(a) & m) | (reinterpret_cast<M>(b) & ~m));
  }
  // |x| in every lane: the sign bit cleared, as std::fabs does.
  [[gnu::always_inline]] static V abs(V x) {
    return reinterpret_cast<V>(reinterpret_cast<M>(x) & ~reinterpret_cast<M>(splat(-0.0)));
  }
  // The lanes of count vectors, as scalars.
  template <int Count>
  [[gnu::always_inline]] static void spill(const V* x, double* s) {
    for (int v = 0; v < Count; ++v) std::memcpy(s + std::ptrdiff_t{W} * v, &x[v], sizeof(V));
  }
};

// One matrix being reduced: its work copy (column k, rows W v + 1 .. W v + W
// in r[k][v], imaginary parts in i), what a step hands to the next, and the
// caller's arrays.
template <int W>
struct Job {
  using V = typename Lanes<W>::V;
  V r[n][Lanes<W>::nv];
  V i[n][Lanes<W>::nv];
  double next_scale = 0.0;  // the scale of the next row, when it ran along
  bool next_scale_known = false;
  Reduction a;
  // Element (i, k) of a column-major 16 x 16 array; (c, k) of the 2 x 16 tau.
  static std::ptrdiff_t at(int i, int k) { return std::ptrdiff_t{k - 1} * n + (i - 1); }
  static std::ptrdiff_t at2(int c, int k) { return std::ptrdiff_t{k - 1} * 2 + (c - 1); }
};

// Column k (from 0) of the product of the block with conj(u), added to the
// sums pe + i pt of its rows: rows j < k take the conjugate of element (k, j),
// which is the copy (j, k), rows j >= k element (j, k).
template <int W, int Count>
[[gnu::always_inline]] inline void add_column(const Job<W>& w, const double* urs, const double* uis,
                       typename Lanes<W>::V* pe, typename Lanes<W>::V* pt, int k) {
  const auto xr = Lanes<W>::splat(urs[k]);
  const auto xi = Lanes<W>::splat(uis[k]);
  for (int v = 0; v < Count; ++v) {
    pe[v] = pe[v] + w.r[k][v] * xr + w.i[k][v] * xi;
    pt[v] = pt[v] - w.r[k][v] * xi + w.i[k][v] * xr;
  }
}

}  // namespace eigen::order16
