// The batch, four calls at a time: their reductions two by two, then the
// rational QL iterations or the eigenvectors of the four side by side, in
// the widest vectors the processor has.
#include "eigen/eigen.hpp"
#include "eigen/order16/kernels.hpp"
#include "eigen/order16/order16.hpp"

namespace eigen::order16 {

namespace {

constexpr int lanes_of_batch = 8;

// Calls 1 to 8 of a batch: their reductions, eight at once in the lanes of
// vectors when they all take the common way, otherwise two at a time; then
// the QL iterations of four at a time side by side.
void solve_few(Width width, int matz, const Call* calls, int count, Reads reads) {
  Reduction reductions[lanes_of_batch];
  double* d[lanes_of_batch];
  double* e2[lanes_of_batch];
  int* ierr[lanes_of_batch];
  for (int q = 0; q < count; ++q) {
    const Call& c = calls[q];
    reductions[q] = {c.ar, c.ai, c.w, c.fv1, c.fv2, c.fm1};
    d[q] = c.w;
    e2[q] = c.fv2;
    ierr[q] = c.ierr;
  }
  const bool values_only = matz == 0 && reads == Reads::values;
  if (count < lanes_of_batch || !reduce_in_lanes(width, reductions, values_only)) {
    for (int q = 0; q < count; q += 2) reduce(width, reductions + q, count - q < 2 ? 1 : 2);
  }

  for (int q = 0; q < count; q += 4) {
    const int together = count - q < 4 ? count - q : 4;
    if (matz != 0) {
      vectors(width, Stage::rotations, calls + q, together);
      vectors(width, Stage::back_transform, calls + q, together);
    } else {
      tqlrat_together(d + q, e2 + q, ierr + q, together);
    }
  }
}

}  // namespace

Width widest() {
  static const Width width = has(Width::eight) ? Width::eight
                             : has(Width::four) ? Width::four
                                                : Width::two;
  return width;
}

void solve(Width width, int matz, const Call* calls, int count, Reads reads) {
  for (int q = 0; q < count; q += lanes_of_batch) {
    solve_few(width, matz, calls + q, count - q < lanes_of_batch ? count - q : lanes_of_batch,
              reads);
  }
}

void solve(int matz, const Call* calls, int count, Reads reads) {
  solve(widest(), matz, calls, count, reads);
}

}  // namespace eigen::order16
