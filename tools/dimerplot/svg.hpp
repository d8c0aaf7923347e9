// The level diagram as one self-contained SVG document.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "followed.hpp"
#include "records.hpp"

namespace dimerplot {

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
