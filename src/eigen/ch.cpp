#include "eigen/eigen.hpp"
#include "eigen/order16/order16.hpp"
#include "eigen/views.hpp"

namespace eigen {

void ch(int nm, int n, double* ar, double* ai, double* w, int matz, double* zr, double* zi,
        double* fv1, double* fv2, double* fm1, int& ierr) {
  // The program's own order has fast paths of its own, with the same results.
  if (order16::takes(nm, n)) {
    const order16::Call call{ar, ai, w, zr, zi, fv1, fv2, fm1, &ierr};
    order16::Workspace work;
    order16::solve(order16::widest(), matz, &call, 1, order16::Reads::all, work);
    return;
  }
  ch_plain(nm, n, ar, ai, w, matz, zr, zi, fv1, fv2, fm1, ierr);
}

void ch_plain(int nm, int n, double* ar, double* ai, double* w, int matz, double* zr, double* zi,
              double* fv1, double* fv2, double* fm1, int& ierr) {
  ch_plain(nm, n, ar, ai, w, matz, zr, zi, fv1, fv2, fm1, ierr, htribk);
}

void ch_plain(int nm, int n, double* ar, double* ai, double* w, int matz, double* zr, double* zi,
              double* fv1, double* fv2, double* fm1, int& ierr, BackTransform back) {
  if (n < 1) {
    ierr = 0;
    return;
  }
  // An order beyond the leading dimension: ierr = 10 n, wrapped to 32 bits
  // for orders beyond 214748364 instead of overflowing.
  if (n > nm) {
    ierr = static_cast<int>(10 * static_cast<long long>(n));
    return;
  }

  // Reduction to the tridiagonal matrix (w, fv1), fv2 = fv1^2, phases in fm1.
  htridi(nm, n, ar, ai, w, fv1, fv2, fm1);

  // Eigenvalues only.
  if (matz == 0) {
    tqlrat(n, w, fv2, ierr);
    return;
  }

  // Eigenvectors of the tridiagonal matrix, rotated from the identity, then
  // of the Hermitian matrix.
  const Matrix1<double> z(zr, nm);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) z(j, i) = 0.0;
    z(i, i) = 1.0;
  }
  tql2(nm, n, w, fv1, zr, ierr);
  if (ierr != 0) return;
  back(nm, n, ar, ai, fm1, n, zr, zi);
}

}  // namespace eigen
