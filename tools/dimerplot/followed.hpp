// The sweep's states, recomputed from its own parameters and followed from
// pass to pass through crossings, with their total spin.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "records.hpp"

namespace dimerplot {

// The exchange and the two ratios of a sweep; D1 comes from its records.
struct SweepParameters {
  double J = 0.0, ratio1 = 0.0, ratio2 = 0.0;
};

// State k (from 0, numbered by its rank at the first pass) at every pass: the
// level it occupies (from 0), its energy as the levels file has it, its
// effective total spin S from <S^2> = S (S + 1) and its spin composition,
// the weights of total spin S = 0, 1, 2, 3.
struct Followed {
  std::array<std::vector<int>, levels> level;
  std::array<std::vector<double>, levels> energy;
  std::array<std::vector<double>, levels> spin;
  std::array<std::vector<std::array<double, 4>>, levels> weights;
};

// True when the recomputed level w agrees with the record r of an E12.6
// field whose D1 was the record d1: within a unit of r's sixth significant
// digit, or within scale x 1e-12 (levels zero up to rounding agree
// absolutely, scale the largest |level| of the pass), or within what D1's
// rounding to six digits moves the level, slope = dw/dD1.
bool agrees(double w, double r, double d1, double scale, double slope);

// The states pass by pass, keeping only the previous pass's vectors.
class PassFollower {
 public:
  struct State {  // of every state k: its level (from 0), spin and weights
    std::array<int, levels> level{};
    std::array<double, levels> spin{};
    std::array<std::array<double, 4>, levels> weights{};
  };
  PassFollower(const SweepParameters& p, const std::string& levels_file);
  ~PassFollower();
  // Pass number pass (from 0) at D1 = d1 with the levels of its records: as
  // follow_sweep, throws InputError for a level that disagrees.
  void next(std::size_t pass, double d1, const std::array<double, levels>& level, State& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Recomputes every pass of s with D2 = D1, E1 = D1 x ratio1, E2 = D1 x ratio2,
// checks each level against its record and follows the states. Throws
// InputError naming levels_file and the line of the first level that
// disagrees ("these are not the sweep's parameters") or could not be computed.
Followed follow_sweep(const Sweep& s, const SweepParameters& p, const std::string& levels_file);

}  // namespace dimerplot
