#include "sweep/passes.hpp"

#include "eigen/eigen.hpp"
#include "eigen/order16/order16.hpp"

namespace sweep {

static_assert(eigen::order16::takes(Pass::n, Pass::n), "the passes take the fast paths of ch");

void PassBatch::solve() {
  eigen::order16::Call calls[size];
  for (int k = 0; k < count_; ++k) {
    Pass& p = passes_[k];
    calls[k] = {p.ar, p.ai, p.w, p.zr, p.zi, p.fv1, p.fv2, p.fm1, &p.ierr};
  }
  // The sweep reads w and ierr of each pass, nothing else.
  eigen::order16::solve(eigen::order16::widest(), matz_, calls, count_,
                        eigen::order16::Reads::values, work_);
}

}  // namespace sweep
