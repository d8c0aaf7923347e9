#include "epr.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>

#include "common/files.hpp"

namespace epr {

namespace {

using cplx = std::complex<double>;
using Levels = std::array<double, model::n>;

// The 120 pairs i < j of levels (indices from 0), and a set of them.
struct Pairs {
  std::array<int, 120> i{}, j{};
  Pairs() {
    int k = 0;
    for (int a = 0; a < model::n; ++a)
      for (int b = a + 1; b < model::n; ++b) i[k] = a, j[k] = b, ++k;
  }
};
const Pairs pairs;

struct PairSet {
  std::uint64_t w[2] = {0, 0};
  void add(int k) { w[k >> 6] |= std::uint64_t{1} << (k & 63); }
  bool empty() const { return (w[0] | w[1]) == 0; }
  static PairSet all() {
    PairSet s;
    for (int k = 0; k < 120; ++k) s.add(k);
    return s;
  }
  template <class F>
  void each(F f) const {
    for (int h = 0; h < 2; ++h)
      for (std::uint64_t m = w[h]; m != 0; m &= m - 1) f(h * 64 + std::countr_zero(m));
  }
};

// A bracket of one pair's resonance: f(a) and f(b) of opposite signs, or an
// interval where its difference may touch h nu.
struct Interval {
  int pair;
  double a, fa, b, fb;
};

// Bracketing stops at intervals this wide (T); a narrower interval of the
// grid is one interval of the search.
constexpr double finest_bracket = 1e-3;
// The first intervals of the search are about this wide (T).
constexpr double first_bracket = 0.0128;
// Roots are refined until their bracket is this narrow (T).
constexpr double root_width = 1e-10;
constexpr int max_iterations = 200;
// A transition this weak (cm-2 T-2; an allowed one is about 0.1) is forbidden.
constexpr double min_probability = 1e-20;

class Search {
 public:
  Search(const Experiment& x, double theta, double phi, Work* work)
      : x_(x), theta_(theta), phi_(phi), work_(work) {
    const double t = theta * std::numbers::pi / 180.0, f = phi * std::numbers::pi / 180.0;
    const std::array<double, 3> u = model::direction(theta, phi);
    // Two unit vectors perpendicular to the field and to each other.
    const std::array<double, 3> e1{std::cos(t) * std::cos(f), std::cos(t) * std::sin(f), -std::sin(t)};
    const std::array<double, 3> e2{-std::sin(f), std::cos(f), 0.0};
    h0_ = model::zero_field(x.p);
    zu_ = model::zeeman(x.p, u);
    z1_ = model::zeeman(x.p, e1);
    z2_ = model::zeeman(x.p, e2);
    hnu_ = x.ghz / ghz_per_wavenumber;
    // d(E_j - E_i)/dB = <j|Z|j> - <i|Z|i> lies within the spread of Z's
    // eigenvalues (Weyl): the Lipschitz constant of every difference.
    Levels z{};
    if (model::energies(zu_, z) != 0) throw common::Failure("the Zeeman operator could not be diagonalised");
    lipschitz_ = z.back() - z.front();
  }

  std::vector<Line> run() {
    const Grid& g = x_.grid;
    fine_ = finest_bracket * (1.0 + 1e-9);
    const std::int64_t block = std::max<std::int64_t>(1, std::llround(first_bracket / g.step));
    std::int64_t k = 1;
    Levels ea = energies(g.at(1));
    while (k < g.count) {
      const std::int64_t next = std::min(k + block, g.count);
      const double a = g.at(k), b = g.at(next);
      Levels eb = energies(b);
      search(a, ea, b, eb, PairSet::all());
      ea = eb;
      k = next;
    }
    // A difference that comes near h nu in the intervals next to its own
    // root, one after another, is going to or coming from that root.
    std::sort(touches_.begin(), touches_.end(), [](const Interval& a, const Interval& b) {
      return a.pair != b.pair ? a.pair < b.pair : a.a < b.a;
    });
    std::vector<char> beside(touches_.size(), 0);
    for (const Interval& r : brackets_) {
      auto first = std::lower_bound(touches_.begin(), touches_.end(), r, [](const Interval& t, const Interval& r) {
        return t.pair != r.pair ? t.pair < r.pair : t.a < r.a;
      });
      // Down from the root, then up.
      double edge = r.a;
      for (auto it = first; it != touches_.begin() && std::prev(it)->pair == r.pair && std::prev(it)->b == edge;) {
        --it;
        beside[it - touches_.begin()] = 1;
        edge = it->a;
      }
      edge = r.b;
      for (auto it = first; it != touches_.end() && it->pair == r.pair && it->a == edge; ++it) {
        beside[it - touches_.begin()] = 1;
        edge = it->b;
      }
    }
    for (std::size_t k = 0; k < touches_.size(); ++k)
      if (!beside[k]) touch(touches_[k]);
    for (const Interval& r : brackets_) resonance(r.pair, refine(r));
    std::sort(lines_.begin(), lines_.end(), [](const Line& a, const Line& b) {
      return a.B != b.B ? a.B < b.B : a.lower != b.lower ? a.lower < b.lower : a.upper < b.upper;
    });
    // A line between degenerate levels is found once for each pair of them.
    std::vector<Line> out;
    for (const Line& l : lines_) {
      bool seen = false;
      for (auto it = out.rbegin(); it != out.rend() && l.B - it->B <= field_tolerance; ++it)
        if (it->lower == l.lower && it->upper == l.upper) seen = true;
      if (!seen) out.push_back(l);
    }
    return out;
  }

