#include "svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace epr {

namespace {

// Page and plot geometry, in SVG user units (pixels).
constexpr int page_width = 820, page_height = 590;
constexpr int plot_left = 90, plot_right = 790, plot_top = 50, plot_bottom = 400;
constexpr int columns = plot_right - plot_left;
constexpr int mark_top = 440, mark_bottom = 452;  // the marks of the lines, under the axis title
constexpr int note_y = 520;                       // the first note line, 16 apart

void append(std::string& out, const char* format, auto... args) {
  char text[1024];
  const int n = std::snprintf(text, sizeof text, format, args...);
  out.append(text, static_cast<std::size_t>(std::clamp(n, 0, int{sizeof text} - 1)));
}

// An axis over [lo, hi] with about `ticks` intervals at 1, 2 or 5 times a
// power of ten; an empty range gets lo -+ 1.
struct Axis {
  double lo, hi, step;
  // The number of tick intervals, and tick k from 0.
  int intervals() const { return static_cast<int>(std::lround((hi - lo) / step)); }
  double tick(int k) const { return lo + k * step; }
};
Axis axis(double lo, double hi, int ticks) {
  if (!(hi > lo)) lo -= 1.0, hi += 1.0;
  const double raw = (hi - lo) / ticks;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double f = raw / magnitude;
  const double step = (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10) * magnitude;
  return {std::floor(lo / step + 1e-9) * step, std::ceil(hi / step - 1e-9) * step, step};
}

std::string label(double v, double step) {
  if (std::fabs(v) < step * 1e-6) return "0";
  char text[32];
  const int decimals = std::max(0, -static_cast<int>(std::floor(std::log10(step) + 1e-9)));
  if (std::fabs(v) >= 1e6 || std::fabs(v) < 1e-4) std::snprintf(text, sizeof text, "%.3g", v);
  else std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

std::string escaped(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

}  // namespace

std::string render_svg(const Grid& g, const std::vector<double>& derivative,
                       const std::vector<Mark>& marks, const std::vector<std::string>& notes) {
  const Axis x = axis(g.from * 1e3, g.last() * 1e3, 8);
  double lo = 0.0, hi = 0.0;
  for (double v : derivative) lo = std::min(lo, v), hi = std::max(hi, v);
  // A flat spectrum is drawn on the axis over -1 .. 1.
  const Axis y = axis(lo, hi, 6);
  auto px = [&](double b_mT) { return plot_left + (b_mT - x.lo) / (x.hi - x.lo) * columns; };
  auto py = [&](double v) { return plot_bottom - (v - y.lo) / (y.hi - y.lo) * (plot_bottom - plot_top); };

  std::string out;
  append(out,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
         "font-family=\"sans-serif\" font-size=\"12\" data-lines=\"%zu\">\n"
         "<title>EPR derivative spectrum of the pair against the field</title>\n"
         "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n",
         page_width, page_height, page_width, page_height, marks.size(), page_width, page_height);
  append(out,
         "<g class=\"plot\" data-left=\"%d\" data-right=\"%d\" data-top=\"%d\" data-bottom=\"%d\" "
         "data-xmin=\"%.17g\" data-xmax=\"%.17g\" data-ymin=\"%.17g\" data-ymax=\"%.17g\">\n",
         plot_left, plot_right, plot_top, plot_bottom, x.lo, x.hi, y.lo, y.hi);
  append(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"black\"/>\n",
         plot_left, plot_top, columns, plot_bottom - plot_top);
  out += "<g class=\"ticks\" stroke=\"#dddddd\">\n";
  for (int k = 0; k <= x.intervals(); ++k)
    append(out, "<line x1=\"%.2f\" y1=\"%d\" x2=\"%.2f\" y2=\"%d\"/>\n", px(x.tick(k)), plot_top, px(x.tick(k)), plot_bottom);
  for (int k = 0; k <= y.intervals(); ++k)
    append(out, "<line x1=\"%d\" y1=\"%.2f\" x2=\"%d\" y2=\"%.2f\"/>\n", plot_left, py(y.tick(k)), plot_right, py(y.tick(k)));
  out += "</g>\n<g class=\"tick-labels\">\n";
  for (int k = 0; k <= x.intervals(); ++k)
    append(out, "<text x=\"%.2f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n", px(x.tick(k)), plot_bottom + 16,
           label(x.tick(k), x.step).c_str());
  for (int k = 0; k <= y.intervals(); ++k)
    append(out, "<text x=\"%d\" y=\"%.2f\" text-anchor=\"end\">%s</text>\n", plot_left - 6, py(y.tick(k)) + 4,
           label(y.tick(k), y.step).c_str());
  out += "</g>\n";
  append(out, "<text class=\"axis-title\" x=\"%d\" y=\"%d\" text-anchor=\"middle\">B (mT)</text>\n",
         (plot_left + plot_right) / 2, plot_bottom + 32);
  append(out, "<text class=\"axis-title\" x=\"%d\" y=\"%d\">dA/dB (cm-1 T-1 mT-2)</text>\n", plot_left,
         plot_top - 8);
  // The curve: at most the first, lowest, highest and last point of each pixel column.
  out += "<polyline class=\"derivative\" fill=\"none\" stroke=\"#1f4ed8\" stroke-width=\"1.2\" points=\"";
  int column = -1;
  std::size_t first = 0;
  auto flush = [&](std::size_t a, std::size_t b) {
    std::size_t lo_k = a, hi_k = a;
    for (std::size_t k = a; k < b; ++k) {
      if (derivative[k] < derivative[lo_k]) lo_k = k;
      if (derivative[k] > derivative[hi_k]) hi_k = k;
    }
    std::size_t keep[4] = {a, std::min(lo_k, hi_k), std::max(lo_k, hi_k), b - 1};
    for (int i = 0; i < 4; ++i)
      if (i == 0 || keep[i] != keep[i - 1])
        append(out, "%.2f,%.2f ", px(g.at(static_cast<std::int64_t>(keep[i]) + 1) * 1e3), py(derivative[keep[i]]));
  };
  for (std::size_t k = 0; k < derivative.size(); ++k) {
    const int c = static_cast<int>(std::floor(px(g.at(static_cast<std::int64_t>(k) + 1) * 1e3)));
    if (c != column) {
      if (column >= 0) flush(first, k);
      column = c;
      first = k;
    }
  }
  if (!derivative.empty()) flush(first, derivative.size());
  out += "\"/>\n";
  // The resonances: a mark each, labels moved apart just enough to be read.
  out += "<g class=\"lines\" stroke=\"#d61f2a\">\n";
  double last_label = -1e9;
  int row = 0;
  for (const Mark& m : marks) {
    const double mx = px(m.B * 1e3);
    append(out, "<line class=\"resonance\" x1=\"%.2f\" y1=\"%d\" x2=\"%.2f\" y2=\"%d\"/>\n", mx, mark_top, mx,
           mark_bottom);
    row = mx - last_label < 40 ? (row + 1) % 3 : 0;
    if (row == 0) last_label = mx;
    append(out, "<text class=\"resonance-label\" x=\"%.2f\" y=\"%d\" text-anchor=\"middle\" font-size=\"8\" "
                "stroke=\"none\" fill=\"#d61f2a\">%s</text>\n",
           mx, mark_bottom + 8 + 8 * row, escaped(m.label).c_str());
  }
  out += "</g>\n</g>\n";
  int ny = note_y;
  for (const std::string& n : notes) {
    append(out, "<text class=\"note\" x=\"%d\" y=\"%d\">%s</text>\n", plot_left - 62, ny, escaped(n).c_str());
    ny += 16;
  }
  out += "</svg>\n";
  return out;
}

}  // namespace epr
