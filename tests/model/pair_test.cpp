// The pair's model against the Hamiltonian built afresh from the spin
// matrices and solved by Eigen, for random parameters that use every one of
// its options.
#include <gtest/gtest.h>

#include <random>

#include "model/pair.hpp"
#include "support/pair_reference.hpp"

namespace {

using support::Cmat;

struct Case {
  model::Parameters p;
  support::PairInput in;
};

// Random values of every parameter: exchange of either sign, two different
// ions with their own rhombic terms and g-values, any field and direction.
std::vector<Case> random_cases(int count) {
  std::mt19937_64 random(20261211);
  auto u = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
  std::vector<Case> cases;
  for (int k = 0; k < count; ++k) {
    Case c;
    c.in.J = u(-5, 5);
    c.in.D1 = u(-10, 10);
    c.in.D2 = u(-10, 10);
    c.in.E1 = u(-3, 3);
    c.in.E2 = u(-3, 3);
    for (auto& g : c.in.g1) g = u(1.5, 2.5);
    for (auto& g : c.in.g2) g = u(1.5, 2.5);
    c.in.B = u(0.01, 10);
    c.in.theta = u(0, 180);
    c.in.phi = u(-180, 360);
    c.p.J = c.in.J;
    c.p.ion1 = {c.in.D1, c.in.E1, c.in.g1[0], c.in.g1[1], c.in.g1[2]};
    c.p.ion2 = {c.in.D2, c.in.E2, c.in.g2[0], c.in.g2[1], c.in.g2[2]};
    c.p.field = {c.in.B, c.in.theta, c.in.phi};
    cases.push_back(c);
  }
  return cases;
}

Eigen::VectorXcd vector_of(const model::State& s) {
  Eigen::VectorXcd v(16);
  for (int i = 0; i < 16; ++i) v(i) = s.v[i];
  return v;
}

double expectation(const Eigen::VectorXcd& v, const Cmat& m) { return (v.adjoint() * m * v)(0, 0).real(); }

// Element for element, not only the spectrum: the complex conjugate of H
// (a wrong sign of Sy) has the same eigenvalues.
TEST(PairModel, MatrixIsTheOperatorsOwn) {
  for (const Case& c : random_cases(50)) {
    const Cmat ref = support::reference_hamiltonian(c.in);
    const model::Matrix h = model::hamiltonian(c.p);
    for (int r = 0; r < 16; ++r)
      for (int col = 0; col < 16; ++col)
        ASSERT_LT(std::abs(h.at(r, col) - ref(r, col)), 1e-12) << r << " " << col;
  }
}

TEST(PairModel, StatesAgreeWithAnIndependentConstruction) {
  Cmat projector[4];
  for (int S = 0; S < 4; ++S) projector[S] = support::spin_projector(S);
  const Cmat s2 = support::total_s2();
  const auto spins = support::pair_spins();
  double worst_energy = 0, worst_sum = 0, worst_weight = 0;
  for (const Case& c : random_cases(300)) {
    const Cmat ref = support::reference_hamiltonian(c.in);
    const Eigen::SelfAdjointEigenSolver<Cmat> es(ref);
    const model::Spectrum s = model::solve(c.p);
    ASSERT_EQ(s.ierr, 0);
    const auto b = support::field_of(c.in);
    Cmat along = Cmat::Zero(16, 16);  // S.n, n the field's unit vector
    for (int a = 0; a < 3; ++a) along += (b[a] / c.in.B) * (spins[0][a] + spins[1][a]);
    for (int j = 0; j < 16; ++j) {
      const model::State& st = s.states[j];
      const Eigen::VectorXcd v = vector_of(st);
      worst_energy = std::max(worst_energy, std::fabs(st.energy - es.eigenvalues()(j)));
      ASSERT_NEAR(v.norm(), 1.0, 1e-12);
      ASSERT_LT((ref * v - st.energy * v).norm(), 1e-9) << "an eigenvector of H";
      EXPECT_NEAR(st.s2, expectation(v, s2), 1e-12);
      EXPECT_NEAR(st.sn, expectation(v, along), 1e-12);
      double sum = 0;
      for (int S = 0; S < 4; ++S) {
        sum += st.w[S];
        worst_weight = std::max(worst_weight, std::fabs(st.w[S] - expectation(v, projector[S])));
      }
      worst_sum = std::max(worst_sum, std::fabs(sum - 1.0));
    }
  }
  EXPECT_LT(worst_energy, 1e-9);
  EXPECT_LT(worst_sum, 1e-12);
  EXPECT_LT(worst_weight, 1e-12);
}

// The example that colouring by <S^2> got wrong: J = -1, D1 = D2 = 5 in
// dimerscan's field, its lowest state 64 % S = 0 and 36 % S = 2, no S = 1
// or 3, while <S^2> = 2.16 would read as S = 1.
TEST(PairModel, GroundStateOfStrongZeroFieldSplittingIsAMixOfSingletAndQuintet) {
  model::Parameters p;
  p.J = -1;
  p.ion1.D = p.ion2.D = 5;
  const model::Spectrum s = model::solve(p);
  const model::State& g = s.states[0];
  EXPECT_NEAR(g.w[0], 0.64, 0.01);
  EXPECT_NEAR(g.w[2], 0.36, 0.01);
  EXPECT_LT(g.w[1] + g.w[3], 1e-6);
  EXPECT_NEAR(g.s2, 6 * g.w[2], 1e-9);
}

}  // namespace
