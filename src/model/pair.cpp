#include "pair.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "model/eigen_arrays.hpp"

namespace model {

static_assert(EigenArrays::n == n, "the pair's matrix is the order of the eigen arrays");

namespace {

using cplx = std::complex<double>;
using Dense = std::array<cplx, std::size_t{n} * n>;  // column-major, [c * n + r]

constexpr int ion_levels = 4;     // m = +3/2, +1/2, -1/2, -3/2 at index 0..3
constexpr double s_ion = 1.5;

double m_of(int k) { return s_ion - k; }

// <m + 1| S+ |m> of one spin-3/2 ion: sqrt(s (s + 1) - m (m + 1)).
double raise(double m) { return std::sqrt(s_ion * (s_ion + 1.0) - m * (m + 1.0)); }

// The spin operators of one ion, 4 x 4, [r][c] = <r| S |c>.
struct IonOperators {
  cplx x[ion_levels][ion_levels]{}, y[ion_levels][ion_levels]{}, z[ion_levels][ion_levels]{};
  IonOperators() {
    for (int k = 0; k < ion_levels; ++k) {
      z[k][k] = m_of(k);
      if (k > 0) {  // S+ takes m at index k to m + 1 at index k - 1
        const double up = raise(m_of(k));
        x[k - 1][k] = x[k][k - 1] = 0.5 * up;
        y[k - 1][k] = cplx(0.0, -0.5 * up);  // (S+ - S-) / 2i
        y[k][k - 1] = cplx(0.0, 0.5 * up);
      }
    }
  }
};

// One component of one ion's spin in the pair's basis: ion 1 is the slow
// index of s - 1 = 4 i1 + i2, ion 2 the fast one.
Dense on_ion(int ion, const cplx (&a)[ion_levels][ion_levels]) {
  Dense m{};
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      const int r1 = r / ion_levels, r2 = r % ion_levels;
      const int c1 = c / ion_levels, c2 = c % ion_levels;
      if (ion == 1 && r2 == c2) m[c * n + r] = a[r1][c1];
      if (ion == 2 && r1 == c1) m[c * n + r] = a[r2][c2];
    }
  return m;
}

// The six spin components S1x, S1y, S1z, S2x, S2y, S2z of the pair.
struct PairOperators {
  Dense s[2][3];
  PairOperators() {
    const IonOperators one;
    for (int ion = 1; ion <= 2; ++ion) {
      s[ion - 1][0] = on_ion(ion, one.x);
      s[ion - 1][1] = on_ion(ion, one.y);
      s[ion - 1][2] = on_ion(ion, one.z);
    }
  }
};

const PairOperators& operators() {
  static const PairOperators ops;
  return ops;
}

Dense product(const Dense& a, const Dense& b) {
  Dense m{};
  for (int c = 0; c < n; ++c)
    for (int k = 0; k < n; ++k) {
      const cplx bk = b[c * n + k];
      if (bk == 0.0) continue;
      for (int r = 0; r < n; ++r) m[c * n + r] += a[k * n + r] * bk;
    }
  return m;
}

void add(Dense& to, const Dense& a, double f) {
  for (int i = 0; i < n * n; ++i) to[i] += f * a[i];
}

Matrix to_matrix(const Dense& d) {
  Matrix m;
  for (int i = 0; i < n * n; ++i) {
    m.re[i] = d[i].real();
    m.im[i] = d[i].imag();
  }
  return m;
}

// S^2 of the pair: the sum over the three axes of (S1a + S2a)^2.
Dense total_s2() {
  const auto& ops = operators();
  Dense s2{};
  for (int a = 0; a < 3; ++a) {
    Dense t = ops.s[0][a];
    add(t, ops.s[1][a], 1.0);
    add(s2, product(t, t), 1.0);
  }
  return s2;
}

const Matrix& s2_matrix() {
  static const Matrix m = to_matrix(total_s2());
  return m;
}

// <S.u> of the pair: (S1 + S2) . u.
Matrix spin_along(const std::array<double, 3>& u) {
  const auto& ops = operators();
  Dense m{};
  for (int ion = 0; ion < 2; ++ion)
    for (int a = 0; a < 3; ++a) add(m, ops.s[ion][a], u[a]);
  return to_matrix(m);
}

struct Projectors {
  std::array<Matrix, 4> p;
  Projectors() {
    // P_S = product over T != S of (S^2 - T (T + 1)) / (S (S + 1) - T (T + 1)).
    const Dense s2 = total_s2();
    for (int S = 0; S < 4; ++S) {
      Dense m{};
      for (int i = 0; i < n; ++i) m[i * n + i] = 1.0;
      for (int T = 0; T < 4; ++T) {
        if (T == S) continue;
        const double t = T * (T + 1.0);
        Dense f = s2;
        for (int i = 0; i < n; ++i) f[i * n + i] -= t;
        m = product(m, f);
        const double scale = 1.0 / (S * (S + 1.0) - t);
        for (auto& x : m) x *= scale;
      }
      p[S] = to_matrix(m);
    }
  }
};

double real_element(const std::array<cplx, n>& v, const Matrix& m) {
  return element(v, m, v).real();
}

}  // namespace

