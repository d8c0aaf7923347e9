// tql2 at the fixed order, written so that an iteration can stop after any
// rotation and go on later: two tridiagonal matrices then take their
// rotations in turn, and the independent chains of divisions and square
// roots of the two overlap in the processor. The rotations of the vectors
// run in vectors of W rows. Each matrix sees exactly the operations, in
// exactly the order, of tql2 alone.
#pragma once

#include <cstddef>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "eigen/eigen.hpp"
#include "eigen/order16/in_turn.hpp"
#include "eigen/order16/lanes.hpp"

namespace eigen::order16 {

template <int W>
class ImplicitQL {
 public:
  // z: the 16 x 16 column-major vectors, rotated in place.
  ImplicitQL(double* d, double* e, double* z, int& ierr) : d_(d), e_(e), z_(z), ierr_(ierr) {}

  // Sets up the iteration and runs it up to the first rotation of a sweep.
  // False when there is nothing left to do.
  bool start() {
    ierr_ = 0;
    // From here on e(i) couples rows i and i+1.
    for (int i = 2; i <= n; ++i) e(i - 1) = e(i);
    e(n) = 0.0;
    l_ = 1;
    return next_eigenvalue();
  }

  // The rotations of a sweep: what one hands to the next, kept in
  // registers while rotations of several iterations are made in turn.
  struct Sweep {
    double p, c, s;
    int i;  // the next rotation
  };

  // Rotations of the current sweep still to be made.
  int rows_left() const { return sweep_.i - l_ + 1; }

  // k rotations of each of Count iterations, in turn.
  template <int Count>
  static void rows(ImplicitQL* const* q, int k) {
    Sweep w[Count];
    double* d[Count];
    double* e[Count];
    double* z[Count];
    for (int c = 0; c < Count; ++c) {
      w[c] = q[c]->sweep_;
      d[c] = q[c]->d_ - 1;
      e[c] = q[c]->e_ - 1;
      z[c] = q[c]->z_ - n;
    }
    for (; k > 0; --k) {
      for (int c = 0; c < Count; ++c) row(w[c], d[c], e[c], z[c]);
    }
    for (int c = 0; c < Count; ++c) q[c]->sweep_ = w[c];
  }

  // After the last rotation of a sweep: another sweep, or the next
  // eigenvalues up to the first rotation of the next sweep. False when there
  // is nothing left to do.
  bool end_sweep() {
    e(l_) = sweep_.s * sweep_.p;
    d(l_) = sweep_.c * sweep_.p;
    if (std::fabs(e(l_)) > b_) return begin_sweep();
    d(l_) = d(l_) + f_;
    ++l_;
    return next_eigenvalue();
  }

  // Once nothing is left: on success, the eigenvalues in ascending order
  // with their vectors (selection sort; the lowest index of the smallest).
  void finish() {
    if (ierr_ != 0) return;
    for (int i = 1; i <= n - 1; ++i) {
      double* const smallest = std::min_element(d_ + i - 1, d_ + n);
      const int k = static_cast<int>(smallest - d_) + 1;
      if (k == i) continue;
      const double p = *smallest;
      d(k) = d(i);
      d(i) = p;
      std::swap_ranges(column(i), column(i) + n, column(k));
    }
  }

 private:
  using V = typename Lanes<W>::V;

  double& d(int i) const { return d_[i - 1]; }
  double& e(int i) const { return e_[i - 1]; }
  double* column(int k) const { return z_ + std::ptrdiff_t{k - 1} * n; }

  // Eigenvalues l, l+1, ... up to the first that needs a sweep.
  bool next_eigenvalue() {
    for (; l_ <= n; ++l_) {
      j_ = 0;
      const double h = eps * (std::fabs(d(l_)) + std::fabs(e(l_)));
      if (b_ < h) b_ = h;
      // The search ends at n even when the tolerance is not a number.
      m_ = l_;
      while (m_ < n && !(std::fabs(e(m_)) <= b_)) ++m_;
      if (m_ != l_) return begin_sweep();
      d(l_) = d(l_) + f_;
    }
    return false;
  }

  // A sweep for eigenvalue l: the shift by the eigenvalue of the leading
  // 2 x 2 block nearer to d(l), then the rotations from m down.
  bool begin_sweep() {
    if (j_ == max_sweeps) {
      ierr_ = l_;
      return false;
    }
    ++j_;
    const double g = d(l_);
    const double p = (d(l_ + 1) - g) / (2.0 * e(l_));
    const double r = std::copysign(std::sqrt(p * p + 1.0), p);
    d(l_) = e(l_) / (p + r);
    const double h = g - d(l_);
    for (int i = l_ + 1; i <= n; ++i) d(i) = d(i) - h;
    f_ = f_ + h;
    sweep_ = {d(m_), 1.0, 0.0, m_ - 1};
    return true;
  }

  // The rotation of rows i and i+1, the next of the sweep from m down to l,
  // applied to columns i and i+1 of z; d, e and the columns of z indexed
  // from 1.
  [[gnu::always_inline]] static void row(Sweep& w, double* d, double* e, double* z) {
    const int i = w.i--;
    const double g = w.c * e[i];
    const double h = w.c * w.p;
    if (std::fabs(w.p) >= std::fabs(e[i])) {
      w.c = e[i] / w.p;
      const double r = std::sqrt(w.c * w.c + 1.0);
      e[i + 1] = w.s * w.p * r;
      w.s = w.c / r;
      w.c = 1.0 / r;
    } else {
      w.c = w.p / e[i];
      const double r = std::sqrt(w.c * w.c + 1.0);
      e[i + 1] = w.s * e[i] * r;
      w.s = 1.0 / r;
      w.c = w.c * w.s;
    }
    w.p = w.c * d[i] - w.s * g;
    d[i + 1] = h + w.s * (w.c * g + w.s * d[i]);
    // z(k, i+1) = s z(k, i) + c z(k, i+1), z(k, i) = c z(k, i) - s z(k, i+1)
    const V c = Lanes<W>::splat(w.c);
    const V s = Lanes<W>::splat(w.s);
    double* a = z + std::ptrdiff_t{i} * n;
    double* b = a + n;
    for (int v = 0; v < n / W; ++v) {
      V x, t;
      std::memcpy(&x, a + std::ptrdiff_t{W} * v, sizeof x);
      std::memcpy(&t, b + std::ptrdiff_t{W} * v, sizeof t);
      const V y = s * x + c * t;
      x = c * x - s * t;
      std::memcpy(b + std::ptrdiff_t{W} * v, &y, sizeof y);
      std::memcpy(a + std::ptrdiff_t{W} * v, &x, sizeof x);
    }
  }

  double* d_;
  double* e_;
  double* z_;
  int& ierr_;
  double f_ = 0.0;  // sum of the shifts
  double b_ = 0.0;  // running tolerance
  int l_ = 1;       // eigenvalue being determined
  int m_ = 1;       // last row of its block
  int j_ = 0;       // sweeps made for it
  Sweep sweep_ = {0.0, 1.0, 0.0, 0};
};

// tql2(16, 16, d, e, z, ierr) of count (1 to max_together) matrices, their
// rotations taken in turn.
template <int W>
void implicit_ql(ImplicitQL<W>* ql, int count) {
  run_together(ql, count);
  for (int q = 0; q < count; ++q) ql[q].finish();
}

}  // namespace eigen::order16
