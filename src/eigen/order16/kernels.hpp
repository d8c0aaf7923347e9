// What the fast paths share: the reduction of one or two matrices at a
// given width (a kernel for each width, chosen where the processor is known),
// the rational QL iteration of two matrices side by side and the back
// transformation at the fixed order.
#pragma once

#include "eigen/order16/order16.hpp"

namespace eigen::order16 {

// The arrays of one call of htridi(16, 16, ar, ai, d, e, e2, tau).
struct Reduction {
  double* ar;
  double* ai;
  double* d;
  double* e;
  double* e2;
  double* tau;
};

// htridi of count (1 or 2) matrices at the width, each with the results of
// htridi alone; the width must be one the processor has.
void reduce(Width width, const Reduction* matrices, int count);

// The kernel that runs on every processor.
void reduce_two_lanes(const Reduction* matrices, int count);

// tqlrat(16, d, e2, ierr) of two matrices, their sweeps' rows taken in turn.
void tqlrat_pair(double* const d[2], double* const e2[2], int* const ierr[2]);

// tql2(16, 16, d, e, z, ierr) with the order known to the compiler.
void tql2_16(double* d, double* e, double* z, int& ierr);

// htribk(16, 16, ar, ai, tau, 16, zr, zi), the sixteen vectors side by side.
void htribk16(const double* ar, const double* ai, const double* tau, double* zr, double* zi);

}  // namespace eigen::order16
