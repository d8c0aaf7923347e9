#include "textio/efield.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double dmax = std::numeric_limits<double>::max();
constexpr double dmin = std::numeric_limits<double>::min();         // smallest normal
constexpr double tiny = std::numeric_limits<double>::denorm_min();  // smallest subnormal

// Guard bytes after the field catch a write past position w.
constexpr int guard = 8;

// The field as a string; fails the test when anything is written past w.
std::string field(double value, int w, int d) {
  std::string buf(static_cast<std::size_t>(w + guard), '\x01');
  textio::format_e_field(buf.data(), value, w, d);
  EXPECT_EQ(buf.substr(static_cast<std::size_t>(w)), std::string(guard, '\x01'))
      << "written past the field";
  return buf.substr(0, static_cast<std::size_t>(w));
}

struct Row {
  int line;
  double value;
  int w;
  int d;
  const char* text;
};

void check(const Row* rows, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(rows[i].line);
    EXPECT_EQ(field(rows[i].value, rows[i].w, rows[i].d), rows[i].text);
  }
}

TEST(EField, E12_6) {
  const Row rows[] = {
      {__LINE__, 1.0, 12, 6, "0.100000E+01"},
      {__LINE__, -7.5, 12, 6, "-.750000E+01"},
      {__LINE__, 0.0, 12, 6, "0.000000E+00"},
      {__LINE__, -0.0, 12, 6, "0.000000E+00"},
      {__LINE__, 2.0 / 3.0, 12, 6, "0.666667E+00"},
      {__LINE__, 9.9999996, 12, 6, "0.100000E+02"},
      {__LINE__, 0.093372, 12, 6, "0.933720E-01"},
      {__LINE__, 123456789.0, 12, 6, "0.123457E+09"},
      {__LINE__, 1.0e100, 12, 6, "0.100000+101"},
      {__LINE__, -1.0e-100, 12, 6, "-.100000E-99"},
      {__LINE__, 1.0e-101, 12, 6, "0.100000-100"},
      {__LINE__, dmax, 12, 6, "0.179769+309"},
      {__LINE__, nan, 12, 6, "         NaN"},
      {__LINE__, inf, 12, 6, "   +Infinity"},
      {__LINE__, -inf, 12, 6, "   -Infinity"},
      {__LINE__, -5.59337, 12, 6, "-.559337E+01"},
      {__LINE__, 4.21988, 12, 6, "0.421988E+01"},
  };
  check(rows, std::size(rows));
}

// Rounding up to the next power of ten raises the exponent, also across the
// boundary between two- and three-digit exponent fields.
TEST(EField, RoundingCarries) {
  const Row rows[] = {
      {__LINE__, -9.9999996, 12, 6, "-.100000E+02"},
      {__LINE__, 0.99999996, 12, 6, "0.100000E+01"},
      {__LINE__, 0.99999949, 12, 6, "0.999999E+00"},
      {__LINE__, 9.9999996e98, 12, 6, "0.100000+100"},
      {__LINE__, 9.9999996e99, 12, 6, "0.100000+101"},
      {__LINE__, 9.9999995e-100, 12, 6, "0.100000E-98"},
      {__LINE__, 9.9999996e-101, 12, 6, "0.100000E-99"},
      {__LINE__, -9.9999996e-101, 12, 6, "-.100000E-99"},
      {__LINE__, 9.9999949e-101, 12, 6, "0.999999-100"},
      {__LINE__, 0.96, 8, 1, " 0.1E+01"},
      {__LINE__, 0.99951, 10, 3, " 0.100E+01"},
      // Exact ties go to the even digit.
      {__LINE__, 0.125, 9, 2, " 0.12E+00"},
      {__LINE__, 0.375, 9, 2, " 0.38E+00"},
  };
  check(rows, std::size(rows));
}

