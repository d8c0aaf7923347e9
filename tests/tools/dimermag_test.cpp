// dimermag: its susceptibility and magnetisation against the closed form of
// the isotropic pair, Curie's law and an independent computation (the pair's
// Hamiltonian built here from the spin matrices, Eigen's eigensolver, a dense
// grid of directions over the whole sphere); fits of synthetic data; and the
// built program refusing bad tables.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "e2e/run.hpp"
#include "fit.hpp"
#include "magnetism.hpp"

namespace {

// The field's constants as the issue of the program states them.
constexpr double kB = 0.6950348, muB = 0.46686, emu = 0.558494;
constexpr double C = emu * muB / (3 * kB);  // 0.1250483

using cd = std::complex<double>;
using M16 = Eigen::Matrix<cd, 16, 16>;
using M4 = Eigen::Matrix<cd, 4, 4>;

// Spin-3/2 operators, basis m = 3/2, 1/2, -1/2, -3/2.
struct Spin {
  M4 x, y, z;
  Spin() {
    M4 up = M4::Zero();
    z = M4::Zero();
    for (int k = 0; k < 4; ++k) z(k, k) = 1.5 - k;
    for (int k = 1; k < 4; ++k) {
      const double m = 1.5 - k;
      up(k - 1, k) = std::sqrt(1.5 * 2.5 - m * (m + 1));
    }
    x = (up + up.adjoint()) / 2.0;
    y = (up - up.adjoint()) / cd(0, 2);
  }
};

// a on ion 1 (the slow index) or ion 2.
M16 on(int ion, const M4& a) {
  M16 m = M16::Zero();
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) {
      if (ion == 1 && r % 4 == c % 4) m(r, c) = a(r / 4, c / 4);
      if (ion == 2 && r / 4 == c / 4) m(r, c) = a(r % 4, c % 4);
    }
  return m;
}

struct Reference {
  M16 h0, s[2][3];
  model::Parameters p;
  explicit Reference(const model::Parameters& par) : p(par) {
    const Spin sp;
    for (int i = 0; i < 2; ++i) {
      s[i][0] = on(i + 1, sp.x), s[i][1] = on(i + 1, sp.y), s[i][2] = on(i + 1, sp.z);
    }
    h0 = -2 * p.J * (s[0][0] * s[1][0] + s[0][1] * s[1][1] + s[0][2] * s[1][2]);
    const model::Ion* ions[2] = {&p.ion1, &p.ion2};
    for (int i = 0; i < 2; ++i)
      h0 += ions[i]->D * (s[i][2] * s[i][2] - 1.25 * M16::Identity()) +
            ions[i]->E * (s[i][0] * s[i][0] - s[i][1] * s[i][1]);
  }
  M16 zeeman(const std::array<double, 3>& u) const {
    M16 z = M16::Zero();
    const model::Ion* ions[2] = {&p.ion1, &p.ion2};
    for (int i = 0; i < 2; ++i)
      z += muB * (ions[i]->gx * u[0] * s[i][0] + ions[i]->gy * u[1] * s[i][1] +
                  ions[i]->gz * u[2] * s[i][2]);
    return z;
  }
  // The levels at B along u and their moments -<i|Z|i> (muB).
  struct Levels {
    Eigen::Matrix<double, 16, 1> e, m;
    // Their Boltzmann average at T.
    double moment(double T) const {
      double num = 0, den = 0;
      for (int i = 0; i < 16; ++i) {
        const double w = std::exp(-(e[i] - e[0]) / (kB * T));
        num += m[i] * w;
        den += w;
      }
      return num / den;
    }
  };
  Levels levels(const std::array<double, 3>& u, double B) const {
    const M16 z = zeeman(u);
    Eigen::SelfAdjointEigenSolver<M16> es(h0 + B * z);
    Levels l;
    l.e = es.eigenvalues();
    for (int i = 0; i < 16; ++i)
      l.m[i] = -(es.eigenvectors().col(i).adjoint() * z * es.eigenvectors().col(i))(0, 0).real() / muB;
    return l;
  }
  // M (muB) along u as -dF/dB by central differences of F = -kT ln Z.
  double moment_by_difference(const std::array<double, 3>& u, double B, double T) const {
    constexpr double h = 1e-4;  // T
    auto F = [&](double b) {
      Eigen::SelfAdjointEigenSolver<M16> es(h0 + b * zeeman(u), Eigen::EigenvaluesOnly);
      const auto& e = es.eigenvalues();
      double z = 0;
      for (int i = 0; i < 16; ++i) z += std::exp(-(e[i] - e[0]) / (kB * T));
      return e[0] - kB * T * std::log(z);
    };
    return -(F(B + h) - F(B - h)) / (2 * h) / muB;
  }
};

