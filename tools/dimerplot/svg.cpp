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

// A piece of one point, at (x, y): a short bar, kept inside the plot.
void marker(std::string& out, double x, double y, const char* colour) {
  append(out,
         "<line class=\"marker\" x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" "
         "stroke=\"%s\"/>\n",
         std::max(x - marker_half_width, double{plot_left}), y,
         std::min(x + marker_half_width, double{plot_right}), y, colour);
}

std::string number(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
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

void frame(std::string& out, const Panel& p, const char* y_title, const std::string& x_title) {
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
  append(out, "<text class=\"axis-title\" x=\"%d\" y=\"%d\" text-anchor=\"middle\">%s</text>\n",
         (plot_left + plot_right) / 2, p.bottom + 34, x_title.c_str());
  // Above the panel, where no tick label can run into it.
  append(out, "<text class=\"axis-title\" x=\"%d\" y=\"%d\">%s</text>\n", plot_left, p.top - 8,
         y_title);
}

// The pieces of one line; returns the number of points drawn.
std::size_t line(std::string& out, const Panel& p, const std::vector<std::vector<Point>>& pieces,
                 const char* colour, const std::string& attributes) {
  std::size_t drawn = 0;
  for (const auto& piece : pieces) {
    append(out, "<polyline %s stroke=\"%s\" points=\"", attributes.c_str(), colour);
    for (std::size_t k = 0; k < piece.size(); ++k)
      append(out, "%s%.2f,%.2f", k ? " " : "", p.px(piece[k].x), p.py(piece[k].y));
    if (piece.size() == 1) append(out, " %.2f,%.2f", p.px(piece[0].x), p.py(piece[0].y));
    out += "\"/>\n";
    if (piece.size() == 1) marker(out, p.px(piece[0].x), p.py(piece[0].y), colour);
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

}  // namespace

void minus_lowest(std::array<double, levels>& v) {
  double lowest = INFINITY;
  for (int k = 0; k < levels; ++k)
    if (std::isfinite(v[k])) lowest = std::min(lowest, v[k]);
  for (int k = 0; k < levels; ++k) v[k] -= lowest;  // inf - inf: NaN
}

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

namespace {

// The four colours of S = 0, 1, 2, 3.
constexpr int spin_rgb[4][3] = {{0x1f, 0x4e, 0xd8}, {0x1a, 0x9e, 0x3f}, {0xe6, 0x8a, 0x00},
                                {0xd6, 0x1f, 0x2a}};
// Spin weights are drawn to this step, so a line changes colour only when a
// weight moves by 0.05.
constexpr double weight_step = 0.05;
constexpr int label_spacing = 10;  // least distance of two state labels

// The weights of one point in steps of weight_step: equal keys, equal colours.
std::array<int, 4> colour_key(const std::array<double, 4>& w) {
  std::array<int, 4> key{};
  for (int S = 0; S < 4; ++S)
    key[S] = static_cast<int>(std::lround(std::clamp(w[S], 0.0, 1.0) / weight_step));
  return key;
}

std::string key_colour(const std::array<int, 4>& key) {
  std::array<double, 4> w{};
  for (int S = 0; S < 4; ++S) w[S] = key[S] * weight_step;
  return composition_colour(w);
}

// The pieces of a state's line, split further where its colour changes; a
// new polyline begins at the last point of the one before, so the line goes
// on unbroken. Returns the points drawn; sets the last point drawn.
std::size_t state_line(std::string& out, const Panel& p,
                       const std::vector<std::vector<Point>>& pieces, int state,
                       const Point*& last) {
  std::size_t drawn = 0;
  for (const auto& piece : pieces) {
    std::size_t k = 0;
    while (k < piece.size()) {
      const std::array<int, 4> key = colour_key(piece[k].weights);
      std::size_t end = k + 1;  // points [k, end) share the colour of point k
      while (end < piece.size() && colour_key(piece[end].weights) == key) ++end;
      const std::string colour = key_colour(key);
      const double S = std::round(std::clamp(piece[k].spin, 0.0, 3.0) / weight_step) * weight_step;
      append(out,
             "<polyline class=\"state\" data-state=\"%d\" data-spin=\"%.2f\" "
             "data-weights=\"%.2f %.2f %.2f %.2f\" stroke=\"%s\" points=\"",
             state, S, key[0] * weight_step, key[1] * weight_step, key[2] * weight_step,
             key[3] * weight_step, colour.c_str());
      const std::size_t from = k > 0 ? k - 1 : k;  // joined to the piece before
      for (std::size_t i = from; i < end; ++i)
        append(out, "%s%.2f,%.2f", i > from ? " " : "", p.px(piece[i].x), p.py(piece[i].y));
      if (end - from == 1) append(out, " %.2f,%.2f", p.px(piece[from].x), p.py(piece[from].y));
      out += "\"/>\n";
      if (piece.size() == 1) marker(out, p.px(piece[0].x), p.py(piece[0].y), colour.c_str());
      k = end;
    }
    drawn += piece.size();
    last = &piece.back();
  }
  return drawn;
}

}  // namespace

Plot::Plot(double first_d1, double last_d1) : x_(d1_axis(first_d1, last_d1)), first_(first_d1), last_(last_d1) {}

void Plot::add(double d1, const std::array<double, levels>& values, double gap,
               const std::array<double, levels>* spin,
               const std::array<std::array<double, 4>, levels>* weights) {
  // The pixel column of the pass, shared by all lines.
  const long double c = std::floor((d1 - x_.lo) / (x_.hi - x_.lo) * columns);
  const int column = static_cast<int>(std::clamp<long double>(c, 0, columns - 1));
  Point p;
  p.index = passes_;
  p.x = d1;
  for (int k = 0; k < levels; ++k) {
    const double v = values[k];
    if (std::isfinite(v)) {
      level_lo_ = std::min<long double>(level_lo_, v);
      level_hi_ = std::max<long double>(level_hi_, v);
    } else {
      ++level_left_out_;
    }
    p.y = v;
    if (spin != nullptr) p.spin = (*spin)[k];
    if (weights != nullptr) p.weights = (*weights)[k];
    lines_[k].add(column, p);
  }
  if (std::isfinite(gap)) {
    gap_lo_ = std::min<long double>(gap_lo_, gap);
    gap_hi_ = std::max<long double>(gap_hi_, gap);
  } else {
    ++gap_left_out_;
  }
  p.y = gap;
  p.spin = 0.0;
  p.weights = {};
  gap_.add(column, p);
  ++passes_;
}

std::string Plot::render(const Sweep& s, bool relative, bool states,
                         const std::string& parameters) {
  const std::size_t passes = passes_;
  const Axis& x = x_;
  const Panel top{levels_top, levels_bottom, x, nice_axis(level_lo_, level_hi_, level_ticks)};
  const Panel bottom{gap_top, gap_bottom, x, nice_axis(gap_lo_, gap_hi_, gap_ticks)};
  const std::size_t level_left_out = level_left_out_, gap_left_out = gap_left_out_;
  std::size_t drawn = 0;
  std::array<std::vector<std::vector<Point>>, levels> line_pieces;
  for (int k = 0; k < levels; ++k) line_pieces[k] = lines_[k].finish();
  const std::vector<std::vector<Point>> gap_pieces = gap_.finish();

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
  const std::string& X = s.x_name;
  const std::string x_title = s.x_unit.empty() ? X : X + " (" + s.x_unit + ")";
  out += "<title>" +
         std::string(relative ? "Energy levels above the lowest level, and the gap, against "
                              : "Energy levels and the gap against ") +
         X + "</title>\n";
  out += "<desc>Each panel maps (" + X + ", value) to x = data-left + (" + X +
         " - data-xmin) / (data-xmax - data-xmin) * (data-right - data-left), y = data-bottom - "
         "(value - data-ymin) / (data-ymax - data-ymin) * (data-bottom - data-top).</desc>\n";
  append(out, "<rect width=\"%d\" height=\"%d\" fill=\"white\"/>\n", page_width, page_height);
  const std::string title =
      states ? (relative ? "The sixteen states above the lowest level against " + X +
                                     ", followed through crossings"
                               : "The sixteen states against " + X + ", followed through crossings")
                   : (relative ? "The sixteen levels above the lowest one against " + X
                               : "The sixteen levels against " + X);
  append(out, "<text x=\"%d\" y=\"28\" text-anchor=\"middle\" font-size=\"15\">%s</text>\n",
         page_width / 2, title.c_str());

  panel_open(out, "levels", top);
  frame(out, top, relative ? "Energy above the lowest level (cm-1)" : "Energy (cm-1)", x_title);
  out += "<g class=\"lines\" fill=\"none\" stroke-width=\"1.3\" stroke-linejoin=\"round\" "
         "stroke-linecap=\"round\">\n";
  if (!states) {
    for (int k = 0; k < levels; ++k)
      drawn += line(out, top, line_pieces[k], colours[k],
                    "class=\"level\" data-level=\"" + std::to_string(k + 1) + "\"");
    out += "</g>\n";
  } else {
    struct Label {
      double y;
      int state;
      std::string colour;
    };
    std::vector<Label> labels;
    for (int k = 0; k < levels; ++k) {
      const Point* last = nullptr;
      drawn += state_line(out, top, line_pieces[k], k + 1, last);
      if (last != nullptr)
        labels.push_back({top.py(last->y), k + 1, key_colour(colour_key(last->weights))});
    }
    out += "</g>\n";
    // The labels right of the panel, at the height of each line's end, moved
    // apart just enough to be read.
    std::stable_sort(labels.begin(), labels.end(),
                     [](const Label& a, const Label& b) { return a.y < b.y; });
    for (std::size_t i = 1; i < labels.size(); ++i)
      labels[i].y = std::max(labels[i].y, labels[i - 1].y + label_spacing);
    const double overflow = labels.empty() ? 0.0 : labels.back().y - (levels_bottom + 6);
    if (overflow > 0)
      for (Label& l : labels) l.y -= overflow;
    for (std::size_t i = labels.size(); i-- > 1;)
      labels[i - 1].y = std::min(labels[i - 1].y, labels[i].y - label_spacing);
    out += "<g class=\"state-labels\" font-size=\"9\">\n";
    for (const Label& l : labels)
      append(out, "<text class=\"state-label\" data-state=\"%d\" x=\"%d\" y=\"%.2f\" fill=\"%s\">%d</text>\n",
             l.state, plot_right + 4, l.y + 3, l.colour.c_str(), l.state);
    out += "</g>\n";
    // The legend, above the panel on the right.
    out += "<g class=\"legend\">\n";
    append(out, "<text x=\"%d\" y=\"%d\" text-anchor=\"end\">colours mixed by spin weight:</text>\n",
           plot_right - 4 * 62 - 6, levels_top - 8);
    for (int S = 0; S <= 3; ++S) {
      const int x = plot_right - 4 * 62 + S * 62;
      append(out,
             "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"3\"/>"
             "<text x=\"%d\" y=\"%d\">S = %d</text>\n",
             x, levels_top - 12, x + 16, levels_top - 12, spin_colour(S).c_str(), x + 20,
             levels_top - 8, S);
    }
    out += "</g>\n";
  }
  out += "</g>\n";

  panel_open(out, "gap", bottom);
  frame(out, bottom, "Gap E3 - E1 (cm-1)", x_title);
  out += "<g class=\"lines\" fill=\"none\" stroke-width=\"1.3\" stroke-linejoin=\"round\" "
         "stroke-linecap=\"round\">\n";
  drawn += line(out, bottom, gap_pieces, "black", "class=\"gap\"");
  out += "</g>\n</g>\n";

  const std::size_t finite = (passes * levels - level_left_out) + (passes - gap_left_out);
  const std::string unit = s.x_unit.empty() ? "" : " " + s.x_unit;
  std::string note = std::to_string(passes) + (passes == 1 ? " pass" : " passes") + ", " + X + " " +
                     (passes == 1 ? number(first_)
                                  : "from " + number(first_) + " to " + number(last_)) +
                     (!states ? unit + "; levels 1 to 16 in ascending order"
                                   : unit + (parameters.empty() ? "" : "; " + parameters) +
                                         "; states numbered by rank at the first " + X) +
                     (relative ? ", each minus the lowest at its " + X : "") + ".";
  std::string note2 = "Left out (NaN or infinite): " + std::to_string(level_left_out) + " of " +
                      std::to_string(passes * levels) + " level values, " +
                      std::to_string(gap_left_out) + " of " + std::to_string(passes) +
                      " gap values.";
  // A drawing of dimerstates' CSV has no value left out (its values are
  // numbers): the line tells the fixed parameters instead.
  if (!s.note.empty()) note2 = s.note;
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

std::string composition_colour(const std::array<double, 4>& w) {
  double rgb[3] = {}, sum = 0.0;
  for (int S = 0; S < 4; ++S) {
    const double weight = std::clamp(w[S], 0.0, 1.0);
    sum += weight;
    for (int c = 0; c < 3; ++c) rgb[c] += weight * spin_rgb[S][c];
  }
  if (!(sum > 0.0)) return "#808080";  // no weights at all: grey
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<int>(std::lround(rgb[0] / sum)),
                static_cast<int>(std::lround(rgb[1] / sum)), static_cast<int>(std::lround(rgb[2] / sum)));
  return text;
}

std::string spin_colour(double S) {
  S = std::clamp(S, 0.0, 3.0);
  const int low = std::min(static_cast<int>(S), 2);
  const double t = S - low;
  char text[8];
  int rgb[3];
  for (int c = 0; c < 3; ++c)
    rgb[c] = static_cast<int>(std::lround((1.0 - t) * spin_rgb[low][c] + t * spin_rgb[low + 1][c]));
  std::snprintf(text, sizeof text, "#%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
  return text;
}

namespace {

std::string render(const Sweep& s, bool relative, const Followed* f,
                   const std::string& parameters) {
  Plot plot(s.d1.front(), s.d1.back());
  std::array<double, levels> values{}, spin{};
  std::array<std::array<double, 4>, levels> weights{};
  for (std::size_t p = 0; p < s.passes(); ++p) {
    std::array<double, levels> level{};
    for (int k = 0; k < levels; ++k) level[k] = s.level[k][p];
    if (relative) minus_lowest(level);
    if (f == nullptr) {
      plot.add(s.d1[p], level, s.gap[p]);
      continue;
    }
    for (int k = 0; k < levels; ++k) {
      values[k] = level[f->level[k][p]];
      spin[k] = f->spin[k][p];
      weights[k] = f->weights[k][p];
    }
    plot.add(s.d1[p], values, s.gap[p], &spin, &weights);
  }
  return plot.render(s, relative, f != nullptr, parameters);
}

}  // namespace

std::string render_svg(const Sweep& s, bool relative) { return render(s, relative, nullptr, ""); }

std::string render_svg(const Sweep& s, bool relative, const Followed& f,
                       const std::string& parameters) {
  return render(s, relative, &f, parameters);
}

}  // namespace dimerplot
