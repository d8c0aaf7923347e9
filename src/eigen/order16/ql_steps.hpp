// What the two QL iterations in lanes, tqlrat_lanes and tql2_lanes, share:
// the search for the end of the block, the count of the sweeps with the
// failure after the last, and the shift that starts a sweep.
#pragma once

#include "eigen/eigen.hpp"
#include "eigen/order16/lanes.hpp"

namespace eigen::order16 {

// m of each lane, from 1: the first row r in l..n-1 whose coupling is small
// (small(r) holds in its lane), n where none is.
template <int W, typename Small>
[[gnu::always_inline]] inline void block_end(int l, Small small, Pack<W>& mv, int* m) {
  mv = Pack<W>::splat(n);
  Mask<W> found = Mask<W>::all(false);
  for (int r = l; r < n; ++r) {
    const Mask<W> here = (!found) & small(r);
    mv = select(here, Pack<W>::splat(r), mv);
    found = found | here;
  }
  for (int q = 0; q < batch; ++q) m[q] = static_cast<int>(mv.lane(q));
}

// The start of another sweep for eigenvalue l in the lanes that sweep, whose
// blocks end at m[q]: the lanes that have made max_sweeps sweeps fail instead
// (ierr = l, and they are masked from then on), the others count one more.
// Returns the largest m of the lanes that sweep, 0 when none does.
template <int W>
int next_sweep(int l, const int* m, int* sweeps, int* ierr, Mask<W>& going, Mask<W>& sweeping) {
  int last = 0;
  for (int q = 0; q < batch; ++q) {
    if (!sweeping.lane(q)) continue;
    if (sweeps[q] == max_sweeps) {
      ierr[q] = l;
      going.clear(q);
      sweeping.clear(q);
    } else {
      ++sweeps[q];
      if (m[q] > last) last = m[q];
    }
  }
  return last;
}

// The shift of a sweep for eigenvalue l in the lanes that sweep, el the
// coupling e(l): by h, the eigenvalue of the 2 x 2 block of rows l, l+1
// nearer to d(l); p = (d(l+1) - d(l)) / 2e(l), r = sign(p) sqrt(p^2 + 1),
// d(l) = e(l) / (p + r), h = d(l) before less after; d(i) = d(i) - h for
// i > l, and f = f + h. d indexed from 1.
template <int W>
[[gnu::always_inline]] inline void shift(int l, const Pack<W>& el, const Mask<W>& sweeping,
                                         Pack<W>* d, Pack<W>& f) {
  using P = Pack<W>;
  const P g = d[l - 1];
  const P p = (d[l] - g) / (P::splat(2.0) * el);
  const P r = copysign(sqrt(p * p + P::splat(1.0)), p);
  d[l - 1] = select(sweeping, el / (p + r), d[l - 1]);
  const P h = g - d[l - 1];
  for (int i = l + 1; i <= n; ++i) d[i - 1] = select(sweeping, d[i - 1] - h, d[i - 1]);
  f = select(sweeping, f + h, f);
}

}  // namespace eigen::order16
