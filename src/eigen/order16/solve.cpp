// The batch: reductions two at a time in the widest vectors, the rational QL
// iterations of two side by side, the eigenvectors one call at a time.
#include "eigen/eigen.hpp"
#include "eigen/order16/kernels.hpp"
#include "eigen/order16/order16.hpp"

namespace eigen::order16 {

namespace {

// Eigenvectors after the reduction: the rotations of tql2 start from the
// identity, and the back transformation follows only when tql2 succeeded.
void eigenvectors(const Call& c) {
  for (int k = 0; k < n * n; ++k) c.zr[k] = 0.0;
  for (int i = 0; i < n; ++i) c.zr[i * n + i] = 1.0;
  tql2_16(c.w, c.fv1, c.zr, *c.ierr);
  if (*c.ierr != 0) return;
  htribk16(c.ar, c.ai, c.fm1, c.zr, c.zi);
}

// Calls 1 or 2 of a batch.
void solve_few(Width width, int matz, const Call* calls, int count) {
  Reduction reductions[2];
  for (int q = 0; q < count; ++q) {
    const Call& c = calls[q];
    reductions[q] = {c.ar, c.ai, c.w, c.fv1, c.fv2, c.fm1};
  }
  reduce(width, reductions, count);

  if (matz != 0) {
    for (int q = 0; q < count; ++q) eigenvectors(calls[q]);
  } else if (count == 2) {
    double* const d[2] = {calls[0].w, calls[1].w};
    double* const e2[2] = {calls[0].fv2, calls[1].fv2};
    int* const ierr[2] = {calls[0].ierr, calls[1].ierr};
    tqlrat_pair(d, e2, ierr);
  } else {
    tqlrat(n, calls[0].w, calls[0].fv2, *calls[0].ierr);
  }
}

}  // namespace

Width widest() {
  static const Width width = has(Width::eight) ? Width::eight
                             : has(Width::four) ? Width::four
                                                : Width::two;
  return width;
}

void solve(Width width, int matz, const Call* calls, int count) {
  for (int q = 0; q < count; q += 2) solve_few(width, matz, calls + q, count - q < 2 ? 1 : 2);
}

void solve(int matz, const Call* calls, int count) { solve(widest(), matz, calls, count); }

}  // namespace eigen::order16
