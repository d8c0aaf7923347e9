// dimerplot: reading the result files, thinning, axes, and the built program
// run on good and malformed input.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "axes.hpp"
#include "model/pass_rule.hpp"
#include "followed.hpp"
#include "states.hpp"
#include "e2e/run.hpp"
#include "records.hpp"
#include "svg.hpp"
#include "textio/efield.hpp"
#include "thin.hpp"

namespace {

using namespace dimerplot;
namespace fs = std::filesystem;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

// ---------------------------------------------------------------- fields

TEST(EField, ReadsWhatTheProgramWrites) {
  struct Row {
    int line;
    const char* field;
    double value;
  };
  const Row rows[] = {
      {__LINE__, "0.421988E+01", 4.21988},      {__LINE__, "-.750000E+01", -7.5},
      {__LINE__, "0.100000+101", 1e100},        {__LINE__, "-.100000-100", -1e-101},
      {__LINE__, "0.000000E+00", 0.0},          {__LINE__, "0.999999E-99", 0.999999e-99},
      {__LINE__, "0.179769+309", 0.179769e309}, {__LINE__, "0.494066-323", 0.494066e-323},
      {__LINE__, "   +Infinity", inf},          {__LINE__, "   -Infinity", -inf},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    const auto v = parse_e_field(r.field);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(*v, r.value);
  }
  const auto n = parse_e_field("         NaN");
  ASSERT_TRUE(n.has_value());
  EXPECT_TRUE(std::isnan(*n));
}

TEST(EField, RefusesEverythingElse) {
  const char* rows[] = {
      "0.421988e+01",  // lower-case letter
      "0.421988D+01",  // another letter
      " 0.42199E+01",  // five digits
      "0.042199E+01",  // not normalised
      "-.000000E+00",  // negative zero is written 0.000000E+00
      "0.000000E+01",  // zero with an exponent
      "0.100000+099",  // three digits below 100 take the E form
      "1.421988E+01",  // digit before the point
      "+.421988E+01",  // plus sign
      "0.42198xE+01",  // letter among the digits
      "0.421988E+1 ",  // short exponent
      "0.421988E 01",  // blank sign
      "0.180000+309",  // beyond the largest double
      "0.100000-400",  // below the smallest
      "        +NaN",  // NaN takes no sign
      "NaN         ",  // left-justified
      "    Infinity",  // infinity needs its sign
      "0.421988E+01 ",  // thirteen characters
      "",
  };
  for (const char* f : rows) {
    SCOPED_TRACE(f);
    EXPECT_FALSE(parse_e_field(f).has_value());
  }
}

// Whatever the program's own E12.6 field writes reads back as the decimal it shows.
TEST(EField, RoundTripsTheProgramsFormatter) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-320, 307);
  for (int i = 0; i < 20000; ++i) {
    const double v = (i % 2 ? -1 : 1) * mantissa(random) * std::pow(10.0, exponent(random));
    if (!std::isfinite(v) || v == 0) continue;
    char field[13] = {};
    textio::format_e_field(field, v, 12, 6);
    char decimal[32];
    std::snprintf(decimal, sizeof decimal, "%.5e", v);
    const auto back = parse_e_field(field);
    ASSERT_TRUE(back.has_value()) << field;
    ASSERT_EQ(*back, std::strtod(decimal, nullptr)) << field << " " << decimal;
  }
}

// ---------------------------------------------------------------- records

std::string record(double d1, double value) {
  char r[27];
  r[0] = ' ';
  textio::format_e_field(r + 1, d1, 12, 6);
  r[13] = r[14] = ' ';
  textio::format_e_field(r + 15, value, 12, 6);
  return std::string(r, 27) + "\r\n";
}

// fort.10 and fort.20 of a made-up sweep: level k of pass p is k + p/10 (NaN
// where nan_at says), the gap 2 + p.
struct Files {
  std::string fort10, fort20;
};
Files sweep_files(int passes, double d1_step = 0.5) {
  Files f;
  for (int p = 0; p < passes; ++p) {
    const double d1 = p * d1_step;
    for (int k = 1; k <= levels; ++k) f.fort10 += record(d1, k - 8 + p / 10.0);
    f.fort20 += record(d1, 2 + p);
  }
  return f;
}

TEST(Records, LastRecordMayLackItsLineEnd) {
  const Files f = sweep_files(2);
  const auto whole = parse_records(f.fort10, "fort.10");
  ASSERT_EQ(whole.size(), 32u);
  for (std::size_t cut : {1, 2}) {
    const auto r = parse_records(std::string_view(f.fort10).substr(0, f.fort10.size() - cut), "f");
    ASSERT_EQ(r.size(), 32u);
    EXPECT_EQ(r.back().value, whole.back().value);
  }
}

TEST(Records, AssemblesPassByPass) {
  Files f = sweep_files(3);
  const Sweep s = assemble(parse_records(f.fort10, "a"), "a", parse_records(f.fort20, "b"), "b");
  ASSERT_EQ(s.passes(), 3u);
  EXPECT_EQ(s.d1, (std::vector<double>{0, 0.5, 1}));
  EXPECT_EQ(s.level[0][2], -7 + 0.2);
  EXPECT_EQ(s.level[15][0], 8);
  EXPECT_EQ(s.gap, (std::vector<double>{2, 3, 4}));
}

TEST(Relative, LowestFiniteLevelOfEachPassOnZero) {
  Sweep s;
  s.d1 = {0, 1, 2};
  for (int k = 0; k < levels; ++k) s.level[k] = {k + 1.0, 10.0 * k - 5, nan};
  s.level[0][1] = nan;   // the lowest is missing: the second one counts
  s.level[3][1] = -inf;  // and so is an infinite one
  s.gap = {1, 1, 1};
  const auto r = relative_to_lowest(s);
  for (int k = 0; k < levels; ++k) EXPECT_EQ(r[k][0], k) << k;
  EXPECT_TRUE(std::isnan(r[0][1]));
  EXPECT_EQ(r[1][1], 0);
  EXPECT_EQ(r[2][1], 10);
  EXPECT_FALSE(std::isfinite(r[3][1]));
  for (int k = 0; k < levels; ++k) EXPECT_TRUE(std::isnan(r[k][2])) << k;
}

// ---------------------------------------------------------------- thinning

bool finite_between(const std::vector<double>& y, std::size_t a, std::size_t b) {
  for (std::size_t i = a; i <= b; ++i)
    if (!std::isfinite(y[i])) return false;
  return true;
}

// The pieces of Thinner fed the points one by one, as indices.
std::vector<Piece> streamed(const std::vector<int>& column, const std::vector<double>& y) {
  Thinner t;
  for (std::size_t i = 0; i < y.size(); ++i) {
    Point p;
    p.index = i;
    p.x = static_cast<double>(i);
    p.y = y[i];
    t.add(column[i], p);
  }
  std::vector<Piece> pieces;
  for (const auto& piece : t.finish()) {
    Piece indices;
    for (const Point& p : piece) {
      EXPECT_TRUE(p.y == y[p.index]) << "a point keeps its value";
      indices.push_back(p.index);
    }
    pieces.push_back(indices);
  }
  return pieces;
}

// Checks every promise thin() makes for one line, and that Thinner keeps the same points.

