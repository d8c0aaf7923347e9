// The eigensolver ch on the 16 x 16 dimer Hamiltonian against LAPACK's zheev,
// zheevd and zheevr (all eigenvalues; with vectors for matz = 1, without for
// matz = 0). Every solver gets a fresh copy of the same prebuilt matrix in
// each iteration; LAPACK's workspace is queried once, outside the timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "eigen/eigen.hpp"
#include "model/eigen_arrays.hpp"
#include "model/pass_rule.hpp"
#include "summary.hpp"
#include "sweep/hamiltonian.hpp"

using cplx = std::complex<double>;

extern "C" {
void zheev_(const char* jobz, const char* uplo, const int* n, cplx* a, const int* lda, double* w,
            cplx* work, const int* lwork, double* rwork, int* info, std::size_t, std::size_t);
void zheevd_(const char* jobz, const char* uplo, const int* n, cplx* a, const int* lda, double* w,
             cplx* work, const int* lwork, double* rwork, const int* lrwork, int* iwork,
             const int* liwork, int* info, std::size_t, std::size_t);
void zheevr_(const char* jobz, const char* range, const char* uplo, const int* n, cplx* a,
             const int* lda, const double* vl, const double* vu, const int* il, const int* iu,
             const double* abstol, int* m, double* w, cplx* z, const int* ldz, int* isuppz,
             cplx* work, const int* lwork, double* rwork, const int* lrwork, int* iwork,
             const int* liwork, int* info, std::size_t, std::size_t, std::size_t);
}

namespace {

constexpr int n = sweep::n_states;
constexpr double J = -1.0, ratio1 = 0.1, ratio2 = 0.2;
constexpr std::array<double, 4> d1_values = {0.0, 0.5, 3.0, 17.0};

// The Hamiltonian of the sweep at D1 (D2 = D1), split and complex.
struct Matrix {
  double ar[n * n], ai[n * n];
  cplx a[n * n];
};

const Matrix& matrix(std::size_t k) {
  static const std::array<Matrix, d1_values.size()> all = [] {
    std::array<Matrix, d1_values.size()> m{};
    for (std::size_t i = 0; i < m.size(); ++i) {
      const double D1 = d1_values[i];
      double w[n];
      const passes::PassTerms t = passes::pass_terms(D1, ratio1, ratio2);
      sweep::build_spin_hamiltonian(J, D1, t.D2, t.E1, t.E2, m[i].ar, m[i].ai, w);
      for (int e = 0; e < n * n; ++e) m[i].a[e] = cplx(m[i].ar[e], m[i].ai[e]);
    }
    return m;
  }();
  return all[k];
}

// ch on a fresh copy of the matrix: its eigenvalues in w; ierr.
int run_ch(const Matrix& m, int matz, double* w) {
  model::EigenArrays a;
  std::memcpy(a.ar, m.ar, sizeof a.ar);
  std::memcpy(a.ai, m.ai, sizeof a.ai);
  eigen::ch(n, n, a.ar, a.ai, w, matz, a.zr, a.zi, a.fv1, a.fv2, a.fm1, a.ierr);
  benchmark::DoNotOptimize(a.zr);
  benchmark::DoNotOptimize(a.zi);
  return a.ierr;
}

// One LAPACK driver with its workspace, sized by a query.
struct Lapack {
  enum Driver { ev, evd, evr } driver;
  char jobz;
  std::vector<cplx> work;
  std::vector<double> rwork;
  std::vector<int> iwork;
  int lwork = -1, lrwork = -1, liwork = -1;
  cplx a[n * n], z[n * n];
  int isuppz[2 * n];

  // The workspace query: every size -1, the optimal sizes come back in the
  // first element of each array (zheev takes rwork of 3n - 2 unasked).
  Lapack(Driver d, bool vectors)
      : driver(d), jobz(vectors ? 'V' : 'N'), work(1), rwork(3 * n - 2), iwork(1) {
    double w[n];
    call(matrix(0), w);
    lwork = static_cast<int>(work[0].real());
    if (driver != ev) lrwork = static_cast<int>(rwork[0]), liwork = iwork[0];
    work.resize(lwork);
    rwork.resize(std::max(lrwork, 3 * n - 2));
    iwork.resize(std::max(liwork, 1));
  }

