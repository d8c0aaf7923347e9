#include <cmath>

#include "eigen/eigen.hpp"
#include "eigen/views.hpp"

namespace eigen {

namespace {

// Rows of a matrix read as vectors: row i of m, element k is m(i, k).
template <typename Ld>
struct Row {
  Matrix1<double, Ld> m;
  int i;
  double& operator()(int k) const { return m(i, k); }
};

using Ld2 = std::integral_constant<int, 2>;

// Reduction of the leading l x l block by the Householder vector u of row i
// (real parts ur, imaginary parts ui) with h its half squared norm; e and t
// (the imaginary parts, tau(2, .) in place) are work vectors of length l.
template <typename Block, typename Vec, typename WorkE, typename WorkT>
void reduce_block(const Block& ar, const Block& ai, const Vec& ur, const Vec& ui, const WorkE& e,
                  const WorkT& t, int l, double h) {
  // (e + i t) = (leading l x l Hermitian block, from its lower triangle)
  // * conj(u) / h; f = its product with u. Every element j is a sum over
  // k = 1..l in ascending order: the terms of all l sums are added column by
  // column of the block, so that the sums run side by side.
  for (int j = 1; j <= l; ++j) {
    e(j) = 0.0;
    t(j) = 0.0;
  }
  for (int k = 1; k <= l; ++k) {
    const double xr = ur(k);
    const double xi = ui(k);
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
  for (int j = 1; j <= l; ++j) {
    e(j) = e(j) / h;
    t(j) = t(j) / h;
  }
  double f = 0.0;
  for (int j = 1; j <= l; ++j) f = f + e(j) * ur(j) - t(j) * ui(j);

  const double hh = f / (h + h);

  // (e, t) = q - hh * conj(u), stored with t negated.
  for (int j = 1; j <= l; ++j) {
    e(j) = e(j) - hh * ur(j);
    t(j) = -(t(j) - hh * -ui(j));
  }

  // Rank-two update of the lower triangle of the block, column by column:
  // element (j, k), k <= j, with f + i fi = conj(u(j)) and g + i gi = (e(j), -t(j)).
  for (int k = 1; k <= l; ++k) {
    for (int j = k; j <= l; ++j) {
      const double f = ur(j);
      const double g = e(j);
      const double fi = -ui(j);
      const double gi = -t(j);
      ar(j, k) = ar(j, k) - f * e(k) - g * ur(k) + fi * t(k) + gi * ui(k);
      ai(j, k) = ai(j, k) - f * t(k) - g * ui(k) - fi * e(k) - gi * ur(k);
    }
  }
}

// Where step i keeps row i (real parts ur, imaginary parts ui) and its work
// vectors e and t = tau(2, .), whose values die with the step: in place for
// any order; at the fixed order in local arrays (the row's first l elements
// copied), which nothing else can alias, so that loops over them run in
// vectors.
template <typename Order>
struct StepVectors {
  Row<int> ur, ui;
  Vector1<double> e;
  Row<Ld2> t;
  StepVectors(const Matrix1<double, int>& ar, const Matrix1<double, int>& ai,
              const Matrix1<double, Ld2>& tau, const Vector1<double>& e_, int i, int /*l*/)
      : ur{ar, i}, ui{ai, i}, e(e_), t{tau, 2} {}
};

template <int N>
struct StepVectors<std::integral_constant<int, N>> {
  using Ld = std::integral_constant<int, N>;
  double re[N];
  double im[N];
  double work_re[N];
  double work_im[N];
  Vector1<double> ur{re}, ui{im}, e{work_re}, t{work_im};
  StepVectors(const Matrix1<double, Ld>& ar, const Matrix1<double, Ld>& ai,
              const Matrix1<double, Ld2>& /*tau*/, const Vector1<double>& /*e*/, int i, int l) {
    for (int k = 1; k <= l; ++k) {
      re[k - 1] = ar(i, k);
      im[k - 1] = ai(i, k);
    }
  }
  StepVectors(const StepVectors&) = delete;
  StepVectors& operator=(const StepVectors&) = delete;
};

template <typename Order>
void htridi_body(Order nm, Order n, double* __restrict ar_, double* __restrict ai_,
                 double* __restrict d_, double* __restrict e_, double* __restrict e2_,
                 double* __restrict tau_) {
  const Matrix1<double, Order> ar(ar_, nm);
  const Matrix1<double, Order> ai(ai_, nm);
  const Matrix1<double, Ld2> tau(tau_, {});
  const Vector1<double> d(d_);
  const Vector1<double> e(e_);
  const Vector1<double> e2(e2_);

  tau(1, n) = 1.0;
  tau(2, n) = 0.0;

  for (int i = 1; i <= n; ++i) d(i) = ar(i, i);

  // Rows n down to 1, one Householder reflection each.
  for (int ii = 1; ii <= n; ++ii) {
    const int i = n + 1 - ii;
    const int l = i - 1;
    double h = 0.0;
    double scale = 0.0;

    StepVectors<Order> row(ar, ai, tau, e, i, l);
    const auto& ur = row.ur;
    const auto& ui = row.ui;

    bool zero_row = true;
    if (l >= 1) {
      // scale = sum of |Re| + |Im| of the row left of the diagonal
      for (int k = 1; k <= l; ++k) scale = scale + std::fabs(ur(k)) + std::fabs(ui(k));
      if (scale == 0.0) {
        // A zero row restarts the phase factors.
        tau(1, l) = 1.0;
        tau(2, l) = 0.0;
      } else {
        zero_row = false;
      }
    }

    if (zero_row) {
      e(i) = 0.0;
      e2(i) = 0.0;
    } else {
      // Divide the row by scale; h = its squared norm.
      for (int k = 1; k <= l; ++k) {
        ur(k) = ur(k) / scale;
        ui(k) = ui(k) / scale;
      }
      for (int k = 1; k <= l; ++k) h = h + ur(k) * ur(k) + ui(k) * ui(k);

      e2(i) = scale * scale * h;
      double g = std::sqrt(h);
      e(i) = scale * g;
      double f = complex_modulus(ur(l), ui(l));
      double si;
      bool update = true;

      if (f != 0.0) {
        // Next phase factor from the element next to the diagonal.
        tau(1, l) = (ui(l) * tau(2, i) - ur(l) * tau(1, i)) / f;
        si = (ur(l) * tau(2, i) + ui(l) * tau(1, i)) / f;
        h = h + f * g;
        g = 1.0 + g / f;
        ur(l) = g * ur(l);
        ui(l) = g * ui(l);
        if (l == 1) update = false;
      } else {
        tau(1, l) = -tau(1, i);
        si = tau(2, i);
        ur(l) = g;
      }

      if (update) reduce_block(ar, ai, ur, ui, row.e, row.t, l, h);

      // Keep scale times the Householder vector in row i.
      for (int k = 1; k <= l; ++k) {
        ar(i, k) = scale * ur(k);
        ai(i, k) = scale * ui(k);
      }
      tau(2, l) = -si;
    }

    // Swap the reduced diagonal element into d, restore the original; normaliser of row i.
    const double hh = d(i);
    d(i) = ar(i, i);
    ar(i, i) = hh;
    ai(i, i) = scale * std::sqrt(h);
  }
}

}  // namespace

void htridi(int nm, int n, double* ar, double* ai, double* d, double* e, double* e2, double* tau) {
  htridi_body(nm, n, ar, ai, d, e, e2, tau);
}

void fixed::htridi(double* ar, double* ai, double* d, double* e, double* e2, double* tau) {
  htridi_body(Order16{}, Order16{}, ar, ai, d, e, e2, tau);
}

}  // namespace eigen