// A dense grid over the whole sphere: Gauss-Legendre in cos(theta) on
// [-1, 1], its nodes from the eigenvalues of the Jacobi matrix
// (Golub-Welsch), times equal steps in phi over [0, 2 pi).
std::vector<mag::Direction> dense_sphere(int nt, int np) {
  Eigen::MatrixXd jac = Eigen::MatrixXd::Zero(nt, nt);
  for (int k = 1; k < nt; ++k) jac(k - 1, k) = jac(k, k - 1) = k / std::sqrt(4.0 * k * k - 1);
  Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> es(jac);
  std::vector<mag::Direction> d;
  for (int a = 0; a < nt; ++a) {
    const double c = es.eigenvalues()[a], w = 2 * std::pow(es.eigenvectors()(0, a), 2);
    for (int b = 0; b < np; ++b) {
      const double phi = 2 * std::numbers::pi * (b + 0.5) / np, s = std::sqrt(1 - c * c);
      d.push_back({{s * std::cos(phi), s * std::sin(phi), c}, w / 2 / np});
    }
  }
  return d;
}

model::Parameters random_pair(std::mt19937_64& gen) {
  auto U = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(gen); };
  model::Parameters p;
  p.J = U(-5, 5);
  p.ion1.D = U(-20, 20), p.ion2.D = U(-20, 20);
  p.ion1.E = p.ion1.D * U(-0.33, 0.33), p.ion2.E = p.ion2.D * U(-0.33, 0.33);
  for (model::Ion* i : {&p.ion1, &p.ion2}) i->gx = U(1.9, 2.3), i->gy = U(1.9, 2.3), i->gz = U(1.9, 2.3);
  return p;
}

double relative(double a, double b) { return std::abs(a - b) / std::abs(b); }

// chiT of the isotropic pair at D = E = 0 in a small field:
// C g^2 sum S(S+1)(2S+1) exp(-E(S)/kT) / sum (2S+1) exp(-E(S)/kT),
// E(S) = -J [S(S+1) - 15/2], here per pair (two ions).
double closed_form(double J, double g, double T) {
  double num = 0, den = 0;
  for (int S = 0; S <= 3; ++S) {
    const double w = (2 * S + 1) * std::exp(J * (S * (S + 1) - 7.5) / (kB * T));
    num += S * (S + 1) * w;
    den += w;
  }
  return C * g * g * num / den;
}

TEST(DimermagPhysics, ClosedFormOfTheIsotropicPairInASmallField) {
  const struct { double J, g; } rows[] = {{-2.5, 1.98}, {-20, 2.0}, {1.5, 2.1}, {0.0, 2.0}};
  const std::vector<double> T = {1.8, 2.0, 5.0, 20.0, 100.0, 300.0};
  for (const auto& row : rows) {
    SCOPED_TRACE("J = " + std::to_string(row.J));
    mag::Sample s;
    s.p.J = row.J;
    s.p.ion1.gx = s.p.ion1.gy = s.p.ion1.gz = s.p.ion2.gx = s.p.ion2.gy = s.p.ion2.gz = row.g;
    for (const auto& dirs : {mag::default_powder(), mag::oriented(37, 211)}) {
      const std::vector<double> chi = mag::susceptibility(s, 0.001, T, dirs);
      for (std::size_t k = 0; k < T.size(); ++k)
        EXPECT_LT(relative(chi[k] * T[k], closed_form(row.J, row.g, T[k])), 1e-6) << "T = " << T[k];
    }
  }
}

