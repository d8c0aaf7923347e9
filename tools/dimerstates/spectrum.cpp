#include "states.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "model/eigen_arrays.hpp"
#include "model/pair.hpp"
#include "model/pass_rule.hpp"

namespace states {

namespace {

using sweep::m1_of;
using sweep::m2_of;

constexpr double s_ion = sweep::ion_spin;
// s (s + 1) of each ion.
constexpr double s_ion_sq = s_ion * (s_ion + 1.0);

// Two weights closer than this count as equal; the earlier basis state wins.
constexpr double tie = 1e-12;

// Matrix element <m + 1| S+ |m> of one spin-3/2 ion.
double raise(double m) { return std::sqrt(s_ion_sq - m * (m + 1.0)); }

// 0-based index of the basis state |m1, m2>.
int index_of(double m1, double m2) { return sweep::state_of(m1, m2) - 1; }

// S^2 = S1^2 + S2^2 + 2 S1z S2z + S1+ S2- + S1- S2+ and Sx = S1x + S2x in the
// product basis; both real and symmetric.
struct Operators {
  double s2[n][n]{};
  double sx[n][n]{};
  double sy[n][n]{};  // Sy = i sy: sy real and antisymmetric
  double sz[n][n]{};
  double projector[4][n][n]{};  // onto total spin S = 0 .. 3

  Operators() {
    for (int S = 0; S < 4; ++S)
      for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) projector[S][r][c] = model::total_spin_projector(S).re[c * n + r];
    for (int k = 0; k < n; ++k) {
      const double m1 = m1_of(k + 1), m2 = m2_of(k + 1);
      s2[k][k] = 2.0 * s_ion_sq + 2.0 * m1 * m2;
      sz[k][k] = m1 + m2;
      // S1+ S2-: m1 up by one, m2 down by one (and its transpose, S1- S2+).
      if (m1 < s_ion && m2 > -s_ion) {
        const int j = index_of(m1 + 1.0, m2 - 1.0);
        const double v = raise(m1) * raise(m2 - 1.0);
        s2[j][k] = v;
        s2[k][j] = v;
      }
      // Six = (Si+ + Si-) / 2, Siy = (Si+ - Si-) / 2i: <m + 1| Siy |m> = -i raise(m) / 2.
      if (m1 < s_ion) {
        const int j = index_of(m1 + 1.0, m2);
        sx[j][k] = sx[k][j] = 0.5 * raise(m1);
        sy[j][k] = -0.5 * raise(m1);
        sy[k][j] = 0.5 * raise(m1);
      }
      if (m2 < s_ion) {
        const int j = index_of(m1, m2 + 1.0);
        sx[j][k] = sx[k][j] = 0.5 * raise(m2);
        sy[j][k] = -0.5 * raise(m2);
        sy[k][j] = 0.5 * raise(m2);
      }
    }
  }
};

// <c| A |c> for a real symmetric A and c = zr + i zi, summed over every
// element, row by row.
double expectation(const double (&a)[n][n], const double* zr, const double* zi) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) sum += a[i][j] * (zr[i] * zr[j] + zi[i] * zi[j]);
  return sum;
}

// The nonzero elements of an operator, row by row: the same sum as
// expectation in the same order, without its terms that are exactly zero
// (adding a zero product leaves a sum as it is), so bit for bit the same.
struct Sparse {
  int count = 0;
  int i[n * n]{}, j[n * n]{};
  double value[n * n]{};
  explicit Sparse(const double (&a)[n][n]) {
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c)
        if (a[r][c] != 0.0) {
          i[count] = r;
          j[count] = c;
          value[count++] = a[r][c];
        }
  }
  double expectation(const double* zr, const double* zi) const {
    double sum = 0.0;
    for (int k = 0; k < count; ++k)
      sum += value[k] * (zr[i[k]] * zr[j[k]] + zi[i[k]] * zi[j[k]]);
    return sum;
  }
  // <c| i A |c> for a real antisymmetric A: the sum of -A_ij Im(conj(c_i) c_j).
  double expectation_imaginary(const double* zr, const double* zi) const {
    double sum = 0.0;
    for (int k = 0; k < count; ++k)
      sum -= value[k] * (zr[i[k]] * zi[j[k]] - zi[i[k]] * zr[j[k]]);
    return sum;
  }
};

