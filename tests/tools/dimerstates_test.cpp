// dimerstates: the spin character of the levels, checked against what the
// physics of the pair demands, and the built tool run as a user runs it.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <complex>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/pass_rule.hpp"
#include "model/record_layout.hpp"
#include "e2e/run.hpp"
#include "support/pair_reference.hpp"
#include "states.hpp"
#include "textio/efield.hpp"

namespace {

using states::Level;
using states::Parameters;

e2e::Outcome run_states(const std::vector<std::string>& args) {
  e2e::Sandbox box;
  return e2e::run_program(DIMERSTATES_PATH, box, "", args);
}

// Splits one CSV line at commas outside quotes; quotes are dropped.
std::vector<std::string> csv_fields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    else if (c == ',' && !quoted) fields.emplace_back();
    else fields.back() += c;
  }
  return fields;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  EXPECT_EQ(start, text.size()) << "text does not end with a line feed";
  return lines;
}

// Pure exchange: each multiplet S holds 2S + 1 levels, <S^2> = S (S + 1), and
// the field along x orders a multiplet by <Sx> = -S ... S.
TEST(DimerstatesTest, ExchangeMultipletsHaveTheirSpinAndFieldComponents) {
  const struct {
    int line;
    double J;
    int spins[16];
  } rows[] = {
      {__LINE__, -1.0, {0, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3}},
      {__LINE__, -0.2, {0, 1, 1, 1, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3}},
      {__LINE__, 1.0, {3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 1, 1, 1, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const states::Spectrum s = states::compute({row.J, 0.0, 0.0, 0.0});
    ASSERT_EQ(s.ierr, 0);
    int first_of_multiplet = 0;
    for (int j = 0; j < 16; ++j) {
      SCOPED_TRACE(j + 1);
      const int S = row.spins[j];
      if (j > 0 && row.spins[j - 1] != S) first_of_multiplet = j;
      const Level& l = s.levels[j];
      EXPECT_NEAR(l.s2, S * (S + 1.0), 1e-6);
      EXPECT_NEAR(l.spin, S, 1e-6);
      EXPECT_NEAR(l.sx, -S + (j - first_of_multiplet), 1e-6);
      EXPECT_DOUBLE_EQ(l.above, l.energy - s.levels[0].energy);
    }
  }
}

// Every eigenvector is a unit vector, and the two components shown are the
// largest, the earlier basis state first among equals.
TEST(DimerstatesTest, WeightsSumToOneAndTheLargestAreShown) {
  const Parameters rows[] = {
      {-1.0, 0.0, 0.0, 0.0}, {0.0, 5.0, 0.0, 0.0}, {-0.5, 3.0, 0.2, 0.1},
      {2.5, -4.0, 0.33, -0.1}, {0.0, 0.0, 0.0, 0.0}, {-30.0, 0.7, 1.0 / 3.0, 0.0},
  };
  for (const Parameters& p : rows) {
    SCOPED_TRACE(testing::Message() << p.J << " " << p.D1 << " " << p.ratio1 << " " << p.ratio2);
    const states::Spectrum s = states::compute(p);
    ASSERT_EQ(s.ierr, 0);
    for (int j = 0; j < 16; ++j) {
      SCOPED_TRACE(j + 1);
      const Level& l = s.levels[j];
      double sum = 0.0;
      for (double w : l.weight) sum += w;
      EXPECT_NEAR(sum, 1.0, 1e-12);
      ASSERT_NE(l.first, l.second);
      for (int k = 0; k < 16; ++k) {
        if (k == l.first) continue;
        EXPECT_GE(l.weight[l.first] + 1e-12, l.weight[k]);
        if (k != l.second) {
          EXPECT_GE(l.weight[l.second] + 1e-12, l.weight[k]);
        }
      }
    }
  }
  // The singlet of J = -1: four equal weights 1/4; the first two in basis order are shown.
  const Level singlet = states::compute({-1.0, 0.0, 0.0, 0.0}).levels[0];
  EXPECT_EQ(states::ket(singlet.first), "|+3/2,-3/2>");
  EXPECT_EQ(states::ket(singlet.second), "|+1/2,-1/2>");
  EXPECT_NEAR(singlet.weight[singlet.first], 0.25, 1e-12);
}

// Without exchange each ion has its own levels: D (Sz^2 - 5/4) gives +D for
// m = +-3/2 and -D for +-1/2, so the pair lies near -2D (4 levels, both ions
// +-1/2), 0 (8 levels, one of each) and +2D (4 levels, both +-3/2); the
// field of 0.1 T shifts them by less than 0.25 cm-1.
TEST(DimerstatesTest, UncoupledIonsGiveSumsOfSingleIonLevels) {
  for (double D : {5.0, -5.0}) {
    SCOPED_TRACE(D);
    const states::Spectrum s = states::compute({0.0, D, 0.0, 0.0});
    ASSERT_EQ(s.ierr, 0);
    for (int j = 0; j < 16; ++j) {
      SCOPED_TRACE(j + 1);
      const int group = j < 4 ? 0 : j < 12 ? 1 : 2;
      // Ions with |m| = 3/2 in this group: none, one, two for D > 0; reversed for D < 0.
      const int outer = D > 0 ? group : 2 - group;
      EXPECT_NEAR(s.levels[j].energy, 2.0 * D * (outer - 1), 0.25);
      double in_group = 0.0;
      for (int k = 0; k < 16; ++k) {
        const int n_outer = (std::abs(sweep::m1_of(k + 1)) > 1) + (std::abs(sweep::m2_of(k + 1)) > 1);
        if (n_outer == outer) in_group += s.levels[j].weight[k];
      }
      EXPECT_GT(in_group, 0.99);
    }
  }
}

TEST(DimerstatesTest, BasisLabelsFollowTheStateNumbering) {
  const struct {
    int index;
    const char* ket;
  } rows[] = {{0, "|+3/2,+3/2>"}, {1, "|+3/2,+1/2>"}, {4, "|+1/2,+3/2>"},
              {6, "|+1/2,-1/2>"}, {11, "|-1/2,-3/2>"}, {15, "|-3/2,-3/2>"}};
  for (const auto& row : rows) EXPECT_EQ(states::ket(row.index), row.ket) << row.index;
}

// The energies of the tool are those dimerscan writes to fort.10 for the
// same one-pass dialogue, field for field.
TEST(DimerstatesTest, EnergiesEqualTheProgramsFort10) {
  const struct {
    int line;
    std::string J, D1, ratio1, ratio2;
  } rows[] = {
      {__LINE__, "-1", "0", "0", "0"},      {__LINE__, "0", "5", "0", "0"},
      {__LINE__, "-0.5", "3", "0.2", "0.1"}, {__LINE__, "2.5", "-4", "0.33", "-0.1"},
      {__LINE__, "-12.75", "0.125", "1", "-1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    e2e::Sandbox box;
    const e2e::Outcome scan = e2e::run(
        box, row.J + "\n" + row.D1 + " " + row.D1 + " 1\n0\n" + row.ratio1 + " " + row.ratio2 +
                 "\n1\n");
    ASSERT_EQ(scan.status, 0) << scan.err;
    ASSERT_TRUE(scan.fort10.has_value());
    ASSERT_EQ(scan.fort10->size(), 16u * model::record::bytes);

    const e2e::Outcome tool = run_states({"--J", row.J, "--D1=" + row.D1, "--ratio1", row.ratio1,
                                          "--ratio2=" + row.ratio2, "--csv"});
    ASSERT_EQ(tool.status, 0) << tool.err;
    const std::vector<std::string> lines = lines_of(tool.out);
    ASSERT_EQ(lines.size(), 17u);
    for (int j = 0; j < 16; ++j) {
      SCOPED_TRACE(j + 1);
      const double energy = std::strtod(csv_fields(lines[j + 1])[1].c_str(), nullptr);
      char field[12];
      textio::format_e_field(field, energy, 12, 6);
      EXPECT_EQ(std::string(field, 12), scan.fort10->substr(j * model::record::bytes + model::record::value_column, 12));
    }
  }
}

TEST(DimerstatesTest, CsvHasAHeaderAndOneRowPerLevelWithTheRunsParameters) {
  const e2e::Outcome o = run_states({"--J=-1", "--csv"});
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  const std::vector<std::string> lines = lines_of(o.out);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0],
            "level,energy,above,S2,S,Sx,first_state,first_weight,second_state,second_weight,"
            "Sn,w0,w1,w2,w3,J,D1,D2,E1,E2,g1x,g1y,g1z,g2x,g2y,g2z,B,theta,phi,model");
  for (int j = 1; j <= 16; ++j) {
    const std::vector<std::string> f = csv_fields(lines[j]);
    ASSERT_EQ(f.size(), 30u) << lines[j];
    EXPECT_EQ(f[0], std::to_string(j));
    // dimerscan's own pass and its parameters: J = -1, D1 = D2 = 0, 0.1 T along x.
    EXPECT_EQ(std::vector<std::string>(f.begin() + 15, f.end()),
              (std::vector<std::string>{"-1", "0", "0", "0", "0", "2", "2", "2", "2", "2", "2",
                                        "0.10000000000000001", "90", "0", "dimerscan"}));
  }
  EXPECT_EQ(csv_fields(lines[1])[6], "|+3/2,-3/2>");
}

TEST(DimerstatesTest, TableHasOneRowPerLevelAndBothValueFormsAgree) {
  const e2e::Outcome spaced = run_states({"--J", "-1", "--D1", "2"});
  const e2e::Outcome joined = run_states({"--D1=2", "--J=-1"});
  ASSERT_EQ(spaced.status, 0);
  EXPECT_EQ(spaced.out, joined.out);
  const std::vector<std::string> lines = lines_of(spaced.out);
  ASSERT_EQ(lines.size(), 18u);
  EXPECT_EQ(lines[0].rfind("# J = -1 cm-1, D1 = D2 = 2 cm-1", 0), 0u) << lines[0];
  EXPECT_EQ(lines[2].substr(0, 5), "    1");
  EXPECT_EQ(lines[17].substr(0, 5), "   16");
}

TEST(DimerstatesTest, HelpExplainsEveryOptionAndTheConventions) {
  const e2e::Outcome o = run_states({"--help"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  for (const char* word : {"--J", "--D1", "--ratio1", "--ratio2", "--csv", "--help", "-2 J S1.S2",
                           "cm-1", "0.1 T", "along x", "2.0", "D2 = D1", "|m1, m2>", "FROM:TO:STEP",
                           "2147483647", "state", "overlap"})
    EXPECT_NE(o.out.find(word), std::string::npos) << word;
}

// A bad command line (refused sweeps among them): one line on standard
// error, status 1, nothing on standard output.
TEST(DimerstatesTest, BadOptionsAreRefusedWithoutOutput) {
  const struct {
    int line;
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {__LINE__, {"--bogus"}, "unknown option '--bogus'"},
      {__LINE__, {"-J", "1"}, "unknown option '-J'"},
      {__LINE__, {"J=1"}, "unexpected argument 'J=1'"},
      {__LINE__, {"--J"}, "option --J needs a value"},
      {__LINE__, {"--csv", "--D1"}, "option --D1 needs a value"},
      {__LINE__, {"--J", "abc"}, "value 'abc' of option --J is not a number"},
      {__LINE__, {"--J="}, "value '' of option --J is not a number"},
      {__LINE__, {"--D1", "1.5x"}, "value '1.5x' of option --D1 is not a number"},
      {__LINE__, {"--D1", " 1"}, "value ' 1' of option --D1 is not a number"},
      {__LINE__, {"--ratio1", "1,5"}, "value '1,5' of option --ratio1 is not a number"},
      {__LINE__, {"--ratio2", "0x1p3"}, "value '0x1p3' of option --ratio2 is not a number"},
      {__LINE__, {"--J", "--D1"}, "value '--D1' of option --J is not a number"},
      {__LINE__, {"--J", "++1"}, "value '++1' of option --J is not a number"},
      {__LINE__, {"--J=inf"}, "value 'inf' of option --J is not a finite number"},
      {__LINE__, {"--D1", "NaN"}, "value 'NaN' of option --D1 is not a finite number"},
      {__LINE__, {"--J", "1e400"}, "value '1e400' of option --J is out of range"},
      {__LINE__, {"--J", "1", "--J=2"}, "option --J is given twice"},
      {__LINE__, {"--csv", "--csv"}, "option --csv is given twice"},
      {__LINE__, {"--csv=yes"}, "option --csv takes no value"},
      {__LINE__, {"--help", "--bogus"}, "unknown option '--bogus'"},
      // The whole Hamiltonian's options and sweeps.
      {__LINE__, {"--sweep", "B=0:5:0"},
       "the range '0:5:0' of option --sweep B does not end: the step must be positive and give "
       "at most 2147483647 values"},
      {__LINE__, {"--sweep", "B=0:1e6:1e-7"},
       "the range '0:1e6:1e-7' of option --sweep B does not end: the step must be positive and "
       "give at most 2147483647 values"},
      {__LINE__, {"--sweep", "B=0:5"}, "value '0:5' of option --sweep B is not FROM:TO:STEP"},
      {__LINE__, {"--sweep", "g=0:1:1"},
       "--sweep 'g=0:1:1': 'g' is not a parameter (J, D1, D2, D, E1, E2, ratio1, ratio2, B, "
       "theta, phi)"},
      {__LINE__, {"--sweep=B"}, "value 'B' of option --sweep is not NAME=FROM:TO:STEP"},
      {__LINE__, {"--sweep"}, "option --sweep needs a value"},
      {__LINE__, {"--B", "1", "--sweep", "B=0:1:1"}, "option --B and the sweep of B exclude each other"},
      {__LINE__, {"--sweep", "ratio1=0:1:1", "--E1", "2"},
       "option --E1 and the sweep of ratio1 exclude each other"},
      {__LINE__, {"--D1", "0:1:1", "--sweep", "B=0:1:1"},
       "one parameter is swept at a time: --D1 FROM:TO:STEP and --sweep"},
      {__LINE__, {"--sweep", "B=0:1:1", "--sweep", "J=0:1:1"},
       "one parameter is swept at a time: --sweep is given twice"},
      {__LINE__, {"--E1", "1", "--ratio1", "0.1"}, "options --E1 and --ratio1 exclude each other"},
      {__LINE__, {"--g1", "2,2"}, "value '2,2' of option --g1 is not three numbers GX,GY,GZ"},
      {__LINE__, {"--D1", "0:1:1", "--D", "2"}, "options --D and --D1 exclude each other"},
      {__LINE__, {"--version=1"}, "option --version takes no value"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const e2e::Outcome o = run_states(row.args);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "dimerstates: " + row.message + " (try --help)\n");
  }
}

TEST(DimerstatesTest, SignedAndExponentValuesAreAccepted) {
  const e2e::Outcome plus = run_states({"--J=+1.0e0", "--csv"});
  const e2e::Outcome plain = run_states({"--J", "1", "--csv"});
  ASSERT_EQ(plus.status, 0) << plus.err;
  EXPECT_EQ(plus.out, plain.out);
}

// ---------------------------------------------------------------- sweeps

// One sweep followed state by state: per pass the spectrum (its vectors as the
// follower left them) and the level of every state.
struct Followed {
  std::vector<double> d1;
  std::vector<states::Spectrum> spectra;
  std::vector<std::array<int, 16>> level_of;
};
Followed follow(double J, double from, double to, double step, double r1 = 0, double r2 = 0,
                bool plain = false) {
  Followed f;
  states::Follower follower(plain);
  for (std::int64_t k = 1;; ++k) {
    const double D1 = passes::d1_of(k, from, step);
    if (D1 > to) break;
    states::Spectrum s = states::compute({J, D1, r1, r2});
    EXPECT_EQ(s.ierr, 0);
    f.level_of.push_back(follower.next(s));
    f.d1.push_back(D1);
    f.spectra.push_back(s);
  }
  return f;
}

// Past D1 = 0.5 of the sweep J = -1, D1 0 to 5 step 0.05: the ranks bend where
// levels cross, the states go straight on, and keep their spin.
TEST(Sweep, StatesGoStraightThroughCrossingsAndKeepTheirSpin) {
  const Followed f = follow(-1.0, 0.0, 5.0, 0.05);
  ASSERT_EQ(f.d1.size(), 101u);
  auto energy = [&](std::size_t p, int k, bool by_state) {
    return f.spectra[p].levels[by_state ? f.level_of[p][k] : k].energy;
  };
  auto s2 = [&](std::size_t p, int k, bool by_state) {
    return f.spectra[p].levels[by_state ? f.level_of[p][k] : k].s2;
  };
  double bend[2] = {}, spin_step[2] = {}, spin_path[2] = {};
  int crossed = 0;
  for (int by = 0; by < 2; ++by)
    for (int k = 0; k < 16; ++k)
      for (std::size_t p = 1; p < f.d1.size(); ++p) {
        if (f.d1[p - 1] < 0.5) continue;
        const double ds = std::fabs(s2(p, k, by) - s2(p - 1, k, by));
        spin_step[by] = std::max(spin_step[by], ds);
        spin_path[by] += ds;
        if (p + 1 < f.d1.size())
          bend[by] = std::max(bend[by], std::fabs(energy(p + 1, k, by) - 2 * energy(p, k, by) +
                                                  energy(p - 1, k, by)));
        if (by == 1 && f.level_of[p][k] != f.level_of[p - 1][k]) ++crossed;
      }
  EXPECT_GT(crossed, 0) << "the sweep has crossings";
  EXPECT_LT(bend[1], 0.25 * bend[0]) << "states " << bend[1] << ", ranks " << bend[0];
  EXPECT_LT(spin_step[1], spin_step[0]);
  EXPECT_LT(spin_path[1], spin_path[0]);
}

// Along every state the vector moves little from pass to pass, also where
// levels are degenerate (J = 0: the ions' levels e_i + e_j = e_j + e_i), and
// the vectors the follower puts into a degenerate eigenspace are still
// orthonormal eigenvectors of the pass.
TEST(Sweep, DegenerateLevelsKeepTheirStatesVectors) {
  const struct {
    int line;
    double J, from, to, step, r1, r2;
  } rows[] = {
      {__LINE__, 0.0, 0.05, 3.0, 0.05, 0.0, 0.0},
      {__LINE__, 0.0, 1.0, 2.0, 0.01, 0.2, 0.2},
      {__LINE__, -1.0, 0.0, 5.0, 0.05, 0.0, 0.0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const Followed f = follow(row.J, row.from, row.to, row.step, row.r1, row.r2);
    int degenerate = 0;
    double least = 1.0;
    for (std::size_t p = 0; p < f.d1.size(); ++p) {
      const states::Spectrum& s = f.spectra[p];
      for (int b = 1; b < 16; ++b)
        degenerate += s.levels[b].energy - s.levels[b - 1].energy < 1e-12 * 10;
      double ar[256], ai[256], w[16];
      sweep::build_spin_hamiltonian(row.J, f.d1[p], f.d1[p], f.d1[p] * row.r1, f.d1[p] * row.r2,
                                    ar, ai, w);
      for (int b = 0; b < 16; ++b) {
        const Level& l = s.levels[b];
        for (int c = 0; c < 16; ++c) {
          std::complex<double> dot = 0;
          for (int i = 0; i < 16; ++i)
            dot += std::conj(std::complex<double>(l.re[i], l.im[i])) *
                   std::complex<double>(s.levels[c].re[i], s.levels[c].im[i]);
          ASSERT_NEAR(std::abs(dot), b == c ? 1.0 : 0.0, 1e-9) << p << " " << b << " " << c;
        }
        double residual = 0;
        for (int i = 0; i < 16; ++i) {
          std::complex<double> hv = -l.energy * std::complex<double>(l.re[i], l.im[i]);
          for (int j = 0; j < 16; ++j)
            hv += std::complex<double>(ar[j * 16 + i], ai[j * 16 + i]) *
                  std::complex<double>(l.re[j], l.im[j]);
          residual += std::norm(hv);
        }
        ASSERT_LT(std::sqrt(residual), 1e-10) << p << " " << b;
        EXPECT_EQ(l.s2, states::plain_s2(l)) << "the sparse sum is the plain one";
        EXPECT_EQ(l.sx, states::plain_sx(l));
      }
      if (p == 0) continue;
      for (int k = 0; k < 16; ++k) {
        const Level& now = s.levels[f.level_of[p][k]];
        const Level& before = f.spectra[p - 1].levels[f.level_of[p - 1][k]];
        std::complex<double> dot = 0;
        for (int i = 0; i < 16; ++i)
          dot += std::conj(std::complex<double>(before.re[i], before.im[i])) *
                 std::complex<double>(now.re[i], now.im[i]);
        least = std::min(least, std::norm(dot));
      }
    }
    if (row.J == 0.0) {
      EXPECT_GT(degenerate, 0) << "the sweep has degenerate levels";
    }
    EXPECT_GT(least, 0.5) << "a state's vector jumped";
  }
}

// The shortcuts of the follower give what the full matching gives, bit for bit.
TEST(Sweep, ShortcutsMatchThePlainMatching) {
  const struct {
    double J, from, to, step, r1, r2;
  } rows[] = {{-1, 0, 5, 0.05, 0, 0}, {0, 0, 3, 0.05, 0, 0}, {0, 0.05, 3, 0.01, 0.2, 0.2},
              {2.5, -4, 4, 0.1, 0.33, -0.1}, {-0.3, 0, 20, 0.02, 0, 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.J << " " << r.from << " " << r.step);
    const Followed fast = follow(r.J, r.from, r.to, r.step, r.r1, r.r2);
    const Followed plain = follow(r.J, r.from, r.to, r.step, r.r1, r.r2, true);
    ASSERT_EQ(fast.level_of, plain.level_of);
    for (std::size_t p = 0; p < fast.d1.size(); ++p)
      for (int b = 0; b < 16; ++b) {
        ASSERT_EQ(fast.spectra[p].levels[b].re, plain.spectra[p].levels[b].re);
        ASSERT_EQ(fast.spectra[p].levels[b].im, plain.spectra[p].levels[b].im);
      }
  }
}

// The tool's sweep has the passes of dimerscan's: the same D1 and energy in
// every record, the same number of passes; the state column a permutation of
// the levels in each pass; the table one blank line after each pass.
TEST(Sweep, PassesAreThoseOfTheProgram) {
  const struct {
    int line;
    std::string J, from, to, step;
  } rows[] = {
      {__LINE__, "-1", "0", "5", "0.05"},    {__LINE__, "0.5", "-1", "1", "0.3"},
      {__LINE__, "-2", "0.1", "0.7", "0.1"}, {__LINE__, "1", "1e-3", "2e-3", "1e-4"},
      {__LINE__, "-1", "3", "3", "1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    e2e::Sandbox box;
    const e2e::Outcome scan =
        e2e::run(box, row.J + "\n" + row.from + " " + row.to + " " + row.step + "\n0\n0 0\n0\n");
    ASSERT_EQ(scan.status, 0) << scan.err;
    const std::string range = row.from + ":" + row.to + ":" + row.step;
    const e2e::Outcome csv = run_states({"--J", row.J, "--D1", range, "--csv"});
    const e2e::Outcome text = run_states({"--J", row.J, "--D1=" + range});
    ASSERT_EQ(csv.status, 0) << csv.err;
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<std::string> lines = lines_of(csv.out);
    ASSERT_EQ((lines.size() - 1) * model::record::bytes, scan.fort10->size());
    EXPECT_EQ(lines[0], "D1,level,state,energy,above,S2,S,Sx,first_state,first_weight,"
                        "second_state,second_weight,Sn,w0,w1,w2,w3,J,D2,E1,E2,g1x,g1y,g1z,g2x,"
                        "g2y,g2z,B,theta,phi,model");
    std::vector<bool> seen(16);
    for (std::size_t r = 1; r < lines.size(); ++r) {
      const std::vector<std::string> f = csv_fields(lines[r]);
      ASSERT_EQ(f.size(), 31u) << lines[r];
      EXPECT_EQ(f[18], f[0]) << "D2 = D1";
      char field[12];
      for (int c : {0, 3}) {
        textio::format_e_field(field, std::strtod(f[c].c_str(), nullptr), 12, 6);
        EXPECT_EQ(std::string(field, 12), scan.fort10->substr((r - 1) * model::record::bytes + (c ? model::record::value_column : model::record::d1_column), 12))
            << lines[r];
      }
      EXPECT_EQ(std::stoi(f[1]), static_cast<int>((r - 1) % 16) + 1);
      if ((r - 1) % 16 == 0) seen.assign(16, false);
      const int state = std::stoi(f[2]);
      ASSERT_TRUE(state >= 1 && state <= 16 && !seen[state - 1]) << lines[r];
      seen[state - 1] = true;
    }
    // The table: two heading lines, then each pass's sixteen rows and a blank line.
    const std::vector<std::string> table = lines_of(text.out);
    const std::size_t passes = (lines.size() - 1) / 16;
    ASSERT_EQ(table.size(), 2 + 17 * passes);
    EXPECT_EQ(table[0].substr(0, 2), "# ");
    EXPECT_EQ(table[1].substr(0, 2), "# ");
    for (std::size_t p = 0; p < passes; ++p) EXPECT_EQ(table[2 + 17 * p + 16], "");
  }
}

TEST(Sweep, RangesOfNoPassOrNoEnd) {
  const struct {
    int line;
    std::string range;
    std::string message;  // empty: status 0 and no pass
  } rows[] = {
      {__LINE__, "2:1:0.5", ""},
      {__LINE__, "2:1:0", ""},
      {__LINE__, "0:1:0", passes::endless},
      {__LINE__, "0:1:-0.5", passes::endless},
      {__LINE__, "0:1:1e-300", passes::endless},
      {__LINE__, "0:1e6:1e-4", passes::endless},  // 1e10 passes
      {__LINE__, "0:1", "value '0:1' of option --D1 is not one D1 nor FROM:TO:STEP"},
      {__LINE__, "0:1:2:3", "value '0:1:2:3' of option --D1 is not one D1 nor FROM:TO:STEP"},
      {__LINE__, "a:1:1", "value 'a' in 'a:1:1' of option --D1 is not a number"},
      {__LINE__, "0:1:nan", "value 'nan' in '0:1:nan' of option --D1 is not a finite number"},
      {__LINE__, "0::1", "value '' in '0::1' of option --D1 is not a number"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const e2e::Outcome o = run_states({"--J=-1", "--csv", "--D1", row.range});
    if (row.message.empty()) {
      EXPECT_EQ(o.status, 0);
      EXPECT_EQ(lines_of(o.out).size(), 1u) << "the header row alone";
    } else {
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(o.err, "dimerstates: " + row.message + " (try --help)\n");
    }
  }
}

// ---------------------------------------------------------------- the whole Hamiltonian

// The rows of a --csv run by column name.
struct Csv {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> rows;
  std::size_t column(const std::string& name) const {
    const auto it = std::find(names.begin(), names.end(), name);
    EXPECT_NE(it, names.end()) << name;
    return static_cast<std::size_t>(it - names.begin());
  }
  double number(std::size_t row, const std::string& name) const {
    return std::strtod(rows[row][column(name)].c_str(), nullptr);
  }
};

Csv csv_of(const std::vector<std::string>& args) {
  const e2e::Outcome o = run_states(args);
  EXPECT_EQ(o.status, 0) << o.err;
  Csv c;
  const std::vector<std::string> lines = lines_of(o.out);
  if (lines.empty()) return c;
  c.names = csv_fields(lines[0]);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    c.rows.push_back(csv_fields(lines[i]));
    EXPECT_EQ(c.rows.back().size(), c.names.size()) << lines[i];
  }
  return c;
}

// Every option on the command line: the levels are those of the operator
// built afresh, the weights sum to 1, and the rows carry the parameters as
// the rules tie them (D2 = D1, EN = DN x RN unless given).
TEST(WholeHamiltonian, EveryOptionGivesTheOperatorsOwnLevels) {
  const struct {
    int line;
    std::vector<std::string> args;
    support::PairInput in;
  } rows[] = {
      {__LINE__,
       {"--J=-1.3", "--D1", "4.2", "--D2", "-2.5", "--E1", "0.7", "--ratio2", "0.2", "--g1",
        "2.1,1.9,2.3", "--g2=1.8,2.05,2.2", "--B", "1.7", "--theta", "35", "--phi", "-120"},
       {-1.3, 4.2, -2.5, 0.7, -0.5, {2.1, 1.9, 2.3}, {1.8, 2.05, 2.2}, 1.7, 35, -120}},
      {__LINE__,
       {"--J", "0.4", "--D", "3", "--ratio1", "0.3", "--E2", "-0.25", "--g", "2.02", "--B", "7",
        "--theta=90", "--phi=45"},
       {0.4, 3, 3, 0.9, -0.25, {2.02, 2.02, 2.02}, {2.02, 2.02, 2.02}, 7, 90, 45}},
      {__LINE__, {"--J", "-2", "--D1", "1.5", "--B", "3", "--theta", "0"},
       {-2, 1.5, 1.5, 0, 0, {2, 2, 2}, {2, 2, 2}, 3, 0, 0}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<std::string> args = row.args;
    args.push_back("--csv");
    const Csv c = csv_of(args);
    ASSERT_EQ(c.rows.size(), 16u);
    const Eigen::SelfAdjointEigenSolver<support::Cmat> es(support::reference_hamiltonian(row.in));
    const double expected[] = {row.in.J,     row.in.D1,    row.in.D2,    row.in.E1,
                               row.in.E2,    row.in.g1[0], row.in.g1[1], row.in.g1[2],
                               row.in.g2[0], row.in.g2[1], row.in.g2[2], row.in.B,
                               row.in.theta, row.in.phi};
    const char* names[] = {"J", "D1", "D2", "E1", "E2", "g1x", "g1y", "g1z", "g2x", "g2y", "g2z",
                           "B", "theta", "phi"};
    for (int j = 0; j < 16; ++j) {
      SCOPED_TRACE(j + 1);
      EXPECT_NEAR(c.number(j, "energy"), es.eigenvalues()(j), 1e-9);
      EXPECT_NEAR(c.number(j, "w0") + c.number(j, "w1") + c.number(j, "w2") + c.number(j, "w3"),
                  1.0, 1e-12);
      EXPECT_NEAR(c.number(j, "S2"), 2 * c.number(j, "w1") + 6 * c.number(j, "w2") +
                                         12 * c.number(j, "w3"), 1e-9);
      for (int k = 0; k < 14; ++k) EXPECT_NEAR(c.number(j, names[k]), expected[k], 1e-15) << names[k];
      EXPECT_EQ(c.rows[j].back(), "general");
    }
  }
}

// dimerscan's own sweep and the whole Hamiltonian in the same field (--B 0.1
// names the model's default): the same passes and states, energies within
// what the stored 0.40431 moves them.
TEST(WholeHamiltonian, AgreesWithDimerscansPassInItsField) {
  const Csv own = csv_of({"--J", "-1", "--D1", "0:5:0.05", "--csv"});
  const Csv general = csv_of({"--J", "-1", "--D1", "0:5:0.05", "--B", "0.1", "--csv"});
  ASSERT_EQ(own.rows.size(), 101u * 16u);
  ASSERT_EQ(general.rows.size(), own.rows.size());
  ASSERT_EQ(own.names, general.names);
  double largest = 0;
  for (std::size_t r = 0; r < own.rows.size(); ++r) {
    ASSERT_EQ(own.rows[r][0], general.rows[r][0]);
    EXPECT_EQ(own.rows[r].back(), "dimerscan");
    EXPECT_EQ(general.rows[r].back(), "general");
    largest = std::max(largest, std::fabs(own.number(r, "energy") - general.number(r, "energy")));
  }
  EXPECT_LT(largest, 1e-5);
  EXPECT_GT(largest, 0.0) << "the two are different constructions";
}

// The Zeeman diagram along z: M is a good quantum number, so each followed
// state keeps its <Sz> through every crossing; along states the energy is
// smooth, along ranks it kinks where levels cross.
TEST(WholeHamiltonian, FieldSweepFollowsStatesThroughCrossings) {
  const Csv c = csv_of({"--J", "-1", "--D1", "0.5", "--theta", "0", "--sweep", "B=0:5:0.01", "--csv"});
  ASSERT_EQ(c.names[0], "B");
  ASSERT_EQ(c.rows.size(), 501u * 16u);
  const std::size_t passes = c.rows.size() / 16;
  std::vector<std::array<double, 16>> by_state(passes), by_rank(passes), sn(passes);
  int crossings = 0;
  for (std::size_t p = 0; p < passes; ++p)
    for (int j = 0; j < 16; ++j) {
      const std::size_t r = p * 16 + j;
      const int state = std::stoi(c.rows[r][c.column("state")]) - 1;
      by_rank[p][j] = c.number(r, "energy");
      by_state[p][state] = by_rank[p][j];
      sn[p][state] = c.number(r, "Sn");
      if (p > 0 && state != j) ++crossings;
    }
  EXPECT_GT(crossings, 0);
  double kink[2] = {}, drift = 0;
  for (std::size_t p = 1; p + 1 < passes; ++p)
    for (int k = 0; k < 16; ++k) {
      kink[0] = std::max(kink[0], std::fabs(by_rank[p + 1][k] - 2 * by_rank[p][k] + by_rank[p - 1][k]));
      kink[1] = std::max(kink[1], std::fabs(by_state[p + 1][k] - 2 * by_state[p][k] + by_state[p - 1][k]));
      drift = std::max(drift, std::fabs(sn[p + 1][k] - sn[1][k]));
    }
  EXPECT_LT(kink[1], 1e-4) << "states are smooth";
  EXPECT_GT(kink[0], 100 * kink[1]) << "ranks kink";
  EXPECT_LT(drift, 1e-6) << "each state keeps its M";
}

// --help and --version into standard output that cannot be written: the
// text is lost, so the status says so, with one line on standard error.
TEST(WholeHamiltonian, HelpAndVersionIntoAFullDeviceFail) {
  for (const char* option : {"--help", "--version"}) {
    SCOPED_TRACE(option);
    e2e::Sandbox box;
    const support::Finished o = support::run_in(
        box, {.program = DIMERSTATES_PATH, .out = support::Output::full, .args = {option}});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "dimerstates: standard output could not be written: No space left on device\n");
  }
}

// Under every limit of address space at which the program starts, a sweep
// either completes or ends with "out of memory" and status 1, never by a
// crash; and its memory does not grow with the number of passes.
TEST(Sweep, MemoryLimitsGiveOutOfMemoryNeverACrash) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than any limit here";
#else
  if (std::getenv("DIMERSCAN_EMULATOR") != nullptr && *std::getenv("DIMERSCAN_EMULATOR") != '\0')
    GTEST_SKIP() << "an emulator's own memory is under the same limit";
  const std::vector<std::string> args = {"--J", "-1", "--D1", "0:5:0.01"};
  e2e::Sandbox box;
  const std::string whole = run_states(args).out;
  ASSERT_FALSE(whole.empty());
  auto under = [&](rlim_t kib) {
    return support::run_in(box, {.program = DIMERSTATES_PATH, .args = args, .body = [&] {
                                   const rlimit as{kib << 10, kib << 10};
                                   ::setrlimit(RLIMIT_AS, &as);
                                   support::exec_program(DIMERSTATES_PATH, args);
                                 }});
  };
  // The least limit that lets the sweep complete (whole KiB).
  rlim_t lo = 256, hi = rlim_t{4} << 20;
  ASSERT_EQ(under(hi).status, 0);
  while (hi - lo > 1) {
    const rlim_t mid = lo + (hi - lo) / 2;
    (under(mid).status == 0 ? hi : lo) = mid;
  }
  int out_of_memory = 0;
  for (rlim_t kib = hi > 1024 ? hi - 1024 : 0; kib <= hi; kib += 8) {
    SCOPED_TRACE(kib);
    const support::Finished o = under(kib);
    if (o.status == 0) {
      EXPECT_EQ(o.out, whole);
    } else if (o.status == 1 && o.err == "dimerstates: out of memory\n") {
      ++out_of_memory;
      EXPECT_EQ(whole.compare(0, o.out.size(), o.out), 0) << "what was written is the sweep's start";
    } else {
      // Only a process that cannot start (the loader's own memory) may end
      // otherwise: nothing written, and no escaped exception.
      EXPECT_EQ(o.out, "") << "status " << o.status << ": " << o.err;
      EXPECT_EQ(o.err.find("terminate"), std::string::npos) << o.err;
    }
  }
  EXPECT_GT(out_of_memory, 0) << "some limit between start-up and the sweep's need";

  // Written as it goes: ten times the passes, the same peak within 1 MiB.
  const support::Finished short_sweep =
      support::run_in(box, {.program = DIMERSTATES_PATH, .output_file = "/dev/null",
                            .args = {"--J", "-1", "--D1", "0:5:0.001"}});
  const support::Finished long_sweep =
      support::run_in(box, {.program = DIMERSTATES_PATH, .output_file = "/dev/null",
                            .args = {"--J", "-1", "--D1", "0:50:0.001"}});
  EXPECT_LT(long_sweep.peak_kib, short_sweep.peak_kib + 1024);
#endif
}

TEST(WholeHamiltonian, VersionIsOneLine) {
  const e2e::Outcome o = run_states({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out.rfind("dimerstates ", 0), 0u);
  EXPECT_EQ(o.out.find('\n'), o.out.size() - 1);
}

}  // namespace
