// Least-squares fits of the pair's parameters to a measured curve, with
// Eigen's Levenberg-Marquardt minimiser, and the standard errors and
// correlations of the parameters at the minimum.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/model_options.hpp"
#include "magnetism.hpp"
#include "table.hpp"

namespace mag {

// The parameters a fit can vary: J, D (both ions), D1, D2, E (both ions),
// E1, E2, g (all six g-values), gz (both ions' gz), gxy (both ions' gx and
// gy), rho, tip.
struct Varied {
  std::vector<std::string> names;
};

// Parses NAMES of --vary ("J,D,g"). Throws common::Failure for an unknown
// name, a name given twice, or names that overlap (D and D1, g and gz).
Varied parse_vary(const std::string& text);

// What is fitted: the data, the start (model options, rho, tip), the field
// (chi data) or the temperature (M data), and the field directions.
struct Problem {
  Table data;
  common::ModelInput start;
  double rho = 0.0, tip = 0.0;
  double B = 0.1;   // T, for chi and chiT data
  double T = 2.0;   // K, for M data
  std::vector<Direction> dirs;
  Varied vary;
};

// The model's values of the data's quantity at the data's abscissae.
std::vector<double> model_curve(const Problem& pb, const common::ModelInput& in, double rho,
                                double tip);

// One minimum: the values, their standard errors, the correlation matrix,
// the residual sum of squares and the fitted curve.
struct Minimum {
  std::vector<double> value, error;
  std::vector<std::vector<double>> correlation;
  double rss = 0.0;
  int evaluations = 0;
  std::vector<double> curve;
  common::ModelInput in;   // the fitted parameters as model options
  double rho = 0.0, tip = 0.0;
};

// The outcome: the best minimum and, when an axial parameter is varied, the
// minimum reached from the start with its sign turned (other_rss < 0 when
// there was no second start).
struct Outcome {
  Minimum best;
  bool axial = false;           // a D parameter was varied
  std::string axial_name;       // the first of them (D, D1 or D2), whose sign is reported
  bool best_positive = true;    // the sign of the first varied D at the best minimum
  double other_rss = -1.0;
  bool other_positive = false;  // the sign the other start ended at
  double other_D = 0.0;
};

// Progress: called with the start (1 or 2), the number of evaluations and
// the current residual sum of squares.
using Progress = std::function<void(int start, int evaluations, double rss)>;

// Fits pb. Throws common::Failure for fewer points than parameters + 1, a fit
// that does not converge, a singular Jacobian (naming the parameters that
// cannot be told apart) or a model that cannot be evaluated.
Outcome fit(const Problem& pb, const Progress& progress);

// The report of an outcome, for standard output.
std::string report(const Problem& pb, const Outcome& o, const std::string& file);

// The data beside the fitted curve: CSV with the header X,Q,Q_fit,residual.
std::string curve_csv(const Problem& pb, const Outcome& o);

// Data and fit as one SVG drawing.
std::string curve_svg(const Problem& pb, const Outcome& o, const std::string& file);

}  // namespace mag
