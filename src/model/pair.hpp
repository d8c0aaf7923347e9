// The whole spin Hamiltonian of a pair of spin-3/2 ions, for the companion
// programs:
//
//   H = -2 J S1.S2 + sum over ions i of [ Di (Siz^2 - 5/4) + Ei (Six^2 - Siy^2)
//       + muB (gix Bx Six + giy By Siy + giz Bz Siz) ]
//
// in cm-1, every element from the spin-3/2 operators themselves, the axes of
// each g tensor those of its ion's zero-field splitting. The basis is the
// program's own: state s (1..16) = 4 (3/2 - m1) + (3/2 - m2) + 1, m1 running
// slowest; index s - 1 here.
#pragma once

#include <array>
#include <complex>

namespace model {

inline constexpr int n = 16;

// Bohr magneton in cm-1 per tesla, as in the program.
inline constexpr double mu_B = 0.46686;

// One ion: its zero-field splitting (cm-1) and principal g-values.
struct Ion {
  double D = 0.0;
  double E = 0.0;
  double gx = 2.0, gy = 2.0, gz = 2.0;
};

// The field: magnitude in tesla, direction in degrees, theta from z and phi
// from x in the xy plane.
struct Field {
  double B = 0.1;
  double theta = 90.0;
  double phi = 0.0;
};

struct Parameters {
  double J = 0.0;
  Ion ion1, ion2;
  Field field;
};

// A unit vector, the direction of theta and phi (degrees).
std::array<double, 3> direction(double theta, double phi);

// A complex 16 x 16 matrix, element (r, c) at [c * n + r] (column-major),
// indices from 0.
struct Matrix {
  std::array<double, std::size_t{n} * n> re{}, im{};
  std::complex<double> at(int r, int c) const { return {re[c * n + r], im[c * n + r]}; }
};

// The Hamiltonian without its Zeeman term.
Matrix zero_field(const Parameters& p);

// The Zeeman operator of a unit field along u: muB sum over ions of
// (gix ux Six + giy uy Siy + giz uz Siz). H = zero_field + B x zeeman(u).
Matrix zeeman(const Parameters& p, const std::array<double, 3>& u);

// The whole Hamiltonian in the field of p.
Matrix hamiltonian(const Parameters& p);

// One eigenstate and what it is.
struct State {
  double energy = 0.0;                        // cm-1
  std::array<std::complex<double>, n> v{};    // the normalised eigenvector
  double s2 = 0.0;                            // <S^2>, S = S1 + S2
  double sn = 0.0;                            // <S.n>, n the unit vector of the field
  std::array<double, 4> w{};                  // weights of total spin S = 0, 1, 2, 3
};

// The sixteen states, energies ascending, or ierr != 0 when the eigensolver
// could not settle an eigenvalue (the states are then unset).
struct Spectrum {
  int ierr = 0;
  std::array<State, n> states{};
};

// The eigenstates of the Hermitian matrix h, with <S^2>, <S.u> and the spin
// weights of each.
Spectrum solve(const Matrix& h, const std::array<double, 3>& u);

// The eigenstates of p's Hamiltonian, <S.n> along its field.
Spectrum solve(const Parameters& p);

// The energies alone, ascending (the solver's path without eigenvectors).
// Returns ierr.
int energies(const Matrix& h, std::array<double, n>& w);

// <a| m |b>.
std::complex<double> element(const std::array<std::complex<double>, n>& a, const Matrix& m,
                             const std::array<std::complex<double>, n>& b);

// The projector onto total spin S (0..3) of the pair, real and symmetric.
const Matrix& total_spin_projector(int S);

}  // namespace model
