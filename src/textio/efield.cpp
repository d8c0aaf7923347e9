#include "textio/efield.hpp"

#include <cstddef>
#include <bit>
#include <charconv>
#include <cstdint>
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
    std::memcpy(out + w - 3, "NaN", 3);  // NOLINT(bugprone-not-null-terminated-result): a field, not a string
    return;
  }
  const char sign = std::signbit(value) ? '-' : '+';
  if (w > 8) {
    fill(out, w - 9, ' ');
    out[w - 9] = sign;
    std::memcpy(out + w - 8, "Infinity", 8);  // NOLINT(bugprone-not-null-terminated-result): a field, not a string
  } else if (w >= 4) {
    fill(out, w - 4, ' ');
    out[w - 4] = sign;
    std::memcpy(out + w - 3, "Inf", 3);  // NOLINT(bugprone-not-null-terminated-result): a field, not a string
  } else if (sign == '+') {
    std::memcpy(out, "Inf", 3);  // NOLINT(bugprone-not-null-terminated-result): a field, not a string
  } else {
    fill(out, 3, '*');
  }
}

// 128-bit unsigned integers, a compiler extension here.
__extension__ typedef unsigned __int128 uint128;

// Powers of ten up to the largest that fits in 64 bits.
constexpr std::uint64_t power_of_ten[20] = {1ULL,
                                            10ULL,
                                            100ULL,
                                            1000ULL,
                                            10000ULL,
                                            100000ULL,
                                            1000000ULL,
                                            10000000ULL,
                                            100000000ULL,
                                            1000000000ULL,
                                            10000000000ULL,
                                            100000000000ULL,
                                            1000000000000ULL,
                                            10000000000000ULL,
                                            100000000000000ULL,
                                            1000000000000000ULL,
                                            10000000000000000ULL,
                                            100000000000000000ULL,
                                            1000000000000000000ULL,
                                            10000000000000000000ULL};

// The three digits of each number below 1000: "000", "001", ..., "999".
constexpr struct Triples {
  char text[3000];
  constexpr Triples() : text() {
    for (std::size_t k = 0; k < 1000; ++k) {
      text[3 * k] = static_cast<char>('0' + k / 100);
      text[3 * k + 1] = static_cast<char>('0' + k / 10 % 10);
      text[3 * k + 2] = static_cast<char>('0' + k % 10);
    }
  }
} triples;

// Writes the count decimal digits of q < 10^count, leading zeros included,
// three at a time from the right.
void write_digits(char* digits, std::uint64_t q, int count) {
  int i = count;
  for (; i >= 3; i -= 3) {
    std::memcpy(digits + i - 3, triples.text + 3 * (q % 1000), 3);
    q /= 1000;
  }
  for (; i > 0; --i) {
    digits[i - 1] = static_cast<char>('0' + q % 10);
    q /= 10;
  }
}

// The count significant digits of magnitude (> 0), rounded to nearest with
// ties to even, computed exactly in integers: magnitude = m 2^q, and
// m 10^p 2^q is split into its integer part and the rest. Covers normal
// values from 1e-14 to 1e6 and up to 15 digits, the values of energy
// sweeps; returns false for the others. Sets x, the decimal exponent of the
// first digit (magnitude ~ d1.d2d3... 10^x).
bool exact_digits(double magnitude, int count, char* digits, int& x) {
  constexpr int max_count = 15;
  if (count > max_count) return false;
  const auto bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased = static_cast<int>(bits >> 52);
  if (biased == 0) return false;  // zero or subnormal
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int shift = 1075 - biased;  // magnitude = m / 2^shift
  if (shift <= 0) return false;
  // floor(log10(2^(53 - shift))): the first guess of x, low by at most one.
  x = ((52 - shift) * 78913) >> 18;  // cppcheck-suppress shiftNegativeLHS ; an arithmetic shift, defined in C++20: floor division by 2^18
  for (int attempt = 0; attempt < 2; ++attempt, ++x) {
    const int p = count - 1 - x;  // m 10^p / 2^shift lies in [10^(count-1), 10^count)
    if (p < 0 || p > 19 || shift >= 128) return false;
    const uint128 scaled = static_cast<uint128>(m) * power_of_ten[p];
    const uint128 whole = scaled >> shift;
    if (whole >= power_of_ten[count]) continue;
    const uint128 rest = scaled - (whole << shift);
    const uint128 half = static_cast<uint128>(1) << (shift - 1);
    auto q = static_cast<std::uint64_t>(whole);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
    if (q == power_of_ten[count]) {  // 9.99...95 rounds up to the next power
      q = power_of_ten[count - 1];
      ++x;
    }
    write_digits(digits, q, count);
    return true;
  }
  return false;
}

// The same for any finite magnitude and up to max_converted_digits digits,
// from the library's correctly rounded conversion.
bool converted_digits(double magnitude, int count, char* digits, int& x) {
  char buf[conversion_room];
  const std::to_chars_result r =
      std::to_chars(buf, buf + conversion_room, magnitude, std::chars_format::scientific, count - 1);
  if (r.ec != std::errc()) return false;
  // With one digit there is no point: "5e-01"; otherwise "5.000e-01".
  digits[0] = buf[0];
  if (count > 1) std::memcpy(digits + 1, buf + 2, static_cast<std::size_t>(count - 1));
  const char* exp_text = count > 1 ? buf + count + 1 : buf + 1;  // cppcheck-suppress pointerOutOfBoundsCond ; count <= max_converted_digits, within buf
  x = 0;
  for (const char* p = exp_text + 2; p < r.ptr; ++p) x = x * 10 + (*p - '0');
  if (exp_text[1] == '-') x = -x;
  return true;
}

// The common field of the records, E12.6 of a normal value whose decimal
// exponent is within -99..99 and whose digits exact_digits gives, in its
// fixed layout: a minus sign or a 0, the point, six digits, E and the
// exponent. False for every other value, which takes the general way.
bool fixed_e12_6(char* out, double value) {
  char digits[6];
  int x = 0;
  if (!exact_digits(std::fabs(value), 6, digits, x)) return false;
  const int e = x + 1;
  if (e < -99 || e > 99) return false;
  out[0] = value < 0.0 ? '-' : '0';
  out[1] = '.';
  std::memcpy(out + 2, digits, sizeof digits);
  write_exponent(out + 8, e);
  return true;
}

}  // namespace

void format_e_field(char* out, double value, int w, int d) {
  if (w == 12 && d == 6 && fixed_e12_6(out, value)) return;
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
  char digits[max_converted_digits];
  int x = 0;
  if (!exact_digits(magnitude, converted, digits, x) &&
      !converted_digits(magnitude, converted, digits, x)) {
    fill(out, w, '*');  // the room above is enough for every double
    return;
  }

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
  std::memcpy(p, digits, static_cast<std::size_t>(converted));
  p += converted;
  fill(p, d - converted, '0');
  p += d - converted;
  write_exponent(p, e);
}

}  // namespace textio
