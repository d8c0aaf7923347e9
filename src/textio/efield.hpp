// The Ew.d edit descriptor on output (scale factor 0, exponent width not given).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace textio {

// Writes value into out[0..w) as an Ew.d field: exactly w characters, no
// terminator. The value is shown as 0.d1d2...dd x 10^e with d correctly
// rounded significant digits; the exponent is E+dd for |e| <= 99 and +ddd for
// 100 <= |e| <= 999; a minus sign only for values below zero; a 0 before the
// point when a blank is left for it. A field too narrow for its text is w
// asterisks. Not-a-number is "NaN" and infinities are "+Infinity"/"-Infinity"
// ("+Inf"/"-Inf" for 4 <= w <= 8), right-justified.
// Examples (E12.6): 1.0 -> "0.100000E+01", -7.5 -> "-.750000E+01",
// 1.0e100 -> "0.100000+101". Requires 1 <= w and 1 <= d.
void format_e_field(char* out, double value, int w, int d);

// Fields made lately, each kept with the value's bits and the field's width
// and digits, in a few slots: a sweep writes the same D1 beside every level
// of a pass, so that field is made once per pass. A slot is used again only
// for the same bits, width and digits, so its text is always the field of the
// value asked for, whichever format asks.
class FieldMemo {
 public:
  // Widest field a slot holds.
  static constexpr int max_width = 64;
  static constexpr std::size_t slots = 8;

  // The Ew.d field of value (w characters, 1 <= w <= max_width), made anew
  // unless slot (taken modulo slots) holds it already.
  const char* field(std::size_t slot, double value, int w, int d) {
    Entry& e = entries_[slot % slots];
    const auto bits = std::bit_cast<std::uint64_t>(value);
    if (e.bits != bits || e.w != w || e.d != d) {
      format_e_field(e.text, value, w, d);
      e.bits = bits;
      e.w = w;
      e.d = d;
    }
    return e.text;
  }

 private:
  struct Entry {
    std::uint64_t bits = 0;
    int w = 0;  // 0: nothing made yet
    int d = 0;
    char text[max_width];
  };
  Entry entries_[slots];
};

}  // namespace textio
