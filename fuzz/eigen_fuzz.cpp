// The eigensolver ch: Hermitian matrices of order 1..16 in arrays of leading
// dimension nm >= n, entries of any magnitude, NaN and infinity included.
// Every array is a heap block of exactly its size, so AddressSanitizer sees any
// access outside it; libFuzzer's time limit catches a hang. For finite,
// well-scaled matrices the path with vectors converges, its eigenvalues
// ascend and sum to the trace; where the reduction leaves the iterations in
// their range, the path without vectors converges too and its eigenvalues
// agree, and each vector has norm 1 and satisfies A z = w z to a small
// residual. At nm = n = 16 the fast paths, ch alone and the matrix in lanes
// of a batch, give every result the bits of the plain routines.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "eigen/eigen.hpp"
#include "eigen/order16/order16.hpp"
#include "sweep/hamiltonian.hpp"

namespace {

void require(bool ok, const char* what, int n, int nm) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s (n %d, nm %d)\n", what, n, nm);
  std::abort();
}

struct Run {
  std::vector<double> w;
  std::vector<double> zr, zi;
  int ierr = 0;
};

// ch, or with plain set ch_plain, on a fresh copy of the matrix.
Run solve(int nm, int n, const std::vector<double>& ar0, const std::vector<double>& ai0, int matz,
          bool plain = false) {
  std::vector<double> ar(ar0), ai(ai0);
  Run r;
  r.w.assign(n, 0.0);
  r.zr.assign(static_cast<std::size_t>(nm) * n, 0.0);
  r.zi.assign(static_cast<std::size_t>(nm) * n, 0.0);
  std::vector<double> fv1(n), fv2(n), fm1(2 * static_cast<std::size_t>(n));
  using Ch = void (*)(int, int, double*, double*, double*, int, double*, double*, double*,
                      double*, double*, int&);
  const Ch run = plain ? static_cast<Ch>(eigen::ch_plain) : eigen::ch;
  run(nm, n, ar.data(), ai.data(), r.w.data(), matz, r.zr.data(), r.zi.data(), fv1.data(),
      fv2.data(), fm1.data(), r.ierr);
  return r;
}

// The order 16 in the lanes of a batch: the matrix in three lanes beside the
// program's Hamiltonian at D1 = 1 in the others (ch takes the plain routines
// for a call alone); the results of the three.
std::vector<Run> in_lanes(const std::vector<double>& ar0, const std::vector<double>& ai0,
                          int matz) {
  constexpr int n = 16, count = 5;
  std::vector<double> ar[count], ai[count], fv1[count], fv2[count], fm1[count];
  std::vector<Run> runs(count);
  eigen::order16::Call calls[count];
  for (int q = 0; q < count; ++q) {
    ar[q] = ar0;
    ai[q] = ai0;
    if (q % 2 == 1) {  // a Hamiltonian of the sweep: J = -1, D1 = D2 = 1, E1 = 0.1, E2 = 0.2
      std::vector<double> w(n);
      sweep::build_spin_hamiltonian(-1.0, 1.0, 1.0, 0.1, 0.2, ar[q].data(), ai[q].data(), w.data());
    }
    runs[q].w.assign(n, 0.0);
    runs[q].zr.assign(n * n, 0.0);
    runs[q].zi.assign(n * n, 0.0);
    fv1[q].assign(n, 0.0);
    fv2[q].assign(n, 0.0);
    fm1[q].assign(2 * n, 0.0);
    calls[q] = {ar[q].data(), ai[q].data(), runs[q].w.data(), runs[q].zr.data(), runs[q].zi.data(),
                fv1[q].data(), fv2[q].data(), fm1[q].data(), &runs[q].ierr};
  }
  auto work = std::make_unique<eigen::order16::Workspace>();
  eigen::order16::solve(eigen::order16::widest(), matz, calls, count, eigen::order16::Reads::all,
                        *work);
  return {runs[0], runs[2], runs[4]};
}

