// Reading a sweep of dimerstates --csv: the swept parameter in the first
// column, sixteen rows a pass (level 1 to 16), each with its followed state,
// energy, effective spin, spin weights and the run's parameters.
#pragma once

#include <string>
#include <string_view>

#include "followed.hpp"
#include "records.hpp"

namespace dimerplot {

struct StatesSweep {
  Sweep sweep;         // x = the swept parameter, its levels and gap E3 - E1
  Followed followed;   // the states as dimerstates followed them
  std::string fixed;   // the parameters that stay fixed, for the note
};

// Reads the whole CSV text of file. Throws InputError, "FILE, line N: text",
// for a missing column, a field that is not a number, a pass that is not
// sixteen rows of levels 1 to 16 with one state each, a swept value that does
// not increase from pass to pass, or a parameter other than the swept one
// (and those it sets: D2 and the E's follow D1, E1 follows ratio1, ...) that
// changes between passes.
StatesSweep read_states_csv(std::string_view text, const std::string& file);

}  // namespace dimerplot
