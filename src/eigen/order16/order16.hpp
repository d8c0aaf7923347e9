// The fast paths of ch at the program's own order, nm = n = 16: the calls of
// a batch run side by side, one call in each lane of every value, through one
// lane version of each routine. Every call gets, bit for bit, the results of
// the plain routines alone. The way from ch: solve (solve.cpp) takes the
// calls batch by batch to the kernel of the width (widths.hpp), solve_batch<W>
// (batch.hpp), which runs the lane kernels htridi_lanes, tqlrat_lanes and
// tql2_lanes, and htribk_columns.
#pragma once

namespace eigen::order16 {

inline constexpr int n = 16;

// Calls diagonalised side by side, one in each lane.
inline constexpr int batch = 8;

// Whether ch(nm, n, ...) can take the fast paths.
constexpr bool takes(int nm, int order) { return nm == n && order == n; }

// The arguments of one call of ch(16, 16, ar, ai, w, matz, zr, zi, fv1, fv2, fm1, ierr).
struct Call {
  double* ar;
  double* ai;
  double* w;
  double* zr;
  double* zi;
  double* fv1;
  double* fv2;
  double* fm1;
  int* ierr;
};

// What the caller reads of the results: everything ch returns, or, when
// matz is 0, only w and ierr (the level sweep), which then keep their bits
// while the reduction data that only the eigenvectors need (ar, ai, fv1,
// fm1) may be left unwritten.
enum class Reads { all, values };

// Lanes of the vectors: two on every processor, four with AVX2 and eight
// with AVX-512 on x86-64.
enum class Width { two = 2, four = 4, eight = 8 };
inline constexpr Width all_widths[] = {Width::two, Width::four, Width::eight};

// Whether this processor runs the width; the widest it runs, asked once.
bool has(Width width);
Width widest();

// The work arrays of a batch, the caller's like every other array: two
// 16 x 16 matrices and five vectors of lanes.
struct Workspace {
  alignas(64) unsigned char bytes[sizeof(double) * batch * n * (2 * n + 5)];
};

// ch for each of count calls, batch by batch, at a width the processor has.
void solve(Width width, int matz, const Call* calls, int count, Reads reads, Workspace& work);

}  // namespace eigen::order16
