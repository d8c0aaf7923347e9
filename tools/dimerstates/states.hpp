// What each of the sixteen levels of the pair is: energies from the sweep's
// own Hamiltonian (dimerscan's pass) or from the pair's whole Hamiltonian,
// both through the sweep's eigensolver, and the spin character of every
// eigenvector.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "model/pair.hpp"
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
  double sx = 0.0;      // <S1x + S2x>
  double sn = 0.0;      // <S.n>, n the unit vector of the field
  std::array<double, 4> spin_weight{};  // <P_S>: the weight of total spin S = 0, 1, 2, 3
  std::array<double, n> weight{};  // |c_s|^2 for basis state s (index s - 1)
  int first = 0, second = 0;       // basis indices (0-based) of the two largest weights
  std::array<double, n> re{}, im{};  // the eigenvector, component s - 1 for basis state s
};

// Fills s2, spin, sx, sn, spin_weight, weight, first and second of l from
// its eigenvector, n the unit vector u of the field. <S^2> and <Sx> are
// summed over the nonzero elements of the operators only.
void describe(Level& l, const std::array<double, 3>& u);

// <S^2> and <Sx> of l's eigenvector summed over every element of the
// operators, row by row: the plain sums that describe gives bit for bit.
double plain_s2(const Level& l);
double plain_sx(const Level& l);

// The levels of one pass, ascending, or the index of the eigenvalue the QL
// iteration could not settle (ierr != 0, levels unset).
struct Spectrum {
  int ierr = 0;
  std::array<Level, n> levels{};
  std::array<double, 3> direction{1.0, 0.0, 0.0};  // of the field
};

// dimerscan's own pass: its element tables, its field of 0.1 T along x.
Spectrum compute(const Parameters& p);

// The pair's whole Hamiltonian, every parameter free.
Spectrum compute_general(const model::Parameters& p);

// The basis state as text, e.g. "|+3/2,-1/2>".
std::string ket(int k);

// Follows the states of a sweep from pass to pass. The states are numbered
// (from 0) by their rank at the first pass; at every later pass each state is
// matched, one to one, to the level whose eigenvector overlaps most with its
// eigenvector at the pass before, largest overlap |<a|b>|^2 first. Levels that
// are degenerate to rounding share one eigenspace, in which the solver's
// vectors are arbitrary: such a cluster is matched as a whole, by the weight
// of each state's vector in it, and its vectors are replaced by those of the
// states that enter it, projected into it and orthonormalised, so that the
// states go on through it with the character they had.
class Follower {
 public:
  // plain: always the full largest-first matching over all overlaps, never
  // its shortcuts for passes where every state has an overlap above one half
  // (which give the same result with fewer overlaps).
  explicit Follower(bool plain = false) : plain_(plain) {}


  // Matches the levels of the next pass (ascending, as from compute) and
  // returns the level (index into s.levels) of every state. The vectors of a
  // degenerate cluster, and what describe makes of them, may be replaced.
  std::array<int, n> next(Spectrum& s);

 private:
  bool plain_;
  bool started_ = false;
  std::array<std::array<double, n>, n> re_{}, im_{};  // the vector of every state
  std::array<int, n> last_{};                          // the level of every state
};

}  // namespace states