// The same bits, every not-a-number alike.
bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool nan = std::isnan(a[i]) && std::isnan(b[i]);
    if (!nan && std::bit_cast<std::uint64_t>(a[i]) != std::bit_cast<std::uint64_t>(b[i]))
      return false;
  }
  return true;
}

// What the reduction to tridiagonal form says about the two iterations that
// follow it.
struct Reduction {
  // The rational QL iteration takes its tolerance from the rows it has
  // reached so far, starting with the first row of the tridiagonal matrix.
  // When that row is tiny against the rest (a matrix with zero rows reduces
  // to a tridiagonal one that starts with zeros and rounding residues), the
  // tolerance stays tiny while the sweeps cross the large rows, the
  // substitute for a zero divisor is tiny too, and the eigenvalues without
  // vectors can be wrong while ierr is 0, or need more than 30 sweeps.
  // Reliable when the first row holds at least 1e-3 of the largest.
  bool rational_ql_reliable;
  // The back transformation divides twice by each row's normaliser. A
  // normaliser below about 1e-300 (rounding residues of the same kind, down
  // to subnormal numbers) overflows the quotient and the vectors come back
  // as NaN; the eigenvalues are not affected. Reliable when every nonzero
  // normaliser is at least 1e-290.
  bool back_transformation_reliable;
};