TEST(DimermagPhysics, CurieLimitAtHighTemperature) {
  // chiT -> 2 C <g^2> 15/4, <g^2> the mean of the squared principal values.
  std::mt19937_64 gen(11);
  for (int r = 0; r < 3; ++r) {
    mag::Sample s;
    s.p = random_pair(gen);
    const double g2 = (std::pow(s.p.ion1.gx, 2) + std::pow(s.p.ion1.gy, 2) + std::pow(s.p.ion1.gz, 2) +
                       std::pow(s.p.ion2.gx, 2) + std::pow(s.p.ion2.gy, 2) + std::pow(s.p.ion2.gz, 2)) / 6;
    const double T = 1e7;
    const double chiT = mag::susceptibility(s, 0.1, {T}, mag::default_powder())[0] * T;
    EXPECT_LT(relative(chiT, 2 * C * g2 * 3.75), 1e-5);
  }
  mag::Sample free;
  EXPECT_NEAR(mag::susceptibility(free, 0.1, {1e6}, mag::default_powder())[0] * 1e6, 3.75145, 5e-6);
}

TEST(DimermagPhysics, PowderAgreesWithADenseGridOverTheSphere) {
  std::mt19937_64 gen(2024);
  std::vector<model::Parameters> pairs = {random_pair(gen), random_pair(gen)};
  model::Parameters hard = random_pair(gen);  // the corner of the stated range
  hard.J = 0.3, hard.ion1.D = hard.ion2.D = -20, hard.ion1.E = -4, hard.ion2.E = 3;
  pairs.push_back(hard);
  const std::vector<mag::Direction> grid = dense_sphere(96, 48);
  const std::vector<double> T = {1.8, 4, 15, 80, 300};
  for (const model::Parameters& p : pairs) {
    SCOPED_TRACE("J = " + std::to_string(p.J) + ", D1 = " + std::to_string(p.ion1.D));
    const Reference ref(p);
    mag::Sample s;
    s.p = p;
    for (double B : {0.1, 7.0}) {
      std::vector<double> m(T.size(), 0.0);
      for (const mag::Direction& d : grid) {
        const Reference::Levels l = ref.levels(d.u, B);
        for (std::size_t k = 0; k < T.size(); ++k) m[k] += d.weight * l.moment(T[k]);
      }
      const std::vector<double> chi = mag::susceptibility(s, B, T, mag::default_powder());
      for (std::size_t k = 0; k < T.size(); ++k)
        EXPECT_LT(relative(chi[k], emu * m[k] / B), 1e-4) << "B = " << B << ", T = " << T[k];
    }
    double m2 = 0;
    for (const mag::Direction& d : grid) m2 += d.weight * ref.levels(d.u, 2.0).moment(1.8);
    EXPECT_LT(relative(mag::magnetisation(s, {2.0}, 1.8, mag::default_powder())[0], m2), 1e-4);
  }
}

TEST(DimermagPhysics, OneDirectionAgreesWithMinusTheFieldDerivativeOfTheFreeEnergy) {
  std::mt19937_64 gen(5);
  for (int r = 0; r < 4; ++r) {
    const model::Parameters p = random_pair(gen);
    const double theta = std::uniform_real_distribution<double>(0, 180)(gen);
    const double phi = std::uniform_real_distribution<double>(0, 360)(gen);
    const Reference ref(p);
    mag::Sample s;
    s.p = p;
    const auto dir = mag::oriented(theta, phi);
    const double t = theta * std::numbers::pi / 180, f = phi * std::numbers::pi / 180;
    const std::array<double, 3> u = {std::sin(t) * std::cos(f), std::sin(t) * std::sin(f), std::cos(t)};
    const std::vector<double> fields = {0.5, 3.0, 7.0};
    const std::vector<double> M = mag::magnetisation(s, fields, 1.8, dir);
    for (std::size_t k = 0; k < fields.size(); ++k)
      EXPECT_LT(relative(M[k], ref.moment_by_difference(u, fields[k], 1.8)), 1e-6) << fields[k];
    const std::vector<double> chi = mag::susceptibility(s, 0.1, {2.0, 30.0, 300.0}, dir);
    EXPECT_LT(relative(chi[1], emu * ref.moment_by_difference(u, 0.1, 30.0) / 0.1), 1e-6);
  }
}