TEST(EField, ExponentRanges) {
  const Row rows[] = {
      {__LINE__, 1.0e98, 12, 6, "0.100000E+99"},
      {__LINE__, 1.0e99, 12, 6, "0.100000+100"},
      {__LINE__, 1.0e200, 12, 6, "0.100000+201"},
      {__LINE__, -1.0e300, 12, 6, "-.100000+301"},
      {__LINE__, 1.0e-99, 12, 6, "0.100000E-98"},
      {__LINE__, 1.0e-100, 12, 6, "0.100000E-99"},
      {__LINE__, -1.0e-200, 12, 6, "-.100000-199"},
      {__LINE__, -dmax, 12, 6, "-.179769+309"},
      {__LINE__, dmin, 12, 6, "0.222507-307"},
      {__LINE__, -dmin, 12, 6, "-.222507-307"},
      {__LINE__, dmin - tiny, 12, 6, "0.222507-307"},  // largest subnormal
      {__LINE__, 1.0e-310, 12, 6, "0.100000-309"},
      {__LINE__, tiny, 12, 6, "0.494066-323"},
      {__LINE__, -tiny, 12, 6, "-.494066-323"},
  };
  check(rows, std::size(rows));
}

TEST(EField, NotFinite) {
  const double minus_nan = std::copysign(nan, -1.0);
  const Row rows[] = {
      {__LINE__, nan, 1, 6, "*"},         {__LINE__, nan, 2, 6, "**"},
      {__LINE__, nan, 3, 6, "NaN"},       {__LINE__, nan, 4, 6, " NaN"},
      {__LINE__, nan, 8, 6, "     NaN"},  {__LINE__, nan, 9, 6, "      NaN"},
      {__LINE__, minus_nan, 12, 6, "         NaN"},
      {__LINE__, inf, 1, 6, "*"},         {__LINE__, inf, 2, 6, "**"},
      {__LINE__, inf, 3, 6, "Inf"},       {__LINE__, inf, 4, 6, "+Inf"},
      {__LINE__, inf, 8, 6, "    +Inf"},  {__LINE__, inf, 9, 6, "+Infinity"},
      {__LINE__, -inf, 1, 6, "*"},        {__LINE__, -inf, 2, 6, "**"},
      {__LINE__, -inf, 3, 6, "***"},      {__LINE__, -inf, 4, 6, "-Inf"},
      {__LINE__, -inf, 8, 6, "    -Inf"}, {__LINE__, -inf, 9, 6, "-Infinity"},
      {__LINE__, inf, 15, 1, "      +Infinity"},
  };
  check(rows, std::size(rows));
}

// Other widths and digit counts: blanks, the lead zero and the point of
// overflow move with w, d and the sign.
TEST(EField, OtherWidths) {
  const Row rows[] = {
      {__LINE__, 1.0, 10, 3, " 0.100E+01"},
      {__LINE__, -7.5, 10, 3, "-0.750E+01"},
      {__LINE__, std::numbers::pi, 15, 8, " 0.31415927E+01"},
      {__LINE__, -std::numbers::pi, 15, 8, "-0.31415927E+01"},
      {__LINE__, -7.5, 13, 6, "-0.750000E+01"},
      {__LINE__, 0.94, 8, 1, " 0.9E+00"},
      {__LINE__, -0.96, 8, 1, "-0.1E+01"},
      {__LINE__, 0.0, 8, 1, " 0.0E+00"},
      {__LINE__, 1.0e100, 8, 1, " 0.1+101"},
      {__LINE__, 1.0, 7, 1, "0.1E+01"},
      {__LINE__, 1.0, 6, 1, ".1E+01"},
      {__LINE__, -1.0, 7, 1, "-.1E+01"},
      {__LINE__, 0.1, 30, 20, "    0.10000000000000000555E+00"},
      // Too narrow: w asterisks.
      {__LINE__, 1.0, 11, 6, ".100000E+01"},
      {__LINE__, -1.0, 11, 6, "***********"},
      {__LINE__, 1.0, 10, 6, "**********"},
      {__LINE__, -1.0, 6, 1, "******"},
      {__LINE__, 0.0, 5, 1, "*****"},
      {__LINE__, 1.0, 1, 1, "*"},
      {__LINE__, 1.0, 4, 5, "****"},
  };
  check(rows, std::size(rows));
}

