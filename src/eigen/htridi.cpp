#include <cmath>
#include <cstring>

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

// The reduction at the fixed order, of one matrix or of two, in vectors of
// rows, for processors with AVX2 (four rows) or AVX-512 (eight); any other
// takes htridi_body (two matrices in pairs of lanes).

constexpr int n16 = Order16::value;

// What a step hands to the next: the scale of the next row, when it ran along
// with the update.
struct Carry {
  double next_scale = 0.0;
  bool next_scale_known = false;
};

// The vectors never cross a call that is not inlined; the compiler, which
// checks the templates at the end of the file, is told so for all of it.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace lanes4 {
#define LANES 4
#define LANES_TARGET "avx2"
#include "eigen/htridi_lanes.inc"
#undef LANES
#undef LANES_TARGET
}  // namespace lanes4

namespace lanes8 {
#define LANES 8
#define LANES_TARGET "avx512f"
#include "eigen/htridi_lanes.inc"
#undef LANES
#undef LANES_TARGET
}  // namespace lanes8

}  // namespace

bool fixed::has_lanes(Lanes lanes) {
  switch (lanes) {
    case Lanes::one:
      return true;
    case Lanes::four:
      return __builtin_cpu_supports("avx2");
    case Lanes::eight:
      return __builtin_cpu_supports("avx512f");
  }
  return false;
}

void fixed::htridi_lanes(Lanes lanes, double* ar, double* ai, double* d, double* e, double* e2,
                         double* tau) {
  switch (lanes) {
    case Lanes::eight:
      lanes8::htridi_vectors(ar, ai, d, e, e2, tau);
      return;
    case Lanes::four:
      lanes4::htridi_vectors(ar, ai, d, e, e2, tau);
      return;
    case Lanes::one:
      break;
  }
  htridi_body(Order16{}, Order16{}, ar, ai, d, e, e2, tau);
}

namespace {

// The widest vectors this processor runs, found once.
fixed::Lanes widest_lanes() {
  using fixed::Lanes;
  static const Lanes widest = has_lanes(Lanes::eight)  ? Lanes::eight
                              : has_lanes(Lanes::four) ? Lanes::four
                                                       : Lanes::one;
  return widest;
}

}  // namespace

void fixed::htridi(double* ar, double* ai, double* d, double* e, double* e2, double* tau) {
  htridi_lanes(widest_lanes(), ar, ai, d, e, e2, tau);
}

void fixed::htridi_pair_lanes(Lanes lanes, double* const ar[2], double* const ai[2],
                              double* const d[2], double* const e[2], double* const e2[2],
                              double* const tau[2]) {
  switch (lanes) {
    case Lanes::eight:
      lanes8::htridi_vectors_pair(ar, ai, d, e, e2, tau);
      return;
    case Lanes::four:
      lanes4::htridi_vectors_pair(ar, ai, d, e, e2, tau);
      return;
    case Lanes::one:
      break;
  }
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
    for (int q = 0; q < 2; ++q) htridi_lanes(Lanes::one, ar[q], ai[q], d[q], e[q], e2[q], tau[q]);
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

void fixed::htridi_pair(double* const ar[2], double* const ai[2], double* const d[2],
                        double* const e[2], double* const e2[2], double* const tau[2]) {
  htridi_pair_lanes(widest_lanes(), ar, ai, d, e, e2, tau);
}

}  // namespace eigen
