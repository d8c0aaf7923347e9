#include <algorithm>
#include <cmath>

#include "states.hpp"

namespace states {

namespace {

// Levels whose energies differ by less than this fraction of the spectrum's
// scale are degenerate to rounding: the solver's vectors of such a cluster
// are any orthonormal basis of its eigenspace. Eigenvalues are good to a few
// units of 1e-16 of the scale, so this is far above rounding and far below
// any splitting a sweep resolves.
constexpr double degenerate = 1e-11;

// A score that is surely the largest of its row and of its column.
constexpr double majority = 0.5 + 1e-9;

// A projected vector shorter than this is taken as no direction at all.
constexpr double negligible = 1e-3;

using Vector = std::array<double, n>;

// <a|b> of a = ar + i ai, b = br + i bi.
void inner(const Vector& ar, const Vector& ai, const Vector& br, const Vector& bi, double& re,
           double& im) {
  re = 0.0;
  im = 0.0;
  for (int i = 0; i < n; ++i) {
    re += ar[i] * br[i] + ai[i] * bi[i];
    im += ar[i] * bi[i] - ai[i] * br[i];
  }
}

// v -= <u|v> u for a unit vector u.
void remove_along(const Vector& ur, const Vector& ui, Vector& vr, Vector& vi) {
  double re, im;
  inner(ur, ui, vr, vi, re, im);
  for (int i = 0; i < n; ++i) {
    vr[i] -= re * ur[i] - im * ui[i];
    vi[i] -= re * ui[i] + im * ur[i];
  }
}

// Scales v to norm 1; returns the norm it had.
double normalise(Vector& vr, Vector& vi) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += vr[i] * vr[i] + vi[i] * vi[i];
  const double norm = std::sqrt(sum);
  if (norm > 0.0)
    for (int i = 0; i < n; ++i) {
      vr[i] /= norm;
      vi[i] /= norm;
    }
  return norm;
}

}  // namespace

