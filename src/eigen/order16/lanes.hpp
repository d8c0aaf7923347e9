// The lane type of the fast paths: one double of each call of a batch, held
// in vectors of W lanes (W = 2, 4 or 8), with the operations the routines
// need, every lane by itself; a mask (all bits of a lane set, or none) says
// which lanes an operation is for. The work arrays of a batch (Work) are
// arrays of this type.
#pragma once

#include <cmath>

#include "eigen/order16/order16.hpp"

namespace eigen::order16 {

// Vectors of W doubles and of W lane masks.
template <int W>
struct Vectors {
  typedef double V __attribute__((vector_size(8 * W)));
  typedef long long M __attribute__((vector_size(8 * W)));
};

// A T whose vector c is expr, for each c.
#define DIMER_LANES(T, expr)                                    \
  T r;                                                          \
  for (int c = 0; c < batch / W; ++c) r.v[c] = expr;            \
  return r

// One truth value for each call of a batch.
template <int W>
struct Mask {
  using M = typename Vectors<W>::M;
  M v[batch / W];

  [[gnu::always_inline]] static Mask all(bool on) { DIMER_LANES(Mask, M{} - (on ? 1 : 0)); }
  [[gnu::always_inline]] friend Mask operator&(const Mask& a, const Mask& b) {
    DIMER_LANES(Mask, a.v[c] & b.v[c]);
  }
  [[gnu::always_inline]] friend Mask operator|(const Mask& a, const Mask& b) {
    DIMER_LANES(Mask, a.v[c] | b.v[c]);
  }
  [[gnu::always_inline]] friend Mask operator!(const Mask& a) { DIMER_LANES(Mask, ~a.v[c]); }
  [[gnu::always_inline]] bool lane(int q) const { return v[q / W][q % W] != 0; }
  [[gnu::always_inline]] void clear(int q) { v[q / W][q % W] = 0; }
  [[gnu::always_inline]] bool any() const {
    M x = v[0];
    for (int c = 1; c < batch / W; ++c) x = x | v[c];
    for (int q = 1; q < W; ++q) x[0] |= x[q];
    return x[0] != 0;
  }
};

// One double for each call of a batch.
template <int W>
struct Pack {
  using V = typename Vectors<W>::V;
  using M = typename Vectors<W>::M;
  V v[batch / W];

  // x in every lane (x - 0 is x exactly, -0 included).
  [[gnu::always_inline]] static Pack splat(double x) { DIMER_LANES(Pack, x - V{}); }
  [[gnu::always_inline]] double lane(int q) const { return v[q / W][q % W]; }
  [[gnu::always_inline]] void set_lane(int q, double x) { v[q / W][q % W] = x; }

#define DIMER_LANE_OP(result, op)                                                \
  [[gnu::always_inline]] friend auto operator op(const Pack& a, const Pack& b) { \
    DIMER_LANES(result, a.v[c] op b.v[c]);                                       \
  }
  DIMER_LANE_OP(Pack, +)
  DIMER_LANE_OP(Pack, -)
  DIMER_LANE_OP(Pack, *)
  DIMER_LANE_OP(Pack, /)
  DIMER_LANE_OP(Mask<W>, <)
  DIMER_LANE_OP(Mask<W>, <=)
  DIMER_LANE_OP(Mask<W>, >)
  DIMER_LANE_OP(Mask<W>, >=)
  DIMER_LANE_OP(Mask<W>, ==)
  DIMER_LANE_OP(Mask<W>, !=)
#undef DIMER_LANE_OP
  [[gnu::always_inline]] friend Pack operator-(const Pack& a) { DIMER_LANES(Pack, -a.v[c]); }

  // The bits of a where m has them, of b where it has not.
  [[gnu::always_inline]] static Pack bits(const Mask<W>& m, const Pack& a, const Pack& b) {
    DIMER_LANES(Pack, reinterpret_cast<V>((reinterpret_cast<M>(a.v[c]) & m.v[c]) |
                                          (reinterpret_cast<M>(b.v[c]) & ~m.v[c])));
  }
  // The sign bit of every lane.
  [[gnu::always_inline]] static Mask<W> sign() { DIMER_LANES(Mask<W>, reinterpret_cast<M>(-V{})); }

  // a in the lanes of m, b in the others.
  [[gnu::always_inline]] friend Pack select(const Mask<W>& m, const Pack& a, const Pack& b) {
    return bits(m, a, b);
  }
  // |x|: the sign bit cleared, as std::fabs does.
  [[gnu::always_inline]] friend Pack abs(const Pack& a) { return bits(sign(), splat(0.0), a); }
  // The magnitude of x with the sign of s, as std::copysign gives it.
  [[gnu::always_inline]] friend Pack copysign(const Pack& x, const Pack& s) {
    return bits(sign(), s, x);
  }
  // Lane by lane; a vector square root where the compiler has one.
  [[gnu::always_inline]] friend Pack sqrt(const Pack& a) {
    Pack p;
    for (int c = 0; c < batch / W; ++c) {
      for (int j = 0; j < W; ++j) p.v[c][j] = std::sqrt(a.v[c][j]);
    }
    return p;
  }
};
#undef DIMER_LANES

// Lane q of x(index[q]) in every lane q, x a vector of lanes indexed from 1.
template <int W>
[[gnu::always_inline]] inline Pack<W> gather(const Pack<W>* x, const int* index) {
  Pack<W> p;
  for (int q = 0; q < batch; ++q) p.set_lane(q, x[index[q] - 1].lane(q));
  return p;
}

// The work arrays of a batch in lanes, laid over the caller's workspace.
template <int W>
struct Work {
  Pack<W> a[n][n];  // htridi: real parts, element (i, k) in a[k - 1][i - 1]; tql2: z
  Pack<W> b[n][n];  // htridi: imaginary parts
  Pack<W> d[n], e[n], e2[n], t1[n], t2[n];

  static Work& over(Workspace& w) {
    static_assert(sizeof(Work) == sizeof w.bytes && alignof(Work) <= alignof(Workspace));
    return *reinterpret_cast<Work*>(w.bytes);
  }
};

// The call whose matrix lane q carries: its own, or, in the lanes beyond the
// count, the first call's, whose results those lanes never write. Inline in
// every caller: a copy out of line built for one instruction set must not be
// linked into the code of another.
[[gnu::always_inline]] inline const Call& call_of_lane(const Call* calls, int count, int q) {
  return calls[q < count ? q : 0];
}

// x(1..n) from the array of each lane's call (w, fv1 or fv2), and back.
template <int W>
void load(Pack<W>* x, double* Call::*array, const Call* calls, int count) {
  for (int q = 0; q < batch; ++q) {
    for (int i = 0; i < n; ++i) x[i].set_lane(q, (call_of_lane(calls, count, q).*array)[i]);
  }
}
template <int W>
void store(const Pack<W>* x, double* Call::*array, const Call* calls, int count) {
  for (int q = 0; q < count; ++q) {
    for (int i = 0; i < n; ++i) (calls[q].*array)[i] = x[i].lane(q);
  }
}

}  // namespace eigen::order16