const Operators& operators() {
  static const Operators ops;
  return ops;
}

// The earliest basis state whose weight lies within tie of the largest,
// leaving out the state skip.
int largest(const std::array<double, n>& w, int skip) {
  double top = -1.0;
  for (int k = 0; k < n; ++k)
    if (k != skip && w[k] > top) top = w[k];
  for (int k = 0; k < n; ++k)
    if (k != skip && w[k] >= top - tie) return k;
  return skip == 0 ? 1 : 0;
}

}  // namespace

std::string ket(int k) {
  char buf[16];
  const int a = static_cast<int>(2.0 * m1_of(k + 1)), b = static_cast<int>(2.0 * m2_of(k + 1));
  std::snprintf(buf, sizeof buf, "|%+d/2,%+d/2>", a, b);
  return buf;
}

namespace {

// The levels from the arrays of a call of ch with eigenvectors.
Spectrum levels_of(const model::EigenArrays& q, const std::array<double, 3>& u) {
  Spectrum s;
  s.ierr = q.ierr;
  s.direction = u;
  if (s.ierr != 0) return s;
  for (int j = 0; j < n; ++j) {
    Level& l = s.levels[j];
    const double* zr = q.zr + j * n;  // NOLINT(bugprone-implicit-widening-of-multiplication-result): j, n <= 16
    const double* zi = q.zi + j * n;  // NOLINT(bugprone-implicit-widening-of-multiplication-result): j, n <= 16
    l.energy = q.w[j];
    l.above = q.w[j] - q.w[0];
    std::copy(zr, zr + n, l.re.begin());
    std::copy(zi, zi + n, l.im.begin());
    describe(l, u);
  }
  return s;
}

// The arrays of one call of ch; large, so kept off the stack.
model::EigenArrays& arrays() {
  static model::EigenArrays q;
  return q;
}

}  // namespace

Spectrum compute(const Parameters& p) {
  model::EigenArrays& q = arrays();
  const passes::PassTerms t = passes::pass_terms(p.D1, p.ratio1, p.ratio2);
  sweep::build_spin_hamiltonian(p.J, p.D1, t.D2, t.E1, t.E2, q.ar, q.ai, q.w);
  model::run_ch(q, 1);
  // The program's field: 0.1 T along x.
  return levels_of(q, model::direction(90.0, 0.0));
}

Spectrum compute_general(const model::Parameters& p) {
  model::EigenArrays& q = arrays();
  const model::Matrix h = model::hamiltonian(p);
  std::copy(h.re.begin(), h.re.end(), q.ar);
  std::copy(h.im.begin(), h.im.end(), q.ai);
  model::run_ch(q, 1);
  return levels_of(q, model::direction(p.field.theta, p.field.phi));
}

double plain_s2(const Level& l) { return expectation(operators().s2, l.re.data(), l.im.data()); }
double plain_sx(const Level& l) { return expectation(operators().sx, l.re.data(), l.im.data()); }

void describe(Level& l, const std::array<double, 3>& u) {
  static const Operators& ops = operators();
  static const Sparse s2(ops.s2), sx(ops.sx), sy(ops.sy), sz(ops.sz);
  static const Sparse projector[4] = {Sparse(ops.projector[0]), Sparse(ops.projector[1]),
                                      Sparse(ops.projector[2]), Sparse(ops.projector[3])};
  const double* zr = l.re.data();
  const double* zi = l.im.data();
  l.s2 = s2.expectation(zr, zi);
  // S = (sqrt(1 + 4 <S^2>) - 1) / 2; rounding may leave <S^2> a hair below 0.
  l.spin = 0.5 * (std::sqrt(1.0 + 4.0 * std::max(l.s2, 0.0)) - 1.0);
  l.sx = sx.expectation(zr, zi);
  l.sn = u[0] * l.sx + u[1] * sy.expectation_imaginary(zr, zi) + u[2] * sz.expectation(zr, zi);
  // Rounding may leave a weight that is zero a hair below it.
  for (int S = 0; S < 4; ++S) l.spin_weight[S] = std::max(projector[S].expectation(zr, zi), 0.0);
  for (int k = 0; k < n; ++k) l.weight[k] = zr[k] * zr[k] + zi[k] * zi[k];
  l.first = largest(l.weight, -1);
  l.second = largest(l.weight, l.first);
}

}  // namespace states
