// Complex Hermitian eigensolver: Householder reduction to a real symmetric
// tridiagonal matrix, QL iteration, back transformation of the vectors.
//
// Conventions shared by every routine here:
//  - matrices are column-major with leading dimension nm, indices run from 1
//    in every comment and formula, ranges are inclusive;
//  - only the leading n x n block of a matrix is read or written;
//  - the routines allocate nothing, keep no state and report only through ierr.
#pragma once

#include <bit>
#include <cstdint>

namespace eigen {

// Relative tolerance of the small-element tests of the QL iterations:
// 2^-55 - 2^-106, four units in the last place below 2^-55.
inline constexpr double eps = std::bit_cast<double>(std::uint64_t{0x3C7FFFFFFFFFFFFC});
static_assert(std::bit_cast<std::uint64_t>(eps) == 0x3C7FFFFFFFFFFFFCu);
static_assert(eps < 0x1p-55 && eps > 0x1p-56);

// Largest number of QL sweeps made for one eigenvalue before giving up.
inline constexpr int max_sweeps = 30;

// All eigenvalues (ascending, in w) and, when matz is not 0, all eigenvectors
// (column j of zr + i zi belongs to w(j)) of the Hermitian matrix ar + i ai,
// of which the lower triangle with the diagonal is read. ar and ai are
// overwritten with reduction data; fv1, fv2 (n) and fm1 (2 x n) are work.
// ierr: 0 on success, 10*n when n > nm, otherwise the index of the eigenvalue
// that did not converge. n < 1 returns at once with ierr = 0.
void ch(int nm, int n, double* ar, double* ai, double* w, int matz, double* zr, double* zi,
        double* fv1, double* fv2, double* fm1, int& ierr);

// A routine with the arguments and the results of htribk.
using BackTransform = void (*)(int nm, int n, const double* ar, const double* ai,
                               const double* tau, int m, double* zr, double* zi);

// ch through the plain routines alone, at every order: the reference that
// the fast paths ch takes at the order 16 (order16/) agree with bit for bit.
// back: htribk, or a fast path with its results (a single matrix of the
// order 16 takes one).
void ch_plain(int nm, int n, double* ar, double* ai, double* w, int matz, double* zr,
              double* zi, double* fv1, double* fv2, double* fm1, int& ierr);
void ch_plain(int nm, int n, double* ar, double* ai, double* w, int matz, double* zr,
              double* zi, double* fv1, double* fv2, double* fm1, int& ierr, BackTransform back);

// Householder reduction of the Hermitian matrix ar + i ai to the real
// symmetric tridiagonal matrix with diagonal d and sub-diagonal e (e(i)
// couples rows i-1 and i, e(1) = 0), e2 the squares of e, tau the phase
// factors (2 x n). The Householder vectors stay in the strict lower triangles
// of ar and ai, their normalisers on the diagonal of ai. An element next to
// the diagonal that is zero, or so small against its row that 1 + g / f would
// overflow, takes the branch of a zero element.
void htridi(int nm, int n, double* ar, double* ai, double* d, double* e, double* e2, double* tau);

// Eigenvalues of the symmetric tridiagonal matrix (d, e2) by the rational QL
// method, ascending in d; e2 is destroyed. ierr = l when eigenvalue l did not
// converge in max_sweeps sweeps.
void tqlrat(int n, double* d, double* e2, int& ierr);

// Eigenvalues and eigenvectors of the symmetric tridiagonal matrix (d, e) by
// the implicit QL method. Every rotation is applied to the columns of z
// (nm x n); on success d is ascending and column j of z belongs to d(j).
// e is destroyed. ierr = l when eigenvalue l did not converge.
void tql2(int nm, int n, double* d, double* e, double* z, int& ierr);

// Turns m real eigenvectors of the tridiagonal matrix of htridi, held in
// columns 1..m of zr, into eigenvectors of the Hermitian matrix (zr + i zi),
// from the reduction data that htridi left in ar, ai and tau.
void htribk(int nm, int n, const double* ar, const double* ai, const double* tau, int m,
            double* zr, double* zi);

// Modulus sqrt(x^2 + y^2) of the complex number x + i y, to double accuracy:
// exactly 0 for (0, 0), free of overflow and underflow of the squares.
double complex_modulus(double x, double y);

// The element next to the diagonal, of modulus f, in a row whose squared norm
// has the root g (both after the division by the row's scale): negligible when
// it is 0, or so small that g / f overflows. The reduction then treats it as
// zero; with 1 + g / f it would turn every result into infinities and NaN.
bool negligible(double f, double g);

}  // namespace eigen
