// htridi of eight matrices at once, one matrix in each lane of every value:
// each lane sees exactly the operations, in exactly the order, of htridi on
// its matrix, with no lane wasted and only the lower triangle updated. The
// eight must take the common way through every row (a row that is not zero,
// an element next to the diagonal that is not negligible and whose modulus
// needs no scaling); where one would not, the reduction gives up before it
// has written anything, and the caller reduces the eight another way.
#pragma once

#include <cstddef>
#include <cmath>
#include <cstring>
#include <limits>

#include "eigen/modulus.hpp"
#include "eigen/order16/lanes.hpp"

namespace eigen::order16 {

inline constexpr int lanes_of_passes = 8;

// Eight doubles, one for each matrix, in vectors of W lanes.
template <int W>
struct Pack {
  static constexpr int k = lanes_of_passes / W;
  using L_ = Lanes<W>;
  using V = typename L_::V;
  using M = typename L_::M;
  V v[k];

  [[gnu::always_inline]] static Pack splat(double x) {
    Pack p;
    for (int c = 0; c < k; ++c) p.v[c] = L_::splat(x);
    return p;
  }
#define DIMER_PACK_OP(op)                                                             \
  [[gnu::always_inline]] friend Pack operator op(const Pack& a, const Pack& b) {      \
    Pack p;                                                                           \
    for (int c = 0; c < k; ++c) p.v[c] = a.v[c] op b.v[c];                            \
    return p;                                                                         \
  }
  DIMER_PACK_OP(+)
  DIMER_PACK_OP(-)
  DIMER_PACK_OP(*)
  DIMER_PACK_OP(/)
#undef DIMER_PACK_OP
  [[gnu::always_inline]] friend Pack operator-(const Pack& a) {
    Pack p;
    for (int c = 0; c < k; ++c) p.v[c] = -a.v[c];
    return p;
  }
  [[gnu::always_inline]] friend Pack abs(const Pack& a) {
    Pack p;
    for (int c = 0; c < k; ++c) p.v[c] = L_::abs(a.v[c]);
    return p;
  }
  // Lane by lane; a vector square root where the compiler has one.
  [[gnu::always_inline]] friend Pack sqrt(const Pack& a) {
    Pack p;
    for (int c = 0; c < k; ++c) {
      for (int j = 0; j < W; ++j) p.v[c][j] = std::sqrt(a.v[c][j]);
    }
    return p;
  }
  // a where a >= b, else b; and the other one.
  [[gnu::always_inline]] friend void order(const Pack& a, const Pack& b, Pack& high, Pack& low) {
    for (int c = 0; c < k; ++c) {
      const M swap = a.v[c] < b.v[c];
      high.v[c] = L_::select(swap, b.v[c], a.v[c]);
      low.v[c] = L_::select(swap, a.v[c], b.v[c]);
    }
  }
  // Whether every lane lies in [low, high] (false for not-a-number).
  [[gnu::always_inline]] bool within(double low, double high) const {
    M ok = v[0] >= L_::splat(low);
    for (int c = 0; c < k; ++c) ok = ok & (v[c] >= L_::splat(low)) & (v[c] <= L_::splat(high));
    for (int c = 0; c < W; ++c) {
      if (ok[c] == 0) return false;
    }
    return true;
  }
  [[gnu::always_inline]] double lane(int q) const { return v[q / W][q % W]; }
  [[gnu::always_inline]] void set_lane(int q, double x) { v[q / W][q % W] = x; }
};

// htridi(16, 16, ar, ai, d, e, e2, tau) of the eight matrices m[0..8), or
// false, with nothing written, when one of them leaves the common way;
// values_only: only d and e2 written.
template <int W>
bool reduce_in_lanes_at_width(const Reduction* m, bool values_only) {
  using P = Pack<W>;
  constexpr int nl = lanes_of_passes;
  // Element (i, k), 1-based, of the lower triangle with the diagonal.
  P ar_[n][n];
  P ai_[n][n];
  P d_[n], e_[n], t2_[n], t1_[n];  // d, e, tau(1, .) and tau(2, .)
  P e2_[n];
  const auto ar = [&](int i, int k) -> P& { return ar_[k - 1][i - 1]; };
  const auto ai = [&](int i, int k) -> P& { return ai_[k - 1][i - 1]; };
  const auto d = [&](int i) -> P& { return d_[i - 1]; };
  const auto e = [&](int i) -> P& { return e_[i - 1]; };
  const auto e2 = [&](int i) -> P& { return e2_[i - 1]; };
  const auto tau1 = [&](int i) -> P& { return t1_[i - 1]; };
  const auto tau2 = [&](int i) -> P& { return t2_[i - 1]; };

  for (int q = 0; q < nl; ++q) {
    for (int k = 1; k <= n; ++k) {
      for (int i = k; i <= n; ++i) {
        ar(i, k).set_lane(q, m[q].ar[(k - 1) * n + (i - 1)]);
        ai(i, k).set_lane(q, m[q].ai[(k - 1) * n + (i - 1)]);
      }
    }
  }

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
      // Rows whose scale is 0, not a number or infinite leave the common way.
      if (!scale.within(std::numeric_limits<double>::min(), step::largest)) return false;
      // u = row i / scale; h = |u|^2
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = ar(i, k) / scale;
        ai(i, k) = ai(i, k) / scale;
        h = h + ar(i, k) * ar(i, k) + ai(i, k) * ai(i, k);
      }
      e2(i) = scale * scale * h;
      P g = sqrt(h);
      e(i) = scale * g;
      // f = |u(l)|, taken as step::modulus takes it in its unscaled range.
      P high, low;
      order(abs(ar(i, l)), abs(ai(i, l)), high, low);
      if (!high.within(0x1p-500, 0x1p+500)) return false;
      P f = sqrt(high * high + low * low);
      if (!(g / f).within(0.0, step::largest)) return false;

