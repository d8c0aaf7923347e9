// Thinning a line to what a drawing of limited resolution can show.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace dimerplot {

// An unbroken piece of a drawn line: indices of the points it joins, ascending.
using Piece = std::vector<std::size_t>;

// Thins the line through the points (column[i], y[i]), i = 0 .. n-1, where
// column[i] is the pixel column of point i (non-decreasing in i) and a y that
// is not finite breaks the line. Returns the pieces to draw, left to right.
//
// Guarantee, for every column c, where a "run" is a maximal set of
// consecutive points of c with finite y:
//  - the first run and the last run of c keep their first point, last point,
//    lowest point and highest point (the first of equal ones), in their order;
//  - the runs between them (when c holds three or more) are replaced by their
//    lowest and their highest point, one piece if both lie in the same run,
//    two one-point pieces otherwise;
//  - a kept point is joined to the next kept point exactly when no break lies
//    between them in the data, so a piece never bridges a break and a run that
//    crosses a column boundary stays unbroken across it.
// So every column keeps its lowest and highest finite value (every local
// extremum visible at this resolution) and its first and last finite point,
// in at most 10 points (4 when c has no break).
std::vector<Piece> thin(std::span<const int> column, std::span<const double> y);

}  // namespace dimerplot
