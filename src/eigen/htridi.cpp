#include <cmath>
#include <cstring>
#include <utility>

#include "eigen/eigen.hpp"
#include "eigen/lanes.hpp"
#include "eigen/views.hpp"

namespace eigen {

namespace {

// Rows of a matrix read as vectors: row i of m, element k is m(i, k).
template <typename Ld, typename Real = double>
struct Row {
  Matrix1<Real, Ld> m;
  int i;
  Real& operator()(int k) const { return m(i, k); }
};

using Ld2 = std::integral_constant<int, 2>;

// Column k of the product (e + i t) = (leading l x l Hermitian block, from
// its lower triangle) * conj(u), added to the sums e(j), t(j) of every row j.
// Each sum takes its terms k = 1..l in ascending order; the terms of all l sums
// are added column by column of the block, so that the sums run side by side.
template <typename Real, typename Block, typename Vec, typename WorkE, typename WorkT>
inline void add_product_column(const Block& ar, const Block& ai, const Vec& ur, const Vec& ui,
                               const WorkE& e, const WorkT& t, int l, int k) {
  const Real xr = ur(k);
  const Real xi = ui(k);
  // rows j < k take element (k, j), conjugated
  for (int j = 1; j < k; ++j) {
    e(j) = e(j) + ar(k, j) * xr - ai(k, j) * xi;
    t(j) = t(j) - ar(k, j) * xi - ai(k, j) * xr;
  }
  // rows j >= k take element (j, k)
  for (int j = k; j <= l; ++j) {
    e(j) = e(j) + ar(j, k) * xr + ai(j, k) * xi;
    t(j) = t(j) - ar(j, k) * xi + ai(j, k) * xr;
  }
}

// Reduction of the leading l x l block by the Householder vector u of row i
// (real parts ur, imaginary parts ui) with h its half squared norm, once the
// sums e + i t of the block times conj(u) are complete (the imaginary parts,
// tau(2, .) in place, are work vectors of length l). Returns the scale of the
// next row, l: the sum of |Re| + |Im| of its elements 1..l-1, taken as the
// update leaves each of them final.
template <typename Real, typename Block, typename Vec, typename WorkE, typename WorkT>
Real reduce_block(const Block& ar, const Block& ai, const Vec& ur, const Vec& ui, const WorkE& e,
                  const WorkT& t, int l, Real h) {
  for (int j = 1; j <= l; ++j) {
    e(j) = e(j) / h;
    t(j) = t(j) / h;
  }
  Real f = splat<Real>(0.0);
  for (int j = 1; j <= l; ++j) f = f + e(j) * ur(j) - t(j) * ui(j);

  const Real hh = f / (h + h);

  // (e, t) = q - hh * conj(u), stored with t negated.
  for (int j = 1; j <= l; ++j) {
    e(j) = e(j) - hh * ur(j);
    t(j) = -(t(j) - hh * -ui(j));
  }

  // Rank-two update of the lower triangle of the block, column by column:
  // element (j, k), k <= j, with f + i fi = conj(u(j)) and g + i gi = (e(j), -t(j)).
  // Row l of column k is final once its column is done: the next row's scale
  // runs along with the update instead of after it.
  Real next_scale = splat<Real>(0.0);
  for (int k = 1; k <= l; ++k) {
    for (int j = k; j <= l; ++j) {
      const Real f = ur(j);
      const Real g = e(j);
      const Real fi = -ui(j);
      const Real gi = -t(j);
      ar(j, k) = ar(j, k) - f * e(k) - g * ur(k) + fi * t(k) + gi * ui(k);
      ai(j, k) = ai(j, k) - f * t(k) - g * ui(k) - fi * e(k) - gi * ur(k);
    }
    if (k < l) next_scale = next_scale + abs_of(ar(l, k)) + abs_of(ai(l, k));
  }
  return next_scale;
}

// Where step i keeps row i (real parts ur, imaginary parts ui) and its work
// vectors e and t = tau(2, .), whose values die with the step: in place for
// any order; at the fixed order in local arrays (the row's first l elements
// copied), which nothing else can alias, so that loops over them run in
// vectors.
template <typename Order, typename Real>
struct StepVectors {
  Row<int, Real> ur, ui;
  Vector1<Real> e;
  Row<Ld2, Real> t;
  StepVectors(const Matrix1<Real, int>& ar, const Matrix1<Real, int>& ai,
              const Matrix1<Real, Ld2>& tau, const Vector1<Real>& e_, int i, int /*l*/)
      : ur{ar, i}, ui{ai, i}, e(e_), t{tau, 2} {}
};

template <int N, typename Real>
struct StepVectors<std::integral_constant<int, N>, Real> {
  using Ld = std::integral_constant<int, N>;
  Real re[N];
  Real im[N];
  Real work_re[N];
  Real work_im[N];
  Vector1<Real> ur{re}, ui{im}, e{work_re}, t{work_im};
  // cppcheck-suppress uninitMemberVar ; ur, ui, e and t have default member initialisers
  StepVectors(const Matrix1<Real, Ld>& ar, const Matrix1<Real, Ld>& ai,
              const Matrix1<Real, Ld2>& /*tau*/, const Vector1<Real>& /*e*/, int i, int l) {
    for (int k = 1; k <= l; ++k) {
      re[k - 1] = ar(i, k);
      im[k - 1] = ai(i, k);
    }
  }
  StepVectors(const StepVectors&) = delete;
  StepVectors& operator=(const StepVectors&) = delete;
};

// The reduction of one matrix (Real = double) or of two side by side (Real =
// Pair). Returns false, part way, when the two take different branches: the
// caller then reduces each alone.
template <typename Order, typename Real>
bool htridi_body(Order nm, Order n, Real* __restrict ar_, Real* __restrict ai_,
                 Real* __restrict d_, Real* __restrict e_, Real* __restrict e2_,
                 Real* __restrict tau_) {
  const Matrix1<Real, Order> ar(ar_, nm);
  const Matrix1<Real, Order> ai(ai_, nm);
  const Matrix1<Real, Ld2> tau(tau_, {});
  const Vector1<Real> d(d_);
  const Vector1<Real> e(e_);
  const Vector1<Real> e2(e2_);
  const Real zero = splat<Real>(0.0);
  const Real one = splat<Real>(1.0);

  tau(1, n) = one;
  tau(2, n) = zero;

  for (int i = 1; i <= n; ++i) d(i) = ar(i, i);

  // Rows n down to 1, one Householder reflection each. A step that reduces
  // its block leaves the scale of the next row behind.
  Real next_scale = zero;
  bool next_scale_known = false;
  for (int ii = 1; ii <= n; ++ii) {
    const int i = n + 1 - ii;
    const int l = i - 1;
    Real h = zero;
    Real scale = zero;

    StepVectors<Order, Real> row(ar, ai, tau, e, i, l);
    const auto& ur = row.ur;
    const auto& ui = row.ui;

    bool zero_row = true;
    if (l >= 1) {
      // scale = sum of |Re| + |Im| of the row left of the diagonal
      if (next_scale_known) {
        scale = next_scale;
      } else {
        for (int k = 1; k <= l; ++k) scale = scale + abs_of(ur(k)) + abs_of(ui(k));
      }
      const Zero test = zero_test(scale);
      if (test == Zero::mixed) return false;
      if (test == Zero::all) {
        // A zero row restarts the phase factors.
        tau(1, l) = one;
        tau(2, l) = zero;
      } else {
        zero_row = false;
      }
    }
    next_scale_known = false;

    if (zero_row) {
      e(i) = zero;
      e2(i) = zero;
    } else {
      // Divide the row by scale; h = its squared norm. Columns 1..l-1 of the
      // product of the block with conj(u) do not depend on h: they are summed
      // alongside it.
      for (int k = 1; k <= l; ++k) {
        ur(k) = ur(k) / scale;
        ui(k) = ui(k) / scale;
      }
      const auto& pe = row.e;
      const auto& pt = row.t;
      for (int j = 1; j <= l; ++j) {
        pe(j) = zero;
        pt(j) = zero;
      }
      for (int k = 1; k < l; ++k) {
        h = h + ur(k) * ur(k) + ui(k) * ui(k);
        add_product_column<Real>(ar, ai, ur, ui, pe, pt, l, k);
      }
      h = h + ur(l) * ur(l) + ui(l) * ui(l);

      e2(i) = scale * scale * h;
      Real g = sqrt_of(h);
      e(i) = scale * g;
      const Real f = modulus_of(ur(l), ui(l));
      const Real q = g / f;
      Real si;
      bool update = true;

      const Zero test = negligible_test(f, q);
      if (test == Zero::mixed) return false;
      if (test == Zero::none) {
        // Next phase factor from the element next to the diagonal.
        tau(1, l) = (ui(l) * tau(2, i) - ur(l) * tau(1, i)) / f;
        si = (ur(l) * tau(2, i) + ui(l) * tau(1, i)) / f;
        h = h + f * g;
        g = one + q;
        ur(l) = g * ur(l);
        ui(l) = g * ui(l);
        if (l == 1) update = false;
      } else {
        // A zero or negligible element: the phase factor carries over.
        tau(1, l) = -tau(1, i);
        si = tau(2, i);
        ur(l) = g;
      }

      if (update) {
        add_product_column<Real>(ar, ai, ur, ui, pe, pt, l, l);
        next_scale = reduce_block<Real>(ar, ai, ur, ui, pe, pt, l, h);
        next_scale_known = true;
      }

      // Keep scale times the Householder vector in row i.
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = scale * ur(k);
        ai(i, k) = scale * ui(k);
      }
      tau(2, l) = -si;
    }

    // Swap the reduced diagonal element into d, restore the original; normaliser of row i.
    const Real hh = d(i);
    d(i) = ar(i, i);
    ar(i, i) = hh;
    ai(i, i) = scale * sqrt_of(h);
  }
  return true;
}

}  // namespace

