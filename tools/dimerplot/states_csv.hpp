// Reading a sweep of dimerstates --csv: the swept parameter in the first
// column, sixteen rows a pass (level 1 to 16), each with its followed state,
// energy, effective spin, spin weights and the run's parameters.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
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

// One pass of the CSV: the swept value, its sixteen levels (ascending, from
// 0), the level of every state k, and every state's spin and weights.
struct StatesPass {
  double x = 0.0;
  std::array<double, levels> level{};
  std::array<int, levels> level_of{};
  std::array<double, levels> spin{};
  std::array<std::array<double, 4>, levels> weights{};
};

// What a drawing needs of the whole CSV besides its passes.
struct StatesMeta {
  std::string x_name, x_unit;  // the swept parameter
  std::string fixed, note;     // the fixed parameters; the note's line ("Fixed: ...")
  double first_x = 0.0, last_x = 0.0;
};

// Reads a CSV (its text, or a stream read line by line, keeping one line)
// with the checks of read_states_csv, handing each pass to on_pass once its
// sixteen rows are checked; throws as read_states_csv.
StatesMeta read_states_passes(std::string_view text, const std::string& file,
                              const std::function<void(const StatesPass&)>& on_pass);
StatesMeta read_states_passes(std::FILE* stream, const std::string& file,
                              const std::function<void(const StatesPass&)>& on_pass);

// Reads the whole CSV text of file. Throws InputError, "FILE, line N: text",
// for a missing column, a field that is not a number, a pass that is not
// sixteen rows of levels 1 to 16 with one state each, a swept value that does
// not increase from pass to pass, or a parameter other than the swept one
// (and those it sets: D2 and the E's follow D1, E1 follows ratio1, ...) that
// changes between passes.
StatesSweep read_states_csv(std::string_view text, const std::string& file);

}  // namespace dimerplot
