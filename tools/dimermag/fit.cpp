#include "fit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <Eigen/Dense>
#include <unsupported/Eigen/LevenbergMarquardt>

#include "axes.hpp"
#include "common/files.hpp"

namespace mag {

namespace {

// The names --vary knows, with the size of a step that changes the data
// noticeably (the scale of the minimiser's variables where the start is
// smaller): 1 cm-1, a g-value, a percent of impurity, 1e-4 cm3 mol-1.
struct Known {
  const char* name;
  double scale;
};
constexpr Known known[] = {{"J", 1.0},  {"D", 1.0},  {"D1", 1.0},  {"D2", 1.0},
                           {"E", 1.0},  {"E1", 1.0}, {"E2", 1.0},  {"g", 1.0},
                           {"gz", 1.0}, {"gxy", 1.0}, {"rho", 0.01}, {"tip", 1e-4}};
constexpr const char* known_list = "J, D, D1, D2, E, E1, E2, g, gz, gxy, rho, tip";

// Names that set some of the same values.
bool overlap(const std::string& a, const std::string& b) {
  auto pair = [&](const char* x, const char* y) {
    return (a == x && b == y) || (a == y && b == x);
  };
  return pair("D", "D1") || pair("D", "D2") || pair("E", "E1") || pair("E", "E2") ||
         pair("g", "gz") || pair("g", "gxy");
}

double scale_of(const std::string& name) {
  for (const Known& k : known)
    if (name == k.name) return k.scale;
  return 1.0;
}

bool axial(const std::string& name) { return name == "D" || name == "D1" || name == "D2"; }

// The value of a varied parameter in the model options.
double get(const std::string& name, const common::ModelInput& in, double rho, double tip) {
  const model::Parameters p = in.resolve();
  if (name == "J") return p.J;
  if (name == "D") return 0.5 * (p.ion1.D + p.ion2.D);
  if (name == "D1") return p.ion1.D;
  if (name == "D2") return p.ion2.D;
  if (name == "E") return 0.5 * (p.ion1.E + p.ion2.E);
  if (name == "E1") return p.ion1.E;
  if (name == "E2") return p.ion2.E;
  if (name == "g") return (p.ion1.gx + p.ion1.gy + p.ion1.gz + p.ion2.gx + p.ion2.gy + p.ion2.gz) / 6.0;
  if (name == "gz") return 0.5 * (p.ion1.gz + p.ion2.gz);
  if (name == "gxy") return 0.25 * (p.ion1.gx + p.ion1.gy + p.ion2.gx + p.ion2.gy);
  if (name == "rho") return rho;
  return tip;
}

void set(const std::string& name, double v, common::ModelInput& in, double& rho, double& tip) {
  if (name == "J") in.J = v;
  else if (name == "D") in.D1 = v, in.D2 = v;
  else if (name == "D1") in.D1 = v;
  else if (name == "D2") in.D2 = v;
  else if (name == "E") in.E1 = v, in.E2 = v;
  else if (name == "E1") in.E1 = v;
  else if (name == "E2") in.E2 = v;
  else if (name == "g") in.g1 = in.g2 = {v, v, v};
  else if (name == "gz") in.g1[2] = in.g2[2] = v;
  else if (name == "gxy") in.g1[0] = in.g1[1] = in.g2[0] = in.g2[1] = v;
  else if (name == "rho") rho = v;
  else tip = v;
}

using Vector = Eigen::VectorXd;
using Matrix = Eigen::MatrixXd;

// The residuals model - data of the scaled variables x (value = x scale).
struct Residuals : Eigen::DenseFunctor<double> {
  const Problem& pb;
  common::ModelInput base;
  std::vector<double> scale;
  const Progress& progress;
  int start = 1;
  mutable int evaluations = 0;

  Residuals(const Problem& p, const common::ModelInput& b, std::vector<double> s,
            const Progress& pr)
      : DenseFunctor<double>(static_cast<int>(s.size()), static_cast<int>(p.data.x.size())),
        pb(p), base(b), scale(std::move(s)), progress(pr) {}

