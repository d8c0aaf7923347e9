// The level diagram as one self-contained SVG document.
#pragma once

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "axes.hpp"
#include "followed.hpp"
#include "thin.hpp"
#include "records.hpp"

namespace dimerplot {

// The levels of one pass minus the lowest finite one (as relative_to_lowest).
void minus_lowest(std::array<double, levels>& v);

// A drawing built pass by pass: each pass's lines thinned as it comes, so
// that memory is bounded by the drawing's columns whatever the number of
// passes. The D1 axis, and so every pass's pixel column, comes from the
// sweep's first and last D1, known before the first pass is added.
class Plot {
 public:
  Plot(double first_d1, double last_d1);
  // The next pass: the values of its sixteen lines (levels, or the states'
  // values with, for the states, their spin and weights) and its gap.
  void add(double d1, const std::array<double, levels>& values, double gap,
           const std::array<double, levels>* spin = nullptr,
           const std::array<std::array<double, 4>, levels>* weights = nullptr);
  // The drawing of render_svg; of meta only the swept parameter's name, its
  // unit and the note are read. states: the lines are states (render_svg's
  // second form), parameters its note.
  std::string render(const Sweep& meta, bool relative, bool states, const std::string& parameters);

 private:
  Axis x_;
  double first_, last_;
  std::size_t passes_ = 0, level_left_out_ = 0, gap_left_out_ = 0;
  // NOLINTNEXTLINE(bugprone-narrowing-conversions): infinity widens exactly
  long double level_lo_ = INFINITY, level_hi_ = -INFINITY, gap_lo_ = INFINITY, gap_hi_ = -INFINITY;
  std::array<Thinner, levels> lines_;
  Thinner gap_;
};

// Every level minus the lowest finite level of its pass; a pass without a
// finite level has no finite value left. Non-finite levels stay non-finite.
std::array<std::vector<double>, levels> relative_to_lowest(const Sweep& s);

// The drawing: two panels (the sixteen levels, the gap, both against D1), one
// <polyline> per unbroken piece of a line (so 16 + 1 when no value is left
// out), a short horizontal <line class="marker"> on every piece of one point,
// and a note with the counts. Each panel <g class="panel"> carries its
// mapping: a point (D1, v) lies at
//   x = data-left + (D1 - data-xmin) / (data-xmax - data-xmin) * (data-right - data-left)
//   y = data-bottom - (v - data-ymin) / (data-ymax - data-ymin) * (data-bottom - data-top)
// with coordinates written to 0.01.
std::string render_svg(const Sweep& s, bool relative);

// The drawing with the states followed through crossings: one line per state
// instead of per level, <polyline class="state" data-state="k" data-spin="S">
// data-weights="w0 w1 w2 w3" (a line is split where its colour changes),
// coloured by its spin composition (composition_colour of the weights to
// 0.05), data-spin the effective S from <S^2> to 0.05,
// a legend "S = 0" ... "S = 3" and every line labelled with its state number
// at its last point. parameters is the sweep's J and ratios, for the note.
std::string render_svg(const Sweep& s, bool relative, const Followed& f,
                       const std::string& parameters);

// The colour "#rrggbb" of a spin composition: the colours of S = 0, 1, 2, 3
// mixed in the proportions of the weights w (clamped to 0 .. 1), so that a
// mix of S = 0 and S = 2 never looks like S = 1.
std::string composition_colour(const std::array<double, 4>& w);

// The colour "#rrggbb" of total spin S (clamped to 0 .. 3): the colours of
// the integers S, mixed linearly in between.
std::string spin_colour(double S);

}  // namespace dimerplot
