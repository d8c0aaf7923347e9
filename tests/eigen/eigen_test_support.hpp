// Shared by the eigensolver tests: seeded Hermitian matrices, Eigen's
// self-adjoint solver as a black-box reference, and checks of eigenvalues and
// eigenvectors. Indices run from 1.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "eigen/eigen.hpp"

namespace eigen_test {

using cplx = std::complex<double>;
inline constexpr double qnan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double orth = 1e-12;  // Z^H Z = I within this

// Bitwise equality, so that NaN sentinels and signed zeros compare too.
inline bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
  });
}

// A dense complex matrix of order n, column-major with leading dimension n.
struct Matrix {
  int n;
  std::vector<cplx> a = std::vector<cplx>(n * n);
  cplx& operator()(int i, int k) { return a[(k - 1) * n + i - 1]; }
  cplx operator()(int i, int k) const { return a[(k - 1) * n + i - 1]; }
  // 1e-12 n max|a|: the bound for eigenvalues and residuals.
  double tol() const {
    double m = 0;
    for (const cplx& x : a) m = std::max({m, std::fabs(x.real()), std::fabs(x.imag())});
    return 1e-12 * n * m;
  }
};

enum class Kind { random, real, repeated, zero_rows, zero };
inline constexpr Kind all_kinds[] = {Kind::random, Kind::real, Kind::repeated, Kind::zero_rows,
                                     Kind::zero};

// Seeded: elements in [-1, 1); real: no imaginary parts; repeated: I + u u^H (eigenvalue 1
// n-1 times); zero_rows: rows and columns 1, 4, 7, ... zero; zero: the zero matrix.
inline Matrix make_hermitian(int n, Kind kind) {
  std::mt19937_64 rng(1000u * n + static_cast<unsigned>(kind));
  auto uniform = [&] { return static_cast<double>(rng() >> 11) * 0x1p-52 - 1.0; };
  Matrix h{n};
  std::vector<cplx> u(n);
  for (cplx& x : u) x = {uniform(), uniform()};
  for (int k = 1; k <= n; ++k)
    for (int i = k; i <= n; ++i) {
      cplx x = {uniform(), kind == Kind::real ? 0.0 : uniform()};
      if (kind == Kind::repeated) x = (i == k ? 1.0 : 0.0) + u[i - 1] * std::conj(u[k - 1]);
      if (kind == Kind::zero || (kind == Kind::zero_rows && (i % 3 == 1 || k % 3 == 1))) x = 0.0;
      h(i, k) = i == k ? x.real() : x;
      h(k, i) = std::conj(h(i, k));
    }
  return h;
}

// The real symmetric tridiagonal matrix with diagonal d and sub-diagonal e(2..n).
inline Matrix tridiagonal(const std::vector<double>& d, const std::vector<double>& e) {
  Matrix t{static_cast<int>(d.size())};
  for (int i = 1; i <= t.n; ++i) t(i, i) = d[i - 1];
  for (int i = 2; i <= t.n; ++i) t(i, i - 1) = t(i - 1, i) = e[i - 1];
  return t;
}

// The leading n x n block of zr + i zi (leading dimension nm; zi null: zero).
inline Matrix gather(int n, int nm, const double* zr, const double* zi) {
  Matrix z{n};
  for (int k = 1; k <= n; ++k)
    for (int i = 1; i <= n; ++i)
      z(i, k) = {zr[(k - 1) * nm + i - 1], zi ? zi[(k - 1) * nm + i - 1] : 0.0};
  return z;
}

// x y, or x^H y when adjoint is set.
inline Matrix product(const Matrix& x, const Matrix& y, bool adjoint = false) {
  Matrix p{x.n};
  for (int k = 1; k <= x.n; ++k)
    for (int i = 1; i <= x.n; ++i)
      for (int j = 1; j <= x.n; ++j) p(i, k) += (adjoint ? std::conj(x(j, i)) : x(i, j)) * y(j, k);
  return p;
}

