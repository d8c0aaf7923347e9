// Spin Hamiltonian of a pair of spin-3/2 ions in the product basis |m1, m2>.
#pragma once

namespace sweep {

// Spin of each ion.
inline constexpr double ion_spin = 1.5;
// Order of the Hamiltonian: (2 * 3/2 + 1)^2 product states.
inline constexpr int n_states = 16;
static_assert(n_states == (2 * ion_spin + 1) * (2 * ion_spin + 1));

// The basis |m1, m2>: state s (1..16) = 4 (3/2 - m1) + (3/2 - m2) + 1, m1
// running slowest from +3/2 down to -3/2, m2 fastest.
constexpr double m1_of(int s) { return ion_spin - static_cast<double>((s - 1) / 4); }  // NOLINT(bugprone-integer-division): (s - 1) / 4 is the index of m1
constexpr double m2_of(int s) { return ion_spin - static_cast<double>((s - 1) % 4); }
constexpr int state_of(double m1, double m2) {
  return 4 * static_cast<int>(ion_spin - m1) + static_cast<int>(ion_spin - m2) + 1;
}
static_assert(m1_of(1) == 1.5 && m2_of(1) == 1.5 && m1_of(6) == 0.5 && m2_of(16) == -1.5);
static_assert(state_of(m1_of(11), m2_of(11)) == 11);

// Fills ar + i ai (16 x 16, column-major, leading dimension 16, both triangles)
// with the Hermitian matrix of
//   H = -2 J S1.S2 + sum over ions of Di (Siz^2 - 5/4) + Ei (Six^2 - Siy^2) + Zeeman term
// in cm-1, for a field of 0.1 T along x and g = 2.0; clears w (16).
// State s = 4 (3/2 - m1) + (3/2 - m2) + 1, m1 running slowest.
void build_spin_hamiltonian(double J, double D1, double D2, double E1, double E2, double* ar,
                            double* ai, double* w);

}  // namespace sweep
