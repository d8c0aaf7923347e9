// The level diagram as one self-contained SVG document.
#pragma once

#include <array>
#include <string>
#include <vector>

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

}  // namespace dimerplot