void htridi(int nm, int n, double* ar, double* ai, double* d, double* e, double* e2, double* tau) {
  htridi_body(nm, n, ar, ai, d, e, e2, tau);
}

namespace {

// The reduction at the fixed order in vectors of four rows, for processors
// with AVX2 (any other takes htridi_body). The matrix is reduced in a work
// copy whose strict upper triangle mirrors the lower one, element (j, k)
// holding the conjugate of (k, j), so that the product of each step reads
// column k in one contiguous run; the conjugate's imaginary part is the exact
// negation, and a + b * (-c) is exactly a - b * c. Every element of the work
// copy and every sum sees exactly the operations, in exactly the order, of
// htridi_body: vectors only run the rows side by side.
//
// Rows below the block of a step are dead in the work copy: the step that
// finishes row i writes it to ar and ai at once. Their lanes carry zeros in
// the Householder vector and the products, so that the update leaves them
// finite, and nothing reads them again.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"  // the vectors never cross a call that is not inlined

typedef double V4 __attribute__((vector_size(32)));
typedef long long M4 __attribute__((vector_size(32)));

constexpr int n16 = Order16::value;
constexpr int nv = n16 / 4;  // vectors in a column

struct Work {
  V4 r[n16][nv];  // column k, rows 4v + 1 .. 4v + 4: real parts
  V4 i[n16][nv];  // imaginary parts
};

// What a step hands to the next: the scale of the next row, when it ran along
// with the update.
struct Carry {
  double next_scale = 0.0;
  bool next_scale_known = false;
};

// Row indices (from 0) of the lanes of vector v.
[[gnu::always_inline, gnu::target("avx2")]] inline M4 lane_rows(int v) { return M4{0, 1, 2, 3} + 4LL * v; }

[[gnu::always_inline, gnu::target("avx2")]] inline V4 splat4(double x) { return V4{x, x, x, x}; }

// a in the lanes of m, b elsewhere.
[[gnu::always_inline, gnu::target("avx2")]] inline V4 select(M4 m, V4 a, V4 b) {
  return reinterpret_cast<V4>((reinterpret_cast<M4>(a) & m) | (reinterpret_cast<M4>(b) & ~m));
}

// The lanes of count vectors, as scalars.
template <int Count>
[[gnu::always_inline, gnu::target("avx2")]] inline void spill(const V4* x, double* s) {
  for (int v = 0; v < Count; ++v) std::memcpy(s + std::ptrdiff_t{4} * v, &x[v], sizeof(V4));
}

// Column k of the product of the block with conj(u), added to the sums pe +
// i pt of its rows: rows j < k take the conjugate of element (k, j), which is
// the copy (j, k), rows j >= k element (j, k).
template <int Count>
[[gnu::always_inline, gnu::target("avx2")]] inline void add_column(const Work& w,
                                                                  const double* urs,
                                                                  const double* uis, V4* pe,
                                                                  V4* pt, int k) {
  const V4 xr = splat4(urs[k]);
  const V4 xi = splat4(uis[k]);
  for (int v = 0; v < Count; ++v) {
    pe[v] = pe[v] + w.r[k][v] * xr + w.i[k][v] * xi;
    pt[v] = pt[v] - w.r[k][v] * xi + w.i[k][v] * xr;
  }
}

// Step i = L + 1: row i of the matrix, the block of order L above it.
template <int L>
[[gnu::target("avx2")]] void reduce_row(Work& w, double* ar, double* ai, double* d,
                                                double* e, double* e2, double* tau,
                                                Carry& carry) {
  constexpr int i = L + 1;
  constexpr int nvl = L > 0 ? (L + 3) / 4 : 1;  // vectors holding rows 1..L
  const Matrix1<double, Order16> a_r(ar, {});
  const Matrix1<double, Order16> a_i(ai, {});
  const Matrix1<double, Ld2> t(tau, {});
  double h = 0.0;
  double scale = 0.0;

  if constexpr (L >= 1) {
    // Row i left of the diagonal, from its conjugate copy in column i; zero in dead lanes.
    V4 ur[nvl];
    V4 ui[nvl];
    for (int v = 0; v < nvl; ++v) {
      const M4 live = lane_rows(v) < L;
      ur[v] = select(live, w.r[L][v], V4{});
      ui[v] = select(live, -w.i[L][v], V4{});
    }
    alignas(32) double urs[4 * nvl];
    alignas(32) double uis[4 * nvl];
    spill<nvl>(ur, urs);
    spill<nvl>(ui, uis);

    if (carry.next_scale_known) {
      scale = carry.next_scale;
    } else {
      for (int k = 0; k < L; ++k) scale = scale + std::fabs(urs[k]) + std::fabs(uis[k]);
    }
    carry.next_scale_known = false;

    if (scale == 0.0) {
      // A zero row restarts the phase factors and stays as it is.
      t(1, L) = 1.0;
      t(2, L) = 0.0;
      e[i - 1] = 0.0;
      e2[i - 1] = 0.0;
      for (int k = 1; k <= L; ++k) {
        a_r(i, k) = urs[k - 1];
        a_i(i, k) = uis[k - 1];
      }
    } else {
      for (int v = 0; v < nvl; ++v) {
        ur[v] = ur[v] / splat4(scale);
        ui[v] = ui[v] / splat4(scale);
      }
      spill<nvl>(ur, urs);
      spill<nvl>(ui, uis);

      // h = squared norm of the divided row, alongside columns 1..L-1 of the
      // product of the block with conj(u).
      alignas(32) double squares_r[4 * nvl];
      alignas(32) double squares_i[4 * nvl];
      {
        V4 sr[nvl];
        V4 si[nvl];
        for (int v = 0; v < nvl; ++v) {
          sr[v] = ur[v] * ur[v];
          si[v] = ui[v] * ui[v];
        }
        spill<nvl>(sr, squares_r);
        spill<nvl>(si, squares_i);
      }
      V4 pe[nvl] = {};
      V4 pt[nvl] = {};
      for (int k = 0; k < L - 1; ++k) {
        h = h + squares_r[k] + squares_i[k];
        add_column<nvl>(w, urs, uis, pe, pt, k);
      }
      h = h + squares_r[L - 1] + squares_i[L - 1];

      e2[i - 1] = scale * scale * h;
      double g = std::sqrt(h);
      e[i - 1] = scale * g;
      double& url = urs[L - 1];
      double& uil = uis[L - 1];
      const double f = complex_modulus(url, uil);
      const double q = g / f;
      double si;
      bool update = true;
      if (!negligible(f, q)) {
        // Next phase factor from the element next to the diagonal.
        t(1, L) = (uil * t(2, i) - url * t(1, i)) / f;
        si = (url * t(2, i) + uil * t(1, i)) / f;
        h = h + f * g;
        g = 1.0 + q;
        url = g * url;
        uil = g * uil;
        if (L == 1) update = false;
      } else {
        // A zero or negligible element: the phase factor carries over.
        t(1, L) = -t(1, i);
        si = t(2, i);
        url = g;
      }
      ur[(L - 1) / 4][(L - 1) % 4] = url;
      ui[(L - 1) / 4][(L - 1) % 4] = uil;

      if (update) {
        add_column<nvl>(w, urs, uis, pe, pt, L - 1);
        const M4 live = lane_rows(nvl - 1) < L;
        pe[nvl - 1] = select(live, pe[nvl - 1], V4{});
        pt[nvl - 1] = select(live, pt[nvl - 1], V4{});
        for (int v = 0; v < nvl; ++v) {
          pe[v] = pe[v] / splat4(h);
          pt[v] = pt[v] / splat4(h);
        }
        alignas(32) double er[4 * nvl];
        alignas(32) double ti[4 * nvl];
        {
          V4 p[nvl];
          V4 m[nvl];
          for (int v = 0; v < nvl; ++v) {
            p[v] = pe[v] * ur[v];
            m[v] = pt[v] * ui[v];
          }
          spill<nvl>(p, er);
          spill<nvl>(m, ti);
        }
        double fsum = 0.0;
        for (int j = 0; j < L; ++j) fsum = fsum + er[j] - ti[j];
        const V4 hh = splat4(fsum / (h + h));

        // (e, t) = q - hh * conj(u), stored with t negated.
        for (int v = 0; v < nvl; ++v) {
          pe[v] = pe[v] - hh * ur[v];
          pt[v] = -(pt[v] - hh * -ui[v]);
        }
        alignas(32) double es[4 * nvl];
        alignas(32) double ts[4 * nvl];
        spill<nvl>(pe, es);
        spill<nvl>(pt, ts);

        // Rank-two update of the block, column by column: element (j, k) of
        // the lower triangle, and the conjugate copy of (k, j), whose update
        // is that of (k, j) with the roles of j and k swapped. With f + i fi =
        // conj(u(j)) and g + i gi = (e(j), -t(j)), element (j, k) takes
        // - f e(k) - g ur(k) + fi t(k) + gi ui(k) and - f t(k) - g ui(k)
        // - fi e(k) - gi ur(k), here with the signs of fi and gi moved onto
        // the operations, which is exact.
        double next_scale = 0.0;
        for (int k = 0; k < L; ++k) {
          const V4 ek = splat4(es[k]);
          const V4 tk = splat4(ts[k]);
          const V4 urk = splat4(urs[k]);
          const V4 uik = splat4(uis[k]);
          for (int v = 0; v < nvl; ++v) {
            const V4 r = w.r[k][v];
            const V4 im = w.i[k][v];
            const bool has_upper = 4 * v < k;
            const bool has_lower = 4 * v + 3 >= k;
            V4 new_r;
            V4 new_i;
            if (has_lower) {
              new_r = r - ur[v] * ek - pe[v] * urk - ui[v] * tk - pt[v] * uik;
              new_i = im - ur[v] * tk - pe[v] * uik + ui[v] * ek + pt[v] * urk;
            }
            if (has_upper) {
              const V4 upper_r = r - urk * pe[v] - ek * ur[v] - uik * pt[v] - tk * ui[v];
              const V4 upper_i = -(-im - urk * pt[v] - ek * ui[v] + uik * pe[v] + tk * ur[v]);
              if (has_lower) {
                const M4 upper = lane_rows(v) < k;
                new_r = select(upper, upper_r, new_r);
                new_i = select(upper, upper_i, new_i);
              } else {
                new_r = upper_r;
                new_i = upper_i;
              }
            }
            w.r[k][v] = new_r;
            w.i[k][v] = new_i;
            // Row L of column k is final: the scale of the next row runs along.
            if (v == (L - 1) / 4 && k < L - 1) {
              next_scale = next_scale + std::fabs(new_r[(L - 1) % 4]) +
                           std::fabs(new_i[(L - 1) % 4]);
            }
          }
        }
        carry = {next_scale, true};
      }

      // Keep scale times the Householder vector in row i.
      for (int k = 1; k <= L; ++k) {
        a_r(i, k) = scale * urs[k - 1];
        a_i(i, k) = scale * uis[k - 1];
      }
      t(2, L) = -si;
    }
  } else {
    carry.next_scale_known = false;
    e[i - 1] = 0.0;
    e2[i - 1] = 0.0;
  }

  // The reduced diagonal element into d; ar(i, i) keeps the original; normaliser.
  d[i - 1] = w.r[L][L / 4][L % 4];
  a_i(i, i) = scale * std::sqrt(h);
}

[[gnu::target("avx2")]] void htridi_vectors(double* ar, double* ai, double* d, double* e,
                                                    double* e2, double* tau) {
  // The work copy: columns as they are, then the conjugate mirror of the lower triangle.
  Work w;
  // cppcheck-suppress uninitvar ; w.r is the destination of the copy, not read by it
  for (int k = 0; k < n16; ++k) std::memcpy(w.r[k], ar + std::ptrdiff_t{k} * n16, sizeof w.r[k]);
  for (int k = 0; k < n16; ++k) std::memcpy(w.i[k], ai + std::ptrdiff_t{k} * n16, sizeof w.i[k]);
  for (int k = 0; k < n16; ++k) {
    for (int j = 0; j < k; ++j) {
      w.r[k][j / 4][j % 4] = ar[j * n16 + k];
      w.i[k][j / 4][j % 4] = -ai[j * n16 + k];
    }
  }

  const Matrix1<double, Ld2> t(tau, {});
  t(1, n16) = 1.0;
  t(2, n16) = 0.0;
  for (int i = 0; i < n16; ++i) d[i] = ar[i * n16 + i];

  // Rows 16 down to 1.
  Carry carry;
  [&]<int... s>(std::integer_sequence<int, s...>) {
    (reduce_row<n16 - 1 - s>(w, ar, ai, d, e, e2, tau, carry), ...);
  }(std::make_integer_sequence<int, n16>{});
}

#pragma GCC diagnostic pop

}  // namespace