 private:
  model::Matrix at(double B) const {
    model::Matrix h = h0_;
    for (int i = 0; i < model::n * model::n; ++i) {
      h.re[i] += B * zu_.re[i];
      h.im[i] += B * zu_.im[i];
    }
    return h;
  }

  Levels energies(double B) {
    Levels e{};
    if (work_) ++work_->energies;
    if (model::energies(at(B), e) != 0) fail(B);
    return e;
  }

  model::Spectrum states(double B) {
    if (work_) ++work_->vectors;
    model::Spectrum s = model::solve(at(B), model::direction(theta_, phi_));
    if (s.ierr != 0) fail(B);
    return s;
  }

  [[noreturn]] static void fail(double B) {
    throw common::Failure("the levels at B = " + std::to_string(B) +
                          " T could not be computed: an eigenvalue did not converge");
  }

  double f(const Levels& e, int pair) const { return e[pairs.j[pair]] - e[pairs.i[pair]] - hnu_; }

  // The pairs whose difference crosses h nu in [a, b], or may: a difference
  // of one sign at both ends is clear of h nu when |f(a)| + |f(b)| exceeds
  // the most its slope allows over the interval.
  void search(double a, const Levels& ea, double b, const Levels& eb, PairSet todo) {
    const double h = b - a;
    const bool fine = h <= fine_;
    // A margin for the rounding of the energies.
    const double reach = lipschitz_ * h * (1.0 + 1e-9) + 1e-12 * (1.0 + hnu_);
    PairSet split;
    todo.each([&](int p) {
      const double fa = f(ea, p), fb = f(eb, p);
      if ((fa < 0) != (fb < 0)) {
        if (fine) brackets_.push_back({p, a, fa, b, fb});
        else split.add(p);
      } else if (std::fabs(fa) + std::fabs(fb) <= reach) {
        if (fine) touches_.push_back({p, a, fa, b, fb});
        else split.add(p);
      }
    });
    if (split.empty()) return;
    const double m = a + 0.5 * h;
    const Levels em = energies(m);
    search(a, ea, m, em, split);
    search(m, em, b, eb, split);
  }

  double slope(const model::Spectrum& s, int pair) const {
    return model::element(s.states[pairs.j[pair]].v, zu_, s.states[pairs.j[pair]].v).real() -
           model::element(s.states[pairs.i[pair]].v, zu_, s.states[pairs.i[pair]].v).real();
  }

  // The pair's slope at B; the slopes of all levels at the ends of the
  // intervals are kept, since neighbouring intervals share them.
  double slope_at(double B, int pair) {
    auto it = slopes_.find(B);
    if (it == slopes_.end()) {
      const model::Spectrum s = states(B);
      Levels d{};
      for (int k = 0; k < model::n; ++k) d[k] = model::element(s.states[k].v, zu_, s.states[k].v).real();
      it = slopes_.emplace(B, d).first;
    }
    return it->second[pairs.j[pair]] - it->second[pairs.i[pair]];
  }