std::array<int, n> Follower::next(Spectrum& s) {
  std::array<int, n> level_of{};
  if (!started_) {
    // States are numbered by their rank at the first pass.
    for (int a = 0; a < n; ++a) {
      level_of[a] = a;
      re_[a] = s.levels[a].re;
      im_[a] = s.levels[a].im;
    }
    last_ = level_of;
    started_ = true;
    return level_of;
  }

  // Clusters of levels degenerate to rounding: cluster[b] is the first level
  // of b's cluster.
  const double scale = std::max(std::fabs(s.levels[0].energy), std::fabs(s.levels[n - 1].energy));
  std::array<int, n> cluster{};
  for (int b = 0; b < n; ++b)
    cluster[b] = b > 0 && s.levels[b].energy - s.levels[b - 1].energy <= degenerate * scale
                     ? cluster[b - 1]
                     : b;

  // weight[a]: the score of state a in the cluster it is matched to.
  std::array<double, n> weight{};
  std::array<int, n> state_of;
  state_of.fill(-1);
  level_of.fill(-1);

  // Most passes move every state a little: its weight in the cluster of the
  // level it held at the pass before is then above one half, the largest of
  // its row (which sums to 1), and the states of a cluster's levels at the
  // pass before are the cluster's largest scores (the others have less than
  // one half). The largest-first matching below then gives each cluster
  // those states, the largest score first to its lowest free level: so does
  // this shortcut, with only the overlaps of those clusters.
  bool settled = !plain_;
  for (int a = 0; a < n && settled; ++a) {
    const int c = cluster[last_[a]];
    double sum = 0.0;
    for (int b = c; b < n && cluster[b] == c; ++b) {
      double re, im;
      inner(re_[a], im_[a], s.levels[b].re, s.levels[b].im, re, im);
      sum += re * re + im * im;
    }
    weight[a] = sum;
    settled = sum > majority;
  }
  if (settled) {
    std::array<int, n> order{};
    for (int a = 0; a < n; ++a) order[a] = a;
    std::sort(order.begin(), order.end(), [&](int x, int y) {
      return weight[x] != weight[y] ? weight[x] > weight[y] : x < y;
    });
    for (int a : order) {
      int b = cluster[last_[a]];
      while (state_of[b] >= 0) ++b;
      level_of[a] = b;
      state_of[b] = a;
    }
  } else {
    // Every overlap: the sums run over the components with all sixteen levels
    // side by side. overlap[a][b] = |<a|b>|^2 of state a at the pass before
    // and level b now; score[a][b] the same summed over b's cluster.
    double vr[n][n], vi[n][n];  // component i of level b at [i][b]
    for (int b = 0; b < n; ++b)
      for (int i = 0; i < n; ++i) {
        vr[i][b] = s.levels[b].re[i];
        vi[i][b] = s.levels[b].im[i];
      }
    double overlap[n][n], score[n][n];
    for (int a = 0; a < n; ++a) {
      double re[n] = {}, im[n] = {};
      for (int i = 0; i < n; ++i) {
        const double pr = re_[a][i], pi = im_[a][i];
        for (int b = 0; b < n; ++b) {
          re[b] += pr * vr[i][b] + pi * vi[i][b];
          im[b] += pr * vi[i][b] - pi * vr[i][b];
        }
      }
      for (int b = 0; b < n; ++b) overlap[a][b] = re[b] * re[b] + im[b] * im[b];
    }
    for (int a = 0; a < n; ++a) {
      for (int b = 0; b < n; ++b) score[a][b] = 0.0;
      for (int b = 0; b < n; ++b) score[a][cluster[b]] += overlap[a][b];
      for (int b = 0; b < n; ++b) score[a][b] = score[a][cluster[b]];
    }
    // One to one, the largest score first; of equal ones the lowest state,
    // then the lowest level.
    for (int round = 0; round < n; ++round) {
      int best_a = -1, best_b = -1;
      double best = -1.0;
      for (int a = 0; a < n; ++a) {
        if (level_of[a] >= 0) continue;
        for (int b = 0; b < n; ++b)
          if (state_of[b] < 0 && score[a][b] > best) {
            best = score[a][b];
            best_a = a;
            best_b = b;
          }
      }
      if (best_a < 0) {
        // Scores that are not numbers (vectors that are not): in order.
        best_a = static_cast<int>(std::find(level_of.begin(), level_of.end(), -1) - level_of.begin());
        best_b = static_cast<int>(std::find(state_of.begin(), state_of.end(), -1) - state_of.begin());
        best = 0.0;
      }
      level_of[best_a] = best_b;
      state_of[best_b] = best_a;
      weight[best_a] = best;
    }
  }

  // In every cluster of two or more levels the states that entered it carry
  // their vectors on: each projected into the eigenspace and orthonormalised
  // against those before it, the state with most weight in it first. A state
  // with next to no weight there takes the level vector that is left most.
  for (int c = 0; c < n;) {
    int end = c + 1;
    while (end < n && cluster[end] == c) ++end;
    if (end - c > 1) {
      std::array<int, n> members{};
      int m = 0;
      for (int b = c; b < end; ++b) members[m++] = state_of[b];
      std::sort(members.begin(), members.begin() + m, [&](int x, int y) {
        return weight[x] != weight[y] ? weight[x] > weight[y] : x < y;
      });
      std::array<Vector, n> ur{}, ui{};
      for (int k = 0; k < m; ++k) {
        const int a = members[k];
        Vector vr{}, vi{};
        for (int b = c; b < end; ++b) {
          double re, im;
          inner(s.levels[b].re, s.levels[b].im, re_[a], im_[a], re, im);
          for (int i = 0; i < n; ++i) {
            vr[i] += re * s.levels[b].re[i] - im * s.levels[b].im[i];
            vi[i] += re * s.levels[b].im[i] + im * s.levels[b].re[i];
          }
        }
        for (int j = 0; j < k; ++j) remove_along(ur[j], ui[j], vr, vi);
        if (normalise(vr, vi) < negligible) {
          double longest = -1.0;
          for (int b = c; b < end; ++b) {
            Vector wr = s.levels[b].re, wi = s.levels[b].im;
            for (int j = 0; j < k; ++j) remove_along(ur[j], ui[j], wr, wi);
            const double norm = normalise(wr, wi);
            if (norm > longest) {
              longest = norm;
              vr = wr;
              vi = wi;
            }
          }
        }
        ur[k] = vr;
        ui[k] = vi;
        Level& l = s.levels[level_of[a]];
        l.re = vr;
        l.im = vi;
        describe(l, s.direction);
      }
    }
    c = end;
  }

  for (int a = 0; a < n; ++a) {
    re_[a] = s.levels[level_of[a]].re;
    im_[a] = s.levels[level_of[a]].im;
  }
  last_ = level_of;
  return level_of;
}

}  // namespace states
