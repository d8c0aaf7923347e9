// Fast paths of ch for the program's own order, nm = n = 16: several calls
// at once and the Householder reduction in vector lanes. Every call gets,
// bit for bit, the results of the plain routines alone.
#pragma once

namespace eigen::order16 {

inline constexpr int n = 16;

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

// The calls of a batch, each with the results it would get alone; eight at
// a time they run side by side.
//
// reads tells what the caller reads of the results: everything ch returns,
// or, when matz is 0, only w and ierr (the level sweep), which then keep
// their bits while the reduction data that only the eigenvectors need
// (ar, ai, fv1, fm1) may be left unwritten.
enum class Reads { all, values };
void solve(int matz, const Call* calls, int count, Reads reads = Reads::all);

// Lanes of the vectors the reduction runs its rows in: two on every
// processor, four with AVX2 and eight with AVX-512 on x86-64.
enum class Width { two = 2, four = 4, eight = 8 };
inline constexpr Width all_widths[] = {Width::two, Width::four, Width::eight};

// Whether this processor runs the width; the widest it runs.
bool has(Width width);
Width widest();

// solve at one width, which the processor must have.
void solve(Width width, int matz, const Call* calls, int count, Reads reads = Reads::all);

}  // namespace eigen::order16
