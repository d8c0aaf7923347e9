// dimerstates' command line: the pair's parameters, one of them perhaps
// swept, and what to print.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/model_options.hpp"
#include "states.hpp"

namespace states {

// A sweep of one parameter: --sweep NAME=FROM:TO:STEP, or --D1 FROM:TO:STEP.
struct Sweep {
  std::string name;  // J, D1, D2, D, E1, E2, ratio1, ratio2, B, theta or phi
  common::Range range;
};

// The unit of a parameter by its sweep name: "cm-1", "T", "deg" or "" (ratios).
std::string_view unit_of(std::string_view name);

struct Options {
  common::ModelOptions model;  // the parameters as given
  // The pair's whole Hamiltonian; false: dimerscan's own pass, when only J,
  // D1 (or its sweep), ratio1 and ratio2 are named.
  bool general = false;
  std::optional<Sweep> sweep;
  bool csv = false, help = false, version = false;
  const common::ModelInput& input() const { return model.input(); }

  // The parameters with the swept one (if any) at value.
  common::ModelInput at(double value) const;
  // dimerscan's pass of those parameters.
  static Parameters pass_of(const common::ModelInput& in) {
    return {in.J, in.D1, in.ratio1, in.ratio2};
  }
};

// Reads argv[1..argc). Throws common::Failure, one line saying what is wrong
// and ending in " (try --help)".
Options parse_options(const std::vector<std::string>& args);

// The text of --help.
std::string usage();

}  // namespace states
