// htridi in lanes: the matrices of a batch's calls reduced at once, one in
// each lane of every value. Each lane sees exactly the operations, in exactly
// the order, of htridi on its matrix along the common way through every row:
// a row that is not zero, an element next to the diagonal that is not
// negligible and whose modulus needs no scaling. A lane that leaves that way
// anywhere goes on with meaningless values and writes nothing; its call is
// handed to htridi itself.
#pragma once

#include <cstddef>
#include <limits>

#include "eigen/modulus.hpp"
#include "eigen/order16/lanes.hpp"

namespace eigen::order16 {

// htridi(16, 16, ar, ai, w, fv1, fv2, fm1) of calls[0..count), written for
// the calls whose lanes kept to the common way; returns the others, lane q
// as bit q. values_only: only w and fv2 are written.
template <int W>
unsigned htridi_lanes(const Call* calls, int count, bool values_only, Work<W>& work) {
  using P = Pack<W>;
  using K = Mask<W>;
  const auto ar = [&](int i, int k) -> P& { return work.a[k - 1][i - 1]; };
  const auto ai = [&](int i, int k) -> P& { return work.b[k - 1][i - 1]; };
  const auto d = [&](int i) -> P& { return work.d[i - 1]; };
  const auto e = [&](int i) -> P& { return work.e[i - 1]; };
  const auto e2 = [&](int i) -> P& { return work.e2[i - 1]; };
  const auto tau1 = [&](int i) -> P& { return work.t1[i - 1]; };
  const auto tau2 = [&](int i) -> P& { return work.t2[i - 1]; };
  const auto at = [](int i, int k) { return (k - 1) * n + (i - 1); };

  // The lower triangle with the diagonal.
  for (int q = 0; q < batch; ++q) {
    const Call& c = call_of_lane(calls, count, q);
    for (int k = 1; k <= n; ++k) {
      for (int i = k; i <= n; ++i) {
        ar(i, k).set_lane(q, c.ar[at(i, k)]);
        ai(i, k).set_lane(q, c.ai[at(i, k)]);
      }
    }
  }
  K off = K::all(false);

  // The last phase factor is 1; d keeps the diagonal.
  tau1(n) = P::splat(1.0);
  tau2(n) = P::splat(0.0);
  for (int i = 1; i <= n; ++i) d(i) = ar(i, i);

  for (int i = n; i >= 1; --i) {
    const int l = i - 1;
    P h = P::splat(0.0);
    P scale = P::splat(0.0);
    for (int k = 1; k <= l; ++k) scale = scale + abs(ar(i, k)) + abs(ai(i, k));

    if (l == 0) {
      // Row 1: no reflection.
      e(i) = P::splat(0.0);
      e2(i) = P::splat(0.0);
    } else {
      // A scale that is 0, not a number or infinite leaves the common way.
      off = off | !((scale >= P::splat(std::numeric_limits<double>::min())) &
                    (scale <= P::splat(step::largest)));
      // u = row i / scale; h = |u|^2
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = ar(i, k) / scale;
        ai(i, k) = ai(i, k) / scale;
        h = h + ar(i, k) * ar(i, k) + ai(i, k) * ai(i, k);
      }
      // e2(i) = scale^2 h; e(i) = scale sqrt(h)
      e2(i) = scale * scale * h;
      P g = sqrt(h);
      e(i) = scale * g;
      // f = |u(l)|, as step::modulus takes it in its unscaled range: the
      // root of the larger square plus the smaller.
      const P x = abs(ar(i, l));
      const P y = abs(ai(i, l));
      const K swap = x < y;
      const P high = select(swap, y, x);
      const P low = select(swap, x, y);
      off = off | !((high >= P::splat(0x1p-500)) & (high <= P::splat(0x1p+500)));
      P f = sqrt(high * high + low * low);
      // A negligible element (g / f beyond the doubles) leaves it too.
      off = off | !((g / f >= P::splat(0.0)) & (g / f <= P::splat(step::largest)));

      // tau(l) = -tau(i) u(l) / |u(l)|, the imaginary part negated in si;
      // the phase factors serve only the eigenvectors.
      P si = P::splat(0.0);
      if (!values_only) {
        tau1(l) = (ai(i, l) * tau2(i) - ar(i, l) * tau1(i)) / f;
        si = (ar(i, l) * tau2(i) + ai(i, l) * tau1(i)) / f;
      }
      // h = |u|^2 + |u(l)| |u|; u(l) = u(l) (1 + |u| / |u(l)|)
      h = h + f * g;
      g = P::splat(1.0) + g / f;
      ar(i, l) = g * ar(i, l);
      ai(i, l) = g * ai(i, l);

      if (l > 1) {
        // p = A conj(u) / h over the leading l x l block, read from its
        // lower triangle, in (e, tau(2, .)); f = u^T p.
        f = P::splat(0.0);
        for (int j = 1; j <= l; ++j) {
          g = P::splat(0.0);
          P gi = P::splat(0.0);
          for (int k = 1; k <= j; ++k) {
            g = g + ar(j, k) * ar(i, k) + ai(j, k) * ai(i, k);
            gi = gi - ar(j, k) * ai(i, k) + ai(j, k) * ar(i, k);
          }
          for (int k = j + 1; k <= l; ++k) {
            g = g + ar(k, j) * ar(i, k) - ai(k, j) * ai(i, k);
            gi = gi - ar(k, j) * ai(i, k) - ai(k, j) * ar(i, k);
          }
          e(j) = g / h;
          tau2(j) = gi / h;
          f = f + e(j) * ar(i, j) - tau2(j) * ai(i, j);
        }
        // hh = u^T p / 2h; q = p - hh conj(u), its imaginary parts negated
        // in tau(2, .); A = A - conj(u) q^H - q u^T on the lower triangle.
        const P hh = f / (h + h);
        for (int j = 1; j <= l; ++j) {
          f = ar(i, j);
          g = e(j) - hh * f;
          e(j) = g;
          const P fi = -ai(i, j);
          const P gi = tau2(j) - hh * fi;
          tau2(j) = -gi;
          for (int k = 1; k <= j; ++k) {
            ar(j, k) = ar(j, k) - f * e(k) - g * ar(i, k) + fi * tau2(k) + gi * ai(i, k);
            ai(j, k) = ai(j, k) - f * tau2(k) - g * ai(i, k) - fi * e(k) - gi * ar(i, k);
          }
        }
      }
      // Row i keeps scale times the Householder vector; tau(l) is complete.
      if (!values_only) {
        for (int k = 1; k <= l; ++k) {
          ar(i, k) = scale * ar(i, k);
          ai(i, k) = scale * ai(i, k);
        }
        tau2(l) = -si;
      }
    }
    // d(i) = the reduced diagonal element, ar(i, i) = the original one;
    // ai(i, i) = scale sqrt(h), the normaliser of row i.
    const P hh = d(i);
    d(i) = ar(i, i);
    ar(i, i) = hh;
    if (!values_only) ai(i, i) = scale * sqrt(h);
  }

  unsigned handed_on = 0;
  for (int q = 0; q < count; ++q) {
    if (off.lane(q)) {
      handed_on |= 1u << q;
      continue;
    }
    const Call& c = calls[q];
    for (int k = 1; k <= n; ++k) {
      c.w[k - 1] = d(k).lane(q);
      c.fv2[k - 1] = e2(k).lane(q);
    }
    if (values_only) continue;
    for (int k = 1; k <= n; ++k) {
      for (int i = k; i <= n; ++i) {
        c.ar[at(i, k)] = ar(i, k).lane(q);
        c.ai[at(i, k)] = ai(i, k).lane(q);
      }
      c.fv1[k - 1] = e(k).lane(q);
      c.fm1[std::ptrdiff_t{2} * (k - 1)] = tau1(k).lane(q);
      c.fm1[std::ptrdiff_t{2} * (k - 1) + 1] = tau2(k).lane(q);
    }
  }
  return handed_on;
}

}  // namespace eigen::order16
