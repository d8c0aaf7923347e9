// Thinning a line to what a drawing of limited resolution can show.
#pragma once

#include <array>
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

namespace dimerplot {

// A point of a line with what its drawing needs: its pass, x, y, and for a
// state its effective spin and spin weights.
struct Point {
  std::size_t index = 0;
  double x = 0.0, y = 0.0, spin = 0.0;
  std::array<double, 4> weights{};
};

// thin() fed one point at a time, keeping only what the drawing of the
// points so far holds plus the summary of the column being read: memory
// bounded by the number of columns, whatever the number of points. Points
// come with non-decreasing columns; finish() gives exactly the pieces thin()
// gives for the same columns and values, as points.
class Thinner {
 public:
  void add(int column, const Point& p);
  std::vector<std::vector<Point>> finish();

 private:
  struct Run {  // first, last, lowest and highest point of a run
    Point first, last, lo, hi;
    std::size_t id = 0;
  };
  void end_column();
  void close_run();
  void close();
  void keep(const Point& p);
  void keep_run(const Run& r);
  static void widen(Run& r, const Point& p);

  std::vector<std::vector<Point>> pieces_;
  std::vector<Point> current_;
  bool any_ = false;            // a point has been added
  bool before_finite_ = false;  // the point before the column was finite
  bool last_finite_ = false;    // the last point added was finite
  int column_ = 0;
  bool continues_ = false;      // the column's first point is finite and follows a finite point
  std::size_t runs_ = 0;        // the runs of the column so far, the open one counted
  bool open_ = false;           // a run is open (the last point was finite)
  Run first_, pending_, open_run_;  // run 0; the last closed run after it; the open run
  bool pending_set_ = false;
  Point inner_lo_, inner_hi_;  // over the runs between the first and pending_
  std::size_t inner_lo_run_ = 0, inner_hi_run_ = 0;
  bool inner_set_ = false;
};

}  // namespace dimerplot