std::array<double, 3> direction(double theta, double phi) {
  constexpr double degree = std::numbers::pi / 180.0;
  const double t = theta * degree, f = phi * degree;
  return {std::sin(t) * std::cos(f), std::sin(t) * std::sin(f), std::cos(t)};
}

Matrix zero_field(const Parameters& p) {
  const auto& ops = operators();
  Dense h{};
  // Exchange: -2 J S1.S2.
  for (int a = 0; a < 3; ++a) add(h, product(ops.s[0][a], ops.s[1][a]), -2.0 * p.J);
  // Zero-field splitting of each ion.
  const Ion* ions[2] = {&p.ion1, &p.ion2};
  for (int ion = 0; ion < 2; ++ion) {
    const Dense& sx = ops.s[ion][0];
    const Dense& sy = ops.s[ion][1];
    const Dense& sz = ops.s[ion][2];
    Dense zz = product(sz, sz);
    for (int i = 0; i < n; ++i) zz[i * n + i] -= 1.25;
    add(h, zz, ions[ion]->D);
    Dense xy = product(sx, sx);
    add(xy, product(sy, sy), -1.0);
    add(h, xy, ions[ion]->E);
  }
  return to_matrix(h);
}

Matrix zeeman(const Parameters& p, const std::array<double, 3>& u) {
  const auto& ops = operators();
  Dense z{};
  const Ion* ions[2] = {&p.ion1, &p.ion2};
  for (int ion = 0; ion < 2; ++ion) {
    const double g[3] = {ions[ion]->gx, ions[ion]->gy, ions[ion]->gz};
    for (int a = 0; a < 3; ++a) add(z, ops.s[ion][a], mu_B * g[a] * u[a]);
  }
  return to_matrix(z);
}

Matrix hamiltonian(const Parameters& p) {
  Matrix h = zero_field(p);
  const Matrix z = zeeman(p, direction(p.field.theta, p.field.phi));
  for (int i = 0; i < n * n; ++i) {
    h.re[i] += p.field.B * z.re[i];
    h.im[i] += p.field.B * z.im[i];
  }
  return h;
}

namespace {

// The arrays of ch, their matrix h; large, so kept off the stack.
EigenArrays& arrays_of(const Matrix& h) {
  thread_local EigenArrays a;
  std::copy(h.re.begin(), h.re.end(), a.ar);
  std::copy(h.im.begin(), h.im.end(), a.ai);
  return a;
}

}  // namespace

int energies(const Matrix& h, std::array<double, n>& w) {
  EigenArrays& a = arrays_of(h);
  run_ch(a, 0);
  std::copy(a.w, a.w + n, w.begin());
  return a.ierr;
}

Spectrum solve(const Matrix& h, const std::array<double, 3>& u) {
  EigenArrays& a = arrays_of(h);
  run_ch(a, 1);
  const double* w = a.w;
  const double* zr = a.zr;
  const double* zi = a.zi;
  Spectrum s;
  s.ierr = a.ierr;
  if (s.ierr != 0) return s;
  const Matrix sn = spin_along(u);
  for (int j = 0; j < n; ++j) {
    State& st = s.states[j];
    st.energy = w[j];
    double norm = 0.0;
    for (int r = 0; r < n; ++r) {
      st.v[r] = cplx(zr[j * n + r], zi[j * n + r]);
      norm += std::norm(st.v[r]);
    }
    const double f = 1.0 / std::sqrt(norm);
    for (auto& c : st.v) c *= f;
    st.s2 = real_element(st.v, s2_matrix());
    st.sn = real_element(st.v, sn);
    for (int S = 0; S < 4; ++S) st.w[S] = real_element(st.v, total_spin_projector(S));
  }
  return s;
}

Spectrum solve(const Parameters& p) {
  return solve(hamiltonian(p), direction(p.field.theta, p.field.phi));
}

cplx element(const std::array<cplx, n>& a, const Matrix& m, const std::array<cplx, n>& b) {
  cplx sum = 0.0;
  for (int c = 0; c < n; ++c) {
    cplx mb = 0.0;
    for (int r = 0; r < n; ++r) mb += std::conj(a[r]) * m.at(r, c);
    sum += mb * b[c];
  }
  return sum;
}

const Matrix& total_spin_projector(int S) {
  static const Projectors projectors;
  return projectors.p[S];
}

}  // namespace model