void check_thinning(const std::vector<int>& column, const std::vector<double>& y) {
  const auto pieces = thin(column, y);
  ASSERT_EQ(streamed(column, y), pieces) << "one point at a time, the same pieces";
  std::vector<std::size_t> kept;
  std::vector<int> piece_of;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    ASSERT_FALSE(pieces[p].empty());
    for (std::size_t i : pieces[p]) {
      ASSERT_TRUE(kept.empty() || kept.back() < i) << "indices ascend over the pieces";
      ASSERT_TRUE(std::isfinite(y[i]));
      kept.push_back(i);
      piece_of.push_back(static_cast<int>(p));
    }
  }
  // Consecutive kept points share a piece exactly when no break lies between them.
  for (std::size_t k = 1; k < kept.size(); ++k)
    ASSERT_EQ(piece_of[k] == piece_of[k - 1], finite_between(y, kept[k - 1], kept[k]))
        << "points " << kept[k - 1] << " and " << kept[k];

  for (std::size_t a = 0; a < y.size();) {
    std::size_t b = a;
    while (b < y.size() && column[b] == column[a]) ++b;
    std::vector<std::size_t> finite, in_column;
    for (std::size_t i = a; i < b; ++i)
      if (std::isfinite(y[i])) finite.push_back(i);
    for (std::size_t i : kept)
      if (i >= a && i < b) in_column.push_back(i);
    const bool broken = finite.size() < b - a;
    EXPECT_LE(in_column.size(), broken ? 10u : 4u) << "column " << column[a];
    if (!finite.empty()) {
      ASSERT_FALSE(in_column.empty());
      EXPECT_EQ(in_column.front(), finite.front());
      EXPECT_EQ(in_column.back(), finite.back());
      auto value = [&](std::size_t i) { return y[i]; };
      auto lowest = [&](const std::vector<std::size_t>& v) {
        double m = inf;
        for (std::size_t i : v) m = std::min(m, value(i));
        return m;
      };
      auto highest = [&](const std::vector<std::size_t>& v) {
        double m = -inf;
        for (std::size_t i : v) m = std::max(m, value(i));
        return m;
      };
      EXPECT_EQ(lowest(in_column), lowest(finite)) << "column " << column[a];
      EXPECT_EQ(highest(in_column), highest(finite)) << "column " << column[a];
    }
    a = b;
  }
}

TEST(Thin, KeepsEveryColumnsExtremesOnRandomLines) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    const int n = 1 + static_cast<int>(random() % 400);
    const int per_column = 1 + static_cast<int>(random() % (trial % 3 == 0 ? 200 : 12));
    const int nan_rate = static_cast<int>(random() % 4);  // 0: none, else 1 in 2, 5, 8
    std::vector<int> column(n);
    std::vector<double> y(n);
    int c = 0;
    for (int i = 0; i < n; ++i) {
      if (random() % per_column == 0) c += 1 + static_cast<int>(random() % 2);
      column[i] = c;
      y[i] = static_cast<double>(random() % 50);  // many equal values
      if (nan_rate && random() % (3 * nan_rate - 1) == 0) y[i] = random() % 2 ? nan : -inf;
    }
    check_thinning(column, y);
  }
}