TEST(DimermagPhysics, SmallFieldPowderIsTheMeanOfTheThreeAxes) {
  // In the linear regime chi_powder = (chi_x + chi_y + chi_z) / 3, for any
  // rhombic pair and g tensors.
  std::mt19937_64 gen(9);
  mag::Sample s;
  s.p = random_pair(gen);
  const std::vector<double> T = {2.0, 10.0, 100.0};
  const auto powder = mag::susceptibility(s, 0.001, T, mag::default_powder());
  const auto x = mag::susceptibility(s, 0.001, T, mag::oriented(90, 0));
  const auto y = mag::susceptibility(s, 0.001, T, mag::oriented(90, 90));
  const auto z = mag::susceptibility(s, 0.001, T, mag::oriented(0, 0));
  for (std::size_t k = 0; k < T.size(); ++k) {
    EXPECT_LT(relative(powder[k], (x[k] + y[k] + z[k]) / 3), 1e-6) << T[k];
    EXPECT_GT(std::abs(x[k] / z[k] - 1), 1e-3);  // the axes do differ
  }
}

TEST(DimermagPhysics, QuadratureConverges) {
  // The hardest corner: |D| = 20, T = 1.8 K, B = 7 T, rhombic.
  mag::Sample s;
  s.p.J = -0.5, s.p.ion1.D = s.p.ion2.D = -20, s.p.ion1.E = 5, s.p.ion2.E = -3;
  s.p.ion1.gz = s.p.ion2.gz = 2.2;
  const double ref = mag::magnetisation(s, {7.0}, 1.8, mag::powder(96, 48))[0];
  double last = 1;
  for (int n : {4, 8, 16, 32}) {
    const double err = relative(mag::magnetisation(s, {7.0}, 1.8, mag::powder(n, n / 2))[0], ref);
    EXPECT_LT(err, last) << n;
    last = err;
  }
  EXPECT_LT(relative(mag::magnetisation(s, {7.0}, 1.8, mag::default_powder())[0], ref), 1e-6);
}

// Synthetic chiT of J = -2.5, D = 1.2, g = 1.98 without noise.
mag::Problem synthetic(const std::string& vary) {
  mag::Problem pb;
  mag::Sample s;
  s.p.J = -2.5, s.p.ion1.D = s.p.ion2.D = 1.2;
  s.p.ion1.gx = s.p.ion1.gy = s.p.ion1.gz = s.p.ion2.gx = s.p.ion2.gy = s.p.ion2.gz = 1.98;
  pb.dirs = mag::powder(8, 4);
  for (double T = 2; T <= 300; T *= 1.25) pb.data.x.push_back(T);
  pb.data.y = mag::susceptibility(s, 0.1, pb.data.x, pb.dirs);
  for (std::size_t k = 0; k < pb.data.x.size(); ++k) pb.data.y[k] *= pb.data.x[k];
  pb.data.q = mag::Quantity::chiT;
  pb.start.J = -1.5, pb.start.D1 = 0.6;
  pb.start.g1 = pb.start.g2 = {2.0, 2.0, 2.0};
  pb.vary = mag::parse_vary(vary);
  return pb;
}

TEST(DimermagFit, RecoversTheParametersOfSyntheticData) {
  const mag::Outcome o = mag::fit(synthetic("J,D,g"), {});
  EXPECT_NEAR(o.best.value[0], -2.5, 1e-6);
  EXPECT_NEAR(std::abs(o.best.value[1]), 1.2, 1e-4);
  EXPECT_NEAR(o.best.value[2], 1.98, 1e-7);
  EXPECT_LT(o.best.rss, 1e-12);
  EXPECT_TRUE(o.axial);
  EXPECT_EQ(o.best_positive, o.best.value[1] > 0);
  EXPECT_GE(o.other_rss, 0.0);  // the other sign was tried and reported
}

