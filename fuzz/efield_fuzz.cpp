// The Ew.d field: arbitrary double bits, widths 1..40 with 1 <= d < w.
// Invariants: exactly w characters are written (guard bytes around the field
// stay as they were); the field is w asterisks or holds the value's text; a
// finite value's field without asterisks reads back within half a unit of its
// last digit.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "textio/efield.hpp"

namespace {

void require(bool ok, const char* what, double v, int w, int d, const char* field) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s (value %.17g, E%d.%d, field \"%.*s\")\n", what, v, w,
               d, w, field);
  std::abort();
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads the field back: [-]0.ddd or [-].ddd, then E+dd, E-dd, +ddd or -ddd.
// Returns false when the text has another shape.
bool read_back(const std::string& s, int d, long double& value, int& exponent) {
  std::size_t p = s.find_first_not_of(' ');
  if (p == std::string::npos) return false;
  bool negative = false;
  if (s[p] == '-') negative = true, ++p;
  if (p < s.size() && s[p] == '0') ++p;
  if (p >= s.size() || s[p] != '.') return false;
  ++p;
  std::string digits = s.substr(p, d);
  if (static_cast<int>(digits.size()) != d) return false;
  for (char c : digits)
    if (!is_digit(c)) return false;
  p += d;
  std::string e = s.substr(p);
  int sign;
  std::string edigits;
  if (e.size() == 4 && e[0] == 'E' && (e[1] == '+' || e[1] == '-')) {
    sign = e[1] == '-' ? -1 : 1;
    edigits = e.substr(2);
  } else if (e.size() == 4 && (e[0] == '+' || e[0] == '-')) {
    sign = e[0] == '-' ? -1 : 1;
    edigits = e.substr(1);
  } else {
    return false;
  }
  for (char c : edigits)
    if (!is_digit(c)) return false;
  exponent = sign * std::atoi(edigits.c_str());
  const std::string text = (negative ? "-0." : "0.") + digits + "e" + std::to_string(exponent);
  value = std::strtold(text.c_str(), nullptr);  // wide enough for 0.2+309
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 10) return 0;
  std::uint64_t bits;
  std::memcpy(&bits, data, sizeof bits);
  double v;
  std::memcpy(&v, &bits, sizeof v);
  const int w = 1 + data[8] % 40;
  if (w < 2) return 0;  // d < w leaves no d for w = 1
  const int d = 1 + data[9] % (w - 1);

  constexpr int guard = 8;
  char buffer[40 + 2 * guard];
  std::memset(buffer, 0x5A, sizeof buffer);
  char* field = buffer + guard;
  textio::format_e_field(field, v, w, d);
  for (int i = 0; i < guard; ++i) {
    require(buffer[i] == 0x5A, "a byte written before the field", v, w, d, field);
    require(field[w + i] == 0x5A, "a byte written after the field", v, w, d, field);
  }
  const std::string s(field, w);
  const bool stars = s.find('*') != std::string::npos;
  if (stars) {
    require(s == std::string(w, '*'), "asterisks mixed with other characters", v, w, d, field);
    return 0;
  }
  if (std::isnan(v)) {
    require(s.find_first_not_of(' ') == s.rfind("NaN") && s.ends_with("NaN"), "NaN not right-justified",
            v, w, d, field);
    return 0;
  }
  if (std::isinf(v)) {
    // Too narrow for a sign, plus infinity is "Inf" (minus infinity asterisks).
    const std::string want = w == 3 ? "Inf" : w <= 8 ? (v > 0 ? "+Inf" : "-Inf")
                                                     : (v > 0 ? "+Infinity" : "-Infinity");
    require(w >= 4 || v > 0, "minus infinity shown without its sign", v, w, d, field);
    require(s.ends_with(want) && s.find_first_not_of(' ') == s.size() - want.size(),
            "an infinity shown wrongly", v, w, d, field);
    return 0;
  }
  long double back = 0;
  int e = 0;
  require(read_back(s, d, back, e), "a field that does not read back", v, w, d, field);
  require(std::signbit(back) == (v < 0) || back == 0, "the sign lost", v, w, d, field);
  // Half a unit of the last digit shown, 0.5 * 10^(e - d), with room for the
  // rounding of the decimal text into a double.
  const long double half = 0.5L * std::pow(10.0L, e - d);
  const long double diff = std::fabs(static_cast<long double>(v) - back);
  const long double slack = std::fabs(static_cast<long double>(v)) * 0x1p-52L + 0x1p-1074L;
  require(diff <= half * (1 + 1e-15L) + slack, "the field is further than half a unit from the value",
          v, w, d, field);
  if (v != 0) require(back != 0 || std::fabs(v) < 1e-300, "a nonzero value shown as zero", v, w, d, field);
  return 0;
}
