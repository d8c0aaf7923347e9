#include "epr.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <numbers>

#include "common/files.hpp"
#include "eigen/order16/order16.hpp"

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
    // The first intervals: every block-th field of the grid and the last.
    std::vector<double> fields;
    for (std::int64_t k = 1; k < g.count; k += block) fields.push_back(g.at(k));
    fields.push_back(g.last());
    std::vector<Levels> e(fields.size());
    energies(fields.data(), fields.size(), e.data());
    std::vector<Pending> level;
    for (std::size_t k = 0; k + 1 < fields.size(); ++k)
      level.push_back({fields[k], fields[k + 1], e[k], e[k + 1], PairSet::all()});
    // Interval by interval, level by level: the midpoints of one level are
    // diagonalised together.
    while (!level.empty()) {
      std::vector<Pending> next;
      std::vector<double> mid;
      for (const Pending& q : level) {
        const PairSet split = classify(q);
        if (split.empty()) continue;
        mid.push_back(q.a + 0.5 * (q.b - q.a));
        next.push_back({q.a, mid.back(), q.ea, {}, split});
        next.push_back({mid.back(), q.b, {}, q.eb, split});
      }
      std::vector<Levels> em(mid.size());
      energies(mid.data(), mid.size(), em.data());
      for (std::size_t k = 0; k < mid.size(); ++k) next[2 * k].eb = next[2 * k + 1].ea = em[k];
      level = std::move(next);
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
    refine_all(brackets_);
    resonances();
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

  // The energies at count fields, eight diagonalisations at a time.
  void energies(const double* B, std::size_t count, Levels* out) {
    if (work_) work_->energies += static_cast<std::int64_t>(count);
    solve(0, B, count, out, nullptr);
  }

  Levels energies(double B) {
    Levels e{};
    energies(&B, 1, &e);
    return e;
  }

  // The eigenvalues, and with vectors != nullptr the normalised eigenvectors
  // ([k][level][component]), of H at each of count fields.
  using Vectors = std::array<std::array<cplx, model::n>, model::n>;
  void solve(int matz, const double* B, std::size_t count, Levels* w, Vectors* vectors) {
    constexpr int batch = eigen::order16::batch;
    static eigen::order16::Workspace work;  // the batches' work arrays, one for the run
    std::array<model::Matrix, batch> h;
    double zr[batch][model::n * model::n], zi[batch][model::n * model::n];
    double fv1[batch][model::n] = {}, fv2[batch][model::n] = {}, fm1[batch][2 * model::n] = {};
    int ierr[batch];
    eigen::order16::Call calls[batch];
    for (std::size_t s = 0; s < count; s += batch) {
      const int m = static_cast<int>(std::min<std::size_t>(batch, count - s));
      for (int b = 0; b < m; ++b) {
        h[b] = at(B[s + b]);
        calls[b] = {h[b].re.data(), h[b].im.data(), w[s + b].data(), zr[b], zi[b], fv1[b], fv2[b], fm1[b], &ierr[b]};
      }
      eigen::order16::solve(eigen::order16::widest(), matz, calls, m,
                            matz ? eigen::order16::Reads::all : eigen::order16::Reads::values, work);
      for (int b = 0; b < m; ++b) {
        if (ierr[b] != 0) fail(B[s + b]);
        if (!vectors) continue;
        for (int j = 0; j < model::n; ++j) {
          auto& v = vectors[s + b][j];
          double norm = 0.0;
          for (int r = 0; r < model::n; ++r) {
            v[r] = cplx(zr[b][j * model::n + r], zi[b][j * model::n + r]);
            norm += std::norm(v[r]);
          }
          const double f = 1.0 / std::sqrt(norm);
          for (auto& c : v) c *= f;
        }
      }
    }
  }

  struct States {
    Levels w;
    Vectors v;
  };
  States states(double B) {
    if (work_) ++work_->vectors;
    States st;
    solve(1, &B, 1, &st.w, &st.v);
    return st;
  }

  [[noreturn]] static void fail(double B) {
    throw common::Failure("the levels at B = " + std::to_string(B) +
                          " T could not be computed: an eigenvalue did not converge");
  }

  double f(const Levels& e, int pair) const { return e[pairs.j[pair]] - e[pairs.i[pair]] - hnu_; }

  // The pairs whose difference crosses h nu in [a, b], or may: a difference
  // of one sign at both ends is clear of h nu when |f(a)| + |f(b)| exceeds
  // the most its slope allows over the interval. Returns the pairs whose
  // interval is to be halved.
  struct Pending {
    double a, b;
    Levels ea, eb;
    PairSet todo;
  };
  PairSet classify(const Pending& q) {
    const double h = q.b - q.a;
    const bool fine = h <= fine_;
    // A margin for the rounding of the energies.
    const double reach = lipschitz_ * h * (1.0 + 1e-9) + 1e-12 * (1.0 + hnu_);
    PairSet split;
    q.todo.each([&](int p) {
      const double fa = f(q.ea, p), fb = f(q.eb, p);
      if ((fa < 0) != (fb < 0)) {
        if (fine) brackets_.push_back({p, q.a, fa, q.b, fb});
        else split.add(p);
      } else if (std::fabs(fa) + std::fabs(fb) <= reach) {
        if (fine) touches_.push_back({p, q.a, fa, q.b, fb});
        else split.add(p);
      }
    });
    return split;
  }

  double diagonal(const std::array<cplx, model::n>& v) const { return model::element(v, zu_, v).real(); }
  double slope(const States& s, int pair) const {
    return diagonal(s.v[pairs.j[pair]]) - diagonal(s.v[pairs.i[pair]]);
  }

  // The pair's slope at B; the slopes of all levels at the ends of the
  // intervals are kept, since neighbouring intervals share them.
  double slope_at(double B, int pair) {
    auto it = slopes_.find(B);
    if (it == slopes_.end()) {
      const States s = states(B);
      Levels d{};
      for (int k = 0; k < model::n; ++k) d[k] = diagonal(s.v[k]);
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
    const double ga = sign * slope_at(a, t.pair), gb = sign * slope_at(b, t.pair);
    if (!(ga < 0 && gb > 0)) return;
    for (int it = 0; it < max_iterations && b - a > root_width; ++it) {
      const double m = a + 0.5 * (b - a);
      const double gm = sign * slope(states(m), t.pair);
      if (gm < 0) a = m;
      else b = m;
    }
    const double m = a + 0.5 * (b - a);
    const Levels em = energies(m);
    const double fm = f(em, t.pair);
    if ((fm < 0) != (t.fa < 0)) {
      brackets_.push_back({t.pair, t.a, t.fa, m, fm});
      brackets_.push_back({t.pair, m, fm, t.b, t.fb});
    } else if (std::fabs(fm) <= 1e-12 * (1.0 + std::fabs(em.front()) + std::fabs(em.back()))) {
      roots_.push_back({t.pair, m, true});
    }
  }

  // The roots of the brackets, by regula falsi with the Illinois halving,
  // the brackets side by side.
  void refine_all(const std::vector<Interval>& brackets) {
    std::vector<Interval> r = brackets;
    std::vector<std::size_t> active;
    for (std::size_t k = 0; k < r.size(); ++k) active.push_back(k);
    std::vector<double> x;
    std::vector<Levels> e;
    std::vector<double> root(r.size(), 0.0);
    for (int it = 0; it < max_iterations && !active.empty(); ++it) {
      x.clear();
      std::vector<std::size_t> still;
      for (std::size_t k : active) {
        Interval& q = r[k];
        if (std::fabs(q.b - q.a) <= root_width) {
          root[k] = std::fabs(q.fa) < std::fabs(q.fb) ? q.a : q.b;
          continue;
        }
        double t = q.b - q.fb * (q.b - q.a) / (q.fb - q.fa);
        const double lo = std::min(q.a, q.b), hi = std::max(q.a, q.b);
        if (!(t > lo && t < hi)) t = lo + 0.5 * (hi - lo);
        x.push_back(t);
        still.push_back(k);
      }
      e.resize(x.size());
      energies(x.data(), x.size(), e.data());
      active.clear();
      for (std::size_t m = 0; m < still.size(); ++m) {
        Interval& q = r[still[m]];
        const double fx = f(e[m], q.pair);
        if (fx == 0) {
          root[still[m]] = x[m];
          continue;
        }
        if ((fx < 0) != (q.fb < 0)) {
          q.a = q.b;
          q.fa = q.fb;
        } else {
          q.fa *= 0.5;
        }
        q.b = x[m];
        q.fb = fx;
        active.push_back(still[m]);
      }
    }
    for (std::size_t k : active) root[k] = std::fabs(r[k].fa) < std::fabs(r[k].fb) ? r[k].a : r[k].b;
    for (std::size_t k = 0; k < r.size(); ++k) roots_.push_back({r[k].pair, root[k], false});
  }

  // The lines of the roots, their vectors computed together.
  void resonances() {
    std::vector<double> B;
    for (const Root& r : roots_) B.push_back(r.B);
    std::vector<States> st(B.size());
    std::vector<Levels> w(B.size());
    std::vector<Vectors> v(B.size());
    if (work_) work_->vectors += static_cast<std::int64_t>(B.size());
    solve(1, B.data(), B.size(), w.data(), v.data());
    for (std::size_t k = 0; k < roots_.size(); ++k) {
      st[k].w = w[k];
      st[k].v = v[k];
      resonance(roots_[k].pair, roots_[k].B, st[k], roots_[k].looping);
    }
  }

  // The line of a pair at its resonance field B.
  void resonance(int pair, double B, const States& s, bool looping) {
    const int i = pairs.i[pair], j = pairs.j[pair];
    // The levels degenerate with i and with j, to the rounding of the energies.
    const double tol = 1e-9 * (1.0 + std::fabs(s.w.front()) + std::fabs(s.w.back()));
    auto cluster = [&](int k, int& lo, int& hi) {
      lo = hi = k;
      while (lo > 0 && s.w[k] - s.w[lo - 1] <= tol) --lo;
      while (hi < model::n - 1 && s.w[hi + 1] - s.w[k] <= tol) ++hi;
    };
    int ilo, ihi, jlo, jhi;
    cluster(i, ilo, ihi);
    cluster(j, jlo, jhi);
    // Populations at T, Boltzmann over all sixteen levels.
    std::array<double, model::n> p{};
    double sum = 0.0;
    for (int k = 0; k < model::n; ++k)
      sum += p[k] = std::exp(-(s.w[k] - s.w[0]) / (k_B * x_.T));
    for (double& v : p) v /= sum;
    double strength = 0.0, probability = 0.0;
    for (int a = ilo; a <= ihi; ++a)
      for (int b = jlo; b <= jhi; ++b) {
        double w;
        if (x_.mode == Mode::parallel) {
          w = std::norm(model::element(s.v[a], zu_, s.v[b]));
        } else {
          // The mean over the directions of b1 perpendicular to the field.
          w = 0.5 * (std::norm(model::element(s.v[a], z1_, s.v[b])) +
                     std::norm(model::element(s.v[a], z2_, s.v[b])));
        }
        strength += w * (p[a] - p[b]);
        probability += w;
      }
    Line l;
    l.B = B;
    l.lower = ilo + 1;
    l.upper = jlo + 1;
    l.intensity = looping ? std::numeric_limits<double>::infinity() : strength / std::fabs(slope(s, pair));
    l.theta = theta_;
    l.phi = phi_;
    l.probability = probability;
    lines_.push_back(l);
  }

  const Experiment& x_;
  double theta_, phi_;
  Work* work_;
  model::Matrix h0_, zu_, z1_, z2_;
  double hnu_ = 0.0, lipschitz_ = 0.0, fine_ = 0.0;
  std::vector<Interval> brackets_, touches_;
  struct Root {
    int pair;
    double B;
    bool looping;
  };
  std::vector<Root> roots_;
  std::vector<Line> lines_;
  std::map<double, Levels> slopes_;
};

}  // namespace

