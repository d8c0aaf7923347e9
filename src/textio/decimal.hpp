// Decimal text to double, the same in every locale, and the one scanner of
// number texts that the free-form reader, the conversion and the companion
// programs share.
#pragma once

#include <charconv>
#include <cstddef>

namespace textio {

// The forms of number text the scanner knows:
//   list:    [sign] mantissa [exponent], the free-form reader's real: the
//            mantissa digits with at most one point (a point alone is a
//            mantissa), the exponent a letter E, e, D or d with an optional
//            sign, or a sign alone, then digits;
//   integer: [sign] digits;
//   general: [-] mantissa [e [sign] digits], std::from_chars's general
//            format: the mantissa needs a digit, the exponent letter is E or e.
enum class NumberForm { list, integer, general };

// Follows a number text character by character. next(c) is false when c
// cannot continue the text in its form, whatever follows; the text so far
// is then unchanged. Every prefix of a text of the form is taken.
class NumberScan {
 public:
  explicit NumberScan(NumberForm form) : form_(form) {}

  bool next(char c) {
    switch (state_) {
      case State::start:
        if (is_digit(c)) return digit();
        if (c == '-' || (c == '+' && form_ != NumberForm::general)) return to(State::sign);
        return c == '.' && form_ != NumberForm::integer && point();
      case State::sign:
        if (is_digit(c)) return digit();
        return c == '.' && form_ != NumberForm::integer && point();
      case State::mantissa:
        if (is_digit(c)) return digit();
        if (form_ == NumberForm::integer) return false;
        if (c == '.') return !point_ && point();
        if (c == 'E' || c == 'e') return exponent_at(State::exponent_letter);
        if (form_ == NumberForm::list) {
          if (c == 'D' || c == 'd') return exponent_at(State::exponent_letter);
          if (c == '+' || c == '-') return exponent_at(State::exponent_sign);
        }
        return false;
      case State::exponent_letter:
        if (c == '+' || c == '-') return to(State::exponent_sign);
        return is_digit(c) && exponent_digit();
      case State::exponent_sign:
        return is_digit(c) && exponent_digit();
      case State::exponent_digits:
        return is_digit(c) && exponent_digit();
    }
    return false;
  }

  // Characters taken.
  std::size_t taken() const { return taken_; }
  // Digits of the mantissa, and whether it has a point.
  std::size_t mantissa_digits() const { return digits_; }
  bool has_point() const { return point_; }
  // The text has begun an exponent: at exponent_at(), its letter or its
  // sign standing alone; exponent_digits() of its digits follow.
  bool exponent_begun() const { return state_ >= State::exponent_letter; }
  std::size_t exponent_at() const { return exponent_at_; }
  std::size_t exponent_digits() const { return exponent_digits_; }
  // The text so far is a whole number of its form: a mantissa with a digit
  // (or, in the list form, a point), and an exponent, if begun, with digits.
  bool whole() const {
    const bool mantissa = digits_ > 0 || (point_ && form_ == NumberForm::list);
    return state_ == State::mantissa ? mantissa
                                     : state_ == State::exponent_digits && mantissa;
  }

 private:
  enum class State { start, sign, mantissa, exponent_letter, exponent_sign, exponent_digits };

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  bool to(State state) {
    state_ = state;
    ++taken_;
    return true;
  }
  bool digit() {
    ++digits_;
    return to(State::mantissa);
  }
  bool point() {
    point_ = true;
    return to(State::mantissa);
  }
  bool exponent_at(State state) {
    exponent_at_ = taken_;
    return to(state);
  }
  bool exponent_digit() {
    ++exponent_digits_;
    return to(State::exponent_digits);
  }

  NumberForm form_;
  State state_ = State::start;
  std::size_t taken_ = 0;
  std::size_t digits_ = 0;
  bool point_ = false;
  std::size_t exponent_at_ = 0;
  std::size_t exponent_digits_ = 0;
};

// The longest number of form at the start of [first, last), as NumberScan
// finds it; in the general form an exponent without digits is not part of
// it ("1e+" is the number 1, and "e+" follows it).
struct ScannedNumber {
  const char* end = nullptr;   // just after the number; nullptr for none
  const char* stop = nullptr;  // the first character the scan did not take
  NumberScan scan{NumberForm::general};
};
ScannedNumber scan_number(const char* first, const char* last, NumberForm form);

// std::from_chars for a double in the general format, on every C++ library:
// where the library has no conversion of floating-point text (Clang's libc++),
// the same forms, correctly rounded by the C library, whatever its locale.
std::from_chars_result nearest_double(const char* first, const char* last, double& value);

enum class Conversion { ok, out_of_range, not_a_number };

// Converts [first, last), a number of the form [sign] digits [. digits]
// [e [sign] digits] with at least one mantissa digit, to the nearest double
// in *out. out_of_range, with *out unchanged, for a magnitude that overflows,
// that rounds to zero although the number is not zero, or that lies below
// the smallest normal double without being exactly a double:
//   "1e400", "1e-400", "1e-310", "2.2250738585072012e-308" -> out_of_range;
//   "2.2250738585072014e-308" (rounds above the smallest normal) -> ok, and so
//   is the exact decimal expansion of a subnormal double.
// not_a_number for text not of that form.
Conversion to_double(const char* first, const char* last, double* out);

}  // namespace textio