  // An interval of one grid step where a pair's difference keeps its sign
  // but comes near h nu: its slopes at the ends show whether it turns back
  // inside; where it does, the turning point decides: the difference
  // crosses h nu there (two roots), touches it (a double root), or stays
  // clear.
  void touch(const Interval& t) {
    const double sign = t.fa < 0 ? -1.0 : 1.0;  // f = sign |f|
    // g = sign x slope: negative then positive at a turning point towards h nu.
    double a = t.a, b = t.b;
    double ga = sign * slope_at(a, t.pair), gb = sign * slope_at(b, t.pair);
    if (!(ga < 0 && gb > 0)) return;
    for (int it = 0; it < max_iterations && b - a > root_width; ++it) {
      const double m = a + 0.5 * (b - a);
      const double gm = sign * slope(states(m), t.pair);
      if (gm < 0) a = m, ga = gm;
      else b = m, gb = gm;
    }
    const double m = a + 0.5 * (b - a);
    const Levels em = energies(m);
    const double fm = f(em, t.pair);
    if ((fm < 0) != (t.fa < 0)) {
      resonance(t.pair, refine({t.pair, t.a, t.fa, m, fm}));
      resonance(t.pair, refine({t.pair, m, fm, t.b, t.fb}));
    } else if (std::fabs(fm) <= 1e-12 * (1.0 + std::fabs(em.front()) + std::fabs(em.back()))) {
      resonance(t.pair, m, true);
    }
  }

  // The root of a bracket, by regula falsi with the Illinois halving.
  double refine(Interval r) {
    double a = r.a, fa = r.fa, b = r.b, fb = r.fb;
    for (int it = 0; it < max_iterations && std::fabs(b - a) > root_width; ++it) {
      double x = b - fb * (b - a) / (fb - fa);
      const double lo = std::min(a, b), hi = std::max(a, b);
      if (!(x > lo && x < hi)) x = lo + 0.5 * (hi - lo);
      const double fx = f(energies(x), r.pair);
      if (fx == 0) return x;
      if ((fx < 0) != (fb < 0)) {
        a = b;
        fa = fb;
      } else {
        fa *= 0.5;
      }
      b = x;
      fb = fx;
    }
    return std::fabs(fa) < std::fabs(fb) ? a : b;
  }

  // The line of a pair at its resonance field B.
  void resonance(int pair, double B, bool looping = false) {
    const model::Spectrum s = states(B);
    const int i = pairs.i[pair], j = pairs.j[pair];
    // The levels degenerate with i and with j, to the rounding of the energies.
    const double tol = 1e-9 * (1.0 + std::fabs(s.states.front().energy) + std::fabs(s.states.back().energy));
    auto cluster = [&](int k, int& lo, int& hi) {
      lo = hi = k;
      while (lo > 0 && s.states[k].energy - s.states[lo - 1].energy <= tol) --lo;
      while (hi < model::n - 1 && s.states[hi + 1].energy - s.states[k].energy <= tol) ++hi;
    };
    int ilo, ihi, jlo, jhi;
    cluster(i, ilo, ihi);
    cluster(j, jlo, jhi);
    // Populations at T, Boltzmann over all sixteen levels.
    std::array<double, model::n> p{};
    double sum = 0.0;
    for (int k = 0; k < model::n; ++k)
      sum += p[k] = std::exp(-(s.states[k].energy - s.states[0].energy) / (k_B * x_.T));
    for (double& v : p) v /= sum;
    double strength = 0.0, probability = 0.0;
    for (int a = ilo; a <= ihi; ++a)
      for (int b = jlo; b <= jhi; ++b) {
        double w;
        if (x_.mode == Mode::parallel) {
          w = std::norm(model::element(s.states[a].v, zu_, s.states[b].v));
        } else {
          // The mean over the directions of b1 perpendicular to the field.
          w = 0.5 * (std::norm(model::element(s.states[a].v, z1_, s.states[b].v)) +
                     std::norm(model::element(s.states[a].v, z2_, s.states[b].v)));
        }
        strength += w * (p[a] - p[b]);
        probability += w;
      }
    if (probability < min_probability) return;
    Line l;
    l.B = B;
    l.lower = ilo + 1;
    l.upper = jlo + 1;
    l.intensity = looping ? std::numeric_limits<double>::infinity() : strength / std::fabs(slope(s, pair));
    l.theta = theta_;
    l.phi = phi_;
    lines_.push_back(l);
  }