bool Line::looping() const { return std::isinf(intensity); }

std::vector<Line> allowed(std::vector<Line> lines) {
  std::erase_if(lines, [](const Line& l) { return l.probability < min_probability; });
  return lines;
}

std::vector<Line> find_lines(const Experiment& x, double theta, double phi, Work* work) {
  if (work) ++work->orientations;
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
    if (t > static_cast<double>(g.count - 1) && t < static_cast<double>(g.count)) bins.back() += amount * (static_cast<double>(g.count) - t);
    return;
  }
  const auto k = std::min(static_cast<std::int64_t>(t), g.count - 2 < 0 ? 0 : g.count - 2);
  const double f = t - static_cast<double>(k);
  bins[k] += amount * (1.0 - f);
  if (f > 0.0) bins[k + 1] += amount * f;
}

}  // namespace

namespace {

// The powder's cells, split where the lines of their corners do not
// correspond, each corner computed once.
// The part of a cell's intensity its unmatched lines may carry before the
// cell is split.
constexpr double unmatched_share = 0.02;

class PowderSum {
 public:
  PowderSum(const Experiment& x, const PowderGrid& q, std::vector<Line>* lines, Work* work)
      : x_(x), q_(q), lines_(lines), work_(work), bins_(static_cast<std::size_t>(x.grid.count), 0.0) {
    side_ = static_cast<std::int64_t>(q.cells) << q.depth;
  }

