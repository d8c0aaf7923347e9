// Spin Hamiltonian of a pair of spin-3/2 ions in the product basis |m1, m2>.
#pragma once

namespace sweep {

// Order of the Hamiltonian: (2 * 3/2 + 1)^2 product states.
inline constexpr int n_states = 16;

// Fills ar + i ai (16 x 16, column-major, leading dimension 16, both triangles)
// with the Hermitian matrix of
//   H = -2 J S1.S2 + sum over ions of Di (Siz^2 - 5/4) + Ei (Six^2 - Siy^2) + Zeeman term
// in cm-1, for a field of 0.1 T along x and g = 2.0; clears w (16).
// State s = 4 (3/2 - m1) + (3/2 - m2) + 1, m1 running slowest.
void build_spin_hamiltonian(double J, double D1, double D2, double E1, double E2, double* ar,
                            double* ai, double* w);

}  // namespace sweep
