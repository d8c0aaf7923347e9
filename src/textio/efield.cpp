#include "textio/efield.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace textio {
namespace {

// Significant digits the conversion is asked for at most. A double has at most
// 767 significant decimal digits, so any digit asked for beyond 800 is a 0 and
// is written as one without converting.
constexpr int max_converted_digits = 800;

// Room for "d.ddd...de-324": one digit, the point, the other digits, the
// letter, the sign and three exponent digits.
constexpr int conversion_room = max_converted_digits + 6;
static_assert(conversion_room >= 1 + 1 + (max_converted_digits - 1) + 5);

// Characters of the field besides its d digits: point and exponent field.
constexpr int point_and_exponent = 1 + 4;

// Writes n copies of c.
void fill(char* out, long long n, char c) { std::memset(out, c, static_cast<std::size_t>(n)); }

// Writes the exponent as E+dd for |e| <= 99, as +ddd for 100 <= |e| <= 999:
// 1 -> "E+01", -5 -> "E-05", 101 -> "+101", -100 -> "-100".
void write_exponent(char* out, int e) {
  const char sign = e < 0 ? '-' : '+';
  const int m = e < 0 ? -e : e;
  if (m <= 99) {
    out[0] = 'E';
    out[1] = sign;
    out[2] = static_cast<char>('0' + m / 10);
    out[3] = static_cast<char>('0' + m % 10);
  } else {
    out[0] = sign;
    out[1] = static_cast<char>('0' + m / 100);
    out[2] = static_cast<char>('0' + m / 10 % 10);
    out[3] = static_cast<char>('0' + m % 10);
  }
}

// Writes not-a-number or an infinity into w >= 1 characters:
// "NaN" right-justified; "+Infinity" for w > 8, "+Inf" for 4 <= w <= 8, both
// right-justified; "Inf" for plus infinity at w = 3; asterisks otherwise.
void write_non_finite(char* out, double value, int w) {
  if (w < 3) {
    fill(out, w, '*');
    return;
  }
  if (std::isnan(value)) {
    fill(out, w - 3, ' ');
    std::memcpy(out + w - 3, "NaN", 3);
    return;
  }
  const char sign = std::signbit(value) ? '-' : '+';
  if (w > 8) {
    fill(out, w - 9, ' ');
    out[w - 9] = sign;
    std::memcpy(out + w - 8, "Infinity", 8);
  } else if (w >= 4) {
    fill(out, w - 4, ' ');
    out[w - 4] = sign;
    std::memcpy(out + w - 3, "Inf", 3);
  } else if (sign == '+') {
    std::memcpy(out, "Inf", 3);
  } else {
    fill(out, 3, '*');
  }
}

}  // namespace

void format_e_field(char* out, double value, int w, int d) {
  if (w < 1) return;
  if (d < 1) {
    fill(out, w, '*');
    return;
  }
  if (!std::isfinite(value)) {
    write_non_finite(out, value, w);
    return;
  }

  // Layout first: sign, decimal exponent, blanks, lead zero.
  // Minus zero is not below zero, so it prints like zero.
  const bool sign = value < 0.0;
  const double magnitude = std::fabs(value);
  const int converted = d < max_converted_digits ? d : max_converted_digits;

  // magnitude = m.mmm...m x 10^x with `converted` digits, correctly rounded.
  char buf[conversion_room];
  const std::to_chars_result r = std::to_chars(buf, buf + conversion_room, magnitude,
                                               std::chars_format::scientific, converted - 1);
  if (r.ec != std::errc()) {  // the room above is enough for every double
    fill(out, w, '*');
    return;
  }
  // With one digit there is no point: "5e-01"; otherwise "5.000e-01".
  const char* exp_text = converted > 1 ? buf + converted + 1 : buf + 1;
  int x = 0;
  for (const char* p = exp_text + 2; p < r.ptr; ++p) x = x * 10 + (*p - '0');
  if (exp_text[1] == '-') x = -x;

  // value = 0.d1d2...dd x 10^e; zero has e = 0.
  const int e = magnitude == 0.0 ? 0 : x + 1;
  if (e < -999 || e > 999) {
    fill(out, w, '*');
    return;
  }

  // blanks = w - (d + 1 + 4) - (1 if a sign is printed)
  long long blanks = static_cast<long long>(w) - d - point_and_exponent - (sign ? 1 : 0);
  if (blanks < 0) {
    fill(out, w, '*');
    return;
  }
  const bool lead_zero = blanks > 0;
  if (lead_zero) --blanks;

  // Then the text: blanks, sign, lead zero, point, digits, exponent field.
  char* p = out;
  fill(p, blanks, ' ');
  p += blanks;
  if (sign) *p++ = '-';
  if (lead_zero) *p++ = '0';
  *p++ = '.';
  *p++ = buf[0];
  if (converted > 1) {
    std::memcpy(p, buf + 2, static_cast<std::size_t>(converted - 1));
    p += converted - 1;
  }
  fill(p, d - converted, '0');
  p += d - converted;
  write_exponent(p, e);
}

}  // namespace textio
