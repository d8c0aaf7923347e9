// tqlrat of up to four tridiagonal matrices of order 16, the rows of their
// sweeps taken in turn, so that the independent chains of divisions of the
// matrices overlap in the processor. Each iteration is written so that it can stop
// after any row of a sweep and go on later; each matrix sees exactly the
// operations, in exactly the order, of tqlrat alone.
#include <cmath>

#include "eigen/eigen.hpp"
#include "eigen/order16/in_turn.hpp"
#include "eigen/order16/kernels.hpp"

namespace eigen::order16 {

namespace {

class RationalQL {
 public:
  RationalQL(double* d, double* e2, int& ierr) : d_(d), e2_(e2), ierr_(ierr) {}

  // Sets up the iteration and runs it up to the first row of a sweep.
  // False when there is nothing left to do.
  bool start() {
    ierr_ = 0;
    // From here on e2(i) couples rows i and i+1.
    for (int i = 2; i <= n; ++i) e2(i - 1) = e2(i);
    e2(n) = 0.0;
    l_ = 1;
    return next_eigenvalue();
  }

  // The rows of a sweep: what one row hands to the next, kept in registers
  // while rows of several iterations are made in turn.
  struct Sweep {
    double g, h, s;
    int i;  // the next row
  };

  // Rows of the current sweep still to be made.
  int rows_left() const { return sweep_.i - l_ + 1; }

  // k rows of each of Count iterations, in turn.
  template <int Count>
  static void rows(RationalQL* const* q, int k) {
    Sweep w[Count];
    double* d[Count];
    double* e2[Count];
    for (int c = 0; c < Count; ++c) {
      w[c] = q[c]->sweep_;
      d[c] = q[c]->d_ - 1;
      e2[c] = q[c]->e2_ - 1;
    }
    for (; k > 0; --k) {
      for (int c = 0; c < Count; ++c) row(w[c], d[c], e2[c], q[c]->b_);
    }
    for (int c = 0; c < Count; ++c) q[c]->sweep_ = w[c];
  }

  // After the last row of a sweep: the convergence test, then another sweep
  // or the next eigenvalues, up to the first row of the next sweep. False
  // when there is nothing left to do.
  bool end_sweep() {
    double e2l = sweep_.s * sweep_.g;
    const double h = sweep_.h;
    d(l_) = h;
    // Converged when the new squared element e2(l) * h is at most c.
    bool converged = h == 0.0 || std::fabs(e2l) <= std::fabs(c_ / h);
    if (!converged) {
      e2l = e2l * h;
      converged = e2l == 0.0;
    }
    e2(l_) = e2l;
    if (!converged) return begin_sweep(e2l);
    insert();
    ++l_;
    return next_eigenvalue();
  }

 private:
  double& d(int i) const { return d_[i - 1]; }
  double& e2(int i) const { return e2_[i - 1]; }

  // Row i of the sweep over rows m down to l; d and e2 indexed from 1, b
  // the tolerance.
  [[gnu::always_inline]] static void row(Sweep& w, double* d, double* e2, const double& b) {
    const int i = w.i--;
    const double p = w.g * w.h;
    const double r = p + e2[i];
    e2[i + 1] = w.s * r;
    w.s = e2[i] / r;
    d[i + 1] = w.h + w.s * (w.h + d[i]);
    w.g = d[i] - e2[i] / w.g;
    if (w.g == 0.0) w.g = b;
    w.h = w.g * p / r;
  }

  // Eigenvalues l, l+1, ... up to the first that needs a sweep.
  bool next_eigenvalue() {
    for (; l_ <= n; ++l_) {
      j_ = 0;
      const double h = eps * (std::fabs(d(l_)) + std::sqrt(e2(l_)));
      if (!(b_ > h)) {
        b_ = h;
        c_ = b_ * b_;
      }
      m_ = l_;
      while (m_ < n && !(e2(m_) <= c_)) ++m_;
      if (m_ != l_) return begin_sweep(e2(l_));
      insert();
    }
    return false;
  }

  // A sweep for eigenvalue l, whose squared sub-diagonal element e2(l) is e2l.
  bool begin_sweep(double e2l) {
    if (j_ == max_sweeps) {
      ierr_ = l_;
      return false;
    }
    ++j_;
    const double s = std::sqrt(e2l);
    const double g = d(l_);
    const double p = (d(l_ + 1) - g) / (2.0 * s);
    const double r = std::copysign(std::sqrt(p * p + 1.0), p);
    d(l_) = s / (p + r);
    const double h = g - d(l_);
    const double dm = d(m_) - h;  // what the shift leaves in d(m), m > l
    for (int i = l_ + 1; i <= n; ++i) d(i) = d(i) - h;
    f_ = f_ + h;
    const double g0 = dm == 0.0 ? b_ : dm;
    sweep_ = {g0, g0, 0.0, m_ - 1};
    return true;
  }

  // Inserts eigenvalue l among those found so far, above any equal ones.
  void insert() {
    const double p = d(l_) + f_;
    int i = l_;
    while (i >= 2 && !(p >= d(i - 1))) {
      d(i) = d(i - 1);
      --i;
    }
    d(i) = p;
  }

  double* d_;
  double* e2_;
  int& ierr_;
  double f_ = 0.0;  // sum of the shifts
  double b_ = 0.0;  // running tolerance
  double c_ = 0.0;  // b * b
  int l_ = 1;       // eigenvalue being determined
  int m_ = 1;       // last row of its block
  int j_ = 0;       // sweeps made for it
  Sweep sweep_ = {0.0, 0.0, 0.0, 0};
};

}  // namespace

void tqlrat_together(double* const* d, double* const* e2, int* const* ierr, int count) {
  const auto ql = [&](int q) { return RationalQL(d[q % count], e2[q % count], *ierr[q % count]); };
  RationalQL q[max_together] = {ql(0), ql(1), ql(2), ql(3)};
  run_together(q, count);
}

}  // namespace eigen::order16
