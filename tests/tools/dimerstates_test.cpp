// dimerstates: the spin character of the levels, checked against what the
// physics of the pair demands, and the built tool run as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e/run.hpp"
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
    ASSERT_EQ(scan.fort10->size(), 16u * 29u);

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
      EXPECT_EQ(std::string(field, 12), scan.fort10->substr(j * 29 + 15, 12));
    }
  }
}

TEST(DimerstatesTest, CsvHasAHeaderAndOneRowOfTenFieldsPerLevel) {
  const e2e::Outcome o = run_states({"--J=-1", "--csv"});
  ASSERT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  const std::vector<std::string> lines = lines_of(o.out);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0],
            "level,energy,above,S2,S,Sx,first_state,first_weight,second_state,second_weight");
  for (int j = 1; j <= 16; ++j) {
    const std::vector<std::string> f = csv_fields(lines[j]);
    ASSERT_EQ(f.size(), 10u) << lines[j];
    EXPECT_EQ(f[0], std::to_string(j));
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
                           "cm-1", "0.1 T", "along x", "2.0", "D2 = D1", "|m1, m2>"})
    EXPECT_NE(o.out.find(word), std::string::npos) << word;
}

// A bad command line: one line on standard error, status 1, nothing on
// standard output.
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

}  // namespace
