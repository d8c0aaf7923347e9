// tql2 in lanes: the implicit QL iterations of a batch's calls at once, one
// in each lane, the rotations of the vectors z in the same lanes. The lanes
// determine eigenvalue l together; each has its own block end m and sweep
// count, takes the rows of its own sweeps only, and is masked once eigenvalue
// l has converged in it, or once it has failed, from then on. Each lane sees
// exactly the operations, in exactly the order, of tql2 on its matrix from
// the identity, as ch passes it.
#pragma once

#include "eigen/order16/ql_steps.hpp"

namespace eigen::order16 {

// The identity in zr, then tql2(16, 16, w, fv1, zr, ierr), of calls[0..count).
template <int W>
void tql2_lanes(const Call* calls, int count, Work<W>& work) {
  using P = Pack<W>;
  using K = Mask<W>;
  const auto d = [&](int i) -> P& { return work.d[i - 1]; };
  const auto e = [&](int i) -> P& { return work.e[i - 1]; };
  const auto z = [&](int i, int k) -> P& { return work.a[k - 1][i - 1]; };
  load(work.d, &Call::w, calls, count);
  load(work.e, &Call::fv1, calls, count);
  for (int k = 1; k <= n; ++k) {
    for (int i = 1; i <= n; ++i) z(i, k) = P::splat(i == k ? 1.0 : 0.0);
  }
  int ierr[batch] = {};

  // From here on e(i) couples rows i and i+1.
  for (int i = 2; i <= n; ++i) e(i - 1) = e(i);
  e(n) = P::splat(0.0);

  P f = P::splat(0.0);  // sum of the shifts
  P b = P::splat(0.0);  // running tolerance
  K going = K::all(true);  // lanes that have not failed

  for (int l = 1; l <= n; ++l) {
    int sweeps[batch] = {};
    const P h = P::splat(eps) * (abs(d(l)) + abs(e(l)));
    b = select(b < h, h, b);

    // m = first row at or after l whose coupling is at most b, or n.
    P mv;
    int m[batch];
    block_end<W>(l, [&](int r) { return abs(e(r)) <= b; }, mv, m);
    K sweeping = going & (mv != P::splat(l));

    for (;;) {
      // Another sweep, or, after max_sweeps, the lane's failure: ierr = l.
      const int last = next_sweep(l, m, sweeps, ierr, going, sweeping);
      if (last == 0) break;

      shift(l, e(l), sweeping, work.d, f);

      // QL sweep over rows m down to l, each rotation applied to z. The
      // rotation divides by the larger of |p| and |e(i)|: with the quotient
      // c, r = sqrt(c^2 + 1), e(i+1) = s (the divisor) r, and then s = c / r,
      // c = 1 / r where |p| >= |e(i)|, s = 1 / r, c = c s elsewhere.
      P p = gather(work.d, m);
      P c = P::splat(1.0);
      P s = P::splat(0.0);
      for (int i = last - 1; i >= l; --i) {
        const K row = sweeping & (P::splat(i) < mv);
        const P g = c * e(i);
        const P hr = c * p;
        const K high = abs(p) >= abs(e(i));
        const P divisor = select(high, p, e(i));
        const P ratio = select(high, e(i), p) / divisor;
        const P r = sqrt(ratio * ratio + P::splat(1.0));
        e(i + 1) = select(row, s * divisor * r, e(i + 1));
        const P inverse = P::splat(1.0) / r;
        s = select(row, select(high, ratio / r, inverse), s);
        c = select(row, select(high, inverse, ratio * s), c);
        p = select(row, c * d(i) - s * g, p);
        d(i + 1) = select(row, hr + s * (c * g + s * d(i)), d(i + 1));
        // z(k, i+1) = s z(k, i) + c z(k, i+1), z(k, i) = c z(k, i) - s z(k, i+1)
        if (!row.any()) continue;
        for (int k = 1; k <= n; ++k) {
          P& x = z(k, i);
          P& t = z(k, i + 1);
          const P y = select(row, s * x + c * t, t);
          x = select(row, c * x - s * t, x);
          t = y;
        }
      }
      e(l) = select(sweeping, s * p, e(l));
      d(l) = select(sweeping, c * p, d(l));
      sweeping = sweeping & (abs(e(l)) > b);
    }
    d(l) = select(going, d(l) + f, d(l));
  }

  // Selection sort of the eigenvalues of the lanes that converged, the
  // vectors exchanged with them: k is the lowest index of the smallest.
  for (int i = 1; i <= n - 1; ++i) {
    P p = d(i);
    P k = P::splat(i);
    for (int j = i + 1; j <= n; ++j) {
      const K lower = d(j) < p;
      k = select(lower, P::splat(j), k);
      p = select(lower, d(j), p);
    }
    const K moved = going & (k != P::splat(i));
    if (!moved.any()) continue;
    const P di = d(i);
    for (int j = i + 1; j <= n; ++j) {
      const K here = moved & (k == P::splat(j));
      if (!here.any()) continue;
      d(j) = select(here, di, d(j));
      for (int r = 1; r <= n; ++r) {
        const P t = z(r, i);
        z(r, i) = select(here, z(r, j), t);
        z(r, j) = select(here, t, z(r, j));
      }
    }
    d(i) = select(moved, p, d(i));
  }

  store(work.d, &Call::w, calls, count);
  store(work.e, &Call::fv1, calls, count);
  for (int q = 0; q < count; ++q) {
    for (int k = 1; k <= n; ++k) {
      for (int i = 1; i <= n; ++i) calls[q].zr[(k - 1) * n + (i - 1)] = z(i, k).lane(q);
    }
    *calls[q].ierr = ierr[q];
  }
}

}  // namespace eigen::order16
