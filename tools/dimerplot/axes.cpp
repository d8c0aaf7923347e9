#include "axes.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace dimerplot {

Axis nice_axis(long double min, long double max, int ticks) {
  if (!std::isfinite(min) || !std::isfinite(max) || min > max) {
    min = 0;
    max = 1;
  }
  if (min == max) {
    const long double w = min == 0 ? 1.0L : std::fabs(min) / 10;
    min -= w;
    max += w;
  }
  const long double raw = (max - min) / std::max(ticks, 1);
  const long double magnitude = std::pow(10.0L, std::floor(std::log10(raw)));
  const long double f = raw / magnitude;
  const long double nice = f < 1.5L ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10;
  Axis a;
  a.step = nice * magnitude;
  long double first = std::floor(min / a.step), last = std::ceil(max / a.step);
  // A quotient that misses a whole number by rounding alone takes that number
  // (2.7 / 0.1 = 26.99...): an axis end within 1e-9 of a step of the data.
  constexpr long double slack = 1e-9L;
  if (min / a.step - first > 1 - slack) first += 1;
  if (last - max / a.step > 1 - slack) last -= 1;
  a.lo = first * a.step;
  a.hi = last * a.step;
  // Axis ends stay doubles, so that readers of the drawing can take them as such.
  constexpr long double largest = std::numeric_limits<double>::max();
  a.lo = std::max(a.lo, -largest);
  a.hi = std::min(a.hi, largest);
  // About ticks + 1 values; the bound keeps the loop finite whatever the input.
  for (long double i = first; i <= last && i - first < 64; ++i)
    if (i * a.step >= a.lo && i * a.step <= a.hi) a.ticks.push_back(i * a.step);
  return a;
}

std::string tick_label(long double v, long double step) {
  if (v == 0) return "0";
  // The power of ten of the step's leading digit.
  const int k = static_cast<int>(std::floor(std::log10(step) + 1e-9L));
  const int top = static_cast<int>(std::floor(std::log10(std::fabs(v))));
  char text[64];
  if (k >= -6 && top < 7) {
    std::snprintf(text, sizeof text, "%.*Lf", std::max(0, -k), v);
  } else {
    std::snprintf(text, sizeof text, "%.*Le", std::max(0, top - k), v);
  }
  return text;
}

}  // namespace dimerplot