  void apply(const Vector& x, common::ModelInput& in, double& rho, double& tip) const {
    in = base;
    rho = pb.rho;
    tip = pb.tip;
    for (std::size_t k = 0; k < scale.size(); ++k)
      set(pb.vary.names[k], x[static_cast<Eigen::Index>(k)] * scale[k], in, rho, tip);
  }

  int operator()(const Vector& x, Vector& f) const {
    common::ModelInput in;
    double rho = 0.0, tip = 0.0;
    apply(x, in, rho, tip);
    const std::vector<double> c = model_curve(pb, in, rho, tip);
    for (std::size_t k = 0; k < c.size(); ++k) f[static_cast<Eigen::Index>(k)] = c[k] - pb.data.y[k];
    ++evaluations;
    if (!f.allFinite()) return -1;
    if (progress) progress(start, evaluations, f.squaredNorm());
    return 0;
  }

  // Central differences, a step of 1e-5 of the variable (at least 1e-5).
  int df(const Vector& x, Matrix& jac) const {
    constexpr double relative_step = 1e-5;
    Vector up(values()), down(values());
    for (Eigen::Index k = 0; k < x.size(); ++k) {
      const double h = relative_step * std::max(1.0, std::abs(x[k]));
      Vector xu = x, xd = x;
      xu[k] += h;
      xd[k] -= h;
      if ((*this)(xu, up) != 0 || (*this)(xd, down) != 0) return -1;
      jac.col(k) = (up - down) / (xu[k] - xd[k]);
    }
    return 0;
  }
};

// Evaluations allowed to one start.
constexpr int max_evaluations = 400;

struct Run {
  bool converged = false;
  std::string failure;
  Vector x;
  double rss = 0.0;
  int evaluations = 0;
};

Run minimise(Residuals& r, Vector x) {
  Eigen::LevenbergMarquardt<Residuals> lm(r);
  lm.setMaxfev(max_evaluations);
  lm.setXtol(1e-10);
  lm.setFtol(1e-12);
  const Eigen::LevenbergMarquardtSpace::Status status = lm.minimize(x);
  Run run;
  run.evaluations = r.evaluations;
  run.x = x;
  using namespace Eigen::LevenbergMarquardtSpace;
  if (status == TooManyFunctionEvaluation) {
    run.failure = "the fit did not converge in " + std::to_string(max_evaluations) +
                  " steps: try other start values or vary fewer parameters";
  } else if (status == UserAsked) {
    run.failure = "the model is not a finite number near the start values: try other start values";
  } else if (status == ImproperInputParameters) {
    run.failure = "the fit could not start";
  } else {
    Vector f(r.values());
    if (r(x, f) != 0) run.failure = "the model is not a finite number at the minimum";
    else run.converged = true, run.rss = f.squaredNorm();
  }
  return run;
}

// Throws when a column of the Jacobian jac (of the scaled variables) is too
// small: a step of a parameter's scale that moves the model by less than the
// differences resolve does not act on the data to first order. Their noise is
// about 1e-9 of the data; a parameter that acts at all moves the data by far
// more than 1e-6 of them (tip by its scale, 1e-4 cm3 mol-1, moves chi by
// about 1e-3 of it). at: the parameters' values.
void acting(const Problem& pb, const Matrix& jac, const std::vector<double>& at) {
  constexpr double unresolved = 1e-6;
  const double data_norm =
      Eigen::Map<const Vector>(pb.data.y.data(), static_cast<Eigen::Index>(pb.data.y.size())).norm();
  for (std::size_t k = 0; k < at.size(); ++k)
    if (!(jac.col(static_cast<Eigen::Index>(k)).norm() > unresolved * data_norm))
      throw common::Failure("the Jacobian is singular: the data do not change with " +
                            pb.vary.names[k] + " at " + shortest(at[k]));
}

std::string fixed(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

}  // namespace

Varied parse_vary(const std::string& text) {
  Varied v;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string name = text.substr(start, comma == std::string::npos ? comma : comma - start);
    bool found = false;
    for (const Known& k : known) found = found || name == k.name;
    if (!found)
      throw common::Failure("--vary: unknown parameter '" + common::printable(name) + "' (known: " +
                            known_list + ")");
    for (const std::string& other : v.names) {
      if (other == name) throw common::Failure("--vary: " + name + " is given twice");
      if (overlap(other, name)) {
        std::string text = "--vary: " + other;
        text += " and " + name;
        throw common::Failure(text + " set the same values");
      }
    }
    v.names.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return v;
}

std::vector<double> model_curve(const Problem& pb, const common::ModelInput& in, double rho,
                                double tip) {
  Sample s;
  s.p = in.resolve();
  s.rho = rho;
  s.tip = tip;
  if (pb.data.q == Quantity::M) return magnetisation(s, pb.data.x, pb.T, pb.dirs);
  std::vector<double> chi = susceptibility(s, pb.B, pb.data.x, pb.dirs);
  if (pb.data.q == Quantity::chiT)
    for (std::size_t k = 0; k < chi.size(); ++k) chi[k] *= pb.data.x[k];
  return chi;
}

Outcome fit(const Problem& pb, const Progress& progress) {
  const std::size_t np = pb.vary.names.size();
  const std::size_t n = pb.data.x.size();
  if (n <= np)
    throw common::Failure(std::to_string(n) + " points for " + std::to_string(np) +
                          " parameters: a fit needs more points than parameters");
  // D2 and E2 stay where they are when only D1 or E1 is varied.
  common::ModelInput base = pb.start;
  const model::Parameters p0 = base.resolve();
  if (!base.D2) base.D2 = p0.ion2.D;
  if (!base.E1) base.E1 = p0.ion1.E;
  if (!base.E2) base.E2 = p0.ion2.E;
  // E follows D by its ratio unless E itself is varied or given.
  if (!pb.start.E1 && pb.start.ratio1 != 0.0) base.E1.reset();
  if (!pb.start.E2 && pb.start.ratio2 != 0.0) base.E2.reset();

  std::vector<double> start(np), scale(np);
  bool has_axial = false, axial_zero = true;
  for (std::size_t k = 0; k < np; ++k) {
    const std::string& name = pb.vary.names[k];
    start[k] = get(name, base, pb.rho, pb.tip);
    scale[k] = std::max(std::abs(start[k]), scale_of(name));
    if (axial(name)) has_axial = true, axial_zero = axial_zero && start[k] == 0.0;
  }
  // A powder barely tells the sign of D: both signs are tried as starts, and
  // a start of 0 (where the data do not change with D to first order) is
  // taken as +1 and -1 cm-1.
  std::vector<Vector> starts(1, Vector(static_cast<Eigen::Index>(np)));
  for (std::size_t k = 0; k < np; ++k) {
    double v = start[k];
    if (axial(pb.vary.names[k]) && axial_zero) v = 1.0;
    starts[0][static_cast<Eigen::Index>(k)] = v / scale[k];
  }
  if (has_axial) {
    starts.push_back(starts[0]);
    for (std::size_t k = 0; k < np; ++k)
      if (axial(pb.vary.names[k])) starts[1][static_cast<Eigen::Index>(k)] *= -1.0;
  }

  Residuals r(pb, base, scale, progress);
  // A parameter that does not act at the start would wander off unchecked.
  {
    Matrix jac(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(np));
    if (r.df(starts[0], jac) != 0)
      throw common::Failure("the model is not a finite number at the start values");
    std::vector<double> at(np);
    for (std::size_t k = 0; k < np; ++k) at[k] = starts[0][static_cast<Eigen::Index>(k)] * scale[k];
    acting(pb, jac, at);
    r.evaluations = 0;
  }
  std::vector<Run> runs;
  for (std::size_t s = 0; s < starts.size(); ++s) {
    r.start = static_cast<int>(s + 1);
    r.evaluations = 0;
    runs.push_back(minimise(r, starts[s]));
  }
  std::size_t best = runs.size();
  for (std::size_t s = 0; s < runs.size(); ++s)
    if (runs[s].converged && (best == runs.size() || runs[s].rss < runs[best].rss)) best = s;
  if (best == runs.size()) throw common::Failure(runs[0].failure);

  Outcome o;
  Minimum& m = o.best;
  const Vector& x = runs[best].x;
  m.rss = runs[best].rss;
  m.evaluations = 0;
  for (const Run& run : runs) m.evaluations += run.evaluations;
  r.apply(x, m.in, m.rho, m.tip);
  m.curve = model_curve(pb, m.in, m.rho, m.tip);
  m.value.resize(np);
  for (std::size_t k = 0; k < np; ++k) m.value[k] = x[static_cast<Eigen::Index>(k)] * scale[k];

  // The Jacobian of the values at the minimum, its columns scaled to norm 1.
  Matrix jac(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(np));
  r.df(x, jac);
  acting(pb, jac, m.value);
  for (std::size_t k = 0; k < np; ++k) jac.col(static_cast<Eigen::Index>(k)) /= scale[k];
  Vector norm = jac.colwise().norm().transpose();
  const Matrix unit = jac * norm.cwiseInverse().asDiagonal();
  Eigen::JacobiSVD<Matrix> svd(unit, Eigen::ComputeThinV);
  const Vector& sv = svd.singularValues();
  // Columns that are this close to dependent cannot be told apart by the
  // data: the differences of the model are no better than about 1e-10.
  constexpr double singular = 1e-8;
  if (sv[sv.size() - 1] < singular * sv[0]) {
    const Vector null = svd.matrixV().col(sv.size() - 1);
    std::string names;
    std::size_t count = 0;
    for (std::size_t k = 0; k < np; ++k)
      if (std::abs(null[static_cast<Eigen::Index>(k)]) > 0.1) {
        names += (count == 0 ? "" : ", ") + pb.vary.names[k];
        ++count;
      }
    throw common::Failure("the Jacobian is singular: the data cannot tell " + names + " apart");
  }
  // cov = s^2 (J^T J)^-1, s^2 = RSS / (n - p), from the SVD of the scaled J.
  const double s2 = m.rss / static_cast<double>(n - np);
  const Matrix& v = svd.matrixV();
  const Matrix inner = v * sv.cwiseAbs2().cwiseInverse().asDiagonal() * v.transpose();
  const Matrix cov = s2 * norm.cwiseInverse().asDiagonal() * inner * norm.cwiseInverse().asDiagonal();
  m.error.resize(np);
  m.correlation.assign(np, std::vector<double>(np));
  for (std::size_t a = 0; a < np; ++a) {
    const auto ia = static_cast<Eigen::Index>(a);
    m.error[a] = std::sqrt(cov(ia, ia));
    for (std::size_t b = 0; b < np; ++b) {
      const auto ib = static_cast<Eigen::Index>(b);
      m.correlation[a][b] = inner(ia, ib) / std::sqrt(inner(ia, ia) * inner(ib, ib));
    }
  }

  if (has_axial) {
    o.axial = true;
    std::size_t first = 0;
    while (!axial(pb.vary.names[first])) ++first;
    o.axial_name = pb.vary.names[first];
    o.best_positive = m.value[first] > 0.0;
    const std::size_t other = 1 - best;
    if (runs[other].converged) {
      o.other_rss = runs[other].rss;
      o.other_D = runs[other].x[static_cast<Eigen::Index>(first)] * scale[first];
      o.other_positive = o.other_D > 0.0;
    }
  }
  return o;
}

std::string report(const Problem& pb, const Outcome& o, const std::string& file) {
  const Minimum& m = o.best;
  const std::size_t np = m.value.size();
  const std::size_t n = pb.data.x.size();
  std::string out = "# dimermag fit of " + common::printable(file) + ": " +
                    quantity_name(pb.data.q) + " against " + abscissa_name(pb.data.q) + ", ";
  out += pb.dirs.size() == 1 ? "one field direction" :
         "powder average over " + std::to_string(pb.dirs.size()) + " directions";
  out += pb.data.q == Quantity::M ? ", T = " + shortest(pb.T) + " K\n" :
                                    ", B = " + shortest(pb.B) + " T\n";
  char line[160];
  std::snprintf(line, sizeof line, "%-10s %24s %24s\n", "parameter", "value", "standard error");
  out += line;
  for (std::size_t k = 0; k < np; ++k) {
    std::snprintf(line, sizeof line, "%-10s %24s %24s\n", pb.vary.names[k].c_str(),
                  shortest(m.value[k]).c_str(), fixed("%.6g", m.error[k]).c_str());
    out += line;
  }
  out += "residual sum of squares: " + shortest(m.rss) + "\n";
  out += "points: " + std::to_string(n) + ", parameters: " + std::to_string(np) +
         ", degrees of freedom: " + std::to_string(n - np) + "\n";
  out += "evaluations: " + std::to_string(m.evaluations) + "\n";
  out += "correlation matrix:\n";
  std::snprintf(line, sizeof line, "%-10s", "");
  out += line;
  for (std::size_t b = 0; b < np; ++b) {
    std::snprintf(line, sizeof line, " %8s", pb.vary.names[b].c_str());
    out += line;
  }
  out += "\n";
  for (std::size_t a = 0; a < np; ++a) {
    std::snprintf(line, sizeof line, "%-10s", pb.vary.names[a].c_str());
    out += line;
    for (std::size_t b = 0; b < np; ++b) out += fixed(" %8.4f", m.correlation[a][b]);
    out += "\n";
  }
  if (o.axial) {
    const std::string& d = o.axial_name;
    out += "minimum found: " + d + (o.best_positive ? " > 0" : " < 0");
    if (o.other_rss < 0.0) {
      out += " (the start with the other sign of " + d + " did not converge)\n";
    } else if (o.other_positive == o.best_positive) {
      out += " (both signs of " + d + " as starts end there)\n";
    } else {
      out += "; the minimum with " + d + (o.other_positive ? " > 0" : " < 0") +
             " has residual sum of squares " + shortest(o.other_rss) + " (" + d + " = " +
             fixed("%.6g", o.other_D) + ")\n";
    }
  }
  return out;
}

std::string curve_csv(const Problem& pb, const Outcome& o) {
  const std::string q = quantity_name(pb.data.q);
  std::string out = std::string(abscissa_name(pb.data.q)) + "," + q + "," + q + "_fit,residual\n";
  for (std::size_t k = 0; k < pb.data.x.size(); ++k)
    out += shortest(pb.data.x[k]) + "," + shortest(pb.data.y[k]) + "," +
           shortest(o.best.curve[k]) + "," + shortest(pb.data.y[k] - o.best.curve[k]) + "\n";
  return out;
}

std::string curve_svg(const Problem& pb, const Outcome& o, const std::string& file) {
  // Page and plot geometry in SVG user units (pixels).
  constexpr int width = 720, height = 520;
  constexpr int left = 90, right = 690, top = 40, bottom = 440;
  constexpr int ticks = 6;
  const std::vector<double>& x = pb.data.x;
  const std::vector<double>& y = pb.data.y;
  const std::vector<double>& f = o.best.curve;
  double xmin = x[0], xmax = x[0], ymin = y[0], ymax = y[0];
  for (std::size_t k = 0; k < x.size(); ++k) {
    xmin = std::min(xmin, x[k]), xmax = std::max(xmax, x[k]);
    ymin = std::min({ymin, y[k], f[k]}), ymax = std::max({ymax, y[k], f[k]});
  }
  const dimerplot::Axis ax = dimerplot::nice_axis(xmin, xmax, ticks);
  const dimerplot::Axis ay = dimerplot::nice_axis(ymin, ymax, ticks);
  auto px = [&](double v) { return static_cast<double>(left + (v - ax.lo) / (ax.hi - ax.lo) * (right - left)); };
  auto py = [&](double v) { return static_cast<double>(bottom - (v - ay.lo) / (ay.hi - ay.lo) * (bottom - top)); };
  char t[256];
  std::string out;
  std::snprintf(t, sizeof t,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"12\">\n",
                width, height, width, height);
  out += t;
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  std::snprintf(t, sizeof t, "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"none\" stroke=\"black\"/>\n",
                left, top, right - left, bottom - top);
  out += t;
  for (long double v : ax.ticks) {
    const double xx = px(static_cast<double>(v));
    std::snprintf(t, sizeof t, "<line x1=\"%.2f\" y1=\"%d\" x2=\"%.2f\" y2=\"%d\" stroke=\"black\"/>"
                  "<text x=\"%.2f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n",
                  xx, bottom, xx, bottom + 5, xx, bottom + 20, dimerplot::tick_label(v, ax.step).c_str());
    out += t;
  }
  for (long double v : ay.ticks) {
    const double yy = py(static_cast<double>(v));
    std::snprintf(t, sizeof t, "<line x1=\"%d\" y1=\"%.2f\" x2=\"%d\" y2=\"%.2f\" stroke=\"black\"/>"
                  "<text x=\"%d\" y=\"%.2f\" text-anchor=\"end\">%s</text>\n",
                  left - 5, yy, left, yy, left - 8, yy + 4, dimerplot::tick_label(v, ay.step).c_str());
    out += t;
  }
  const bool M = pb.data.q == Quantity::M;
  const char* xlabel = M ? "B / T" : "T / K";
  const char* ylabel = M ? "M / \u03bcB per pair" :
                       pb.data.q == Quantity::chiT ? "\u03c7T / cm\u00b3 K mol\u207b\u00b9" :
                                                     "\u03c7 / cm\u00b3 mol\u207b\u00b9";
  std::snprintf(t, sizeof t, "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%s</text>\n",
                (left + right) / 2, bottom + 40, xlabel);
  out += t;
  std::snprintf(t, sizeof t,
                "<text x=\"20\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 20 %d)\">%s</text>\n",
                (top + bottom) / 2, (top + bottom) / 2, ylabel);
  out += t;
  // The data as open circles, the fit as a line through the model at the
  // data's abscissae, in their order.
  for (std::size_t k = 0; k < x.size(); ++k) {
    std::snprintf(t, sizeof t, "<circle class=\"data\" cx=\"%.2f\" cy=\"%.2f\" r=\"3\" fill=\"none\" stroke=\"#1f77b4\"/>\n",
                  px(x[k]), py(y[k]));
    out += t;
  }
  std::vector<std::size_t> order(x.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
  out += "<polyline class=\"fit\" fill=\"none\" stroke=\"#d62728\" stroke-width=\"1.5\" points=\"";
  for (std::size_t k : order) {
    std::snprintf(t, sizeof t, "%.2f,%.2f ", px(x[k]), py(f[k]));
    out += t;
  }
  out += "\"/>\n";
  // Legend (bottom right, where rising curves leave room) and note.
  std::snprintf(t, sizeof t,
                "<circle cx=\"%d\" cy=\"%d\" r=\"3\" fill=\"none\" stroke=\"#1f77b4\"/><text x=\"%d\" y=\"%d\">data</text>\n"
                "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#d62728\" stroke-width=\"1.5\"/><text x=\"%d\" y=\"%d\">fit</text>\n",
                right - 90, bottom - 42, right - 78, bottom - 38, right - 96, bottom - 22, right - 84,
                bottom - 22, right - 78, bottom - 18);
  out += t;
  std::string note = common::printable(file) + ":";
  for (std::size_t k = 0; k < o.best.value.size(); ++k)
    note += (k == 0 ? " " : "; ") + pb.vary.names[k] + " = " + fixed("%.6g", o.best.value[k]) +
            " \u00b1 " + fixed("%.2g", o.best.error[k]);
  std::string escaped;
  for (char c : note) {
    if (c == '&') escaped += "&amp;";
    else if (c == '<') escaped += "&lt;";
    else if (c == '>') escaped += "&gt;";
    else escaped += c;
  }
  std::snprintf(t, sizeof t, "<text x=\"%d\" y=\"%d\">", left, height - 30);
  out += t;
  out += escaped;
  out += "</text>\n</svg>\n";
  return out;
}

}  // namespace mag
