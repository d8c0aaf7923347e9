#include "eigen/eigen.hpp"
#include "eigen/views.hpp"

namespace eigen {

namespace {

// The order the program uses, for which the routines are built a second time.
bool is_order16(int nm, int n) { return nm == Order16::value && n == Order16::value; }

// Eigenvalues and eigenvectors after the reduction: the rotations of tql2
// start from the identity, and htribk follows only when tql2 succeeded.
void eigenvectors(int nm, int n, double* ar, double* ai, double* w, double* zr, double* zi,
                  double* fv1, double* fm1, int& ierr) {
  const Matrix1<double> z(zr, nm);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) z(j, i) = 0.0;
    z(i, i) = 1.0;
  }
  if (is_order16(nm, n)) {
    fixed::tql2(w, fv1, zr, ierr);
    if (ierr != 0) return;
    fixed::htribk(ar, ai, fm1, zr, zi);
  } else {
    tql2(nm, n, w, fv1, zr, ierr);
    if (ierr != 0) return;
    htribk(nm, n, ar, ai, fm1, n, zr, zi);
  }
}

}  // namespace

void ch(int nm, int n, double* ar, double* ai, double* w, int matz, double* zr, double* zi,
        double* fv1, double* fv2, double* fm1, int& ierr) {
  if (n < 1) {
    ierr = 0;
    return;
  }
  if (n > nm) {
    // 10 * n, wrapped to 32 bits for orders beyond 214748364 instead of overflowing.
    ierr = static_cast<int>(10 * static_cast<long long>(n));
    return;
  }

  // The program's order goes through the routines built for it.
  const bool order16 = is_order16(nm, n);

  if (order16) {
    fixed::htridi(ar, ai, w, fv1, fv2, fm1);
  } else {
    htridi(nm, n, ar, ai, w, fv1, fv2, fm1);
  }

  if (matz == 0) {
    // Eigenvalues only.
    if (order16) {
      fixed::tqlrat(w, fv2, ierr);
    } else {
      tqlrat(n, w, fv2, ierr);
    }
    return;
  }

  eigenvectors(nm, n, ar, ai, w, zr, zi, fv1, fm1, ierr);
}

void ch_pair(int matz, Problem16& a, Problem16& b) {
  Problem16* const both[2] = {&a, &b};
  double* ar[2];
  double* ai[2];
  double* w[2];
  double* fv1[2];
  double* fv2[2];
  double* fm1[2];
  for (int q = 0; q < 2; ++q) {
    ar[q] = both[q]->ar;
    ai[q] = both[q]->ai;
    w[q] = both[q]->w;
    fv1[q] = both[q]->fv1;
    fv2[q] = both[q]->fv2;
    fm1[q] = both[q]->fm1;
  }
  fixed::htridi_pair(ar, ai, w, fv1, fv2, fm1);

  if (matz == 0) {
    fixed::tqlrat_pair(a.w, a.fv2, a.ierr, b.w, b.fv2, b.ierr);
    return;
  }
  for (Problem16* p : both) {
    eigenvectors(Problem16::n, Problem16::n, p->ar, p->ai, p->w, p->zr, p->zi, p->fv1, p->fm1,
                 p->ierr);
  }
}

}  // namespace eigen