TEST(DimermagFit, RefusesWhatItCannotFit) {
  const struct {
    int line;
    std::string vary, message;
    bool one_temperature;
  } rows[] = {
      // At one temperature an impurity's Curie term is a constant, as tip is.
      {__LINE__, "rho,tip", "the Jacobian is singular: the data cannot tell rho, tip apart", true},
      // chi is even in E: at E = 0 it does not change to first order.
      {__LINE__, "J,E1", "the Jacobian is singular: the data do not change with E1 at 0", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    mag::Problem pb = synthetic(row.vary);
    if (row.one_temperature) pb.data.x.assign(pb.data.x.size(), 10.0);
    try {
      mag::fit(pb, {});
      ADD_FAILURE() << "a singular Jacobian was accepted";
    } catch (const common::Failure& e) {
      EXPECT_EQ(std::string(e.what()), row.message);
    }
  }
  mag::Problem few = synthetic("J,g");
  few.data.x.resize(2), few.data.y.resize(2);
  EXPECT_THROW(mag::fit(few, {}), common::Failure);
  EXPECT_THROW(mag::parse_vary("J,Q"), common::Failure);
  EXPECT_THROW(mag::parse_vary("D,D1"), common::Failure);
}

e2e::Outcome run_mag(const e2e::Sandbox& box, const std::vector<std::string>& args) {
  return e2e::run_program(DIMERMAG, box, "", args);
}

TEST(DimermagProgram, RefusesABadTableWithOneLineAndWritesNothing) {
  const struct {
    int line;
    std::string table, message;
  } rows[] = {
      {__LINE__, "T chiT\n2 0.1\n4 abc\n", "data.txt, line 3: 'abc' in column chiT is not a number"},
      {__LINE__, "# c\nT M\n2 0.1\n", "data.txt, line 2: the header has no column chiT (or chi)"},
      {__LINE__, "T,chiT\n2,0.1\n0,0.2\n", "data.txt, line 3: T = 0 K: T must be positive"},
      {__LINE__, "T chiT\n2 nan\n", "data.txt, line 2: 'nan' in column chiT is not a finite number"},
      {__LINE__, "T chiT\n2 0.1 7\n", "data.txt, line 2: 3 values where the header on line 1 names 2 columns"},
      {__LINE__, "T chiT\n", "data.txt: no data below the header"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    e2e::Sandbox box;
    e2e::put(box.dir() / "data.txt", row.table);
    e2e::put(box.dir() / "kept.csv", "old\n");
    const e2e::Outcome o = run_mag(box, {"fit", "data.txt", "--vary", "J", "-o", "kept.csv", "--plot", "new.svg"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "dimermag: " + row.message + "\n");
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(e2e::slurp(box.dir() / "kept.csv"), "old\n");
    EXPECT_FALSE(e2e::slurp(box.dir() / "new.svg").has_value());
  }
}

TEST(DimermagProgram, RefusesBadOptionsWithOneLine) {
  const struct {
    int line;
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {__LINE__, {"susceptibility", "--T", "2:10:1", "--B", "0"}, "option --B: B must be positive for chi = M / B"},
      {__LINE__, {"susceptibility", "--T", "0:10:1"}, "option --T: T must be positive"},
      {__LINE__, {"fit", "d.txt", "--vary", "J,x"}, "--vary: unknown parameter 'x' (known: J, D, D1, D2, E, E1, E2, g, gz, gxy, rho, tip)"},
      {__LINE__, {"susceptibility", "--T", "2:10:1", "--powder", "--theta", "30"}, "options --powder and --theta/--phi exclude each other"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    e2e::Sandbox box;
    e2e::put(box.dir() / "d.txt", "T chiT\n2 1\n3 1\n");
    const e2e::Outcome o = run_mag(box, row.args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "dimermag: " + row.message + "\n");
  }
}

TEST(DimermagProgram, FitsItsOwnOutput) {
  // What susceptibility writes, fit reads back; -o and --plot are written.
  e2e::Sandbox box;
  const e2e::Outcome made = run_mag(box, {"susceptibility", "--T", "2:300:20", "--J", "-2.5", "--D", "1.2",
                                          "--g", "1.98", "--theta", "40", "--phi", "10"});
  ASSERT_EQ(made.status, 0) << made.err;
  e2e::put(box.dir() / "chiT.txt", made.out);
  const e2e::Outcome o = run_mag(box, {"fit", "chiT.txt", "--vary", "J,g", "--J", "-2", "--D", "1.2",
                                       "--theta", "40", "--phi", "10", "-o", "fit.csv", "--plot", "fit.svg"});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::size_t at = o.out.find("\nJ ");
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_NEAR(std::stod(o.out.substr(at + 3)), -2.5, 1e-9) << o.out;
  EXPECT_NE(o.out.find("points: 15, parameters: 2"), std::string::npos) << o.out;
  const auto csv = e2e::slurp(box.dir() / "fit.csv");
  ASSERT_TRUE(csv.has_value());
  EXPECT_EQ(csv->substr(0, 25), "T,chiT,chiT_fit,residual\n");
  EXPECT_NE(e2e::slurp(box.dir() / "fit.svg").value_or("").find("<polyline class=\"fit\""), std::string::npos);
}

}  // namespace