// Digits and exponent of the field, parsed back; the field must be blanks,
// an optional '-', an optional '0', '.', d digits and an exponent field.
struct Parsed {
  bool ok = false;
  bool minus = false;
  std::string digits;
  int exponent = 0;
};

Parsed parse_field(const std::string& f, int d) {
  Parsed p;
  std::size_t i = f.find_first_not_of(' ');
  if (i == std::string::npos) return p;
  if (f[i] == '-') {
    p.minus = true;
    ++i;
  }
  if (f[i] == '0') ++i;
  if (f[i++] != '.') return p;
  p.digits = f.substr(i, static_cast<std::size_t>(d));
  i += static_cast<std::size_t>(d);
  if (f.size() != i + 4 || p.digits.find_first_not_of("0123456789") != std::string::npos) return p;
  const std::string x = f.substr(i);
  if (x[0] == 'E') {
    p.exponent = std::atoi(x.substr(1).c_str());
  } else {
    p.exponent = std::atoi(x.c_str());
    if (std::abs(p.exponent) < 100) return p;
  }
  p.ok = true;
  return p;
}

// Many doubles of every binary exponent, subnormals included, at several
// digit counts: the field agrees digit for digit with the C library's
// conversion, and its digits read back to within half a unit of the last.
TEST(EField, SweepOverBinaryExponents) {
  static_assert(std::numeric_limits<long double>::digits >= 64);
  std::mt19937_64 random(20240611);
  const int digit_counts[] = {1, 2, 6, 9, 15, 17};
  int failures = 0;
  for (std::uint64_t biased = 0; biased <= 2046 && failures < 20; ++biased) {
    for (int k = 0; k < 8; ++k) {
      std::uint64_t mantissa = random() >> 12;
      if (k == 0) mantissa = 0;
      if (k == 1) mantissa = (std::uint64_t{1} << 52) - 1;
      const std::uint64_t bits = biased << 52 | mantissa;
      double v;
      std::memcpy(&v, &bits, sizeof v);
      if (v == 0.0) continue;
      for (const double value : {v, -v}) {
        for (const int d : digit_counts) {
          const int w = d + 7;
          const std::string f = field(value, w, d);
          const Parsed p = parse_field(f, d);
          char c[64];
          std::snprintf(c, sizeof c, "%.*e", d - 1, v);
          const std::string c_digits = c[0] + (d > 1 ? std::string(c + 2, d - 1) : "");
          const int c_exponent = std::atoi(std::strchr(c, 'e') + 1) + 1;
          const std::string back = "0." + p.digits + "e" + std::to_string(p.exponent);
          const long double r = std::strtold(back.c_str(), nullptr);
          const long double half_unit = 0.5L * std::pow(10.0L, p.exponent - d);
          const bool good = p.ok && f.size() == static_cast<std::size_t>(w) &&
                            p.minus == (value < 0) && p.digits == c_digits &&
                            p.exponent == c_exponent &&
                            std::fabs(r - v) <= half_unit * (1 + 1e-15L) + v * 0x1p-62L;
          if (!good) {
            ADD_FAILURE() << std::hexfloat << value << " E" << w << "." << d << ": \"" << f
                          << "\", C conversion " << c;
            ++failures;
          }
        }
      }
    }
  }
}

// Digits asked for beyond those a double has are exact zeros.
TEST(EField, ManyDigits) {
  const int d = 900;
  const int w = d + 7;
  for (const double v : {tiny, 0.1, 1.0 / 3.0, dmax, 1.0}) {
    SCOPED_TRACE(v);
    std::vector<char> c(static_cast<std::size_t>(d) + 16);
    std::snprintf(c.data(), c.size(), "%.*e", d - 1, v);
    const Parsed p = parse_field(field(v, w, d), d);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.digits, c[0] + std::string(c.data() + 2, static_cast<std::size_t>(d - 1)));
    EXPECT_EQ(p.exponent, std::atoi(std::strchr(c.data(), 'e') + 1) + 1);
  }
}

}  // namespace