  // Solves a fresh copy of m, eigenvalues in w; LAPACK's info.
  int call(const Matrix& m, double* w) {
    std::memcpy(a, m.a, sizeof a);
    cplx* wk = work.data();
    double* rw = rwork.data();
    int* iw = iwork.data();
    const int one = 1, nn = n;
    int info = 0, found = 0;
    const double none = 0.0, abstol = 0.0;
    switch (driver) {
      case ev:
        zheev_(&jobz, "L", &nn, a, &nn, w, wk, &lwork, rw, &info, 1, 1);
        break;
      case evd:
        zheevd_(&jobz, "L", &nn, a, &nn, w, wk, &lwork, rw, &lrwork, iw, &liwork, &info, 1, 1);
        break;
      case evr:
        zheevr_(&jobz, "A", "L", &nn, a, &nn, &none, &none, &one, &nn, &abstol, &found, w, z, &nn,
                isuppz, wk, &lwork, rw, &lrwork, iw, &liwork, &info, 1, 1, 1);
        break;
    }
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(z);
    return info;
  }
};

const char* const driver_names[] = {"zheev", "zheevd", "zheevr"};

std::string name(const std::string& solver, int matz, std::size_t k) {
  char d1[16];
  std::snprintf(d1, sizeof d1, "%g", d1_values[k]);
  return solver + (matz ? "/V" : "/N") + "/D1=" + d1;
}

// Every solver must give ch's eigenvalues before any is timed.
bool solvers_agree() {
  bool ok = true;
  for (std::size_t k = 0; k < d1_values.size(); ++k)
    for (int matz : {0, 1}) {
      double w[n];
      if (run_ch(matrix(k), matz, w) != 0) ok = false;
      for (int d = Lapack::ev; d <= Lapack::evr; ++d) {
        Lapack peer(static_cast<Lapack::Driver>(d), matz != 0);
        double v[n];
        if (peer.call(matrix(k), v) != 0) ok = false;
        for (int i = 0; i < n; ++i)
          if (!(std::abs(v[i] - w[i]) <= 1e-12 * (1.0 + std::abs(w[i])))) {
            std::printf("%s: level %d is %.17g, ch gives %.17g\n",
                        name(driver_names[d], matz, k).c_str(), i + 1, v[i], w[i]);
            ok = false;
          }
      }
    }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!solvers_agree()) return 1;

  for (int matz : {0, 1})
    for (std::size_t k = 0; k < d1_values.size(); ++k) {
      benchmark::RegisterBenchmark(name("ch", matz, k).c_str(), [matz, k](benchmark::State& s) {
        double w[n];
        for (auto _ : s) {
          run_ch(matrix(k), matz, w);
          benchmark::DoNotOptimize(w);
        }
      });
      for (int d = Lapack::ev; d <= Lapack::evr; ++d)
        benchmark::RegisterBenchmark(
            name(driver_names[d], matz, k).c_str(), [matz, k, d](benchmark::State& s) {
              Lapack peer(static_cast<Lapack::Driver>(d), matz != 0);
              double w[n];
              for (auto _ : s) {
                peer.call(matrix(k), w);
                benchmark::DoNotOptimize(w);
              }
            });
    }

  bench::Summary summary;
  benchmark::RunSpecifiedBenchmarks(&summary);
  benchmark::Shutdown();

  // Ratios peer / ch: above 1 means ch is faster.
  std::printf("\nch against LAPACK on the dimer Hamiltonian (median ns per call; ratio = peer / ch)\n");
  std::printf("%-4s %-8s %10s %10s %7s %10s %7s %10s %7s\n", "path", "D1", "ch", "zheev", "ratio",
              "zheevd", "ratio", "zheevr", "ratio");
  for (int matz : {0, 1}) {
    double log_sum[3] = {0, 0, 0};
    int counted = 0;
    for (std::size_t k = 0; k < d1_values.size(); ++k) {
      const double t = summary.time(name("ch", matz, k));
      if (t <= 0) continue;
      std::printf("%-4s %-8g %10.1f", matz ? "V" : "N", d1_values[k], t);
      for (int d = 0; d < 3; ++d) {
        const double p = summary.time(name(driver_names[d], matz, k));
        std::printf(" %10.1f %7.2f", p, p / t);
        log_sum[d] += std::log(p / t);
      }
      std::printf("\n");
      ++counted;
    }
    if (counted == 0) continue;
    std::printf("%-4s %-8s %10s", matz ? "V" : "N", "geomean", "");
    for (int d = 0; d < 3; ++d) std::printf(" %10s %7.2f", "", std::exp(log_sum[d] / counted));
    std::printf("\n");
  }
  std::printf("path N: ch matz = 0 against jobz = 'N'; path V: ch matz = 1 against jobz = 'V'\n");
}