  const Experiment& x_;
  double theta_, phi_;
  Work* work_;
  model::Matrix h0_, zu_, z1_, z2_;
  double hnu_ = 0.0, lipschitz_ = 0.0, fine_ = 0.0;
  std::vector<Interval> brackets_, touches_;
  std::vector<Line> lines_;
  std::map<double, Levels> slopes_;
};

}  // namespace

bool Line::looping() const { return std::isinf(intensity); }

std::vector<Line> find_lines(const Experiment& x, double theta, double phi, Work* work) {
  return Search(x, theta, phi, work).run();
}

namespace {

// The shape's half width and its function: area 1 in mT.
struct Profile {
  Shape shape;
  double width;  // sigma of the Gaussian, or the half width at half height of the Lorentzian
  explicit Profile(Shape s, double lw) : shape(s) {
    // Peak to peak of the derivative: 2 sigma, or 2 Gamma / sqrt(3).
    width = s == Shape::gauss ? 0.5 * lw : 0.5 * std::sqrt(3.0) * lw;
  }
  // The absorption a and its derivative d at offset x (mT) from the centre.
  void at(double x, double& a, double& d) const {
    if (shape == Shape::gauss) {
      a = std::exp(-0.5 * (x / width) * (x / width)) / (width * std::sqrt(2.0 * std::numbers::pi));
      d = -x / (width * width) * a;
    } else {
      const double q = x * x + width * width;
      a = width / std::numbers::pi / q;
      d = -2.0 * x / q * a;
    }
  }
};

// A Gaussian is negligible beyond this many sigma (exp(-72) ~ 5e-32).
constexpr double gauss_reach = 12.0;

}  // namespace

void broaden(const std::vector<Line>& lines, double weight, const Grid& g, Shape shape,
             double lw_mT, Spectrum& s) {
  s.absorption.resize(static_cast<std::size_t>(g.count), 0.0);
  s.derivative.resize(static_cast<std::size_t>(g.count), 0.0);
  const Profile prof(shape, lw_mT);
  const double from = g.from * 1e3, step = g.step * 1e3;
  for (const Line& l : lines) {
    if (l.looping()) continue;
    const double c = l.B * 1e3, amount = weight * l.intensity;
    std::int64_t k0 = 1, k1 = g.count;
    if (shape == Shape::gauss) {
      const double reach = gauss_reach * prof.width;
      k0 = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::floor((c - reach - from) / step)) + 1);
      k1 = std::min<std::int64_t>(g.count, static_cast<std::int64_t>(std::ceil((c + reach - from) / step)) + 1);
    }
    for (std::int64_t k = k0; k <= k1; ++k) {
      double a, d;
      prof.at(g.at(k) * 1e3 - c, a, d);
      s.absorption[k - 1] += amount * a;
      s.derivative[k - 1] += amount * d;
    }
  }
}

namespace {

// A line at one node of the powder grid, named by its levels and by its
// place among the lines of those levels (a pair may resonate more than once).
struct Keyed {
  int lower, upper, occurrence;
  double B, intensity;
  bool operator<(const Keyed& o) const {
    return lower != o.lower ? lower < o.lower : upper != o.upper ? upper < o.upper : occurrence < o.occurrence;
  }
  bool same(const Keyed& o) const { return !(*this < o) && !(o < *this); }
};

std::vector<Keyed> keyed(const std::vector<Line>& lines) {
  std::vector<Keyed> k;
  for (const Line& l : lines)
    if (!l.looping()) k.push_back({l.lower, l.upper, 0, l.B, l.intensity});
  std::stable_sort(k.begin(), k.end());  // lines come ascending in B
  for (std::size_t i = 1; i < k.size(); ++i)
    if (k[i].lower == k[i - 1].lower && k[i].upper == k[i - 1].upper) k[i].occurrence = k[i - 1].occurrence + 1;
  return k;
}

// Sticks on the field grid: each split between its two nearest fields so
// that its area and its mean field are kept.
void stick(std::vector<double>& bins, const Grid& g, double B, double amount) {
  const double t = (B - g.from) / g.step;
  if (!(t >= 0.0 && t <= static_cast<double>(g.count - 1))) {
    // Beyond the grid: its share goes to the end it lies at.
    if (t < 0.0 && t > -1.0) bins.front() += amount * (1.0 + t);
    if (t > static_cast<double>(g.count - 1) && t < static_cast<double>(g.count)) bins.back() += amount * (g.count - t);
    return;
  }
  const auto k = std::min(static_cast<std::int64_t>(t), g.count - 2 < 0 ? 0 : g.count - 2);
  const double f = t - static_cast<double>(k);
  bins[k] += amount * (1.0 - f);
  if (f > 0.0) bins[k + 1] += amount * f;
}

}  // namespace

