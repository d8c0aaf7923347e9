// The lane type of the fast paths: one double of each call of a batch, held
// in vectors of W lanes (W = 2, 4 or 8), with the operations the routines
// need, every lane by itself; a mask (all bits of a lane set, or none) says
// which lanes an operation is for. The work arrays of a batch are arrays of
// this type.
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

// One truth value for each call of a batch.
template <int W>
struct Mask {
  using M = typename Vectors<W>::M;
  static constexpr int k = batch / W;
  M v[k];

  [[gnu::always_inline]] static Mask all(bool on) {
    Mask m;
    for (int c = 0; c < k; ++c) m.v[c] = (M{} == M{}) & (on ? -1LL : 0LL);
    return m;
  }
  [[gnu::always_inline]] friend Mask operator&(const Mask& a, const Mask& b) {
    Mask m;
    for (int c = 0; c < k; ++c) m.v[c] = a.v[c] & b.v[c];
    return m;
  }
  [[gnu::always_inline]] friend Mask operator|(const Mask& a, const Mask& b) {
    Mask m;
    for (int c = 0; c < k; ++c) m.v[c] = a.v[c] | b.v[c];
    return m;
  }
  [[gnu::always_inline]] friend Mask operator!(const Mask& a) {
    Mask m;
    for (int c = 0; c < k; ++c) m.v[c] = ~a.v[c];
    return m;
  }
  [[gnu::always_inline]] bool lane(int q) const { return v[q / W][q % W] != 0; }
  [[gnu::always_inline]] void clear(int q) { v[q / W][q % W] = 0; }
  [[gnu::always_inline]] bool any() const {
    M x = v[0];
    for (int c = 1; c < k; ++c) x = x | v[c];
    for (int q = 0; q < W; ++q) {
      if (x[q] != 0) return true;
    }
    return false;
  }
  // Lane q of the batch is bit q.
  [[gnu::always_inline]] unsigned bits() const {
    unsigned b = 0;
    for (int q = 0; q < batch; ++q) b |= (lane(q) ? 1u : 0u) << q;
    return b;
  }
};

// One double for each call of a batch.
template <int W>
struct Pack {
  using V = typename Vectors<W>::V;
  using M = typename Vectors<W>::M;
  static constexpr int k = batch / W;
  V v[k];

  // x in every lane (x - 0 is x exactly, -0 included).
  [[gnu::always_inline]] static Pack splat(double x) {
    Pack p;
    for (int c = 0; c < k; ++c) p.v[c] = x - V{};
    return p;
  }
  [[gnu::always_inline]] double lane(int q) const { return v[q / W][q % W]; }
  [[gnu::always_inline]] void set_lane(int q, double x) { v[q / W][q % W] = x; }

#define DIMER_LANE_OP(op)                                                      \
  [[gnu::always_inline]] friend Pack operator op(const Pack& a, const Pack& b) { \
    Pack p;                                                                    \
    for (int c = 0; c < k; ++c) p.v[c] = a.v[c] op b.v[c];                     \
    return p;                                                                  \
  }
  DIMER_LANE_OP(+)
  DIMER_LANE_OP(-)
  DIMER_LANE_OP(*)
  DIMER_LANE_OP(/)
#undef DIMER_LANE_OP
#define DIMER_LANE_TEST(op)                                                    \
  [[gnu::always_inline]] friend Mask<W> operator op(const Pack& a, const Pack& b) { \
    Mask<W> m;                                                                 \
    for (int c = 0; c < k; ++c) m.v[c] = a.v[c] op b.v[c];                     \
    return m;                                                                  \
  }
  DIMER_LANE_TEST(<)
  DIMER_LANE_TEST(<=)
  DIMER_LANE_TEST(>)
  DIMER_LANE_TEST(>=)
  DIMER_LANE_TEST(==)
  DIMER_LANE_TEST(!=)
#undef DIMER_LANE_TEST

  [[gnu::always_inline]] friend Pack operator-(const Pack& a) {
    Pack p;
    for (int c = 0; c < k; ++c) p.v[c] = -a.v[c];
    return p;
  }
  // a in the lanes of m, b in the others.
  [[gnu::always_inline]] friend Pack select(const Mask<W>& m, const Pack& a, const Pack& b) {
    Pack p;
    for (int c = 0; c < k; ++c) {
      p.v[c] = reinterpret_cast<V>((reinterpret_cast<M>(a.v[c]) & m.v[c]) |
                                   (reinterpret_cast<M>(b.v[c]) & ~m.v[c]));
    }
    return p;
  }
  // |x|: the sign bit cleared, as std::fabs does.
  [[gnu::always_inline]] friend Pack abs(const Pack& a) {
    return a & !sign_bits();
  }
  // The magnitude of x with the sign of s, as std::copysign gives it.
  [[gnu::always_inline]] friend Pack copysign(const Pack& x, const Pack& s) {
    return (x & !sign_bits()) | (s & sign_bits());
  }
  // Lane by lane; a vector square root where the compiler has one.
  [[gnu::always_inline]] friend Pack sqrt(const Pack& a) {
    Pack p;
    for (int c = 0; c < k; ++c) {
      for (int j = 0; j < W; ++j) p.v[c][j] = std::sqrt(a.v[c][j]);
    }
    return p;
  }

 private:
  // The sign bit of every lane, as a mask of bits.
  [[gnu::always_inline]] static Mask<W> sign_bits() {
    Mask<W> m;
    for (int c = 0; c < k; ++c) m.v[c] = reinterpret_cast<M>(splat(-0.0).v[c]);
    return m;
  }
  // The bits of a where m has them.
  [[gnu::always_inline]] friend Pack operator&(const Pack& a, const Mask<W>& m) {
    Pack p;
    for (int c = 0; c < k; ++c) p.v[c] = reinterpret_cast<V>(reinterpret_cast<M>(a.v[c]) & m.v[c]);
    return p;
  }
  [[gnu::always_inline]] friend Pack operator|(const Pack& a, const Pack& b) {
    Pack p;
    for (int c = 0; c < k; ++c) {
      p.v[c] = reinterpret_cast<V>(reinterpret_cast<M>(a.v[c]) | reinterpret_cast<M>(b.v[c]));
    }
    return p;
  }
};

// Each lane from an element of its own: lane q of x(index[q]), x a vector
// of lanes indexed from 1.
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
// count, the first call's, whose results those lanes never write.
inline const Call& call_of_lane(const Call* calls, int count, int q) {
  return calls[q < count ? q : 0];
}

}  // namespace eigen::order16
