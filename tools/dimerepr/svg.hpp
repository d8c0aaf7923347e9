// The derivative spectrum as one self-contained SVG document.
#pragma once

#include <string>
#include <vector>

#include "epr.hpp"

namespace epr {

// A resonance marked under the spectrum: its field (T) and its label.
struct Mark {
  double B = 0.0;
  std::string label;
};

// The derivative against B (mT) on the grid, with every mark a short
// vertical line under the curve, labelled, and the notes under the plot.
// The plot <g class="plot"> carries its mapping: a point (B_mT, v) lies at
//   x = data-left + (B_mT - data-xmin) / (data-xmax - data-xmin) * (data-right - data-left)
//   y = data-bottom - (v - data-ymin) / (data-ymax - data-ymin) * (data-bottom - data-top)
std::string render_svg(const Grid& g, const std::vector<double>& derivative,
                       const std::vector<Mark>& marks, const std::vector<std::string>& notes);

}  // namespace epr