Spectrum powder(const Experiment& x, Shape shape, double lw_mT, const PowderGrid& q,
                std::vector<Line>* lines, Work* work) {
  const Grid& g = x.grid;
  // The lines at every node (i, j): cos(theta) = i / cells, phi = 90 j / cells.
  const int n = q.cells;
  std::vector<std::vector<Keyed>> at(static_cast<std::size_t>((n + 1) * (n + 1)));
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) {
      const double c = static_cast<double>(i) / n;
      const double theta = std::acos(c) * 180.0 / std::numbers::pi, phi = 90.0 * j / n;
      const std::vector<Line> l = find_lines(x, theta, phi, work);
      at[i * (n + 1) + j] = keyed(l);
      if (lines) lines->insert(lines->end(), l.begin(), l.end());
    }
  std::vector<double> bins(static_cast<std::size_t>(g.count), 0.0);
  const int s = q.split;
  const double cell = 1.0 / (static_cast<double>(n) * n);  // a cell's share of the octant
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const std::vector<Keyed>* corner[4] = {&at[i * (n + 1) + j], &at[(i + 1) * (n + 1) + j],
                                             &at[i * (n + 1) + j + 1], &at[(i + 1) * (n + 1) + j + 1]};
      // Every line of the four corners, once.
      std::vector<Keyed> keys;
      for (const auto* c : corner) keys.insert(keys.end(), c->begin(), c->end());
      std::sort(keys.begin(), keys.end());
      keys.erase(std::unique(keys.begin(), keys.end(), [](const Keyed& a, const Keyed& b) { return a.same(b); }),
                 keys.end());
      for (const Keyed& key : keys) {
        const Keyed* v[4] = {};
        int found = 0;
        for (int c = 0; c < 4; ++c) {
          auto it = std::lower_bound(corner[c]->begin(), corner[c]->end(), key);
          if (it != corner[c]->end() && it->same(key)) v[c] = &*it, ++found;
        }
        if (found < 4) {
          // A line that does not reach every corner is kept at the corners it has.
          for (int c = 0; c < 4; ++c)
            if (v[c]) stick(bins, g, v[c]->B, 0.25 * cell * v[c]->intensity);
          continue;
        }
        // The line over the cell: field and intensity bilinear between the
        // corners, at the centres of s x s sub-cells.
        for (int a = 0; a < s; ++a)
          for (int b = 0; b < s; ++b) {
            const double u = (a + 0.5) / s, w = (b + 0.5) / s;
            const double k[4] = {(1 - u) * (1 - w), u * (1 - w), (1 - u) * w, u * w};
            double B = 0.0, I = 0.0;
            for (int c = 0; c < 4; ++c) B += k[c] * v[c]->B, I += k[c] * v[c]->intensity;
            stick(bins, g, B, cell / (s * s) * I);
          }
      }
    }
  // The sticks convolved with the line shape.
  Spectrum out;
  out.absorption.assign(bins.size(), 0.0);
  out.derivative.assign(bins.size(), 0.0);
  const Profile prof(shape, lw_mT);
  const double step = g.step * 1e3;
  const std::int64_t reach = shape == Shape::gauss
                                 ? std::min<std::int64_t>(g.count - 1, static_cast<std::int64_t>(std::ceil(gauss_reach * prof.width / step)))
                                 : g.count - 1;
  std::vector<double> ka(static_cast<std::size_t>(2 * reach + 1)), kd(ka.size());
  for (std::int64_t d = -reach; d <= reach; ++d) prof.at(static_cast<double>(d) * step, ka[d + reach], kd[d + reach]);
  for (std::int64_t m = 0; m < g.count; ++m) {
    if (bins[m] == 0.0) continue;
    const std::int64_t lo = std::max<std::int64_t>(0, m - reach), hi = std::min(g.count - 1, m + reach);
    for (std::int64_t k = lo; k <= hi; ++k) {
      out.absorption[k] += bins[m] * ka[k - m + reach];
      out.derivative[k] += bins[m] * kd[k - m + reach];
    }
  }
  return out;
}

}  // namespace epr
