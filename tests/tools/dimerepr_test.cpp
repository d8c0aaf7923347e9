// dimerepr: resonance fields and intensities against closed forms and an
// independent brute-force search, the crossing a plain grid search misses,
// the powder grid's convergence, and the built program's refusals.
#include <gtest/gtest.h>

#include <Eigen/Eigenvalues>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "e2e/run.hpp"
#include "epr.hpp"
#include "model/pair.hpp"

namespace {

using epr::Experiment;
using epr::Line;

constexpr double hnu_x = 9.5 / epr::ghz_per_wavenumber;

// True when the tests run under an emulator, where the large cases are cut down.
bool emulated() {
  const char* e = std::getenv("DIMERSCAN_EMULATOR");
  return e != nullptr && *e != '\0';
}

using CMatrix = Eigen::Matrix<std::complex<double>, 16, 16>;

CMatrix dense(const model::Matrix& m) {
  CMatrix d;
  for (int c = 0; c < 16; ++c)
    for (int r = 0; r < 16; ++r) d(r, c) = m.at(r, c);
  return d;
}

// The independent search: Eigen's solver on a grid of `steps` fields, every
// sign change of E_j - E_i - h nu refined by bisection, the intensity from
// Eigen's eigenvectors.
std::vector<Line> brute_force(const Experiment& x, double theta, double phi, int steps) {
  const double t = theta * M_PI / 180, f = phi * M_PI / 180;
  const CMatrix h0 = dense(model::zero_field(x.p));
  const CMatrix zu = dense(model::zeeman(x.p, model::direction(theta, phi)));
  const CMatrix z1 = dense(model::zeeman(x.p, {std::cos(t) * std::cos(f), std::cos(t) * std::sin(f), -std::sin(t)}));
  const CMatrix z2 = dense(model::zeeman(x.p, {-std::sin(f), std::cos(f), 0.0}));
  const double hnu = x.ghz / epr::ghz_per_wavenumber;
  Eigen::SelfAdjointEigenSolver<CMatrix> es;
  auto levels = [&](double B) {
    es.compute(h0 + B * zu, Eigen::EigenvaluesOnly);
    return Eigen::Matrix<double, 16, 1>(es.eigenvalues());
  };
  const double lo = x.grid.from, hi = x.grid.last(), h = (hi - lo) / steps;
  std::vector<Line> lines;
  auto prev = levels(lo);
  for (int k = 1; k <= steps; ++k) {
    const double b = lo + k * h;
    const auto cur = levels(b);
    for (int i = 0; i < 16; ++i)
      for (int j = i + 1; j < 16; ++j) {
        const double fa = prev[j] - prev[i] - hnu, fb = cur[j] - cur[i] - hnu;
        if ((fa < 0) == (fb < 0)) continue;
        double a = b - h, c = b;
        for (int it = 0; it < 60; ++it) {
          const double m = 0.5 * (a + c);
          const auto e = levels(m);
          if ((e[j] - e[i] - hnu < 0) == (fa < 0)) a = m;
          else c = m;
        }
        const double B = 0.5 * (a + c);
        es.compute(h0 + B * zu);
        const auto& v = es.eigenvectors();
        const auto& w = es.eigenvalues();
        double sum = 0, p_i = 0, p_j = 0;
        for (int q = 0; q < 16; ++q) {
          const double pq = std::exp(-(w[q] - w[0]) / (epr::k_B * x.T));
          sum += pq;
          if (q == i) p_i = pq;
          if (q == j) p_j = pq;
        }
        const auto vi = v.col(i), vj = v.col(j);
        const double prob = x.mode == epr::Mode::parallel
                                ? std::norm(vi.dot(zu * vj))
                                : 0.5 * (std::norm(vi.dot(z1 * vj)) + std::norm(vi.dot(z2 * vj)));
        if (prob < 1e-20) continue;
        const double slope = (vj.dot(zu * vj) - vi.dot(zu * vi)).real();
        lines.push_back({B, i + 1, j + 1, prob * (p_i - p_j) / sum / std::fabs(slope), theta, phi});
      }
    prev = cur;
  }
  return lines;
}

// ---------------------------------------------------------------- lines

// Two uncoupled ions without zero-field splitting: every allowed line at
// h nu / (g muB), 339.38 mT for g = 2 at 9.5 GHz, whatever the orientation.
TEST(Lines, FreeIonLimit) {
  Experiment x;
  for (const auto& [theta, phi] : {std::pair{0.0, 0.0}, {90.0, 0.0}, {37.0, 61.0}}) {
    SCOPED_TRACE(theta);
    const std::vector<Line> lines = epr::allowed(epr::find_lines(x, theta, phi));
    ASSERT_FALSE(lines.empty());
    for (const Line& l : lines) EXPECT_NEAR(l.B, hnu_x / (2 * model::mu_B), 1e-9);
    EXPECT_NEAR(lines.front().B * 1e3, 339.38, 0.005);
    // Degenerate levels give one line per pair of eigenspaces: M -> M + 1 of M1 + M2 = -3 .. 3.
    EXPECT_EQ(lines.size(), 6u);
  }
}

// A ferromagnetic pair far apart from its S = 2 multiplet: the line of the
// S = 3 multiplet from M = -3 to M = -2 has the closed form
//   g muB (S(S+1) - M(M+1)) / 4 x (p(-3) - p(-2)),
// and none at all with b1 along the field.
TEST(Lines, IntensityOfOneTransition) {
  Experiment x;
  x.p.J = 20;
  const double gmu = 2 * model::mu_B, b_res = hnu_x / gmu;
  const std::vector<Line> lines = epr::allowed(epr::find_lines(x, 20, 30));
  ASSERT_FALSE(lines.empty());
  const Line& l = lines.front();
  EXPECT_EQ(l.lower, 1);
  EXPECT_EQ(l.upper, 2);
  EXPECT_NEAR(l.B, b_res, 1e-9);
  // Levels -J (S(S+1) - 15/2) + M g muB b_res.
  double sum = 0, p[2] = {};
  for (int S = 0; S <= 3; ++S)
    for (int M = -S; M <= S; ++M) {
      const double e = -x.p.J * (S * (S + 1) - 7.5) + M * gmu * b_res;
      const double q = std::exp(-(e - (-x.p.J * 4.5 - 3 * gmu * b_res)) / (epr::k_B * x.T));
      sum += q;
      if (S == 3 && M <= -2) p[M + 3] = q;
    }
  EXPECT_NEAR(l.intensity, gmu * 6.0 / 4.0 * (p[0] - p[1]) / sum, 1e-12);
  x.mode = epr::Mode::parallel;
  for (const Line& k : epr::allowed(epr::find_lines(x, 20, 30))) EXPECT_FALSE(k.lower == 1 && k.upper == 2);
}

// Two levels repel where they would cross; tuned so that h nu lies just
// above the least gap, their difference crosses h nu twice within one step
// of 0.1 mT, where a search for sign changes on the grid sees none.
TEST(Lines, NarrowAnticrossing) {
  Experiment x;
  x.p.J = -1;
  x.p.ion1.D = x.p.ion2.D = 0.3;
  x.p.ion1.E = x.p.ion2.E = 0.05;
  const double theta = 30, phi = 20;
  const model::Matrix h0 = model::zero_field(x.p), zu = model::zeeman(x.p, model::direction(theta, phi));
  auto gap = [&](double B, int i) {
    model::Matrix h = h0;
    for (int k = 0; k < 256; ++k) h.re[k] += B * zu.re[k], h.im[k] += B * zu.im[k];
    std::array<double, 16> w{};
    model::energies(h, w);
    return w[i + 1] - w[i];
  };
  // The least gap of levels 13 and 14 (a pair with an interior minimum), by golden section.
  const int i = 12;
  double a = 0.2, b = 1.4;
  double least = 1e9, where = 0;
  for (double B = a; B <= b; B += 1e-3)
    if (gap(B, i) < least) least = gap(B, i), where = B;
  a = where - 1e-3, b = where + 1e-3;
  for (int it = 0; it < 100; ++it) {
    const double m1 = a + 0.382 * (b - a), m2 = a + 0.618 * (b - a);
    if (gap(m1, i) < gap(m2, i)) b = m2;
    else a = m1;
  }
  const double b_res = 0.5 * (a + b), g0 = gap(b_res, i);
  ASSERT_GT(g0, 0.01);
  ASSERT_LT(b_res, 1.4);
  // Roots at b_res -+ 2e-5 T: h nu = g0 + curvature / 2 x (2e-5)^2.
  const double d = 1e-5, curv = (gap(b_res + d, i) - 2 * g0 + gap(b_res - d, i)) / (d * d);
  const double delta = 2e-5;
  x.ghz = (g0 + 0.5 * curv * delta * delta) * epr::ghz_per_wavenumber;
  // The grid puts b_res in the middle of a step.
  x.grid.from = b_res - 0.5e-4 - 4000 * 1e-4;
  x.grid.count = 8001;
  const double hnu = x.ghz / epr::ghz_per_wavenumber;
  // A plain search on the grid finds nothing there.
  int seen = 0;
  for (std::int64_t k = 1; k < x.grid.count; ++k)
    if (std::fabs(x.grid.at(k) - b_res) < 1e-3 && (gap(x.grid.at(k), i) < hnu) != (gap(x.grid.at(k + 1), i) < hnu)) ++seen;
  ASSERT_EQ(seen, 0);
  int found = 0;
  for (const Line& l : epr::find_lines(x, theta, phi))
    if (l.lower == i + 1 && l.upper == i + 2 && std::fabs(l.B - b_res) < 1e-4) {
      ++found;
      EXPECT_NEAR(std::fabs(l.B - b_res), delta, 2e-6);
      EXPECT_TRUE(std::isfinite(l.intensity));
    }
  EXPECT_EQ(found, 2);
}

// Random pairs and orientations against the independent search: the same
// lines, fields to 1e-6 T, intensities relative to the strongest to 1e-6.
TEST(Lines, AgreeWithBruteForce) {
  std::mt19937 random(29);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int cases = emulated() ? 1 : 6;
  if (emulated()) std::printf("under an emulator: 1 random case of 6\n");
  for (int c = 0; c < cases; ++c) {
    Experiment x;
    x.p.J = 2 * u(random);
    x.p.ion1.D = 0.5 * u(random), x.p.ion2.D = 0.5 * u(random);
    x.p.ion1.E = 0.1 * u(random), x.p.ion2.E = 0.1 * u(random);
    x.p.ion1.gz = 2 + 0.1 * u(random), x.p.ion2.gx = 2 + 0.1 * u(random);
    x.ghz = c % 2 ? 34.0 : 9.5;
    x.T = 5 + 20 * std::fabs(u(random));
    x.mode = c % 3 == 2 ? epr::Mode::parallel : epr::Mode::perpendicular;
    const double theta = 90 * std::fabs(u(random)), phi = 180 * u(random);
    SCOPED_TRACE(c);
    const std::vector<Line> mine = epr::allowed(epr::find_lines(x, theta, phi));
    const std::vector<Line> ref = brute_force(x, theta, phi, 30000);
    ASSERT_EQ(mine.size(), ref.size());
    double top = 0;
    for (const Line& l : ref) top = std::max(top, l.intensity);
    for (const Line& r : ref) {
      const Line* m = nullptr;
      for (const Line& l : mine)
        if (l.lower == r.lower && l.upper == r.upper && std::fabs(l.B - r.B) < 1e-6) m = &l;
      ASSERT_NE(m, nullptr) << r.B << " " << r.lower << "-" << r.upper;
      EXPECT_NEAR(m->intensity / top, r.intensity / top, 1e-6);
    }
  }
}

// ---------------------------------------------------------------- spectra

// The Gaussian of peak-to-peak width lw: its derivative's extremes lie
// lw / 2 either side of the line, and the absorption has the line's area.
TEST(Spectrum, LineShapes) {
  epr::Grid g{0.3, 1e-5, 8001};  // 300 .. 380 mT
  const std::vector<Line> one = {{0.34, 1, 2, 2.0, 0, 0}};
  for (epr::Shape shape : {epr::Shape::gauss, epr::Shape::lorentz}) {
    epr::Spectrum s;
    epr::broaden(one, 1.0, g, shape, 5.0, s);
    std::size_t lo = 0, hi = 0;
    double area = 0;
    for (std::size_t k = 0; k < s.derivative.size(); ++k) {
      if (s.derivative[k] < s.derivative[lo]) lo = k;
      if (s.derivative[k] > s.derivative[hi]) hi = k;
      area += s.absorption[k] * 1e-2;
    }
    EXPECT_NEAR((g.at(lo + 1) - g.at(hi + 1)) * 1e3, 5.0, 0.011);
    EXPECT_NEAR(area, 2.0, shape == epr::Shape::gauss ? 1e-9 : 0.15);  // the Lorentzian's tails run on
  }
}

double largest_change(const epr::Spectrum& a, const epr::Spectrum& b) {
  double top = 0, change = 0;
  for (std::size_t k = 0; k < a.derivative.size(); ++k) {
    top = std::max(top, std::fabs(b.derivative[k]));
    change = std::max(change, std::fabs(a.derivative[k] - b.derivative[k]));
  }
  return change / top;
}

// A finer powder grid changes the spectrum by less than 1 % of its largest
// value; a grid of one cell is far from it.
TEST(Powder, Converges) {
  Experiment x;
  x.p.J = -1;
  x.p.ion1.D = x.p.ion2.D = 0.05;
  x.p.ion1.E = x.p.ion2.E = 0.01;
  x.grid = {0.2, 1e-4, 3001};
  const epr::Spectrum coarse = epr::powder(x, epr::Shape::gauss, 5.0, {1, 1});
  const epr::Spectrum s12 = epr::powder(x, epr::Shape::gauss, 5.0, {12, 8});
  const epr::Spectrum s24 = epr::powder(x, epr::Shape::gauss, 5.0, {24, 8});
  const double change = largest_change(s12, s24);
  std::printf("12 -> 24 cells: %.3f %% of the largest value\n", 100 * change);
  EXPECT_LT(change, 0.01);
  EXPECT_GT(largest_change(coarse, s24), 0.1);
}

// The powder grid's interpolation, sticks and convolution against a direct
// sum: the exactly broadened lines of every orientation of a fine midpoint
// rule over the octant.
TEST(Powder, AgreesWithDirectSum) {
  Experiment x;
  x.p.J = -1;
  x.p.ion1.D = x.p.ion2.D = 0.05;
  x.p.ion1.E = x.p.ion2.E = 0.01;
  x.grid = {0.2, 1e-4, 3001};
  int n = 48;
  if (emulated()) {
    x.grid = {0.3, 1e-4, 801};
    n = 32;
    std::printf("under an emulator: 300 to 380 mT and a direct sum on 32 x 32 orientations, not 200 to 500 mT on 48 x 48\n");
  }
  epr::Spectrum direct;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double theta = std::acos((i + 0.5) / n) * 180 / M_PI, phi = 90.0 * (j + 0.5) / n;
      epr::broaden(epr::find_lines(x, theta, phi), 1.0 / (n * n), x.grid, epr::Shape::gauss, 5.0, direct);
    }
  const epr::Spectrum grid = epr::powder(x, epr::Shape::gauss, 5.0, {12, 8});
  const double change = largest_change(grid, direct);
  std::printf("powder grid against the direct sum: %.3f %% of the largest value\n", 100 * change);
  EXPECT_LT(change, 0.01);
}