      // The phase factors serve only the eigenvectors.
      P si = P::splat(0.0);
      if (!values_only) {
        si = (ar(i, l) * tau2(i) + ai(i, l) * tau1(i)) / f;
        tau1(l) = (ai(i, l) * tau2(i) - ar(i, l) * tau1(i)) / f;
      }
      h = h + f * g;
      g = P::splat(1.0) + g / f;
      ar(i, l) = g * ar(i, l);
      ai(i, l) = g * ai(i, l);

      if (l > 1) {
        // p = A conj(u) / h in (e, tau(2, .)); f = u^T p.
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
        const P hh = f / (h + h);
        // q = p - hh conj(u); A = A - conj(u) q^H - q u^T, lower triangle.
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
      // Row i keeps scale times the Householder vector; its normaliser.
      if (!values_only) {
        for (int k = 1; k <= l; ++k) {
          ar(i, k) = scale * ar(i, k);
          ai(i, k) = scale * ai(i, k);
        }
        tau2(l) = -si;
      }
    }
    const P hh = d(i);
    d(i) = ar(i, i);
    ar(i, i) = hh;
    if (!values_only) ai(i, i) = scale * sqrt(h);
  }

  for (int q = 0; q < nl; ++q) {
    const Reduction& r = m[q];
    for (int k = 1; k <= n; ++k) {
      r.d[k - 1] = d(k).lane(q);
      r.e2[k - 1] = e2(k).lane(q);
    }
    if (values_only) continue;
    for (int k = 1; k <= n; ++k) {
      for (int i = k; i <= n; ++i) {
        r.ar[(k - 1) * n + (i - 1)] = ar(i, k).lane(q);
        r.ai[(k - 1) * n + (i - 1)] = ai(i, k).lane(q);
      }
      r.e[k - 1] = e(k).lane(q);
      r.tau[std::ptrdiff_t{k - 1} * 2] = tau1(k).lane(q);
      r.tau[(k - 1) * 2 + 1] = tau2(k).lane(q);
    }
  }
  return true;
}

}  // namespace eigen::order16