void fixed::htridi(double* ar, double* ai, double* d, double* e, double* e2, double* tau) {
  if (__builtin_cpu_supports("avx2")) {
    htridi_vectors(ar, ai, d, e, e2, tau);
  } else {
    htridi_body(Order16{}, Order16{}, ar, ai, d, e, e2, tau);
  }
}

void fixed::htridi_pair(double* const ar[2], double* const ai[2], double* const d[2],
                        double* const e[2], double* const e2[2], double* const tau[2]) {
  constexpr int n = Order16::value;
  // Both matrices, element by element, in local pairs; the lower triangles
  // with the diagonal are all that is read and written.
  Pair par[n * n];
  Pair pai[n * n];
  Pair pd[n];
  Pair pe[n];
  Pair pe2[n];
  Pair ptau[2 * n];
  for (int k = 0; k < n; ++k) {
    for (int j = k; j < n; ++j) {
      par[k * n + j] = Pair{ar[0][k * n + j], ar[1][k * n + j]};
      pai[k * n + j] = Pair{ai[0][k * n + j], ai[1][k * n + j]};
    }
  }
  if (!htridi_body(Order16{}, Order16{}, par, pai, pd, pe, pe2, ptau)) {
    // The two went different ways: each alone, from its untouched input.
    for (int q = 0; q < 2; ++q) htridi(ar[q], ai[q], d[q], e[q], e2[q], tau[q]);
    return;
  }
  for (int q = 0; q < 2; ++q) {
    for (int k = 0; k < n; ++k) {
      for (int j = k; j < n; ++j) {
        ar[q][k * n + j] = par[k * n + j][q];
        ai[q][k * n + j] = pai[k * n + j][q];
      }
      d[q][k] = pd[k][q];
      e[q][k] = pe[k][q];
      e2[q][k] = pe2[k][q];
      // NOLINTNEXTLINE(bugprone-implicit-widening-of-multiplication-result): k < 16
      tau[q][2 * k] = ptau[2 * k][q];
      // NOLINTNEXTLINE(bugprone-implicit-widening-of-multiplication-result): k < 16
      tau[q][2 * k + 1] = ptau[2 * k + 1][q];
    }
  }
}

}  // namespace eigen
