// tqlrat in lanes: the rational QL iterations of a batch's calls at once,
// one in each lane. The lanes determine eigenvalue l together; each has its
// own block end m and sweep count, takes the rows of its own sweeps only, and
// is masked once eigenvalue l has converged in it, or once it has failed,
// from then on. Each lane sees exactly the operations, in exactly the order,
// of tqlrat on its matrix.
#pragma once

#include "eigen/order16/ql_steps.hpp"

namespace eigen::order16 {

// tqlrat(16, w, fv2, ierr) of calls[0..count).
template <int W>
void tqlrat_lanes(const Call* calls, int count, Work<W>& work) {
  using P = Pack<W>;
  using K = Mask<W>;
  const auto d = [&](int i) -> P& { return work.d[i - 1]; };
  const auto e2 = [&](int i) -> P& { return work.e2[i - 1]; };
  load(work.d, &Call::w, calls, count);
  load(work.e2, &Call::fv2, calls, count);
  int ierr[batch] = {};

  // From here on e2(i) couples rows i and i+1.
  for (int i = 2; i <= n; ++i) e2(i - 1) = e2(i);
  e2(n) = P::splat(0.0);

  P f = P::splat(0.0);  // sum of the shifts
  P b = P::splat(0.0);  // running tolerance
  P c = P::splat(0.0);  // b * b
  K going = K::all(true);  // lanes that have not failed

  for (int l = 1; l <= n; ++l) {
    int sweeps[batch] = {};
    // b = max(b, eps (|d(l)| + |e(l)|)), c = b^2
    P h = P::splat(eps) * (abs(d(l)) + sqrt(e2(l)));
    const K raise = !(b > h);
    b = select(raise, h, b);
    c = select(raise, b * b, c);

    // m = first row at or after l whose squared coupling is at most c, or n.
    P mv;
    int m[batch];
    block_end<W>(l, [&](int r) { return e2(r) <= c; }, mv, m);
    K sweeping = going & (mv != P::splat(l));

    for (;;) {
      // Another sweep, or, after max_sweeps, the lane's failure: ierr = l.
      const int last = next_sweep(l, m, sweeps, ierr, going, sweeping);
      if (last == 0) break;

      shift(l, sqrt(e2(l)), sweeping, work.d, f);

      // Rational QL sweep over rows m down to l, on the squares only; a zero
      // divisor g is replaced by the tolerance b.
      P g = gather(work.d, m);
      g = select(g == P::splat(0.0), b, g);
      h = g;
      P s = P::splat(0.0);
      for (int i = last - 1; i >= l; --i) {
        const K row = sweeping & (P::splat(i) < mv);
        const P p = g * h;
        const P r = p + e2(i);
        e2(i + 1) = select(row, s * r, e2(i + 1));
        s = select(row, e2(i) / r, s);
        d(i + 1) = select(row, h + s * (h + d(i)), d(i + 1));
        const P gn = d(i) - e2(i) / g;
        g = select(row, select(gn == P::splat(0.0), b, gn), g);
        h = select(row, g * p / r, h);
      }
      e2(l) = select(sweeping, s * g, e2(l));
      d(l) = select(sweeping, h, d(l));

      // Converged when the new squared element e2(l) h is at most c.
      K converged = (h == P::splat(0.0)) | (abs(e2(l)) <= abs(c / h));
      const P e2h = e2(l) * h;
      e2(l) = select(sweeping & !converged, e2h, e2(l));
      converged = converged | (e2h == P::splat(0.0));
      sweeping = sweeping & !converged;
    }

    // Insert d(l) + f among the eigenvalues found so far, above equal ones.
    const P pl = d(l) + f;
    K moving = going;
    for (int i = l; i >= 2; --i) {
      const K down = moving & !(pl >= d(i - 1));
      d(i) = select(down, d(i - 1), select(moving, pl, d(i)));
      moving = down;
    }
    d(1) = select(moving, pl, d(1));
  }

  store(work.d, &Call::w, calls, count);
  store(work.e2, &Call::fv2, calls, count);
  for (int q = 0; q < count; ++q) *calls[q].ierr = ierr[q];
}

}  // namespace eigen::order16