inline void expect_near(const Matrix& x, const Matrix& y, double tol) {
  for (std::size_t q = 0; q < x.a.size(); ++q)
    EXPECT_LE(std::abs(x.a[q] - y.a[q]), tol) << "element " << q % x.n + 1 << ", " << q / x.n + 1;
}

inline Matrix identity(int n) {
  Matrix u{n};
  for (int i = 1; i <= n; ++i) u(i, i) = 1.0;
  return u;
}

// w ascending and equal to the reference eigenvalues of h within h.tol().
inline void expect_values(const Matrix& h, const double* w) {
  const Eigen::MatrixXcd a = Eigen::Map<const Eigen::MatrixXcd>(h.a.data(), h.n, h.n);
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> reference(a, Eigen::EigenvaluesOnly);
  ASSERT_EQ(reference.info(), Eigen::Success);
  for (int j = 1; j <= h.n; ++j) {
    if (j > 1) {
      EXPECT_LE(w[j - 2], w[j - 1]) << j;
    }
    EXPECT_NEAR(w[j - 1], reference.eigenvalues()[j - 1], h.tol()) << j;
  }
}

// z holds orthonormal eigenvectors of h: ||h z_j - w_j z_j|| <= h.tol(), z^H z = I.
inline void expect_vectors(const Matrix& h, const double* w, const Matrix& z) {
  const Matrix r = product(h, z);
  for (int j = 1; j <= h.n; ++j) {
    double r2 = 0;
    for (int i = 1; i <= h.n; ++i) r2 += std::norm(r(i, j) - w[j - 1] * z(i, j));
    EXPECT_LE(std::sqrt(r2), h.tol()) << "column " << j;
  }
  expect_near(product(z, z, true), identity(h.n), orth);
}

// An element next to the diagonal so small against its row that the reduction's
// 1 + g / f overflows (its divided modulus subnormal) counts as zero, instead of
// spreading infinities and NaN through the results while ierr stays 0.
inline Matrix with_negligible_element(int n) {
  Matrix h{n};
  auto set = [&](int i, int k, cplx x) {
    h(i, k) = x;
    h(k, i) = std::conj(x);
  };
  if (n == 3) {  // row 3: (1, 1e-320 i) beside the diagonal 3
    for (int i = 1; i <= 3; ++i) h(i, i) = i;
    set(2, 1, {1, 1});
    set(3, 1, 1);
    set(3, 2, {0, 1e-320});
  } else {  // rows 5, 6, 8, 13, 15, 16 zero; residues fall to 1e-239 before row 4 is reduced
    set(2, 1, {0, 2.0625});
    set(3, 1, 0.0625);
    set(7, 3, 0.0625);
    set(9, 4, {-2.25, -2.1875});
    set(10, 4, {-3.375, 3.0625});
    set(11, 4, -0.5);
    set(12, 4, {0, 0.25});
    set(14, 4, {2.75, 0.25});
  }
  return h;
}

// What htridi hands over for h, with ar and ai of leading dimension nm (NaN beyond row n).
struct Reduced {
  std::vector<double> ar, ai, d, e, e2, tau;
};
inline Reduced reduce(const Matrix& h, int nm) {
  const std::size_t n = h.n;
  Reduced r{{}, {}, std::vector<double>(n), std::vector<double>(n), std::vector<double>(n),
            std::vector<double>(2 * n)};
  r.ar.assign(nm * n, qnan);
  r.ai.assign(nm * n, qnan);
  for (int k = 1; k <= h.n; ++k)
    for (int i = 1; i <= h.n; ++i) {
      r.ar[(k - 1) * nm + i - 1] = h(i, k).real();
      r.ai[(k - 1) * nm + i - 1] = h(i, k).imag();
    }
  eigen::htridi(nm, h.n, r.ar.data(), r.ai.data(), r.d.data(), r.e.data(), r.e2.data(),
                r.tau.data());
  return r;
}

}  // namespace eigen_test
