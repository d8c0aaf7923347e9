// The eigenvectors at the fixed order in vectors of W lanes: tql2 of one
// call or of two side by side, and the back transformation of each. A
// template on the width, instantiated once for each instruction set in a file
// of its own, like the reduction.
#pragma once

#include "eigen/order16/back_transform.hpp"
#include "eigen/order16/implicit_ql.hpp"
#include "eigen/order16/kernels.hpp"

namespace eigen::order16 {

// tql2 of count (1 to max_together) calls after their reductions, from the
// identity, their rotations taken in turn.
template <int W>
void rotations_at_width(const Call* calls, int count) {
  const auto ql = [&](int q) {
    const Call& c = calls[q % count];
    return ImplicitQL<W>(c.w, c.fv1, c.zr, *c.ierr);
  };
  ImplicitQL<W> iterations[max_together] = {ql(0), ql(1), ql(2), ql(3)};
  for (int q = 0; q < count; ++q) {
    double* z = calls[q].zr;
    for (int k = 0; k < n * n; ++k) z[k] = 0.0;
    for (int i = 0; i < n; ++i) z[i * n + i] = 1.0;
  }
  implicit_ql<W>(iterations, count);
}

// htribk of each of count calls whose tql2 succeeded.
template <int W>
void back_transforms_at_width(const Call* calls, int count) {
  for (int q = 0; q < count; ++q) {
    const Call& c = calls[q];
    if (*c.ierr == 0) back_transform<W>(c.ar, c.ai, c.fm1, c.zr, c.zi);
  }
}

template <int W>
void vectors_at_width(Stage stage, const Call* calls, int count) {
  if (stage == Stage::rotations) {
    rotations_at_width<W>(calls, count);
  } else {
    back_transforms_at_width<W>(calls, count);
  }
}

}  // namespace eigen::order16