Reduction inspect_reduction(int nm, int n, const std::vector<double>& ar0,
                            const std::vector<double>& ai0) {
  std::vector<double> ar(ar0), ai(ai0), d(n), e(n), e2(n), tau(2 * static_cast<std::size_t>(n));
  eigen::htridi(nm, n, ar.data(), ai.data(), d.data(), e.data(), e2.data(), tau.data());
  double largest = 0;
  bool normalisers_normal = true;
  for (int i = 0; i < n; ++i) {
    const double above = i + 1 < n ? std::fabs(e[i + 1]) : 0.0;
    largest = std::fmax(largest, std::fabs(d[i]) + std::fabs(e[i]) + above);
    const double h = ai[i + static_cast<std::size_t>(i) * nm];
    if (h != 0 && std::fabs(h) < 1e-290) normalisers_normal = false;
  }
  const double first = std::fabs(d[0]) + (n > 1 ? std::fabs(e[1]) : 0.0);
  return {first >= 1e-3 * largest, normalisers_normal};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int n = 1 + data[0] % 16;
  const int nm = n + (data[1] >> 4) % 3;
  const bool scaled_mode = data[1] & 1;  // entries made from bytes, or raw double bits
  data += 2;
  size -= 2;
  const std::size_t cells = static_cast<std::size_t>(nm) * n;
  std::vector<double> ar(cells, 0.0), ai(cells, 0.0);
  std::size_t at = 0;
  auto next = [&]() -> double {
    if (scaled_mode) {
      const int b = at < size ? static_cast<std::int8_t>(data[at]) : 0;
      ++at;
      return b / 16.0;
    }
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k, ++at) bits = bits << 8 | (at < size ? data[at] : 0);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  };
  // The lower triangle with the diagonal is what ch reads; the rest stays 0.
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) {
      ar[i + static_cast<std::size_t>(j) * nm] = next();
      ai[i + static_cast<std::size_t>(j) * nm] = i == j ? 0.0 : next();
    }

  const Run values = solve(nm, n, ar, ai, 0);
  const Run vectors = solve(nm, n, ar, ai, 1);
  require(values.ierr >= 0 && values.ierr <= n, "ierr outside 0..n", n, nm);
  require(vectors.ierr >= 0 && vectors.ierr <= n, "ierr outside 0..n", n, nm);
  if (n == 16 && nm == 16) {
    for (int matz : {0, 1}) {
      const Run ref = solve(nm, n, ar, ai, matz, true);
      std::vector<Run> fast_runs = in_lanes(ar, ai, matz);
      fast_runs.push_back(matz ? vectors : values);  // ch alone
      for (const Run& fast : fast_runs) {
        require(fast.ierr == ref.ierr && same_bits(fast.w, ref.w) && same_bits(fast.zr, ref.zr) &&
                    same_bits(fast.zi, ref.zi),
                "the fast path's bits differ from the plain routines'", n, nm);
      }
    }
  }

  // Well-scaled: every nonzero entry between 1e-100 and 1e100 in magnitude,
  // the largest at most 1e60 times the smallest. (Finite entries spread wider
  // than that give wrong results with ierr = 0, a limit of the iterations that
  // is not guarded yet: 1e-300 beside 1e18 gives NaN vectors; 2.6e-90 + 1.5e-95 i
  // beside 2.5e49 gives eigenvalues without vectors that are wrong.)
  double scale = 0;
  double smallest = INFINITY;
  bool finite = true;
  for (int j = 0; j < n; ++j)
    for (int i = j; i < n; ++i) {
      const double a = ar[i + static_cast<std::size_t>(j) * nm];
      const double b = ai[i + static_cast<std::size_t>(j) * nm];
      finite = finite && std::isfinite(a) && std::isfinite(b);
      for (double x : {a, b})
        if (x != 0) {
          if (std::fabs(x) < 1e-100 || std::fabs(x) > 1e100) finite = false;
          smallest = std::fmin(smallest, std::fabs(x));
        }
      scale = std::fmax(scale, std::fmax(std::fabs(a), std::fabs(b)));
    }
  if (!finite || scale > 1e60 * smallest) return 0;

  const Reduction reduction = inspect_reduction(nm, n, ar, ai);
  require(vectors.ierr == 0, "no convergence with vectors on a well-scaled matrix", n, nm);
  // With a tiny tolerance the rational QL iteration may also run out of
  // sweeps; it then says so through ierr, which is all that is asked of it.
  if (reduction.rational_ql_reliable)
    require(values.ierr == 0, "no convergence without vectors on a well-scaled matrix", n, nm);
  const double tol = 1e-12 * n * (scale == 0 ? 1 : scale);
  double trace = 0, sum = 0;
  for (int i = 0; i < n; ++i) {
    trace += ar[i + static_cast<std::size_t>(i) * nm];
    sum += vectors.w[i];
    if (reduction.rational_ql_reliable)
      require(std::fabs(values.w[i] - vectors.w[i]) <= tol, "the two paths' eigenvalues differ", n,
              nm);
    if (i > 0) {
      if (values.ierr == 0)
        require(values.w[i - 1] <= values.w[i], "eigenvalues without vectors not ascending", n, nm);
      require(vectors.w[i - 1] <= vectors.w[i], "eigenvalues with vectors not ascending", n, nm);
    }
  }
  require(std::fabs(trace - sum) <= tol * n, "the eigenvalues do not sum to the trace", n, nm);

  // Norm and residual of A z = w z for each vector, A read from the lower triangle.
  if (!reduction.back_transformation_reliable) return 0;
  auto a_at = [&](int i, int j, double& re, double& im) {
    if (i >= j) {
      re = ar[i + static_cast<std::size_t>(j) * nm];
      im = ai[i + static_cast<std::size_t>(j) * nm];
    } else {
      re = ar[j + static_cast<std::size_t>(i) * nm];
      im = -ai[j + static_cast<std::size_t>(i) * nm];
    }
  };
  for (int k = 0; k < n; ++k) {
    const double* zr = &vectors.zr[static_cast<std::size_t>(k) * nm];
    const double* zi = &vectors.zi[static_cast<std::size_t>(k) * nm];
    double norm = 0, residual = 0;
    for (int i = 0; i < n; ++i) norm += zr[i] * zr[i] + zi[i] * zi[i];
    for (int i = 0; i < n; ++i) {
      double re = -vectors.w[k] * zr[i], im = -vectors.w[k] * zi[i];
      for (int j = 0; j < n; ++j) {
        double a, b;
        a_at(i, j, a, b);
        re += a * zr[j] - b * zi[j];
        im += a * zi[j] + b * zr[j];
      }
      residual += re * re + im * im;
    }
    require(std::fabs(norm - 1) <= 1e-6, "an eigenvector whose norm is not 1", n, nm);
    require(std::sqrt(residual / norm) <= tol * 10, "a large residual of A z = w z", n, nm);
  }
  return 0;
}
