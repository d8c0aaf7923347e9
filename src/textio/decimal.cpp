#include "textio/decimal.hpp"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <system_error>

namespace textio {

namespace {

// The significant digits of a number text in the form of to_double: its
// value is 0.d1d2...dn x 10^exponent with d1 != 0 and dn != 0. The digits are
// those of [first, last) met when the point is skipped; none for zero.
struct Significand {
  const char* first = nullptr;  // at d1
  const char* last = nullptr;   // just after dn
  long long exponent = 0;
};

Significand significand(const char* first, const char* last) {
  const ScannedNumber number = scan_number(first, last, NumberForm::list);
  const NumberScan& scan = number.scan;
  const char* p = first;
  if (p != last && (*p == '+' || *p == '-')) ++p;
  const char* const mantissa_end = scan.exponent_begun() ? first + scan.exponent_at() : number.stop;
  Significand s;
  long long before_point = 0;  // mantissa digits before the point
  long long leading_zeros = 0; // zeros before d1, on both sides of the point
  bool point = false;
  for (; p != mantissa_end; ++p) {
    if (*p == '.') {
      point = true;
      continue;
    }
    if (!point) ++before_point;
    if (*p != '0') {
      if (s.first == nullptr) s.first = p;
      s.last = p + 1;
    } else if (s.first == nullptr) {
      ++leading_zeros;
    }
  }
  if (s.first == nullptr) return {};
  long long exponent = 0;
  if (scan.exponent_begun()) {
    if (*p != '+' && *p != '-') ++p;  // the letter
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    // Far beyond any double's exponent: held there, it compares the same.
    constexpr long long far = 1000000000000LL;
    for (; p != number.stop; ++p) exponent = exponent < far ? exponent * 10 + (*p - '0') : far;
    if (negative) exponent = -exponent;
  }
  s.exponent = before_point - leading_zeros + exponent;
  return s;
}

// Compares the magnitudes of two number texts exactly: -1, 0 or 1.
int compare(const char* a_first, const char* a_last, const char* b_first, const char* b_last) {
  const Significand a = significand(a_first, a_last), b = significand(b_first, b_last);
  if (a.first == nullptr || b.first == nullptr) return (a.first != nullptr) - (b.first != nullptr);
  if (a.exponent != b.exponent) return a.exponent < b.exponent ? -1 : 1;
  const char* p = a.first;
  const char* q = b.first;
  for (;;) {
    while (p != a.last && *p == '.') ++p;
    while (q != b.last && *q == '.') ++q;
    if (p == a.last || q == b.last) return (p != a.last) - (q != b.last);
    if (*p != *q) return *p < *q ? -1 : 1;
    ++p;
    ++q;
  }
}

// The exact decimal expansion of v: "d.ddd...de-308". A double has at most
// 767 significant digits.
struct Expansion {
  char text[800];
  const char* last;
  explicit Expansion(double v) {
    last = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 770).ptr;
  }
};

// The number halfway between the smallest normal double 2^-1022 and the
// double below it that a significand of 53 bits would give were the exponent
// unbounded: (2^54 - 1) x 2^-1076, which is (2^54 - 1) x 5^1076 x 10^-1076,
// as "<digits>e-1076".
const std::string& tiny_threshold() {
  static const std::string text = [] {
    constexpr int p = std::numeric_limits<double>::digits;                // 53
    constexpr int k = -(std::numeric_limits<double>::min_exponent - 1) + p + 1;  // 1076
    // Decimal digits of (2^(p+1) - 1), least significant first, times 5^k.
    std::string digits;
    for (unsigned long long n = (1ULL << (p + 1)) - 1; n != 0; n /= 10) {
      digits.push_back(static_cast<char>(n % 10));
    }
    for (int i = 0; i < k; ++i) {
      int carry = 0;
      for (char& d : digits) {
        const int x = d * 5 + carry;
        d = static_cast<char>(x % 10);
        carry = x / 10;
      }
      if (carry != 0) digits.push_back(static_cast<char>(carry));
    }
    std::string number(digits.rbegin(), digits.rend());
    for (char& d : number) d = static_cast<char>(d + '0');
    return number + "e-" + std::to_string(k);
  }();
  return text;
}

}  // namespace

