// What each of the sixteen levels of the pair is: energies from the sweep's
// own Hamiltonian and eigensolver, and the spin character of every eigenvector.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "sweep/hamiltonian.hpp"

namespace states {

inline constexpr int n = sweep::n_states;

// Parameters of one pass, as the sweep takes them: D2 = D1, E1 = D1 x ratio1,
// E2 = D1 x ratio2. All in cm-1 except the two ratios.
struct Parameters {
  double J = 0.0;
  double D1 = 0.0;
  double ratio1 = 0.0;
  double ratio2 = 0.0;
};

// One level and what its eigenvector says about it.
struct Level {
  double energy = 0.0;  // cm-1
  double above = 0.0;   // energy minus the lowest energy, cm-1
  double s2 = 0.0;      // <S^2> of the pair, S = S1 + S2
  double spin = 0.0;    // effective S from <S^2> = S (S + 1)
  double sx = 0.0;      // <S1x + S2x>, along the field
  std::array<double, n> weight{};  // |c_s|^2 for basis state s (index s - 1)
  int first = 0, second = 0;       // basis indices (0-based) of the two largest weights
};

// The levels of one pass, ascending, or the index of the eigenvalue the QL
// iteration could not settle (ierr != 0, levels unset).
struct Spectrum {
  int ierr = 0;
  std::array<Level, n> levels{};
};

Spectrum compute(const Parameters& p);

// The basis state as text, e.g. "|+3/2,-1/2>".
std::string ket(int k);

// What the command line asks for.
struct Options {
  Parameters p;
  bool csv = false;
  bool help = false;
};

// Reads argv[1..argc); on a fault returns one line saying what is wrong (no
// newline) and leaves the rest of opt as it stood; on success returns "".
std::string parse_options(const std::vector<std::string>& args, Options& opt);

// The text of --help.
std::string usage();

// The whole table (or CSV with a header row), ending in a newline.
std::string render(const Parameters& p, const Spectrum& s, bool csv);

}  // namespace states
