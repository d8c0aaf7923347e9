#include "sweep/hamiltonian.hpp"

#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <set>
#include <utility>
#include <vector>

namespace {

constexpr int n = sweep::n_states;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double root3 = 1.7320508075688772;

struct Inputs {
  double J, D1, D2, E1, E2;
};

// Inputs of every scale; with E1, E2 not 0 none of the 49 upper positions vanishes.
constexpr Inputs generic[] = {
    {-1.0, 0.0, 0.0, 0.0, 0.0},    {0.7, 1.3, -2.1, 0.4, -0.15},     {-25.0, 10.0, 10.0, 3.0, 3.0},
    {1e-3, -4e5, 7e4, -1e5, 2e4},  {3.25, 0.5, -0.5, -0.125, 0.125}, {123.0, -45.0, 67.0, 8.0, -9.0},
    {-1e6, 1e6, -1e6, 0.0, 0.0}};

// The built matrix; ar, ai and w start as NaN so that every element must be
// written. Its eigenvalues come from the lower triangle, which ch reads.
struct Built {
  std::vector<double> ar = std::vector<double>(n * n, nan);
  std::vector<double> ai = std::vector<double>(n * n, nan);
  std::vector<double> w = std::vector<double>(n, nan);
  explicit Built(const Inputs& in) {
    sweep::build_spin_hamiltonian(in.J, in.D1, in.D2, in.E1, in.E2, ar.data(), ai.data(),
                                  w.data());
  }
  double re(int i, int k) const { return ar[(k - 1) * n + (i - 1)]; }
  double im(int i, int k) const { return ai[(k - 1) * n + (i - 1)]; }
  // Ascending, from Eigen's self-adjoint solver: a reference independent of ours.
  std::vector<double> eigenvalues() const {
    Eigen::MatrixXcd a(n, n);
    for (int k = 1; k <= n; ++k)
      for (int i = 1; i <= n; ++i) a(i - 1, k - 1) = {re(i, k), im(i, k)};
    const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXcd> solver(a, Eigen::EigenvaluesOnly);
    EXPECT_EQ(solver.info(), Eigen::Success);
    return {solver.eigenvalues().data(), solver.eigenvalues().data() + n};
  }
};

// Exchange, rhombic and transverse Zeeman positions of the upper triangle.
const std::set<std::pair<int, int>> coupled = [] {
  std::set<std::pair<int, int>> p = {{2, 5}, {4, 7},  {10, 13}, {12, 15}, {3, 6},
                                     {6, 9}, {8, 11}, {11, 14}, {7, 10}};
  for (int r = 1; r <= 15; ++r) {
    if ((r - 1) % 4 < 2 && r <= 14) p.insert({r, r + 2});  // m2 lowered by 2
    if (r <= 8) p.insert({r, r + 8});                       // m1 lowered by 2
    if (r % 4 != 0) p.insert({r, r + 1});                   // m2 lowered by 1
    if (r <= 12) p.insert({r, r + 4});                      // m1 lowered by 1
  }
  return p;
}();

// Hermitian in both triangles, real zero-trace diagonal, exactly the coupled
// positions filled, w cleared.
TEST(hamiltonian, Structure) {
  ASSERT_EQ(coupled.size(), 49u);
  for (const Inputs& in : generic) {
    SCOPED_TRACE(in.J);
    const Built h(in);
    double trace = 0.0, scale = 1.0;
    for (int i = 1; i <= n; ++i) {
      EXPECT_EQ(h.w[i - 1], 0.0);
      EXPECT_EQ(h.im(i, i), 0.0) << i;
      trace += h.re(i, i);
      scale = std::max(scale, std::fabs(h.re(i, i)));
      for (int k = 1; k <= n; ++k) {
        EXPECT_EQ(h.re(k, i), h.re(i, k)) << i << ", " << k;
        EXPECT_EQ(h.im(k, i), -h.im(i, k)) << i << ", " << k;
        if (k <= i || in.E1 == 0.0 || in.E2 == 0.0) continue;
        const bool on = coupled.count({i, k}) != 0;
        EXPECT_EQ(h.re(i, k) != 0.0, on) << i << ", " << k;
        EXPECT_TRUE(on || h.im(i, k) == 0.0) << i << ", " << k;
      }
    }
    EXPECT_LE(std::fabs(trace), 64 * std::numeric_limits<double>::epsilon() * scale);
  }
}

TEST(hamiltonian, ElementsWithoutCouplings) {
  const Built h({0.0, 0.0, 0.0, 0.0, 0.0});
  // 2 x 0.40431 x 0.1 between m = +-3/2 and +-1/2, 2 x 0.46686 x 0.1 between
  // +1/2 and -1/2, on both ions.
  for (auto [i, k] : {std::pair{1, 2}, {3, 4}, {15, 16}, {1, 5}, {12, 16}})
    EXPECT_NEAR(h.re(i, k), 0.080862, 1e-15) << i << ", " << k;
  for (auto [i, k] : {std::pair{2, 3}, {14, 15}, {5, 9}, {8, 12}})
    EXPECT_NEAR(h.re(i, k), 0.093372, 1e-15) << i << ", " << k;
  // The field leans about 3.2e-9 rad off x, towards -y and -z: every transverse
  // element has the same small phase; exchange and rhombic positions hold 0.
  EXPECT_NEAR(h.im(1, 2), 2.59e-10, 0.01e-10);
  EXPECT_NEAR(h.re(1, 1), -8.98e-10, 0.01e-10);
  EXPECT_NEAR(h.re(16, 16), 8.98e-10, 0.01e-10);
  for (auto [i, k] : coupled) {
    if (k - i == 1 || k - i == 4) {
      EXPECT_NEAR(h.im(i, k) / h.re(i, k), 3.205e-9, 0.001e-9) << i << ", " << k;
    } else {
      EXPECT_EQ(h.re(i, k), 0.0) << i << ", " << k;
    }
  }
}

// Each coupling lands on its own positions: J = 1, D1 = 2, D2 = 3, E1 = 5, E2 = 7.
TEST(hamiltonian, ElementsOfEachCoupling) {
  const Built h({1.0, 2.0, 3.0, 5.0, 7.0});
  const struct {
    int i, k;
    double value;
  } rows[] = {
      {2, 5, -3.0},       {12, 15, -3.0},     {3, 6, -3.4641016151377544},
      {11, 14, -3.4641016151377544},          {7, 10, -4.0},
      {1, 3, 7 * root3},  {14, 16, 7 * root3}, {1, 9, 5 * root3}, {8, 16, 5 * root3},
      {1, 1, -4.5 + 2 + 3}, {2, 2, -1.5 + 2 - 3}, {6, 6, -0.5 - 2 - 3}, {9, 9, 1.5 - 2 + 3},
      {13, 13, 4.5 + 2 + 3}, {16, 16, -4.5 + 2 + 3},
  };
  for (const auto& r : rows) EXPECT_NEAR(h.re(r.i, r.k), r.value, 2e-9) << r.i << ", " << r.k;
}

// Only exchange: levels S(S+1)(-J) + 7.5 J of total spin S, split by M x 0.093372.
TEST(hamiltonian, ExchangeMultiplets) {
  for (double J : {-1.0, 0.3, 2.5, -40.0}) {
    SCOPED_TRACE(J);
    std::vector<double> expected;
    for (int S = 0; S <= 3; ++S)
      for (int M = -S; M <= S; ++M) expected.push_back(S * (S + 1) * -J + 7.5 * J + M * 0.093372);
    std::sort(expected.begin(), expected.end());
    const std::vector<double> got = Built({J, 0.0, 0.0, 0.0, 0.0}).eigenvalues();
    for (int j = 0; j < n; ++j) EXPECT_NEAR(got[j], expected[j], 1e-5) << j + 1;
  }
}

// Exchanging the ions permutes the basis and keeps the spectrum: both pairs
// swapped at once, or one pair where the other is equal on both ions.
TEST(hamiltonian, SwappingTheIonsKeepsTheEigenvalues) {
  for (const Inputs& in : generic) {
    SCOPED_TRACE(in.J);
    const Inputs cases[][2] = {
        {in, {in.J, in.D2, in.D1, in.E2, in.E1}},
        {{in.J, in.D1, in.D2, in.E1, in.E1}, {in.J, in.D2, in.D1, in.E1, in.E1}},
        {{in.J, in.D1, in.D1, in.E1, in.E2}, {in.J, in.D1, in.D1, in.E2, in.E1}},
    };
    for (const auto& c : cases) {
      const std::vector<double> a = Built(c[0]).eigenvalues();
      const std::vector<double> b = Built(c[1]).eigenvalues();
      double scale = 1.0;
      for (double x : a) scale = std::max(scale, std::fabs(x));
      for (int j = 0; j < n; ++j) EXPECT_NEAR(b[j], a[j], 1e-12 * scale) << j + 1;
    }
  }
}

}  // namespace
