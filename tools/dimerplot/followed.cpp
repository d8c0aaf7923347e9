#include "followed.hpp"

#include <cmath>
#include <cstdio>

#include "model/pass_rule.hpp"
#include "sweep/hamiltonian.hpp"
#include "states.hpp"

namespace dimerplot {

namespace {

// Levels that differ by less than this fraction of the pass's largest level
// are the same up to rounding.
constexpr double rounding = 1e-12;

// A hair over one unit, for the decimal-to-binary rounding of the record.
constexpr double unit_margin = 1.0 + 1e-9;

// One unit of the sixth significant digit of an E12.6 value v = 0.dddddd x
// 10^e: 10^(e - 6); 0 for 0.
double sixth_digit_unit(double v) {
  if (v == 0.0 || !std::isfinite(v)) return 0.0;
  // 0.1 <= |v| / 10^e < 1; log10 may land a hair off at a power of ten, so
  // the exponent is settled against the value itself.
  int e = static_cast<int>(std::floor(std::log10(std::fabs(v)))) + 1;
  if (std::fabs(v) >= std::pow(10.0, e)) ++e;
  else if (std::fabs(v) < std::pow(10.0, e - 1)) --e;
  return std::pow(10.0, e - 6);
}

std::string show(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

std::string more(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", v);
  return text;
}

// dH/dD1 of the sweep (D2 = D1, Ei = D1 x ratio i): the Hamiltonian is linear
// in D1, so this is H at D1 = 1 less H at D1 = 0.
struct Slope {
  double ar[sweep::n_states * sweep::n_states], ai[sweep::n_states * sweep::n_states];
  explicit Slope(const SweepParameters& p) {
    constexpr int n = sweep::n_states;
    double br[n * n], bi[n * n], w[n];
    const passes::PassTerms one = passes::pass_terms(1.0, p.ratio1, p.ratio2);
    sweep::build_spin_hamiltonian(p.J, 1.0, one.D2, one.E1, one.E2, ar, ai, w);
    sweep::build_spin_hamiltonian(p.J, 0.0, 0.0, 0.0, 0.0, br, bi, w);
    for (int k = 0; k < n * n; ++k) {
      ar[k] -= br[k];
      ai[k] -= bi[k];
    }
  }
  // <c| dH/dD1 |c>, the slope of the level of eigenvector c.
  double of(const states::Level& l) const {
    constexpr int n = sweep::n_states;
    double sum = 0.0;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const double hr = ar[j * n + i], hi = ai[j * n + i];
        // Re(conj(c_i) h_ij c_j)
        sum += (l.re[i] * l.re[j] + l.im[i] * l.im[j]) * hr -
               (l.re[i] * l.im[j] - l.im[i] * l.re[j]) * hi;
      }
    return sum;
  }
};

}  // namespace

bool agrees(double w, double r, double d1, double scale, double slope) {
  const double diff = std::fabs(w - r);
  if (diff <= sixth_digit_unit(r) * unit_margin || diff <= rounding * scale) return true;
  // D1 itself is known to half a unit of its sixth digit.
  return diff <= sixth_digit_unit(r) * unit_margin + std::fabs(slope) * 0.5 *
                                                         sixth_digit_unit(d1) * unit_margin;
}

struct PassFollower::Impl {
  SweepParameters p;
  std::string file;
  Slope slope;
  states::Follower follow;
};

PassFollower::PassFollower(const SweepParameters& p, const std::string& levels_file)
    : impl_(std::make_unique<Impl>(Impl{p, levels_file, Slope(p), states::Follower()})) {}

PassFollower::~PassFollower() = default;

void PassFollower::next(std::size_t pass, double d1, const std::array<double, levels>& level,
                        State& out) {
  const SweepParameters& p = impl_->p;
  const std::string& levels_file = impl_->file;
  const std::size_t first_line = pass * levels + 1;
  states::Spectrum sp = states::compute({p.J, d1, p.ratio1, p.ratio2});
  if (sp.ierr != 0)
    throw InputError(levels_file, first_line,
                     "the levels of D1 = " + show(d1) + " cannot be computed: eigenvalue " +
                         std::to_string(sp.ierr) + " did not converge in 30 iterations");
  const double scale =
      std::fmax(std::fabs(sp.levels[0].energy), std::fabs(sp.levels[levels - 1].energy));
  for (int j = 0; j < levels; ++j) {
    const double w = sp.levels[j].energy, r = level[j];
    const double diff = std::fabs(w - r);
    // The slope is needed only where the plain test fails.
    // A unit of the sixth digit lies between 1e-6 and 1e-5 of the value.
    if (diff <= std::fabs(r) * 1e-6 || diff <= rounding * scale) continue;
    if (std::isfinite(r) && agrees(w, r, d1, scale, impl_->slope.of(sp.levels[j]))) continue;
    char text[160];
    std::snprintf(text, sizeof text, "with J = %g, ratio1 = %g, ratio2 = %g", p.J, p.ratio1,
                  p.ratio2);
    throw InputError(levels_file, first_line + j,
                     "level " + std::to_string(j + 1) + " of D1 = " + show(d1) + " is " +
                         show(r) + ", but " + more(w) + " " + text +
                         ": these are not the sweep's parameters");
  }
  const std::array<int, levels> level_of = impl_->follow.next(sp);
  for (int k = 0; k < levels; ++k) {
    const int j = level_of[k];
    out.level[k] = j;
    out.spin[k] = sp.levels[j].spin;
    out.weights[k] = sp.levels[j].spin_weight;
  }
}

Followed follow_sweep(const Sweep& s, const SweepParameters& p, const std::string& levels_file) {
  const std::size_t passes = s.passes();
  Followed f;
  for (int k = 0; k < levels; ++k) {
    f.level[k].resize(passes);
    f.energy[k].resize(passes);
    f.spin[k].resize(passes);
    f.weights[k].resize(passes);
  }
  PassFollower follow(p, levels_file);
  PassFollower::State st;
  for (std::size_t pass = 0; pass < passes; ++pass) {
    std::array<double, levels> level{};
    for (int j = 0; j < levels; ++j) level[j] = s.level[j][pass];
    follow.next(pass, s.d1[pass], level, st);
    for (int k = 0; k < levels; ++k) {
      const int j = st.level[k];
      f.level[k][pass] = j;
      f.energy[k][pass] = level[j];
      f.spin[k][pass] = st.spin[k];
      f.weights[k][pass] = st.weights[k];
    }
  }
  return f;
}

}  // namespace dimerplot
