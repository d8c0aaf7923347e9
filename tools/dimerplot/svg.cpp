#include "svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <span>

#include "axes.hpp"
#include "thin.hpp"

namespace dimerplot {

namespace {

// Page and panel geometry, in SVG user units (pixels).
constexpr int page_width = 820, page_height = 805;
constexpr int plot_left = 90, plot_right = 790;  // 700 columns, one per pixel
constexpr int levels_top = 50, levels_bottom = 470;
constexpr int gap_top = 545, gap_bottom = 705;
constexpr int note_y = 752;  // the first of up to three note lines, 17 apart
constexpr int columns = plot_right - plot_left;
constexpr int x_ticks = 8, level_ticks = 8, gap_ticks = 4;  // intervals aimed at
constexpr double marker_half_width = 10;  // a piece of one point is drawn as a short bar

// Sixteen distinguishable stroke colours, level 1 first.
constexpr std::array<const char*, levels> colours = {
    "#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd", "#8c564b", "#e377c2", "#7f7f7f",
    "#bcbd22", "#17becf", "#393b79", "#637939", "#8c6d31", "#843c39", "#7b4173", "#3182bd"};

struct Panel {
  int top, bottom;
  Axis x, y;
  double px(long double d1) const {
    return static_cast<double>(plot_left + (d1 - x.lo) / (x.hi - x.lo) * columns);
  }
  double py(long double v) const {
    return static_cast<double>(bottom - (v - y.lo) / (y.hi - y.lo) * (bottom - top));
  }
};

void append(std::string& out, const char* format, auto... args) {
  char text[512];
  const int n = std::snprintf(text, sizeof text, format, args...);
  out.append(text, static_cast<std::size_t>(std::clamp(n, 0, int{sizeof text} - 1)));
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// The range of the finite values of all the lines.
Axis value_axis(std::span<const std::vector<double>* const> lines, int ticks) {
  long double lo = INFINITY, hi = -INFINITY;  // NOLINT(bugprone-narrowing-conversions): infinity widens exactly
  for (const auto* line : lines)
    for (double v : *line)
      if (std::isfinite(v)) {
        lo = std::min<long double>(lo, v);
        hi = std::max<long double>(hi, v);
      }
  return nice_axis(lo, hi, ticks);
}

// The D1 axis with as many ticks as leave room between their labels.
Axis d1_axis(double first, double last) {
  constexpr double char_width = 7.5;  // of a 12-unit sans-serif digit, generously
  Axis a;
  for (int ticks = x_ticks; ticks >= 2; --ticks) {
    a = nice_axis(first, last, ticks);
    std::size_t longest = 0;
    for (long double t : a.ticks) longest = std::max(longest, tick_label(t, a.step).size());
    const double spacing = static_cast<double>(a.step / (a.hi - a.lo)) * columns;
    if (longest * char_width + 12 <= spacing) break;  // NOLINT(bugprone-narrowing-conversions): label lengths are small
  }
  return a;
}

void frame(std::string& out, const Panel& p, const char* y_title) {
  append(out, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"black\"/>\n",
         plot_left, p.top, columns, p.bottom - p.top);
  out += "<g class=\"ticks\" stroke=\"#dddddd\">\n";
  for (long double t : p.x.ticks) {
    const double x = p.px(t);
    append(out, "<line x1=\"%.2f\" y1=\"%d\" x2=\"%.2f\" y2=\"%d\"/>\n", x, p.top, x, p.bottom);
  }
  for (long double t : p.y.ticks) {
    const double y = p.py(t);
    append(out, "<line x1=\"%d\" y1=\"%.2f\" x2=\"%d\" y2=\"%.2f\"/>\n", plot_left, y, plot_right, y);
  }
  out += "</g>\n<g class=\"tick-labels\">\n";
  for (long double t : p.x.ticks)
    append(out, "<text x=\"%.2f\" y=\"%d\" text-anchor=\"middle\" data-value=\"%.17Lg\">%s</text>\n",
           p.px(t), p.bottom + 16, t, tick_label(t, p.x.step).c_str());
  for (long double t : p.y.ticks)
    append(out, "<text x=\"%d\" y=\"%.2f\" text-anchor=\"end\" data-value=\"%.17Lg\">%s</text>\n",
           plot_left - 6, p.py(t) + 4, t, tick_label(t, p.y.step).c_str());
  out += "</g>\n";
  append(out, "<text class=\"axis-title\" x=\"%d\" y=\"%d\" text-anchor=\"middle\">D1 (cm-1)</text>\n",
         (plot_left + plot_right) / 2, p.bottom + 34);
  // Above the panel, where no tick label can run into it.
  append(out, "<text class=\"axis-title\" x=\"%d\" y=\"%d\">%s</text>\n", plot_left, p.top - 8,
         y_title);
}

// The pieces of one line; returns the number of points drawn.
std::size_t line(std::string& out, const Panel& p, std::span<const int> column,
                 const std::vector<double>& d1, const std::vector<double>& v, const char* colour,
                 const std::string& attributes) {
  std::size_t drawn = 0;
  for (const Piece& piece : thin(column, v)) {
    append(out, "<polyline %s stroke=\"%s\" points=\"", attributes.c_str(), colour);
    for (std::size_t k = 0; k < piece.size(); ++k)
      append(out, "%s%.2f,%.2f", k ? " " : "", p.px(d1[piece[k]]), p.py(v[piece[k]]));
    if (piece.size() == 1) append(out, " %.2f,%.2f", p.px(d1[piece[0]]), p.py(v[piece[0]]));
    out += "\"/>\n";
    if (piece.size() == 1) {
      const double x = p.px(d1[piece[0]]), y = p.py(v[piece[0]]);
      append(out,
             "<line class=\"marker\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
             "stroke=\"%s\"/>\n",
             std::max(x - marker_half_width, double{plot_left}), y,
             std::min(x + marker_half_width, double{plot_right}), y, colour);
    }
    drawn += piece.size();
  }
  return drawn;
}

void panel_open(std::string& out, const char* id, const Panel& p) {
  append(out,
         "<g class=\"panel\" id=\"%s\" data-left=\"%d\" data-right=\"%d\" data-top=\"%d\" "
         "data-bottom=\"%d\" data-xmin=\"%.17Lg\" data-xmax=\"%.17Lg\" data-ymin=\"%.17Lg\" "
         "data-ymax=\"%.17Lg\">\n",
         id, plot_left, plot_right, p.top, p.bottom, p.x.lo, p.x.hi, p.y.lo, p.y.hi);
}

std::size_t count_left_out(const std::vector<double>& v) {
  return static_cast<std::size_t>(
      std::count_if(v.begin(), v.end(), [](double x) { return !std::isfinite(x); }));
}

}  // namespace

std::array<std::vector<double>, levels> relative_to_lowest(const Sweep& s) {
  std::array<std::vector<double>, levels> r = s.level;
  for (std::size_t p = 0; p < s.passes(); ++p) {
    double lowest = INFINITY;
    for (int k = 0; k < levels; ++k)
      if (std::isfinite(s.level[k][p])) lowest = std::min(lowest, s.level[k][p]);
    for (int k = 0; k < levels; ++k) r[k][p] = s.level[k][p] - lowest;  // inf - inf: NaN
  }
  return r;
}

std::string render_svg(const Sweep& s, bool relative) {
  const auto values = relative ? relative_to_lowest(s) : s.level;
  const std::size_t passes = s.passes();

  const Axis x = d1_axis(s.d1.front(), s.d1.back());
  std::array<const std::vector<double>*, levels> level_lines;
  for (int k = 0; k < levels; ++k) level_lines[k] = &values[k];
  const std::vector<double>* gap_line[] = {&s.gap};
  const Panel top{levels_top, levels_bottom, x, value_axis(level_lines, level_ticks)};
  const Panel bottom{gap_top, gap_bottom, x, value_axis(gap_line, gap_ticks)};

  // The pixel column of every pass, shared by all lines.
  std::vector<int> column(passes);
  for (std::size_t i = 0; i < passes; ++i) {
    const long double c = std::floor((s.d1[i] - x.lo) / (x.hi - x.lo) * columns);
    column[i] = static_cast<int>(std::clamp<long double>(c, 0, columns - 1));
  }

  std::size_t level_left_out = 0, drawn = 0;
  for (const auto& v : values) level_left_out += count_left_out(v);
  const std::size_t gap_left_out = count_left_out(s.gap);

  std::string out;
  out.reserve(1 << 16);
  append(out,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
         "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"12\" "
         "data-passes=\"%zu\" data-relative=\"%d\" data-left-out-levels=\"%zu\" "
         "data-left-out-gap=\"%zu\">\n",
         page_width, page_height, page_width, page_height, passes, relative ? 1 : 0,
         level_left_out, gap_left_out);
  out += relative ? "<title>Energy levels above the lowest level, and the gap, against D1</title>\n"
                  : "<title>Energy levels and the gap against D1</title>\n";
  out +=
      "<desc>Each panel maps (D1, value) to x = data-left + (D1 - data-xmin) / (data-xmax - "
      "data-xmin) * (data-right - data-left), y = data-bottom - (value - data-ymin) / (data-ymax "
      "- data-ymin) * (data-bottom - data-top).</desc>\n";
  append(out, "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n", page_width, page_height);
  append(out, "<text x=\"%d\" y=\"28\" text-anchor=\"middle\" font-size=\"15\">%s</text>\n",
         page_width / 2,
         relative ? "The sixteen levels above the lowest one against D1" : "The sixteen levels against D1");

  panel_open(out, "levels", top);
  frame(out, top, relative ? "Energy above the lowest level (cm-1)" : "Energy (cm-1)");
  out += "<g class=\"lines\" fill=\"none\" stroke-width=\"1.3\" stroke-linejoin=\"round\" "
         "stroke-linecap=\"round\">\n";
  for (int k = 0; k < levels; ++k)
    drawn += line(out, top, column, s.d1, values[k], colours[k],
                  "class=\"level\" data-level=\"" + std::to_string(k + 1) + "\"");
  out += "</g>\n</g>\n";

  panel_open(out, "gap", bottom);
  frame(out, bottom, "Gap E3 - E1 (cm-1)");
  out += "<g class=\"lines\" fill=\"none\" stroke-width=\"1.3\" stroke-linejoin=\"round\" "
         "stroke-linecap=\"round\">\n";
  drawn += line(out, bottom, column, s.d1, s.gap, "black", "class=\"gap\"");
  out += "</g>\n</g>\n";

  const std::size_t finite = (passes * levels - level_left_out) + (passes - gap_left_out);
  std::string note = std::to_string(passes) + (passes == 1 ? " pass" : " passes") + ", D1 " +
                     (passes == 1 ? number(s.d1.front())
                                  : "from " + number(s.d1.front()) + " to " + number(s.d1.back())) +
                     " cm-1; levels 1 to 16 in ascending order" +
                     (relative ? ", each minus the lowest at its D1" : "") + ".";
  std::string note2 = "Left out (NaN or infinite): " + std::to_string(level_left_out) + " of " +
                      std::to_string(passes * levels) + " level values, " +
                      std::to_string(gap_left_out) + " of " + std::to_string(passes) +
                      " gap values.";
  std::string note3;
  if (drawn < finite)
    note3 = "Lines thinned to " + std::to_string(drawn) + " of " + std::to_string(finite) +
            " points: in every pixel column the first, last, lowest and highest point.";
  int y = note_y;
  for (const std::string* text : {&note, &note2, &note3}) {
    if (text->empty()) continue;
    append(out, "<text class=\"note\" x=\"%d\" y=\"%d\">%s</text>\n", plot_left - 62, y,
           text->c_str());
    y += 17;
  }
  out += "</svg>\n";
  return out;
}

}  // namespace dimerplot
