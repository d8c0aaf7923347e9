// One batch at width W: ch's steps for its calls over the lane kernels, a
// call that leaves the reduction's common way handed to htridi itself; each
// width's file instantiates it for its instruction set.
#pragma once

#include "eigen/eigen.hpp"
#include "eigen/order16/htribk_columns.hpp"
#include "eigen/order16/htridi_lanes.hpp"
#include "eigen/order16/tql2_lanes.hpp"
#include "eigen/order16/tqlrat_lanes.hpp"
#include "eigen/order16/widths.hpp"

namespace eigen::order16 {

template <int W>
void solve_batch(int matz, const Call* calls, int count, Reads reads, Workspace& space) {
  // The lanes take a whole batch's time: one call is quicker alone.
  if (const Call& c = calls[0]; count == 1) {
    return ch_plain(n, n, c.ar, c.ai, c.w, matz, c.zr, c.zi, c.fv1, c.fv2, c.fm1, *c.ierr,
                    htribk_columns<W>);
  }
  Work<W>& work = Work<W>::over(space);
  const bool values_only = matz == 0 && reads == Reads::values;
  const unsigned handed_on = htridi_lanes<W>(calls, count, values_only, work);
  for (int q = 0; q < count; ++q) {
    const Call& c = calls[q];
    if (handed_on >> q & 1u) htridi(n, n, c.ar, c.ai, c.w, c.fv1, c.fv2, c.fm1);
  }
  if (matz == 0) return tqlrat_lanes<W>(calls, count, work);
  tql2_lanes<W>(calls, count, work);
  for (int q = 0; q < count; ++q) {
    const Call& c = calls[q];
    if (*c.ierr == 0) htribk_columns<W>(n, n, c.ar, c.ai, c.fm1, n, c.zr, c.zi);
  }
}

}  // namespace eigen::order16