  std::vector<double> run() {
    const std::int64_t size = std::int64_t{1} << q_.depth;
    for (int i = 0; i < q_.cells; ++i)
      for (int j = 0; j < q_.cells; ++j) cell(i * size, j * size, size, 0);
    return std::move(bins_);
  }

 private:
  // The lines at lattice node (I, J): cos(theta) = I / side, phi = 90 J / side.
  const std::vector<Keyed>& node(std::int64_t I, std::int64_t J) {
    const std::int64_t key = I * (side_ + 1) + J;
    auto it = nodes_.find(key);
    if (it != nodes_.end()) return it->second;
    const double c = static_cast<double>(I) / static_cast<double>(side_);
    const double theta = std::acos(c) * 180.0 / std::numbers::pi;
    const double phi = 90.0 * static_cast<double>(J) / static_cast<double>(side_);
    const std::vector<Line> l = find_lines(x_, theta, phi, work_);
    if (lines_) lines_->insert(lines_->end(), l.begin(), l.end());
    return nodes_.emplace(key, keyed(l)).first->second;
  }

  // For each line of a, its partner in b: the line of the same levels, else
  // the nearest in field not yet taken, within `reach` (T); -1 for none.
  static void partners(const std::vector<Keyed>& a, const std::vector<Keyed>& b, double reach,
                       std::vector<int>& to) {
    to.assign(a.size(), -1);
    std::vector<char> taken(b.size(), 0);
    for (std::size_t k = 0; k < a.size(); ++k) {
      auto it = std::lower_bound(b.begin(), b.end(), a[k]);
      if (it != b.end() && it->same(a[k])) {
        to[k] = static_cast<int>(it - b.begin());
        taken[to[k]] = 1;
      }
    }
    for (std::size_t k = 0; k < a.size(); ++k) {
      if (to[k] >= 0) continue;
      double best = reach;
      for (std::size_t m = 0; m < b.size(); ++m)
        if (!taken[m] && std::fabs(b[m].B - a[k].B) < best) best = std::fabs(b[m].B - a[k].B), to[k] = static_cast<int>(m);
      if (to[k] >= 0) taken[to[k]] = 1;
    }
  }

