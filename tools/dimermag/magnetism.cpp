#include "magnetism.hpp"

#include <cmath>
#include <numbers>
#include <string>

#include "common/files.hpp"
#include "eigen/eigen.hpp"

namespace mag {

namespace {

using model::n;

// Spin of one free ion, and its S(S + 1).
constexpr double s_ion = 1.5;
constexpr double s_ion_s1 = s_ion * (s_ion + 1.0);

// g^2 of an ion along the unit vector u: sum over axes of (ga ua)^2.
double g2_along(const model::Ion& ion, const std::array<double, 3>& u) {
  return ion.gx * ion.gx * u[0] * u[0] + ion.gy * ion.gy * u[1] * u[1] +
         ion.gz * ion.gz * u[2] * u[2];
}

// The moment along the field (muB) of a free S = 3/2 ion with g along the
// field g at B (T) and T (K): g S B_S(x), the Brillouin function of
// g muB S B / kB T, from its levels E_m = m g muB B, m = -3/2 .. 3/2.
double free_ion_moment(double g, double B, double T) {
  double num = 0.0, den = 0.0;
  const double x = g * model::mu_B * B / (k_B * T);
  for (int k = 0; k < 4; ++k) {
    const double m = k - s_ion;
    // The lowest level, m = -3/2, has weight 1.
    const double w = std::exp(-k * x);
    num += -m * g * w;
    den += w;
  }
  return num / den;
}

}  // namespace

namespace {

// P_n(z) and P_n'(z) by the three-term recurrence
// j P_j = (2j - 1) z P_j-1 - (j - 1) P_j-2, and P_n' = n (z P_n - P_n-1) / (z^2 - 1).
void legendre(int count, double z, double& p, double& dp) {
  double p0 = 1.0, p1 = z;
  for (int j = 2; j <= count; ++j) {
    const double p2 = ((2.0 * j - 1.0) * z * p1 - (j - 1.0) * p0) / j;
    p0 = p1;
    p1 = p2;
  }
  p = p1;
  dp = count * (z * p1 - p0) / (z * z - 1.0);
}

}  // namespace

void gauss_legendre(int count, std::vector<double>& x, std::vector<double>& w) {
  x.assign(count, 0.0);
  w.assign(count, 0.0);
  // Node k is the root of P_n near cos(pi (k - 1/4) / (n + 1/2)), refined by
  // Newton's method; its weight is 2 / ((1 - x^2) P_n'(x)^2).
  constexpr int max_steps = 100;
  for (int k = 1; k <= (count + 1) / 2; ++k) {
    double z = std::cos(std::numbers::pi * (k - 0.25) / (count + 0.5));
    double p = 0.0, dp = 0.0;
    for (int it = 0; it < max_steps; ++it) {
      legendre(count, z, p, dp);
      const double step = p / dp;
      z -= step;
      if (std::abs(step) <= 1e-16) break;
    }
    legendre(count, z, p, dp);  // the derivative at the converged node
    const double weight = 2.0 / ((1.0 - z * z) * dp * dp);
    x[k - 1] = -z;
    x[count - k] = z;
    w[k - 1] = w[count - k] = weight;
  }
}

std::vector<Direction> powder(int n_theta, int n_phi) {
  std::vector<double> x, w;
  gauss_legendre(n_theta, x, w);
  std::vector<Direction> dirs;
  dirs.reserve(static_cast<std::size_t>(n_theta) * n_phi);
  const double dphi = 0.5 * std::numbers::pi / n_phi;
  for (int a = 0; a < n_theta; ++a) {
    // cos(theta) = (1 + x) / 2 on [0, 1]; the weights of [-1, 1] sum to 2.
    const double c = 0.5 * (1.0 + x[a]);
    const double s = std::sqrt((1.0 - c) * (1.0 + c));
    for (int b = 0; b < n_phi; ++b) {
      const double phi = (b + 0.5) * dphi;
      dirs.push_back({{s * std::cos(phi), s * std::sin(phi), c}, 0.5 * w[a] / n_phi});
    }
  }
  return dirs;
}

const std::vector<Direction>& default_powder() {
  static const std::vector<Direction> rule = powder(powder_theta, powder_phi);
  return rule;
}

std::vector<Direction> oriented(double theta, double phi) {
  return {{model::direction(theta, phi), 1.0}};
}

Levels levels(const model::Matrix& h0, const model::Matrix& z, double B) {
  model::Matrix h = h0;
  for (int i = 0; i < n * n; ++i) {
    h.re[i] += B * z.re[i];
    h.im[i] += B * z.im[i];
  }
  double zr[n * n], zi[n * n], fv1[n], fv2[n], fm1[2 * n];
  Levels l;
  int ierr = 0;
  eigen::ch(n, n, h.re.data(), h.im.data(), l.e.data(), 1, zr, zi, fv1, fv2, fm1, ierr);
  if (ierr != 0)
    throw common::Failure("eigenvalue " + std::to_string(ierr) +
                          " did not converge in 30 iterations at B = " + std::to_string(B) +
                          " T: the parameters are too large");
  for (int j = 0; j < n; ++j) {
    const double* vr = &zr[static_cast<std::ptrdiff_t>(j) * n];
    const double* vi = &zi[static_cast<std::ptrdiff_t>(j) * n];
    // <v| z |v> / <v|v>, the real part (z is Hermitian).
    double zz = 0.0, norm = 0.0;
    for (int c = 0; c < n; ++c) {
      double ar = 0.0, ai = 0.0;  // (z v)(c) for row c: sum over r of z(c, r) v(r)
      for (int r = 0; r < n; ++r) {
        const double mr = z.re[r * n + c], mi = z.im[r * n + c];
        ar += mr * vr[r] - mi * vi[r];
        ai += mr * vi[r] + mi * vr[r];
      }
      zz += vr[c] * ar + vi[c] * ai;
      norm += vr[c] * vr[c] + vi[c] * vi[c];
    }
    l.m[j] = -(zz / norm) / model::mu_B;
  }
  return l;
}

double thermal_moment(const Levels& l, double T) {
  const double beta = 1.0 / (k_B * T);
  double num = 0.0, den = 0.0;
  for (int i = 0; i < n; ++i) {
    // Energies from the lowest: the lowest level has weight 1.
    const double w = std::exp(-(l.e[i] - l.e[0]) * beta);
    num += l.m[i] * w;
    den += w;
  }
  return num / den;
}

std::vector<double> susceptibility(const Sample& s, double B, const std::vector<double>& T,
                                   const std::vector<Direction>& dirs) {
  const model::Matrix h0 = model::zero_field(s.p);
  std::vector<double> M(T.size(), 0.0);
  double g2 = 0.0;  // the two ions' g^2 along the field, averaged
  for (const Direction& d : dirs) {
    const Levels l = levels(h0, model::zeeman(s.p, d.u), B);
    for (std::size_t k = 0; k < T.size(); ++k) M[k] += d.weight * thermal_moment(l, T[k]);
    g2 += d.weight * (g2_along(s.p.ion1, d.u) + g2_along(s.p.ion2, d.u));
  }
  std::vector<double> chi(T.size());
  for (std::size_t k = 0; k < T.size(); ++k) {
    const double pair = chi_per_moment * M[k] / B;
    const double ions = curie * g2 * s_ion_s1 / T[k];
    chi[k] = (1.0 - s.rho) * pair + s.rho * ions + s.tip;
  }
  return chi;
}

std::vector<double> magnetisation(const Sample& s, const std::vector<double>& B, double T,
                                  const std::vector<Direction>& dirs) {
  const model::Matrix h0 = model::zero_field(s.p);
  std::vector<double> M(B.size(), 0.0);
  for (const Direction& d : dirs) {
    const model::Matrix z = model::zeeman(s.p, d.u);
    const double g1 = std::sqrt(g2_along(s.p.ion1, d.u));
    const double g2 = std::sqrt(g2_along(s.p.ion2, d.u));
    for (std::size_t k = 0; k < B.size(); ++k) {
      // No field, no moment: the levels' moments then cancel but for rounding.
      if (B[k] == 0.0) continue;
      const double pair = thermal_moment(levels(h0, z, B[k]), T);
      const double ions = free_ion_moment(g1, B[k], T) + free_ion_moment(g2, B[k], T);
      M[k] += d.weight * ((1.0 - s.rho) * pair + s.rho * ions);
    }
  }
  for (std::size_t k = 0; k < B.size(); ++k) M[k] += s.tip * B[k] / chi_per_moment;
  return M;
}

}  // namespace mag