TEST(Thin, CraftedLines) {
  struct Row {
    int line;
    std::vector<int> column;
    std::vector<double> y;
    std::vector<Piece> expected;
  };
  const Row rows[] = {
      {__LINE__, {0}, {5}, {{0}}},
      {__LINE__, {0}, {nan}, {}},
      {__LINE__, {0, 1, 2}, {1, nan, 3}, {{0}, {2}}},
      // One column: first, lowest, highest, last.
      {__LINE__, {0, 0, 0, 0, 0, 0}, {3, 9, 1, 4, 8, 5}, {{0, 1, 2, 5}}},
      // Runs across a column boundary stay joined.
      {__LINE__, {0, 0, 0, 1, 1, 1}, {1, 2, 3, 4, 5, 6}, {{0, 2, 3, 5}}},
      // Three runs in a column: the middle one is cut to its lowest and highest.
      {__LINE__,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {1, 2, nan, 7, 0, 9, 3, nan, 4, 5},
       {{0, 1}, {4, 5}, {8, 9}}},
      // Several middle runs: their lowest and highest point, apart when in two runs.
      {__LINE__,
       {0, 0, 0, 0, 0, 0, 0, 0, 0},
       {1, nan, -9, nan, 2, nan, 9, nan, 5},
       {{0}, {2}, {6}, {8}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    EXPECT_EQ(thin(r.column, r.y), r.expected);
    EXPECT_EQ(streamed(r.column, r.y), r.expected);
  }
}

TEST(Thin, BoundsTheCountOfALongLine) {
  const int n = 3'200'000, columns = 700;
  std::vector<int> column(n);
  std::vector<double> y(n);
  for (int i = 0; i < n; ++i) {
    column[i] = static_cast<int>(static_cast<long long>(i) * columns / n);
    y[i] = std::sin(i * 0.001) + (i % 2 ? 0.5 : -0.5);  // a zigzag: every point an extremum
  }
  const auto pieces = thin(column, y);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_LE(pieces[0].size(), 4u * columns);
  EXPECT_GE(pieces[0].size(), 3u * columns);
  // Alternate breaks: still at most 10 a column.
  for (int i = 0; i < n; i += 2) y[i] = nan;
  std::size_t points = 0;
  for (const Piece& p : thin(column, y)) points += p.size();
  EXPECT_LE(points, 10u * columns);
}

// ---------------------------------------------------------------- axes

TEST(Axis, RoundTicksAroundTheData) {
  struct Row {
    int line;
    long double min, max;
    int ticks;
    long double lo, hi, step;
  };
  const Row rows[] = {
      {__LINE__, -7.5, 4.78, 6, -8, 6, 2},
      {__LINE__, 0, 5, 8, 0, 5, 0.5},
      {__LINE__, 1.68, 3.12, 4, 1.5, 3.5, 0.5},
      {__LINE__, 3, 3, 8, 2.7L, 3.3L, 0.1L},  // one value: -+10 %
      {__LINE__, 0, 0, 8, -1, 1, 0.2L},     // zero alone
      {__LINE__, -5, -5, 4, -5.6L, -4.4L, 0.2L},
      {__LINE__, INFINITY, -INFINITY, 4, 0, 1, 0.2L},  // no value at all
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    const Axis a = nice_axis(r.min, r.max, r.ticks);
    EXPECT_NEAR(static_cast<double>(a.lo), static_cast<double>(r.lo), 1e-12);
    EXPECT_NEAR(static_cast<double>(a.hi), static_cast<double>(r.hi), 1e-12);
    EXPECT_NEAR(static_cast<double>(a.step), static_cast<double>(r.step), 1e-12);
  }
}

TEST(Axis, WholeRangeOfDoubles) {
  const long double big = std::numeric_limits<double>::max();
  const long double tiny = std::numeric_limits<double>::denorm_min();
  const std::pair<long double, long double> ranges[] = {
      {-big, big}, {big, big}, {tiny, tiny}, {1e300L, 1.00001e300L}, {-tiny, 0}, {1e-300L, 1e300L}};
  for (const auto& [min, max] : ranges) {
    SCOPED_TRACE(static_cast<double>(min));
    const Axis a = nice_axis(min, max, 6);
    ASSERT_TRUE(std::isfinite(a.lo) && std::isfinite(a.hi));
    EXPECT_LE(a.lo, min + 1e-9L * a.step);  // the data inside, to rounding
    EXPECT_GE(a.hi, max - 1e-9L * a.step);
    EXPECT_LT(a.lo, a.hi);
    EXPECT_LE(a.hi, big);  // the ends are doubles
    EXPECT_GE(a.lo, -big);
    EXPECT_GE(a.ticks.size(), 2u);
    EXPECT_LE(a.ticks.size(), 10u);
  }
}

TEST(Axis, Labels) {
  struct Row {
    int line;
    long double v, step;
    const char* text;
  };
  const Row rows[] = {
      {__LINE__, 0, 0.5, "0"},          {__LINE__, 3 * 0.05L, 0.05L, "0.15"},
      {__LINE__, -7.5, 0.5, "-7.5"},    {__LINE__, 200, 100, "200"},
      {__LINE__, -1e6, 2e5, "-1000000"}, {__LINE__, 1.5e300L, 1e299L, "1.5e+300"},
      {__LINE__, 2e-7L, 1e-7L, "2e-07"}, {__LINE__, 1.00002e300L, 1e295L, "1.00002e+300"},
      {__LINE__, 1, 1, "1"},            {__LINE__, 10, 10, "10"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    EXPECT_EQ(tick_label(r.v, r.step), r.text);
  }
}

// ---------------------------------------------------------------- the program

struct PlotRun {
  int status = -1;
  std::string out, err;
};

// Runs dimerplot in box.dir() with the arguments.
PlotRun plot(const e2e::Sandbox& box, const std::vector<std::string>& args,
         std::chrono::seconds timeout = std::chrono::seconds(60)) {
  const std::string exe = DIMERPLOT;
  const fs::path out = box.root() / "stdout", err = box.root() / "stderr";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd1 = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int fd2 = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd1 < 0 || fd2 < 0 || ::chdir(box.dir().c_str()) != 0) ::_exit(126);
    ::dup2(fd1, 1);
    ::dup2(fd2, 2);
    support::exec_program(exe, args);
  }
  PlotRun r;
  r.status = e2e::wait_for(pid, timeout);
  r.out = e2e::slurp(out).value_or("");
  r.err = e2e::slurp(err).value_or("");
  return r;
}

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string replace_line(std::string text, int line, const std::string& with) {
  std::size_t pos = 0;
  for (int i = 1; i < line; ++i) pos = text.find('\n', pos) + 1;
  return text.replace(pos, text.find('\n', pos) + 1 - pos, with);
}

TEST(Program, MalformedInputGivesOneLineAndNoFile) {
  const Files good = sweep_files(3);
  struct Row {
    int line;
    std::string fort10, fort20;
    std::vector<std::string> args;
    std::string message;  // what follows "dimerplot: "
  };
  const Row rows[] = {
      {__LINE__, "", good.fort20, {}, "fort.10, line 1: empty file, no records"},
      {__LINE__, good.fort10, "", {}, "fort.20, line 1: empty file, no records"},
      {__LINE__, good.fort10, good.fort20, {"fort.10", "none"}, "none: No such file or directory"},
      {__LINE__, good.fort10, good.fort20, {".", "fort.20"}, ".: Is a directory"},
      {__LINE__, replace_line(good.fort10, 2, record(0, 1).substr(0, 27) + "\n"), good.fort20, {},
       "fort.10, line 2: the record does not end with CR LF"},
      {__LINE__, replace_line(good.fort10, 3, " 0.000000E+00  -.75000E+01\r\n"), good.fort20, {},
       "fort.10, line 3: a record has 27 characters (a blank, D1 in E12.6, two blanks, the value "
       "in E12.6), this line has 26"},
      {__LINE__, replace_line(good.fort10, 4, " 0.000000E+00 -.750000E+01 \r\n"), good.fort20, {},
       "fort.10, line 4: not a record: a blank, D1 in E12.6, two blanks, the value in E12.6"},
      {__LINE__, replace_line(good.fort10, 5, " 0.000000e+00  -.750000E+01\r\n"), good.fort20, {},
       "fort.10, line 5: D1 (columns 2-13) is not an E12.6 number"},
      {__LINE__, good.fort10, replace_line(good.fort20, 2, " 0.500000E+00  0.3000000E+1\r\n"), {},
       "fort.20, line 2: the value (columns 16-27) is not an E12.6 number"},
      {__LINE__, good.fort10 + "\r\n", good.fort20, {},
       "fort.10, line 49: a record has 27 characters (a blank, D1 in E12.6, two blanks, the value "
       "in E12.6), this line has 0"},
      {__LINE__, replace_line(good.fort10, 7, std::string(" 0.000000E+00  -.7500\0\0E+01\r\n", 29)),
       good.fort20, {}, "fort.10, line 7: the value (columns 16-27) is not an E12.6 number"},
      // Pass 1 short of one record: pass 2's first record ends it.
      {__LINE__, replace_line(good.fort10, 16, ""), good.fort20, {},
       "fort.10, line 16: D1 0.5 differs from D1 0 of the pass that begins at line 1: that pass "
       "has fewer than 16 records"},
      {__LINE__, good.fort10 + record(1.5, 0), good.fort20, {},
       "fort.10, line 49: the file ends inside the pass that begins here: 1 of its 16 records"},
      {__LINE__, good.fort10.substr(0, 47 * 29), good.fort20, {},
       "fort.10, line 33: the file ends inside the pass that begins here: 15 of its 16 records"},
      {__LINE__, sweep_files(3, -0.5).fort10, sweep_files(3, -0.5).fort20, {},
       "fort.10, line 17: D1 -0.5 is below D1 0 of the pass before (line 1); a sweep's D1 never "
       "decreases"},
      {__LINE__, replace_line(good.fort10, 1, record(nan, 1)), good.fort20, {},
       "fort.10, line 1: D1 is not a finite number"},
      {__LINE__, replace_line(good.fort10, 18, record(inf, 1)), good.fort20, {},
       "fort.10, line 18: D1 is not a finite number"},
      {__LINE__, good.fort10, replace_line(good.fort20, 2, record(0.25, 3)), {},
       "fort.20, line 2: D1 0.25 differs from D1 0.5 of pass 2 in fort.10 (line 17)"},
      {__LINE__, good.fort10, good.fort20 + record(1.5, 5), {},
       "fort.20, line 4: one record more than the 3 passes of fort.10"},
      {__LINE__, good.fort10, good.fort20.substr(0, 2 * 29), {},
       "fort.20, line 3: records missing: fort.10 has 3 passes, this file 2 records"},
      // Two faults: the levels file's layout first, the gap file's next, then the
      // passes, the gap records against them, and last the levels against --J.
      {__LINE__, sweep_files(3, -0.5).fort10,
       replace_line(good.fort20, 3, " 0.000000E+00  -.75000E+01\r\n"), {},
       "fort.20, line 3: a record has 27 characters (a blank, D1 in E12.6, two blanks, the value "
       "in E12.6), this line has 26"},
      {__LINE__, replace_line(replace_line(good.fort10, 16, record(9, 1)), 40, " 0.000000E+00  -.75000E+01\r\n"),
       good.fort20, {},
       "fort.10, line 40: a record has 27 characters (a blank, D1 in E12.6, two blanks, the value "
       "in E12.6), this line has 26"},
      {__LINE__, good.fort10.substr(0, 40 * 29), replace_line(good.fort20, 2, record(0, 3)), {},
       "fort.10, line 33: the file ends inside the pass that begins here: 8 of its 16 records"},
      {__LINE__, good.fort10, good.fort20 + record(1.5, 5), {"--J", "-1"},
       "fort.20, line 4: one record more than the 3 passes of fort.10"},
      {__LINE__, replace_line(good.fort10, 6, " 0.000000E+00  -.75000E+01\r\n"), good.fort20,
       {"fort.10", "none"},
       "fort.10, line 6: a record has 27 characters (a blank, D1 in E12.6, two blanks, the value "
       "in E12.6), this line has 26"},
      // Options.
      {__LINE__, good.fort10, good.fort20, {"--relativ"},
       "unknown option '--relativ' (dimerplot --help lists the options)"},
      {__LINE__, good.fort10, good.fort20, {"-o"}, "option -o needs a file name"},
      {__LINE__, good.fort10, good.fort20, {"-o", ""},
       "option -o needs a file name, not an empty one"},
      {__LINE__, good.fort10, good.fort20, {"-o", "a.svg", "-o", "b.svg"}, "option -o given twice"},
      {__LINE__, good.fort10, good.fort20, {"fort.10", "fort.20", "x"},
       "too many files: 'x' (at most FORT10 and FORT20; dimerplot --help)"},
      {__LINE__, good.fort10, good.fort20, {"-o", "./fort.20"},
       "./fort.20: the SVG file would replace an input file"},
      {__LINE__, good.fort10, good.fort20, {"--J"}, "option --J needs a value"},
      {__LINE__, good.fort10, good.fort20, {"--J", "-1x"}, "value '-1x' of option --J is not a number"},
      {__LINE__, good.fort10, good.fort20, {"--J", "-1", "--ratio2", "inf"},
       "value 'inf' of option --ratio2 is not a finite number"},
      {__LINE__, good.fort10, good.fort20, {"--J", "1", "--J", "1"}, "option --J given twice"},
      {__LINE__, good.fort10, good.fort20, {"--ratio1", "0.1"},
       "options --ratio1 and --ratio2 belong to --J, the sweep's own J"},
      {__LINE__, good.fort10, good.fort20, {"-o", "missing/levels.svg"},
       "missing/levels.svg: cannot write: No such file or directory"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    e2e::Sandbox box;
    e2e::put(box.dir() / "fort.10", r.fort10);
    e2e::put(box.dir() / "fort.20", r.fort20);
    const auto before = names_in(box.dir());
    const PlotRun run = plot(box, r.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "dimerplot: " + r.message + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(names_in(box.dir()), before) << "no file written, no temporary left";
    EXPECT_EQ(e2e::slurp(box.dir() / "fort.10"), r.fort10);
  }
}

TEST(Program, FailureLeavesAnEarlierDrawingAlone) {
  e2e::Sandbox box;
  const Files good = sweep_files(2);
  e2e::put(box.dir() / "fort.10", good.fort10);
  e2e::put(box.dir() / "fort.20", good.fort20);
  ASSERT_EQ(plot(box, {}).status, 0);
  const auto drawing = e2e::slurp(box.dir() / "levels.svg");
  ASSERT_TRUE(drawing.has_value());
  e2e::put(box.dir() / "fort.20", good.fort20.substr(0, 29));
  EXPECT_EQ(plot(box, {"--relative"}).status, 1);
  EXPECT_EQ(e2e::slurp(box.dir() / "levels.svg"), drawing);
  EXPECT_EQ(names_in(box.dir()), (std::vector<std::string>{"fort.10", "fort.20", "levels.svg"}));
}

TEST(Program, OptionsAndFileNames) {
  e2e::Sandbox box;
  const Files good = sweep_files(2);
  fs::create_directory(box.dir() / "in");
  e2e::put(box.dir() / "in" / "a", good.fort10);
  e2e::put(box.dir() / "in" / "b", good.fort20);
  // The last records without their line ends read as the whole files.
  e2e::put(box.dir() / "in" / "a2", good.fort10.substr(0, good.fort10.size() - 2));
  e2e::put(box.dir() / "in" / "b2", good.fort20.substr(0, good.fort20.size() - 1));

  const PlotRun help = plot(box, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: dimerplot [options] [FORT10 [FORT20]]"), std::string::npos);
  for (const char* word : {"--relative", "--J J", "--ratio1", "--ratio2", "S = 0, 1, 2, 3"})
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  EXPECT_EQ(names_in(box.dir()), std::vector<std::string>{"in"});

  ASSERT_EQ(plot(box, {"-o", "one.svg", "in/a", "in/b"}).status, 0);
  ASSERT_EQ(plot(box, {"in/a2", "in/b2", "-o", "two.svg"}).status, 0);
  EXPECT_EQ(e2e::slurp(box.dir() / "one.svg"), e2e::slurp(box.dir() / "two.svg"));
  ASSERT_EQ(plot(box, {"--relative", "-o", "three.svg", "--", "in/a", "in/b"}).status, 0);
  EXPECT_NE(e2e::slurp(box.dir() / "one.svg"), e2e::slurp(box.dir() / "three.svg"));
  EXPECT_EQ(names_in(box.dir()), (std::vector<std::string>{"in", "one.svg", "three.svg", "two.svg"}));
  // A new drawing replaces the old one, with the usual permissions.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(fs::status(box.dir() / "one.svg").permissions(),
            static_cast<fs::perms>(0666 & ~mask));
}

// A drawing written through a symbolic link or to a device lands in the file
// the name leads to; the link and the device stay what they were.
TEST(Program, OutputThroughLinksAndDevices) {
  e2e::Sandbox box;
  const Files good = sweep_files(2);
  e2e::put(box.dir() / "fort.10", good.fort10);
  e2e::put(box.dir() / "fort.20", good.fort20);
  ASSERT_EQ(plot(box, {"-o", "plain.svg"}).status, 0);
  const auto drawing = e2e::slurp(box.dir() / "plain.svg");

  fs::create_directory(box.dir() / "sub");
  fs::create_symlink("../target.svg", box.dir() / "sub" / "link.svg");  // not there yet
  ASSERT_EQ(plot(box, {"-o", "sub/link.svg"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(box.dir() / "sub" / "link.svg"));
  EXPECT_EQ(e2e::slurp(box.dir() / "target.svg"), drawing);
  fs::permissions(box.dir() / "target.svg", fs::perms(0640));
  ASSERT_EQ(plot(box, {"-o", "sub/link.svg"}).status, 0);
  EXPECT_EQ(fs::status(box.dir() / "target.svg").permissions(), fs::perms(0640))
      << "a replaced drawing keeps its permissions";

  fs::create_symlink("/nonexistent-dir/x.svg", box.dir() / "dangling");
  fs::create_symlink("loop2", box.dir() / "loop1");
  fs::create_symlink("loop1", box.dir() / "loop2");
  const struct {
    std::string name, message;
  } failures[] = {
      {"/dev/full", "/dev/full: cannot write: No space left on device"},
      {"dangling", "dangling: cannot write: No such file or directory"},
      {"loop1", "loop1: cannot write: Too many levels of symbolic links"},
      {"sub", "sub: cannot write: Is a directory"},
  };
  for (const auto& f : failures) {
    SCOPED_TRACE(f.name);
    const PlotRun run = plot(box, {"-o", f.name});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "dimerplot: " + f.message + "\n");
  }
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(box.dir() / "dangling")));
  EXPECT_EQ(names_in(box.dir() / "sub"), std::vector<std::string>{"link.svg"});
}

// The points of every polyline of an SVG text, by the polyline's class and level.
struct Polyline {
  std::string cls;
  int level = 0;
  std::vector<std::pair<double, double>> points;
};
std::vector<Polyline> polylines(const std::string& svg) {
  std::vector<Polyline> lines;
  auto value_of = [&](std::size_t from, std::size_t to, const std::string& name) {
    const std::size_t a = svg.find(" " + name + "=\"", from);
    if (a == std::string::npos || a > to) return std::string();
    const std::size_t b = a + name.size() + 3;
    return svg.substr(b, svg.find('"', b) - b);
  };
  for (std::size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1)) {
    const std::size_t end = svg.find("/>", at);
    Polyline l;
    l.cls = value_of(at, end, "class");
    const std::string level = value_of(at, end, "data-level");
    l.level = level.empty() ? 0 : std::stoi(level);
    std::istringstream points(value_of(at, end, "points"));
    double x, y;
    char comma;
    while (points >> x >> comma >> y) l.points.emplace_back(x, y);
    lines.push_back(std::move(l));
  }
  return lines;
}

double attribute(const std::string& svg, const std::string& panel, const std::string& name) {
  const std::size_t at = svg.find("id=\"" + panel + "\"");
  const std::size_t a = svg.find(name + "=\"", at) + name.size() + 2;
  return std::stod(svg.substr(a, svg.find('"', a) - a));
}

// 200001 passes, every level a wave with a spike at its own pass, some values NaN.
TEST(Program, LongSweepIsThinnedAndKeepsItsExtremes) {
  const int passes = 200001;
  std::string fort10, fort20;
  fort10.reserve(std::size_t{passes} * levels * 29);
  auto value = [](int p, int k) {
    if (p == 1000 * (k + 1)) return 100.0 + k;  // a one-pass spike
    if (k == 5 && p % 50000 == 7) return nan;
    return 2.0 * k + std::sin(p * 1e-3 * (k + 1));
  };
  for (int p = 0; p < passes; ++p) {
    const double d1 = p * 1e-4;
    for (int k = 0; k < levels; ++k) fort10 += record(d1, value(p, k));
    fort20 += record(d1, value(p, 2) - value(p, 0));
  }
  e2e::Sandbox box;
  e2e::put(box.dir() / "fort.10", fort10);
  e2e::put(box.dir() / "fort.20", fort20);
  const auto start = std::chrono::steady_clock::now();
  const PlotRun run = plot(box, {});
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(run.status, 0) << run.err;
  std::printf("dimerplot on %d passes: %.2f s\n", passes, seconds);
  EXPECT_LT(seconds, 10.0);

  const std::string svg = e2e::slurp(box.dir() / "levels.svg").value();
  EXPECT_NE(svg.find("data-passes=\"200001\""), std::string::npos);
  EXPECT_NE(svg.find("data-left-out-levels=\"4\""), std::string::npos);  // p = 7, 50007, ...
  const auto lines = polylines(svg);
  const double bottom = attribute(svg, "levels", "data-bottom"),
               top = attribute(svg, "levels", "data-top"),
               ymin = attribute(svg, "levels", "data-ymin"),
               ymax = attribute(svg, "levels", "data-ymax");
  std::array<int, levels> pieces{};
  std::array<std::size_t, levels> points{};
  std::array<double, levels> highest;
  highest.fill(-inf);
  for (const Polyline& l : lines) {
    if (l.cls != "level") continue;
    ASSERT_GE(l.level, 1);
    ASSERT_LE(l.level, 16);
    pieces[l.level - 1]++;
    points[l.level - 1] += l.points.size();
    for (const auto& [x, y] : l.points)
      highest[l.level - 1] = std::max(highest[l.level - 1], ymin + (bottom - y) / (bottom - top) * (ymax - ymin));
  }
  const double resolution = (ymax - ymin) / (bottom - top) * 0.006;
  for (int k = 0; k < levels; ++k) {
    SCOPED_TRACE(k + 1);
    EXPECT_EQ(pieces[k], k == 5 ? 5 : 1);
    EXPECT_LE(points[k], 4u * 700);
    EXPECT_NEAR(highest[k], 100.0 + k, resolution) << "the one-pass spike is kept";
  }
}

// ---------------------------------------------------------------- states

TEST(Agreement, ToTheDigitsPrinted) {
  const struct {
    int line;
    double w, r, d1, scale, slope;
    bool agrees;
  } rows[] = {
      {__LINE__, 4.2198849, 0.421988e1, 0, 7.5, 0, true},
      {__LINE__, 4.219889, 0.421988e1, 0, 7.5, 0, true},   // 0.9 of a unit off
      {__LINE__, 4.219891, 0.421988e1, 0, 7.5, 0, false},  // 1.1 units off
      {__LINE__, -7.500009, -0.750000e1, 0, 7.5, 0, true},
      {__LINE__, -7.500011, -0.750000e1, 0, 7.5, 0, false},
      {__LINE__, 0.1000009, 0.100000e0, 0, 7.5, 0, true},  // a unit is 1e-6 here
      {__LINE__, 0.1000011, 0.100000e0, 0, 7.5, 0, false},
      {__LINE__, 0.99999949, 0.100000e1, 0, 7.5, 0, true},  // just below a power of ten
      {__LINE__, 1.2e-15, 0.0, 0, 7.5, 0, true},             // zero up to rounding
      {__LINE__, -3e-12, 0.114e-11, 0, 7.5, 0, true},
      {__LINE__, 1e-9, 0.0, 0, 7.5, 0, false},
      {__LINE__, 1e-9, 0.0, 0, 7.5e4, 0, true},
      // D1 = 1.23457 is known to 5e-6: a level of slope 2 to 1e-5 more.
      {__LINE__, 1e-3 + 9e-6, 0.100000e-2, 1.23457, 7.5, 2.0, true},
      {__LINE__, 1e-3 - 9e-6, 0.100000e-2, 1.23457, 7.5, -2.0, true},
      {__LINE__, 1e-3 + 1.2e-5, 0.100000e-2, 1.23457, 7.5, 2.0, false},
      {__LINE__, 1e-3 + 9e-6, 0.100000e-2, 1.23457, 7.5, 0.0, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    EXPECT_EQ(agrees(r.w, r.r, r.d1, r.scale, r.slope), r.agrees);
  }
}

// The sweep's own states: recomputed, checked against fort.10, followed
// through the crossings and coloured by spin; the wrong parameters refused.
TEST(Program, StatesOfTheSweepsOwnParameters) {
  e2e::Sandbox box;
  const e2e::Outcome scan = e2e::run(box, "-1\n0 5 0.05\n0\n0 0\n0\n");
  ASSERT_EQ(scan.status, 0) << scan.err;
  ASSERT_EQ(plot(box, {"-o", "levels.svg"}).status, 0);
  const PlotRun run = plot(box, {"--J", "-1", "-o", "states.svg"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string svg = e2e::slurp(box.dir() / "states.svg").value();
  const std::string plain = e2e::slurp(box.dir() / "levels.svg").value();

  for (int S = 0; S <= 3; ++S)
    EXPECT_NE(svg.find(">S = " + std::to_string(S) + "</text>"), std::string::npos) << S;
  EXPECT_EQ(svg.find("class=\"level\""), std::string::npos);
  // Every state's line by its points (a polyline goes on from the last point
  // of the one before it), and its spins.
  std::array<std::vector<std::pair<double, double>>, levels> points;
  std::array<std::vector<double>, levels> spins;
  for (std::size_t at = svg.find("<polyline class=\"state\""); at != std::string::npos;
       at = svg.find("<polyline class=\"state\"", at + 1)) {
    const int state = std::stoi(svg.substr(svg.find("data-state=\"", at) + 12));
    ASSERT_TRUE(state >= 1 && state <= 16);
    spins[state - 1].push_back(std::stod(svg.substr(svg.find("data-spin=\"", at) + 11)));
    const std::size_t p = svg.find("points=\"", at) + 8;
    std::istringstream in(svg.substr(p, svg.find('"', p) - p));
    double x, y;
    char comma;
    auto& line = points[state - 1];
    const bool joined = !line.empty();
    bool first = true;
    while (in >> x >> comma >> y) {
      if (first && joined) {
        EXPECT_EQ(line.back(), std::make_pair(x, y)) << "the line goes on";
      } else {
        line.emplace_back(x, y);
      }
      first = false;
    }
  }
  // The same for the levels of the plain drawing.
  std::array<std::vector<std::pair<double, double>>, levels> ranks;
  for (const Polyline& l : polylines(plain))
    if (l.cls == "level") ranks[l.level - 1] = l.points;
  const double left = attribute(svg, "levels", "data-left"),
               right = attribute(svg, "levels", "data-right");
  auto bend = [&](const std::array<std::vector<std::pair<double, double>>, levels>& lines) {
    double most = 0;
    for (const auto& line : lines)
      for (std::size_t i = 1; i + 1 < line.size(); ++i)
        if (line[i - 1].first >= left + 0.1 * (right - left))  // past D1 = 0.5 of 0 .. 5
          most = std::max(most, std::fabs(line[i + 1].second - 2 * line[i].second +
                                          line[i - 1].second));
    return most;
  };
  for (int k = 0; k < levels; ++k) {
    EXPECT_EQ(points[k].size(), 101u) << "state " << k + 1;
    EXPECT_EQ(ranks[k].size(), 101u) << "level " << k + 1;
    EXPECT_NE(svg.find("class=\"state-label\" data-state=\"" + std::to_string(k + 1) + "\""),
              std::string::npos)
        << "the label of state " << k + 1;
  }
  EXPECT_LT(bend(points), 0.25 * bend(ranks)) << bend(points) << " " << bend(ranks);
  EXPECT_EQ(spins[0].front(), 0.0) << "the singlet";
  EXPECT_EQ(spins[15].front(), 3.0) << "the top of the septet";

  const struct {
    int line;
    std::vector<std::string> args;
    std::string message;
  } wrong[] = {
      {__LINE__, {"--J", "-2"},
       "fort.10, line 1: level 1 of D1 = 0 is -7.5, but -15 with J = -2, ratio1 = 0, ratio2 = 0: "
       "these are not the sweep's parameters"},
      {__LINE__, {"--J", "-1.00001"},
       "fort.10, line 1: level 1 of D1 = 0 is -7.5, but -7.500075 with J = -1.00001, ratio1 = 0, "
       "ratio2 = 0: these are not the sweep's parameters"},
      {__LINE__, {"--J", "-1", "--ratio1", "0.01"},
       "fort.10, line 18: level 2 of D1 = 0.05 is -5.59126, but -5.591724 with J = -1, ratio1 = "
       "0.01, ratio2 = 0: these are not the sweep's parameters"},
  };
  const auto names = names_in(box.dir());
  for (const auto& w : wrong) {
    SCOPED_TRACE(w.line);
    std::vector<std::string> args = w.args;
    args.insert(args.end(), {"-o", "states.svg"});
    const PlotRun r = plot(box, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "dimerplot: " + w.message + "\n");
    EXPECT_EQ(e2e::slurp(box.dir() / "states.svg"), svg) << "the drawing stays as it was";
    EXPECT_EQ(names_in(box.dir()), names);
  }
  // One level five units of its sixth digit off: refused at its line (D1 is
  // known to half a unit of its own sixth digit, which moves a level too).
  std::string fort10 = *scan.fort10;
  const std::size_t line = 16 * 40 + 7;  // pass 41 (D1 = 2), level 7
  const std::size_t at = (line - 1) * 29 + 15;
  const double unit = std::pow(10.0, std::stoi(fort10.substr(at + 9, 3)) - 6);
  char field[12];
  textio::format_e_field(field, std::strtod(fort10.substr(at, 12).c_str(), nullptr) + 5 * unit,
                         12, 6);
  fort10.replace(at, 12, field, 12);
  e2e::put(box.dir() / "fort.10", fort10);
  const PlotRun r = plot(box, {"--J", "-1", "-o", "states.svg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("dimerplot: fort.10, line " + std::to_string(line) + ": level 7 of D1 = 2 is ", 0), 0u)
      << r.err;
}

struct BoundedRun {
  int status = -1;
  long peak_kib = 0;
  double seconds = 0, cpu_seconds = 0;
  std::string err;
};

// Runs dimerplot in box.dir() and measures its time, processor time and peak
// memory; killed after timeout.
BoundedRun bounded_plot(const e2e::Sandbox& box, const std::vector<std::string>& args,
                        std::chrono::seconds timeout = std::chrono::seconds(20)) {
  const std::string exe = DIMERPLOT;
  const fs::path err = box.root() / "stderr";
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd2 = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd2 < 0 || ::chdir(box.dir().c_str()) != 0) ::_exit(126);
    ::dup2(fd2, 2);
    support::exec_program(exe, args);
  }
  BoundedRun r;
  int wstatus = 0;
  rusage usage{};
  while (::wait4(pid, &wstatus, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() - start > timeout) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &wstatus, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);
  r.peak_kib = usage.ru_maxrss;
  r.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  1e-6 * static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  r.err = e2e::slurp(err).value_or("");
  return r;
}

// Endless or binary input is refused at its first bad line, at once, in
// bounded memory, whatever follows that line.
TEST(Program, EndlessOrBinaryInputEndsAtItsFirstBadLine) {
  e2e::Sandbox box;
  const Files good = sweep_files(3);
  e2e::put(box.dir() / "fort.10", good.fort10);
  e2e::put(box.dir() / "fort.20", good.fort20);
  // Files of 4 GiB that take no room: their holes read as NUL bytes.
  const auto sparse = [&](const std::string& name, const std::string& head) {
    e2e::put(box.dir() / name, head);
    ASSERT_EQ(::truncate((box.dir() / name).c_str(), off_t{4} << 30), 0);
  };
  sparse("nul", "");
  sparse("one-line", std::string(1 << 20, 'x'));
  sparse("after-good", good.fort10 + " 0.150000E+01  ");
  e2e::put(box.dir() / "binary",
           std::string("\x7f" "ELF\x02\x01\n\0\0\0\n", 11) + std::string(1 << 20, '\x90'));
  const std::string too_long =
      ": a record has 27 characters (a blank, D1 in E12.6, two blanks, the value in E12.6), this "
      "line has more than 4096\n";
  const struct {
    int line;
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {__LINE__, {"/dev/zero"}, "/dev/zero, line 1" + too_long},
      {__LINE__, {"fort.10", "/dev/zero"}, "/dev/zero, line 1" + too_long},
      {__LINE__, {"--J", "-1", "/dev/zero"}, "/dev/zero, line 1" + too_long},
      {__LINE__, {"nul"}, "nul, line 1" + too_long},
      {__LINE__, {"one-line"}, "one-line, line 1" + too_long},
      {__LINE__, {"after-good"}, "after-good, line 49" + too_long},
      {__LINE__, {"binary"},
       "binary, line 1: the record does not end with CR LF\n"},
  };
  // A child's peak counts what it shares of this process after the fork:
  // measured against a run that reads nothing.
  const BoundedRun help = bounded_plot(box, {"--help"});
  ASSERT_EQ(help.status, 0);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const BoundedRun r = bounded_plot(box, row.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "dimerplot: " + row.message);
    EXPECT_LT(r.seconds, 5.0);
    EXPECT_LT(r.peak_kib, help.peak_kib + 32 * 1024) << "peak memory in KiB";
  }
  EXPECT_FALSE(fs::exists(box.dir() / "levels.svg"));
}

// Regular files are read twice and drawn pass by pass; a pipe is read once
// and kept. Both give the same bytes, levels or states, from any sweep, and
// a regular file's drawing stays within bounded memory however long it is.
TEST(Program, FilesAndPipesDrawTheSame) {
  std::signal(SIGPIPE, SIG_IGN);
  Files real;  // a sweep of the sweep's own Hamiltonian, J = -1
  for (std::int64_t k = 1;; ++k) {
    const double d1 = passes::d1_of(k, -3.0, 0.003);
    if (d1 > 3.0) break;
    const states::Spectrum sp = states::compute({-1.0, d1, 0.0, 0.0});
    ASSERT_EQ(sp.ierr, 0);
    for (const states::Level& l : sp.levels) real.fort10 += record(d1, l.energy);
    real.fort20 += record(d1, sp.levels[2].energy - sp.levels[0].energy);
  }
  Files made;  // spikes, runs of NaN and infinities, equal D1 over many passes
  for (int p = 0; p < 30001; ++p) {
    const double d1 = p < 20000 ? std::floor(p / 3000.0) : 7 + (p - 20000) * 1e-3;
    for (int k = 0; k < levels; ++k) {
      double v = k + std::sin(p * 1e-2 * (k + 1));
      if (p % (500 + k) < k) v = nan;
      if (p == 777 * (k + 1)) v = (k % 2 ? -1 : 1) * 1e3;
      if (k == 15 && p % 1001 == 3) v = inf;
      made.fort10 += record(d1, v);
    }
    made.fort20 += record(d1, p % 97 == 0 ? nan : std::cos(p * 1e-3));
  }
  const struct {
    int line;
    const Files* files;
    std::vector<std::string> args;
  } rows[] = {
      {__LINE__, &real, {}},
      {__LINE__, &real, {"--relative"}},
      {__LINE__, &real, {"--J", "-1"}},
      {__LINE__, &real, {"--J", "-1", "--relative"}},
      {__LINE__, &made, {}},
      {__LINE__, &made, {"--relative"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    e2e::Sandbox box;
    e2e::put(box.dir() / "fort.10", row.files->fort10);
    e2e::put(box.dir() / "fort.20", row.files->fort20);
    std::vector<std::string> args = row.args;
    args.insert(args.end(), {"-o", "files.svg"});
    const PlotRun files = plot(box, args);
    ASSERT_EQ(files.status, 0) << files.err;

    const fs::path p10 = box.dir() / "p10", p20 = box.dir() / "p20";
    ASSERT_EQ(::mkfifo(p10.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(p20.c_str(), 0600), 0);
    auto writer = [](fs::path fifo, const std::string& bytes) {
      return std::thread([fifo, &bytes] {
        const int fd = ::open(fifo.c_str(), O_WRONLY);
        for (std::size_t at = 0; fd >= 0 && at < bytes.size();) {
          const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
          if (n <= 0) break;
          at += static_cast<std::size_t>(n);
        }
        if (fd >= 0) ::close(fd);
      });
    };
    std::thread w10 = writer(p10, row.files->fort10), w20 = writer(p20, row.files->fort20);
    args = row.args;
    args.insert(args.end(), {"p10", "p20", "-o", "pipes.svg"});
    const PlotRun pipes = plot(box, args);
    w10.join();
    w20.join();
    ASSERT_EQ(pipes.status, 0) << pipes.err;
    EXPECT_EQ(e2e::slurp(box.dir() / "files.svg"), e2e::slurp(box.dir() / "pipes.svg"));
  }
}

// 200001 passes of a real sweep drawn state by state in a few seconds. Under
// the emulator of a cross build, which runs the arithmetic a hundred times
// slower, a tenth of the passes is drawn and the time is not measured.
TEST(Program, LongSweepOfStatesDrawsInSeconds) {
  const bool emulated = std::getenv("DIMERSCAN_EMULATOR") != nullptr &&
                        *std::getenv("DIMERSCAN_EMULATOR") != '\0';
  const double from = 0, to = 20, step = emulated ? 1e-3 : 1e-4;
  const std::size_t count = emulated ? 20001 : 200001;
  std::string fort10, fort20;
  fort10.reserve(count * levels * 29);
  for (std::int64_t k = 1;; ++k) {
    const double d1 = passes::d1_of(k, from, step);
    if (d1 > to) break;
    const states::Spectrum s = states::compute({-1.0, d1, 0.0, 0.0});
    ASSERT_EQ(s.ierr, 0);
    for (const states::Level& l : s.levels) fort10 += record(d1, l.energy);
    fort20 += record(d1, s.levels[2].energy - s.levels[0].energy);
  }
  ASSERT_EQ(fort20.size(), count * 29);
  e2e::Sandbox box;
  e2e::put(box.dir() / "fort.10", fort10);
  e2e::put(box.dir() / "fort.20", fort20);
  std::string().swap(fort10);  // not counted in the child's peak after the fork
  std::string().swap(fort20);
  const BoundedRun help = bounded_plot(box, {"--help"});
  // Processor time: on a shared machine the time on the clock says more
  // about the other processes than about this one.
  const BoundedRun run = bounded_plot(box, {"--J", "-1"}, std::chrono::seconds(300));
  ASSERT_EQ(run.status, 0) << run.err;
  // Memory bounded whatever the number of passes: keeping every pass's
  // states took about 80 MB here.
  EXPECT_LT(run.peak_kib, help.peak_kib + 16 * 1024) << "peak memory in KiB";
  std::printf("dimerplot --J on %zu passes: %.2f s of processor time, %.2f s on the clock\n",
              count, run.cpu_seconds, run.seconds);
#ifdef __SANITIZE_ADDRESS__
  constexpr double limit = 60.0;  // checked code runs several times slower
#else
  constexpr double limit = 30.0;  // room for a machine shared with other runs
#endif
  if (!emulated) {
    EXPECT_LT(run.cpu_seconds, limit);
  }
  const std::string svg = e2e::slurp(box.dir() / "levels.svg").value();
  EXPECT_NE(svg.find("data-passes=\"" + std::to_string(count) + "\""), std::string::npos);
  for (int k = 1; k <= levels; ++k)
    EXPECT_NE(svg.find("class=\"state-label\" data-state=\"" + std::to_string(k) + "\""),
              std::string::npos)
        << k;
  EXPECT_LT(svg.size(), std::size_t{2} << 20) << "thinned";
}

}  // namespace

// ---------------------------------------------------------------- dimerstates' CSV

namespace {

e2e::Outcome states_csv(const std::vector<std::string>& args) {
  e2e::Sandbox box;
  std::vector<std::string> a = args;
  a.push_back("--csv");
  const e2e::Outcome o = e2e::run_program(DIMERSTATES, box, "", a);
  EXPECT_EQ(o.status, 0) << o.err;
  return o;
}

// The attribute name="..." of the first element at or after at.
std::string attribute_at(const std::string& svg, std::size_t at, const std::string& name) {
  const std::size_t p = svg.find(name + "=\"", at) + name.size() + 2;
  return svg.substr(p, svg.find('"', p) - p);
}

}  // namespace

// A mix of S = 0 and S = 2 is a colour of its own, never that of S = 1.
TEST(Colour, CompositionMixesTheSpinColours) {
  EXPECT_EQ(composition_colour({1, 0, 0, 0}), spin_colour(0));
  EXPECT_EQ(composition_colour({0, 0, 0, 1}), spin_colour(3));
  EXPECT_NE(composition_colour({0.64, 0, 0.36, 0}), spin_colour(1));
  EXPECT_EQ(composition_colour({0.5, 0, 0.5, 0}), composition_colour({0.25, 0, 0.25, 0}))
      << "the proportions count";
}

// The Zeeman diagram, from dimerstates on standard input: the x axis is the
// field, one line per state, coloured by its weights, the fixed parameters
// in the note.
TEST(States, ZeemanDiagramFromStandardInput) {
  const e2e::Outcome csv =
      states_csv({"--J", "-1", "--D1", "0.5", "--theta", "0", "--sweep", "B=0:5:0.01"});
  e2e::Sandbox box;
  const e2e::Outcome o = e2e::run_program(DIMERPLOT, box, csv.out, {"--states", "-", "-o", "z.svg"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  const std::string svg = e2e::slurp(box.dir() / "z.svg").value();
  EXPECT_NE(svg.find(">B (T)</text>"), std::string::npos);
  EXPECT_NE(svg.find("501 passes, B from 0 to 5 T"), std::string::npos);
  EXPECT_NE(svg.find("Fixed: J = -1, D1 = 0.5, D2 = 0.5, E1 = 0, E2 = 0 cm-1; g = 2; theta = 0, phi = 0 deg"),
            std::string::npos);
  std::array<int, levels> lines{};
  for (std::size_t at = svg.find("<polyline class=\"state\""); at != std::string::npos;
       at = svg.find("<polyline class=\"state\"", at + 1)) {
    const int state = std::stoi(attribute_at(svg, at, "data-state"));
    ASSERT_TRUE(state >= 1 && state <= levels);
    ++lines[state - 1];
    std::istringstream w(attribute_at(svg, at, "data-weights"));
    std::array<double, 4> weights{};
    for (double& x : weights) w >> x;
    EXPECT_EQ(attribute_at(svg, at, "stroke"), composition_colour(weights));
  }
  for (int k = 0; k < levels; ++k) EXPECT_GE(lines[k], 1) << "state " << k + 1;
}

// --J colours by composition too: J = -1, D1 = 5, the lowest state 64 % S = 0
// and 36 % S = 2 at the end of the sweep, not the S = 1 that <S^2> suggests.
// A regular file is read twice, a line at a time; standard input is read
// once and kept: the same bytes, levels or relative. Drawing a file keeps
// one line and one pass, whatever the length of the sweep.
TEST(States, FileAndStandardInputDrawTheSame) {
  const e2e::Outcome csv = states_csv({"--J", "-1", "--D1", "0:20:0.01"});  // 2001 passes
  e2e::Sandbox box;
  e2e::put(box.dir() / "s.csv", csv.out);
  const BoundedRun help = bounded_plot(box, {"--help"});
  for (const bool relative : {false, true}) {
    SCOPED_TRACE(relative);
    std::vector<std::string> args = {"--states", "s.csv", "-o", "file.svg"};
    if (relative) args.push_back("--relative");
    const BoundedRun file = bounded_plot(box, args);
    ASSERT_EQ(file.status, 0) << file.err;
#ifndef __SANITIZE_ADDRESS__
    // (The address sanitizer keeps freed memory in quarantine, and an emulator's translated code
    // grows with what runs: the peak is the program's own only without them.)
    const char* emulator = std::getenv("DIMERSCAN_EMULATOR");
    if (emulator == nullptr || *emulator == '\0') {
      EXPECT_LT(file.peak_kib, help.peak_kib + 4 * 1024) << "the CSV is " << csv.out.size() << " bytes";
    }
#endif
    args[1] = "-";
    args[3] = "stdin.svg";
    const e2e::Outcome in = e2e::run_program(DIMERPLOT, box, csv.out, args);
    ASSERT_EQ(in.status, 0) << in.err;
    EXPECT_EQ(e2e::slurp(box.dir() / "file.svg"), e2e::slurp(box.dir() / "stdin.svg"));
  }
}

TEST(States, SweepsOwnStatesAreColouredByComposition) {
  e2e::Sandbox box;
  ASSERT_EQ(e2e::run(box, "-1\n0 5 0.5\n0\n0 0\n0\n").status, 0);
  ASSERT_EQ(plot(box, {"--J", "-1", "-o", "s.svg"}).status, 0);
  const std::string svg = e2e::slurp(box.dir() / "s.svg").value();
  std::string last;
  for (std::size_t at = svg.find("<polyline class=\"state\" data-state=\"1\""); at != std::string::npos;
       at = svg.find("<polyline class=\"state\" data-state=\"1\"", at + 1))
    last = attribute_at(svg, at, "data-weights");
  EXPECT_EQ(last, "0.65 0.00 0.35 0.00");
}

// Bad CSV: status 1, one line naming the file and the line, no SVG.
TEST(States, BadCsvIsRefused) {
  const std::string good = states_csv({"--J", "-1", "--sweep", "B=0:0.2:0.1"}).out;
  std::vector<std::string> lines;
  for (std::size_t a = 0, b; (b = good.find('\n', a)) != std::string::npos; a = b + 1)
    lines.push_back(good.substr(a, b - a));
  ASSERT_EQ(lines.size(), 1u + 3 * 16);
  auto join = [](const std::vector<std::string>& l) {
    std::string t;
    for (const auto& x : l) t += x + "\n";
    return t;
  };
  auto with = [&](std::size_t line, const std::string& from, const std::string& to) {
    std::vector<std::string> l = lines;
    l[line - 1].replace(l[line - 1].find(from), from.size(), to);
    return join(l);
  };
  std::vector<std::string> ragged = lines;
  ragged.erase(ragged.begin() + 20);
  std::vector<std::string> cut(lines.begin(), lines.end() - 3);
  std::string j_changes = good;
  {
    std::vector<std::string> l = lines;
    for (std::size_t r = 17; r < l.size(); ++r) l[r].replace(l[r].find(",-1,"), 4, ",-2,");
    j_changes = join(l);
  }
  const struct {
    int line;
    std::string text, message;
  } rows[] = {
      {__LINE__, with(1, ",w2,", ",wx,"), "states.csv, line 1: no column 'w2'"},
      {__LINE__, with(5, ",-1,", ",abc,"), "states.csv, line 5: 'abc' in column J is not a finite number"},
      {__LINE__, join(ragged),
       "states.csv, line 21: level 5 where a pass has its level 4: a pass is sixteen rows, levels 1 "
       "to 16"},
      {__LINE__, join(cut), "states.csv, line 34: the file ends inside the pass that begins here: 13 of its 16 rows"},
      {__LINE__, j_changes,
       "states.csv, line 18: parameter J changes (-1 in line 2, -2 here), but the sweep is of B: a "
       "drawing has one swept parameter"},
      {__LINE__, states_csv({"--J", "-1"}).out,
       "states.csv, line 1: not a sweep of dimerstates --csv: its first column is 'level', not the "
       "swept parameter (J, D1, D2, D, E1, E2, ratio1, ratio2, B, theta, phi)"},
      {__LINE__, with(3, "0,2,2,", "0,2,"), "states.csv, line 3: 30 fields, but the header has 31"},
      {__LINE__, "", "states.csv, line 1: empty file: no header row of dimerstates --csv"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.line);
    e2e::Sandbox box;
    e2e::put(box.dir() / "states.csv", r.text);
    const PlotRun run = plot(box, {"--states", "states.csv", "-o", "s.svg"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "dimerplot: " + r.message + "\n");
    EXPECT_FALSE(fs::exists(box.dir() / "s.svg"));
    EXPECT_EQ(names_in(box.dir()), std::vector<std::string>{"states.csv"});
  }
}

// --help and --version into standard output that cannot be written: the
// text is lost, so the status says so, with one line on standard error.
TEST(Program, HelpAndVersionIntoAFullDeviceFail) {
  for (const char* option : {"--help", "--version"}) {
    SCOPED_TRACE(option);
    e2e::Sandbox box;
    const support::Finished o = support::run_in(
        box, {.program = DIMERPLOT, .out = support::Output::full, .args = {option}});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "dimerplot: standard output could not be written: No space left on device\n");
  }
}

TEST(States, VersionAndOptionsThatDoNotGoWithStates) {
  e2e::Sandbox box;
  const PlotRun v = plot(box, {"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out.rfind("dimerplot ", 0), 0u);
  EXPECT_EQ(v.out.find('\n'), v.out.size() - 1);
  const PlotRun both = plot(box, {"--states", "a.csv", "--J", "-1"});
  EXPECT_EQ(both.status, 1);
  EXPECT_EQ(both.err, "dimerplot: option --states draws a dimerstates CSV: no FORT10, FORT20 or --J with it\n");
}