  void cell(std::int64_t I, std::int64_t J, std::int64_t size, int depth) {
    const std::vector<Keyed>* corner[4] = {&node(I, J), &node(I + size, J), &node(I, J + size),
                                           &node(I + size, J + size)};
    // A line's field moves by at most this much across a cell (T).
    constexpr double reach = 0.2;
    std::vector<int> to[4];
    std::vector<char> used[4];
    for (int c = 0; c < 4; ++c) used[c].assign(corner[c]->size(), 0);
    for (int c = 1; c < 4; ++c) partners(*corner[0], *corner[c], reach, to[c]);
    std::size_t whole = 0;
    for (std::size_t k = 0; k < corner[0]->size(); ++k) {
      const bool all = to[1][k] >= 0 && to[2][k] >= 0 && to[3][k] >= 0;
      if (all) {
        ++whole;
        used[0][k] = 1;
        for (int c = 1; c < 4; ++c) used[c][to[c][k]] = 1;
      }
    }
    // The cell is split when the lines without partners carry more than a
    // small part of its corners' intensity.
    double loose = 0.0, total = 0.0;
    for (int c = 0; c < 4; ++c)
      for (std::size_t k = 0; k < corner[c]->size(); ++k) {
        total += (*corner[c])[k].intensity;
        if (!used[c][k]) loose += (*corner[c])[k].intensity;
      }
    if (loose > unmatched_share * total && depth < q_.depth) {
      const std::int64_t h = size / 2;
      cell(I, J, h, depth + 1);
      cell(I + h, J, h, depth + 1);
      cell(I, J + h, h, depth + 1);
      cell(I + h, J + h, h, depth + 1);
      return;
    }
    const double area = static_cast<double>(size) * static_cast<double>(size) /
                        (static_cast<double>(side_) * static_cast<double>(side_));
    // Lines without a partner at every corner stay at their corners.
    for (int c = 0; c < 4; ++c)
      for (std::size_t k = 0; k < corner[c]->size(); ++k)
        if (!used[c][k]) stick(bins_, x_.grid, (*corner[c])[k].B, 0.25 * area * (*corner[c])[k].intensity);
    // The others: field and intensity bilinear between the corners, at the
    // centres of s x s sub-cells.
    const int s = std::max(1, q_.split >> depth);
    for (std::size_t k = 0; k < corner[0]->size(); ++k) {
      if (!used[0][k]) continue;
      const Keyed* v[4] = {&(*corner[0])[k], &(*corner[1])[to[1][k]], &(*corner[2])[to[2][k]],
                           &(*corner[3])[to[3][k]]};
      for (int a = 0; a < s; ++a)
        for (int b = 0; b < s; ++b) {
          const double u = (a + 0.5) / s, w = (b + 0.5) / s;
          const double f[4] = {(1 - u) * (1 - w), u * (1 - w), (1 - u) * w, u * w};
          double B = 0.0, amount = 0.0;
          for (int c = 0; c < 4; ++c) B += f[c] * v[c]->B, amount += f[c] * v[c]->intensity;
          stick(bins_, x_.grid, B, area / (s * s) * amount);
        }
    }
  }

  const Experiment& x_;
  const PowderGrid& q_;
  std::vector<Line>* lines_;
  Work* work_;
  std::vector<double> bins_;
  std::int64_t side_ = 0;
  std::unordered_map<std::int64_t, std::vector<Keyed>> nodes_;
};

}  // namespace

Spectrum powder(const Experiment& x, Shape shape, double lw_mT, const PowderGrid& q,
                std::vector<Line>* lines, Work* work) {
  const Grid& g = x.grid;
  const std::vector<double> bins = PowderSum(x, q, lines, work).run();
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