ScannedNumber scan_number(const char* first, const char* last, NumberForm form) {
  ScannedNumber number;
  number.scan = NumberScan(form);
  const char* p = first;
  while (p != last && number.scan.next(*p)) ++p;
  number.stop = p;
  const NumberScan& scan = number.scan;
  if (scan.whole()) {
    number.end = p;
  } else if (form == NumberForm::general && scan.exponent_begun() && scan.exponent_digits() == 0 &&
             scan.mantissa_digits() > 0) {
    number.end = first + scan.exponent_at();
  }
  return number;
}

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
// The number's extent found by the scanner, its value by the library.
std::from_chars_result nearest_double(const char* first, const char* last, double& value) {
  const char* word = first != last && *first == '-' ? first + 1 : first;
  if (word != last && (*word | 0x20) >= 'a' && (*word | 0x20) <= 'z') {
    return std::from_chars(first, last, value);  // infinity and NaN, with the library's payloads
  }
  const ScannedNumber number = scan_number(first, last, NumberForm::general);
  if (number.end == nullptr) return {first, std::errc::invalid_argument};
  return std::from_chars(first, number.end, value);
}
#else
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Infinity and NaN as std::from_chars reads them, in any case: "inf",
// "infinity", "nan", "nan(chars)", after an optional minus; the end of the
// word, or nullptr when [first, last) does not begin with one.
const char* special_value(const char* first, const char* last, double& value) {
  const char* p = first;
  const bool negative = p != last && *p == '-';
  if (negative) ++p;
  auto word = [&](const char* w) {
    const char* q = p;
    for (; *w != '\0'; ++w, ++q)
      if (q == last || (*q | 0x20) != *w) return static_cast<const char*>(nullptr);
    return q;
  };
  if (const char* end = word("inf")) {
    if (const char* longer = word("infinity")) end = longer;
    value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return end;
  }
  if (const char* end = word("nan")) {
    if (end != last && *end == '(') {
      const char* q = end + 1;
      while (q != last && (is_digit(*q) || ((*q | 0x20) >= 'a' && (*q | 0x20) <= 'z') || *q == '_')) ++q;
      if (q != last && *q == ')') end = q + 1;
    }
    value = negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
    return end;
  }
  return nullptr;
}

}  // namespace

// A C++ library without the conversion of floating-point text (Clang's
// libc++): strtod, correctly rounded where that library is found, with the
// point of the number text written as the decimal point of the C locale in
// effect.
std::from_chars_result nearest_double(const char* first, const char* last, double& value) {
  if (const char* end = special_value(first, last, value)) return {end, std::errc()};
  const ScannedNumber number = scan_number(first, last, NumberForm::general);
  if (number.end == nullptr) return {first, std::errc::invalid_argument};
  const char* const p = number.end;
  std::string text(first, p);
  const char* decimal_point = std::localeconv()->decimal_point;
  if (const auto at = text.find('.'); at != std::string::npos) text.replace(at, 1, decimal_point);
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  const bool overflow = errno == ERANGE && std::fabs(v) > 1.0;
  const bool to_zero = v == 0.0 && significand(first, p).first != nullptr;
  if (overflow || to_zero) return {p, std::errc::result_out_of_range};
  value = v;
  return {p, std::errc()};
}
#endif

Conversion to_double(const char* first, const char* last, double* out) {
  // The conversion takes no plus sign.
  const char* digits = first != last && *first == '+' ? first + 1 : first;
  double value = 0.0;
  const auto [end, ec] = nearest_double(digits, last, value);
  if (ec == std::errc::result_out_of_range) return Conversion::out_of_range;
  if (ec != std::errc() || end != last) return Conversion::not_a_number;
  // An underflow: a result below the smallest normal double that is not the
  // number exactly, or the smallest normal itself reached from a number that
  // rounds below it at 53 bits when the exponent is taken as unbounded.
  constexpr double smallest_normal = std::numeric_limits<double>::min();
  const double magnitude = std::fabs(value);
  if (magnitude != 0.0 && magnitude < smallest_normal) {
    const Expansion exact(value);
    if (compare(first, last, exact.text, exact.last) != 0) return Conversion::out_of_range;
  } else if (magnitude == smallest_normal) {
    const std::string& tiny = tiny_threshold();
    if (compare(first, last, tiny.data(), tiny.data() + tiny.size()) < 0) {
      return Conversion::out_of_range;
    }
  }
  *out = value;
  return Conversion::ok;
}

}  // namespace textio
