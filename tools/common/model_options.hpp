// The pair's parameters as every companion takes them on its command line:
//   --J J, --D1 D1, --D2 D2, --D D (both ions), --E1 E1, --E2 E2,
//   --ratio1 R1, --ratio2 R2 (EN = DN x RN, each exclusive with --EN),
//   --g G (all six g-values), --g1 GX,GY,GZ, --g2 GX,GY,GZ,
//   --B TESLA, --theta DEG, --phi DEG.
// A value follows as "--J -1" or "--J=-1". Defaults are dimerscan's: D2 = D1,
// every g 2.0, 0.1 T along x (theta 90, phi 0).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/pair.hpp"

namespace common {

// The parameters as given; resolve() applies the rules that tie them.
struct ModelInput {
  double J = 0.0, D1 = 0.0, ratio1 = 0.0, ratio2 = 0.0;
  std::optional<double> D2, E1, E2;
  std::array<double, 3> g1{2.0, 2.0, 2.0}, g2{2.0, 2.0, 2.0};
  double B = 0.1, theta = 90.0, phi = 0.0;

  // D2 = D1 unless D2 is given; EN = DN x RN unless EN is given.
  model::Parameters resolve() const;

  // Sets the parameter of a sweep by its name: J, D1, D2, D (both ions), E1,
  // E2, ratio1, ratio2, B, theta or phi. False for any other name.
  bool set(std::string_view name, double value);
};

// A number in full (throws Failure "value 'T' of option O is not a number",
// "... is out of range", "... is not a finite number").
double number(std::string_view text, std::string_view option);

// FROM:TO:STEP: the values FROM + (k - 1) x STEP, k = 1, 2, ..., while they do
// not exceed TO, each computed afresh from k as dimerscan computes D1.
struct Range {
  double from = 0.0, to = 0.0, step = 0.0;
  double at(std::int64_t k) const;  // k from 1
  // The number of values (0 when FROM > TO).
  std::int64_t count() const;
};

// Parses FROM:TO:STEP; a step that is not positive or gives more than
// 2147483647 values is refused, as dimerscan refuses it (throws Failure).
Range range(std::string_view text, std::string_view option);

// Reads the model options out of a command line.
class ModelOptions {
 public:
  // When args[i] is a model option, takes it and its value (advancing i past
  // the value) and returns true; false, with i unchanged, for anything else.
  // Throws Failure for a bad value, an option given twice, or options that
  // exclude each other.
  bool take(const std::vector<std::string>& args, std::size_t& i);

  const ModelInput& input() const { return input_; }
  ModelInput& input() { return input_; }

  // True when an option beyond dimerscan's own dialogue (J, D1, ratio1,
  // ratio2) was given.
  bool general() const { return general_; }

  // True when the option (e.g. "--B") was given.
  bool given(std::string_view option) const;

 private:
  ModelInput input_;
  std::vector<std::string> seen_;
  bool general_ = false;
};

}  // namespace common
