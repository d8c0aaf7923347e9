// The batch, four calls at a time: their reductions two by two, then the
// rational QL iterations or the eigenvectors of the four side by side, in
// the widest vectors the processor has.
#include "eigen/eigen.hpp"
#include "eigen/order16/kernels.hpp"
#include "eigen/order16/order16.hpp"

namespace eigen::order16 {

namespace {

// Calls 1 to 4 of a batch: the reductions two at a time, then the QL
// iterations of all together.
void solve_few(Width width, int matz, const Call* calls, int count) {
  Reduction reductions[4];
  double* d[4];
  double* e2[4];
  int* ierr[4];
  for (int q = 0; q < count; ++q) {
    const Call& c = calls[q];
    reductions[q] = {c.ar, c.ai, c.w, c.fv1, c.fv2, c.fm1};
    d[q] = c.w;
    e2[q] = c.fv2;
    ierr[q] = c.ierr;
  }
  for (int q = 0; q < count; q += 2) reduce(width, reductions + q, count - q < 2 ? 1 : 2);

  if (matz != 0) {
    vectors(width, Stage::rotations, calls, count);
    vectors(width, Stage::back_transform, calls, count);
  } else {
    tqlrat_together(d, e2, ierr, count);
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
  for (int q = 0; q < count; q += 4) solve_few(width, matz, calls + q, count - q < 4 ? count - q : 4);
}

void solve(int matz, const Call* calls, int count) { solve(widest(), matz, calls, count); }

}  // namespace eigen::order16
