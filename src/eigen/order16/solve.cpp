// The batch, two calls at a time: their reductions, then the rational QL
// iterations or the eigenvectors of the two side by side, in the widest
// vectors the processor has.
#include "eigen/eigen.hpp"
#include "eigen/order16/kernels.hpp"
#include "eigen/order16/order16.hpp"

namespace eigen::order16 {

namespace {

// Calls 1 or 2 of a batch.
void solve_few(Width width, int matz, const Call* calls, int count) {
  Reduction reductions[2];
  for (int q = 0; q < count; ++q) {
    const Call& c = calls[q];
    reductions[q] = {c.ar, c.ai, c.w, c.fv1, c.fv2, c.fm1};
  }
  reduce(width, reductions, count);

  if (matz != 0) {
    vectors(width, Stage::rotations, calls, count);
    vectors(width, Stage::back_transform, calls, count);
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
