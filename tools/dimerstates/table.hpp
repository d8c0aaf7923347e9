// dimerstates' output: the text table with its heading as comments, or CSV
// with a header row, every parameter of the run in it.
#pragma once

#include <array>
#include <string>

#include "options.hpp"
#include "states.hpp"

namespace states {

// The heading: for the table the run's parameters (the swept one with its
// range) and the column names, as comments ("#") but for a single pass's
// column names; for CSV the header row.
std::string heading(const Options& o);

// The rows of one pass, level 1 first, each ending in a newline. A sweep's
// rows begin with the swept value x and the level and the state of the row
// (both from 1; state_of_level names it); its table ends the pass with a
// blank line. in is the pass's parameters: CSV rows end with them.
std::string rows(const Options& o, const common::ModelInput& in, double x, const Spectrum& s,
                 const std::array<int, n>& state_of_level);

}  // namespace states
