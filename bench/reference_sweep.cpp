// The D1 sweep of dimerscan as one would write it with LAPACK and C stdio:
// the same five answers (scanf), the same matrices, zheev ('N' for an
// eigenvector answer of 0, 'V' otherwise), the same two files.
#include <complex>
#include <cstdio>
#include <vector>

#include "c_e_field.hpp"
#include "dialogue.hpp"
#include "sweep/hamiltonian.hpp"

using cplx = std::complex<double>;

extern "C" void zheev_(const char* jobz, const char* uplo, const int* n, cplx* a, const int* lda,
                       double* w, cplx* work, const int* lwork, double* rwork, int* info,
                       std::size_t, std::size_t);

int main() {
  constexpr int n = sweep::n_states;
  bench::Answers answers;
  if (!bench::ask(answers)) return 2;
  [[maybe_unused]] const auto [J, D1min, D1max, step, D2, ratio1, ratio2, matz] = answers;

  std::FILE* levels = std::fopen("fort.10", "wb");
  std::FILE* gaps = std::fopen("fort.20", "wb");
  if (levels == nullptr || gaps == nullptr) {
    std::perror("fort.10/fort.20");
    return 2;
  }

  const char jobz = matz != 0 ? 'V' : 'N';
  const int order = n;
  cplx a[n * n];
  double ar[n * n], ai[n * n], w[n], rwork[3 * n - 2];
  int info = 0, lwork = -1;
  cplx size;
  zheev_(&jobz, "L", &order, a, &order, w, &size, &lwork, rwork, &info, 1, 1);
  lwork = static_cast<int>(size.real());
  std::vector<cplx> work(lwork);

  char d1_field[13] = {}, field[13] = {};
  for (long long k = 1;; ++k) {
    const double D1 = static_cast<double>(k - 1) * step + D1min;
    const double E1 = D1 * ratio1, E2 = D1 * ratio2;
    if (D1 > D1max) break;
    sweep::build_spin_hamiltonian(J, D1, D1, E1, E2, ar, ai, w);
    for (int i = 0; i < n * n; ++i) a[i] = cplx(ar[i], ai[i]);
    zheev_(&jobz, "L", &order, a, &order, w, work.data(), &lwork, rwork, &info, 1, 1);
    if (info != 0) {
      std::fprintf(stderr, "zheev failed at D1 = %g: info %d\n", D1, info);
      return 2;
    }
    bench::c_e_field(d1_field, D1);
    for (int i = 0; i < n; ++i) {
      bench::c_e_field(field, w[i]);
      std::fprintf(levels, " %s  %s\r\n", d1_field, field);
    }
    bench::c_e_field(field, w[2] - w[0]);
    std::fprintf(gaps, " %s  %s\r\n", d1_field, field);
  }
  if (std::fclose(levels) != 0 || std::fclose(gaps) != 0) {
    std::perror("fort.10/fort.20");
    return 2;
  }
}
