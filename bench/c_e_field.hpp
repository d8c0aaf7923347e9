// The E12.6 field made the way C programs make it: snprintf's exponent form,
// then the digits and the exponent laid out as the field shows them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

// Writes the 12 characters of the E12.6 field of a finite v into out.
// "%+-#31.*le" with 5 digits after the point gives "+d.ddddde+XX": the field
// is "0." (or "." after a minus), the six digits and the exponent one above
// C's, as E+dd or, from 100 on, +ddd. Zero shows E+00 and no minus.
inline void c_e_field(char* out, double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%+-#31.*le", 5, v);
  const char digits[6] = {text[1], text[3], text[4], text[5], text[6], text[7]};
  const bool zero = std::memcmp(digits, "000000", 6) == 0;
  const int exponent = zero ? 0 : std::atoi(text + 9) + 1;
  char* p = out;
  *p++ = (text[0] == '-' && !zero) ? '-' : '0';
  *p++ = '.';
  std::memcpy(p, digits, 6);
  p += 6;
  const int e = std::abs(exponent);
  const char sign = exponent < 0 ? '-' : '+';
  if (e <= 99) {
    *p++ = 'E';
    *p++ = sign;
  } else {
    *p++ = sign;
    *p++ = static_cast<char>('0' + e / 100);
  }
  *p++ = static_cast<char>('0' + e / 10 % 10);
  *p = static_cast<char>('0' + e % 10);
}

}  // namespace bench
