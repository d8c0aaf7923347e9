// The arrays of one call of the eigensolver ch on the pair's 16 x 16
// Hamiltonian, as every caller holds them: the matrix in, the energies and
// vectors out, the work space, the status.
#pragma once

namespace model {

struct EigenArrays {
  // Order and leading dimension of the pair's matrix: (2 x 3/2 + 1)^2 states.
  static constexpr int n = 16;
  double ar[n * n];   // real part of the matrix, column-major; overwritten
  double ai[n * n];   // imaginary part; overwritten
  double w[n];        // eigenvalues, ascending
  double zr[n * n];   // eigenvectors, column j for w(j), real parts
  double zi[n * n];   // imaginary parts
  double fv1[n];      // work
  double fv2[n];      // work
  double fm1[2 * n];  // work
  int ierr = 0;
};

// ch on a: all eigenvalues and, when matz is not 0, the eigenvectors.
void run_ch(EigenArrays& a, int matz);

}  // namespace model
