// The pair's Hamiltonian built afresh for the tests, from the spin-3/2
// matrices and Kronecker products, and solved by Eigen:
//   H = -2 J S1.S2 + sum over ions [Di (Siz^2 - 5/4) + Ei (Six^2 - Siy^2)
//       + muB (gix Bx Six + giy By Siy + giz Bz Siz)],
// B = B (sin t cos p, sin t sin p, cos t), t and p in degrees; ion 1 the
// slow index of the product basis, m from +3/2 down to -3/2.
#pragma once

#include <Eigen/Dense>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace support {

using Cmat = Eigen::Matrix<std::complex<double>, Eigen::Dynamic, Eigen::Dynamic>;

struct PairInput {
  double J = 0, D1 = 0, D2 = 0, E1 = 0, E2 = 0;
  std::array<double, 3> g1{2, 2, 2}, g2{2, 2, 2};
  double B = 0.1, theta = 90, phi = 0;
};

// Sx, Sy, Sz of one spin 3/2.
inline std::array<Cmat, 3> spin_three_halves() {
  Cmat plus = Cmat::Zero(4, 4);  // S+ |m> = sqrt(15/4 - m (m + 1)) |m + 1>
  plus(0, 1) = std::sqrt(3.0);
  plus(1, 2) = 2.0;
  plus(2, 3) = std::sqrt(3.0);
  const Cmat minus = plus.adjoint();
  Cmat z = Cmat::Zero(4, 4);
  for (int k = 0; k < 4; ++k) z(k, k) = 1.5 - k;
  const std::complex<double> i(0, 1);
  return {(plus + minus) / 2.0, (plus - minus) / (2.0 * i), z};
}

inline Cmat kron(const Cmat& a, const Cmat& b) {
  Cmat k(a.rows() * b.rows(), a.cols() * b.cols());
  for (int r = 0; r < a.rows(); ++r)
    for (int c = 0; c < a.cols(); ++c) k.block(r * b.rows(), c * b.cols(), b.rows(), b.cols()) = a(r, c) * b;
  return k;
}

// The six components: [ion][axis].
inline std::array<std::array<Cmat, 3>, 2> pair_spins() {
  const auto s = spin_three_halves();
  const Cmat one = Cmat::Identity(4, 4);
  std::array<std::array<Cmat, 3>, 2> p;
  for (int a = 0; a < 3; ++a) {
    p[0][a] = kron(s[a], one);
    p[1][a] = kron(one, s[a]);
  }
  return p;
}

inline std::array<double, 3> field_of(const PairInput& in) {
  const double t = in.theta * std::numbers::pi / 180, f = in.phi * std::numbers::pi / 180;
  return {in.B * std::sin(t) * std::cos(f), in.B * std::sin(t) * std::sin(f), in.B * std::cos(t)};
}

inline Cmat reference_hamiltonian(const PairInput& in) {
  constexpr double mu_B = 0.46686;
  const auto s = pair_spins();
  const Cmat one = Cmat::Identity(16, 16);
  Cmat h = -2.0 * in.J * (s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2]);
  const double D[2] = {in.D1, in.D2}, E[2] = {in.E1, in.E2};
  const std::array<double, 3> g[2] = {in.g1, in.g2};
  const auto b = field_of(in);
  for (int i = 0; i < 2; ++i) {
    h += D[i] * (s[i][2] * s[i][2] - 1.25 * one) + E[i] * (s[i][0] * s[i][0] - s[i][1] * s[i][1]);
    for (int a = 0; a < 3; ++a) h += mu_B * g[i][a] * b[a] * s[i][a];
  }
  return h;
}

// Total S^2 of the pair.
inline Cmat total_s2() {
  const auto s = pair_spins();
  Cmat s2 = Cmat::Zero(16, 16);
  for (int a = 0; a < 3; ++a) s2 += (s[0][a] + s[1][a]) * (s[0][a] + s[1][a]);
  return s2;
}

// The projector onto total spin S, from the eigenvectors of S^2 whose
// eigenvalue is S (S + 1).
inline Cmat spin_projector(int S) {
  const Eigen::SelfAdjointEigenSolver<Cmat> es(total_s2());
  Cmat p = Cmat::Zero(16, 16);
  for (int k = 0; k < 16; ++k)
    if (std::abs(es.eigenvalues()(k) - S * (S + 1.0)) < 1e-6)
      p += es.eigenvectors().col(k) * es.eigenvectors().col(k).adjoint();
  return p;
}

}  // namespace support
