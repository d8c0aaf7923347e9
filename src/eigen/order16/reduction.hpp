// The reduction at the fixed order, of one matrix or of two side by side, in
// vectors of W rows (lanes.hpp): a template on the width, instantiated once
// for each instruction set in a file of its own, so that no function built
// for one of them is ever linked where another runs.
#pragma once

#include <cmath>
#include <cstring>
#include <utility>

#include "eigen/modulus.hpp"
#include "eigen/order16/lanes.hpp"

namespace eigen::order16 {

// The update of step L + 1 once u is final: p = A conj(u) / h with its last
// column added, hh = u^T p / 2h, q = p - hh conj(u), and the rank-two update
// A = A - conj(u) q^H - q u^T of the block in the work copy, both triangles.
// The scale of the next row, row L, runs along and is handed on.
template <int W, int Count, int nvl>
[[gnu::always_inline]] inline void update_block(
    int L, Job<W>* const* jobs, typename Lanes<W>::V (&ur)[Count][nvl],
    typename Lanes<W>::V (&ui)[Count][nvl], double (&urs)[Count][W * nvl],
    double (&uis)[Count][W * nvl], typename Lanes<W>::V (&pe)[Count][nvl],
    typename Lanes<W>::V (&pt)[Count][nvl], const double* h) {
  using L_ = Lanes<W>;
  using V = typename L_::V;
  using M = typename L_::M;
  alignas(sizeof(V)) double er[Count][W * nvl];
  alignas(sizeof(V)) double ti[Count][W * nvl];
  for (int m = 0; m < Count; ++m) {
    add_column<W, nvl>(*jobs[m], urs[m], uis[m], pe[m], pt[m], L - 1);
    const M live = L_::rows(nvl - 1) < L;
    pe[m][nvl - 1] = L_::select(live, pe[m][nvl - 1], V{});
    pt[m][nvl - 1] = L_::select(live, pt[m][nvl - 1], V{});
    for (int v = 0; v < nvl; ++v) {
      pe[m][v] = pe[m][v] / L_::splat(h[m]);
      pt[m][v] = pt[m][v] / L_::splat(h[m]);
    }
    V p[nvl];
    V q[nvl];
    for (int v = 0; v < nvl; ++v) {
      p[v] = pe[m][v] * ur[m][v];
      q[v] = pt[m][v] * ui[m][v];
    }
    L_::template spill<nvl>(p, er[m]);
    L_::template spill<nvl>(q, ti[m]);
  }
  // f = u^T p, summed in row order
  double fsum[Count] = {};
  for (int j = 0; j < L; ++j) {
    for (int m = 0; m < Count; ++m) fsum[m] = fsum[m] + er[m][j] - ti[m][j];
  }

  // (e, t) = q = p - hh conj(u), stored with t negated.
  alignas(sizeof(V)) double es[Count][W * nvl];
  alignas(sizeof(V)) double ts[Count][W * nvl];
  for (int m = 0; m < Count; ++m) {
    const V hh = L_::splat(fsum[m] / (h[m] + h[m]));
    for (int v = 0; v < nvl; ++v) {
      pe[m][v] = pe[m][v] - hh * ur[m][v];
      pt[m][v] = -(pt[m][v] - hh * -ui[m][v]);
    }
    L_::template spill<nvl>(pe[m], es[m]);
    L_::template spill<nvl>(pt[m], ts[m]);
  }

  // Rank-two update of the block, column by column: element (j, k) of the
  // lower triangle, and the conjugate copy of (k, j), whose update is that of
  // (k, j) with the roles of j and k swapped. With f + i fi = conj(u(j)) and
  // g + i gi = (e(j), -t(j)), element (j, k) takes - f e(k) - g ur(k)
  // + fi t(k) + gi ui(k) and - f t(k) - g ui(k) - fi e(k) - gi ur(k), here
  // with the signs of fi and gi moved onto the operations, which is exact.
  //
  // The scale of the next row, row L, runs along in every lane of the vector
  // that holds row L: each lane sums its own row in the same order, and only
  // the lane of row L is kept.
  V next_scale[Count] = {};
  for (int k = 0; k < L; ++k) {
    for (int m = 0; m < Count; ++m) {
      Job<W>& w = *jobs[m];
      const V ek = L_::splat(es[m][k]);
      const V tk = L_::splat(ts[m][k]);
      const V urk = L_::splat(urs[m][k]);
      const V uik = L_::splat(uis[m][k]);
      for (int v = 0; v < nvl; ++v) {
        const V r = w.r[k][v];
        const V im = w.i[k][v];
        const bool has_upper = W * v < k;
        const bool has_lower = W * v + W - 1 >= k;
        V new_r = r;
        V new_i = im;
        if (has_lower) {
          new_r = r - ur[m][v] * ek - pe[m][v] * urk - ui[m][v] * tk - pt[m][v] * uik;
          new_i = im - ur[m][v] * tk - pe[m][v] * uik + ui[m][v] * ek + pt[m][v] * urk;
        }
        if (has_upper) {
          const V upper_r = r - urk * pe[m][v] - ek * ur[m][v] - uik * pt[m][v] - tk * ui[m][v];
          const V upper_i =
              -(-im - urk * pt[m][v] - ek * ui[m][v] + uik * pe[m][v] + tk * ur[m][v]);
          // Lanes above the diagonal of column k take the mirrored update.
          const M upper = L_::rows(v) < k;
          new_r = has_lower ? L_::select(upper, upper_r, new_r) : upper_r;
          new_i = has_lower ? L_::select(upper, upper_i, new_i) : upper_i;
        }
        w.r[k][v] = new_r;
        w.i[k][v] = new_i;
        // Row L of column k is final: the scale of the next row runs along.
        if (v == (L - 1) / W && k < L - 1) {
          next_scale[m] = next_scale[m] + L_::abs(new_r) + L_::abs(new_i);
        }
      }
    }
  }
  for (int m = 0; m < Count; ++m) {
    jobs[m]->next_scale = next_scale[m][(L - 1) % W];
    jobs[m]->next_scale_known = true;
  }
}

// Step i = L + 1 of Count matrices side by side: row i, the block of order L
// above it, whose rows 1..L fill nvl vectors. Every operation is made for each
// matrix in turn, so that their chains of dependent operations overlap. The
// matrices must take the same branches: when they would not, the step returns
// false before it has changed anything, and the caller makes it for each alone.
template <int W, int Count, int nvl>
[[gnu::always_inline]] inline bool reduce_row(int L, Job<W>* const* jobs) {
  using L_ = Lanes<W>;
  using V = typename L_::V;
  using M = typename L_::M;
  using J = Job<W>;
  const int i = L + 1;
  double h[Count] = {};
  double scale[Count] = {};

  if (L >= 1) {
    // Row i left of the diagonal, from its conjugate copy in column i; zero in dead lanes.
    V ur[Count][nvl];
    V ui[Count][nvl];
    alignas(sizeof(V)) double urs[Count][W * nvl];
    alignas(sizeof(V)) double uis[Count][W * nvl];
    for (int m = 0; m < Count; ++m) {
      for (int v = 0; v < nvl; ++v) {
        const M live = L_::rows(v) < L;
        ur[m][v] = L_::select(live, jobs[m]->r[L][v], V{});
        ui[m][v] = L_::select(live, -jobs[m]->i[L][v], V{});
      }
      L_::template spill<nvl>(ur[m], urs[m]);
      L_::template spill<nvl>(ui[m], uis[m]);
    }

    // scale = sum of |Re| + |Im| of the row, unless the last step summed it.
    int zero_rows = 0;
    for (int m = 0; m < Count; ++m) {
      if (jobs[m]->next_scale_known) {
        scale[m] = jobs[m]->next_scale;
      } else {
        for (int k = 0; k < L; ++k) {
          scale[m] = scale[m] + std::fabs(urs[m][k]) + std::fabs(uis[m][k]);
        }
      }
      zero_rows += scale[m] == 0.0;
    }
    if (zero_rows != 0 && zero_rows != Count) return false;

    if (zero_rows != 0) {
      // A zero row restarts the phase factors and stays as it is.
      for (int m = 0; m < Count; ++m) {
        J& job = *jobs[m];
        job.next_scale_known = false;
        job.a.tau[J::at2(1, L)] = 1.0;
        job.a.tau[J::at2(2, L)] = 0.0;
        job.a.e[i - 1] = 0.0;
        job.a.e2[i - 1] = 0.0;
        for (int k = 1; k <= L; ++k) {
          job.a.ar[J::at(i, k)] = urs[m][k - 1];
          job.a.ai[J::at(i, k)] = uis[m][k - 1];
        }
      }
    } else {
      // u = row / scale
      for (int m = 0; m < Count; ++m) {
        for (int v = 0; v < nvl; ++v) {
          ur[m][v] = ur[m][v] / L_::splat(scale[m]);
          ui[m][v] = ui[m][v] / L_::splat(scale[m]);
        }
        L_::template spill<nvl>(ur[m], urs[m]);
        L_::template spill<nvl>(ui[m], uis[m]);
      }

      // h = |u|^2, alongside columns 1..L-1 of the product of the block with
      // conj(u), which do not depend on h.
      alignas(sizeof(V)) double squares_r[Count][W * nvl];
      alignas(sizeof(V)) double squares_i[Count][W * nvl];
      for (int m = 0; m < Count; ++m) {
        V sr[nvl];
        V si[nvl];
        for (int v = 0; v < nvl; ++v) {
          sr[v] = ur[m][v] * ur[m][v];
          si[v] = ui[m][v] * ui[m][v];
        }
        L_::template spill<nvl>(sr, squares_r[m]);
        L_::template spill<nvl>(si, squares_i[m]);
      }
      V pe[Count][nvl] = {};
      V pt[Count][nvl] = {};
      for (int k = 0; k < L - 1; ++k) {
        for (int m = 0; m < Count; ++m) {
          h[m] = h[m] + squares_r[m][k] + squares_i[m][k];
          add_column<W, nvl>(*jobs[m], urs[m], uis[m], pe[m], pt[m], k);
        }
      }
      // e2(i) = scale^2 h; e(i) = scale sqrt(h); f = |u(l)|
      double g[Count];
      double f[Count];
      int negligible_ones = 0;
      for (int m = 0; m < Count; ++m) {
        h[m] = h[m] + squares_r[m][L - 1] + squares_i[m][L - 1];
        g[m] = std::sqrt(h[m]);
        f[m] = step::modulus(urs[m][L - 1], uis[m][L - 1]);
        negligible_ones += step::negligible_element(f[m], g[m]);
      }
      if (negligible_ones != 0 && negligible_ones != Count) return false;
      for (int m = 0; m < Count; ++m) {
        jobs[m]->next_scale_known = false;
        jobs[m]->a.e2[i - 1] = scale[m] * scale[m] * h[m];
        jobs[m]->a.e[i - 1] = scale[m] * g[m];
      }

      double si[Count] = {};
      bool update = true;
      for (int m = 0; m < Count; ++m) {
        double* tau = jobs[m]->a.tau;
        double& url = urs[m][L - 1];
        double& uil = uis[m][L - 1];
        const double t1 = tau[J::at2(1, i)];
        const double t2 = tau[J::at2(2, i)];
        if (negligible_ones == 0) {
          // tau(l) = -tau(i) u(l) / |u(l)|; u(l) = u(l) (1 + |u| / |u(l)|)
          tau[J::at2(1, L)] = (uil * t2 - url * t1) / f[m];
          si[m] = (url * t2 + uil * t1) / f[m];
          h[m] = h[m] + f[m] * g[m];
          g[m] = 1.0 + g[m] / f[m];
          url = g[m] * url;
          uil = g[m] * uil;
          if (L == 1) update = false;
        } else {
          // A zero or negligible element: tau(l) = -tau(i), u(l) = |u|.
          tau[J::at2(1, L)] = -t1;
          si[m] = t2;
          url = g[m];
        }
        ur[m][(L - 1) / W][(L - 1) % W] = url;
        ui[m][(L - 1) / W][(L - 1) % W] = uil;
      }

      if (update) update_block<W, Count, nvl>(L, jobs, ur, ui, urs, uis, pe, pt, h);

      // Row i keeps scale times the Householder vector; tau(l) is complete.
      for (int m = 0; m < Count; ++m) {
        J& job = *jobs[m];
        for (int k = 1; k <= L; ++k) {
          job.a.ar[J::at(i, k)] = scale[m] * urs[m][k - 1];
          job.a.ai[J::at(i, k)] = scale[m] * uis[m][k - 1];
        }
        job.a.tau[J::at2(2, L)] = -si[m];
      }
    }
  } else {
    for (int m = 0; m < Count; ++m) {
      jobs[m]->next_scale_known = false;
      jobs[m]->a.e[i - 1] = 0.0;
      jobs[m]->a.e2[i - 1] = 0.0;
    }
  }

  // d(i) = the reduced diagonal element (ar(i, i) keeps the original);
  // ai(i, i) = scale sqrt(h), the normaliser of row i.
  for (int m = 0; m < Count; ++m) {
    jobs[m]->a.d[i - 1] = jobs[m]->r[L][L / W][L % W];
    jobs[m]->a.ai[J::at(i, i)] = scale[m] * std::sqrt(h[m]);
  }
  return true;
}

// Step L + 1 of Count matrices, at the number of vectors its rows fill.
template <int W, int Count, int... Nvl>
bool reduce_row_of(int L, Job<W>* const* jobs, std::integer_sequence<int, Nvl...>) {
  const int nvl = L > W ? (L + W - 1) / W : 1;
  bool same_branches = false;
  static_cast<void>(
      ((nvl == Nvl + 1 && (same_branches = reduce_row<W, Count, Nvl + 1>(L, jobs), true)) || ...));
  return same_branches;
}

// The work copy of the matrix ar + i ai, columns as they are, then the
// conjugate mirror of the lower triangle; d and the last phase factor.
template <int W>
void start(Job<W>& job, const Reduction& a) {
  job.next_scale_known = false;
  job.a = a;
  for (int k = 0; k < n; ++k) std::memcpy(job.r[k], a.ar + std::ptrdiff_t{k} * n, sizeof job.r[k]);
  for (int k = 0; k < n; ++k) std::memcpy(job.i[k], a.ai + std::ptrdiff_t{k} * n, sizeof job.i[k]);
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < k; ++j) {
      job.r[k][j / W][j % W] = a.ar[j * n + k];
      job.i[k][j / W][j % W] = -a.ai[j * n + k];
    }
  }
  a.tau[Job<W>::at2(1, n)] = 1.0;
  a.tau[Job<W>::at2(2, n)] = 0.0;
  for (int i = 0; i < n; ++i) a.d[i] = a.ar[i * n + i];
}

// htridi of count (1 or 2) matrices side by side, rows 16 down to 1; a step
// that the two would take different ways is made for each alone.
template <int W>
void reduce_at_width(const Reduction* matrices, int count) {
  Job<W> job[2];
  Job<W>* const jobs[2] = {&job[0], &job[1]};
  for (int m = 0; m < count; ++m) start(job[m], matrices[m]);
  constexpr auto vectors = std::make_integer_sequence<int, Lanes<W>::nv>{};
  for (int L = n - 1; L >= 0; --L) {
    if (count == 2 && reduce_row_of<W, 2>(L, jobs, vectors)) continue;
    for (int m = 0; m < count; ++m) reduce_row_of<W, 1>(L, &jobs[m], vectors);
  }
}

}  // namespace eigen::order16
