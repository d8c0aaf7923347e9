// What the fast paths share: the reduction of one or two matrices and the
// eigenvectors of one or two at a given width (a kernel for each width,
// chosen where the processor is known), and the rational QL iteration of two
// matrices side by side.
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

// htridi of eight matrices at once, one in each lane, at the width; false,
// with nothing written, when one of them leaves the way all the others take
// (a zero row, a negligible element, an element beyond the unscaled range).
// values_only: d and e2 alone are written.
bool reduce_in_lanes(Width width, const Reduction* matrices, bool values_only = false);
bool reduce_in_lanes_two(const Reduction* matrices, bool values_only);

// tqlrat(16, d, e2, ierr) of count (1 to 4) matrices, their sweeps' rows
// taken in turn.
void tqlrat_together(double* const* d, double* const* e2, int* const* ierr, int count);

// The eigenvector path for count (1 to 4) calls after their reductions, at
// the width, which the processor must have: tql2 from the identity (the
// calls' rotations in turn), then htribk of each call whose tql2 succeeded. Each call gets the
// results of the plain routines.
enum class Stage { rotations, back_transform };
void vectors(Width width, Stage stage, const Call* calls, int count);

// The kernel that runs on every processor.
void vectors_two_lanes(Stage stage, const Call* calls, int count);

}  // namespace eigen::order16