// ---------------------------------------------------------------- the program

TEST(Program, RefusesBadOptions) {
  struct Row {
    int line;
    std::vector<std::string> args;
    std::string option;  // named in the message
  };
  const Row rows[] = {
      {__LINE__, {"--freq", "0"}, "--freq"},
      {__LINE__, {"--freq=-9.5"}, "--freq"},
      {__LINE__, {"--J", "-1"}, "--freq"},
      {__LINE__, {"--freq", "9.5", "--B", "1:0:0.001"}, "--B"},
      {__LINE__, {"--freq", "9.5", "--B", "0:1:0"}, "--B"},
      {__LINE__, {"--freq", "9.5", "--lw", "-1"}, "--lw"},
      {__LINE__, {"--freq", "9.5", "--shape", "box"}, "--shape"},
      {__LINE__, {"--freq", "9.5", "--mode", "sideways"}, "--mode"},
      {__LINE__, {"--freq", "9.5", "--T", "0"}, "--T"},
      {__LINE__, {"--freq", "9.5", "--depth", "7"}, "--depth"},
      {__LINE__, {"--freq", "9.5", "--powder", "--theta", "10"}, "--powder"},
      {__LINE__, {"--freq", "9.5", "--D", "x"}, "--D"},
      {__LINE__, {"--freq", "9.5", "--colour", "red"}, "--colour"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    e2e::Sandbox box;
    std::vector<std::string> args = r.args;
    for (const char* a : {"-o", "out.svg", "--lines", "out.csv", "--theta", "0"}) args.push_back(a);
    if (r.option == "--powder") args.resize(args.size() - 2);
    const auto run = e2e::run_program(DIMEREPR, box, "", args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_NE(run.err.find(r.option), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("dimerepr: ", 0), 0u) << run.err;
    EXPECT_TRUE(run.out.empty());
    EXPECT_FALSE(std::filesystem::exists(box.dir() / "out.svg"));
    EXPECT_FALSE(std::filesystem::exists(box.dir() / "out.csv"));
  }
}

// A field range without resonance: status 0, an empty line table, a flat
// spectrum and a note.
TEST(Program, NoResonance) {
  e2e::Sandbox box;
  const auto run = e2e::run_program(DIMEREPR, box, "",
                                    {"--freq", "9.5", "--B", "0.5:0.6:0.001", "--theta", "0", "--csv",
                                     "--lines", "l.csv", "-o", "s.svg"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(e2e::slurp(box.dir() / "l.csv"), "B_mT,lower,upper,intensity,theta,phi\n");
  EXPECT_NE(run.err.find("no allowed resonance"), std::string::npos);
  EXPECT_NE(run.out.find("500,0,0\n"), std::string::npos) << run.out.substr(0, 100);
  EXPECT_NE(e2e::slurp(box.dir() / "s.svg").value_or("").find("No allowed resonance"), std::string::npos);
}

}  // namespace
