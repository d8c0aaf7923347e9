// The E12.6 field: textio::format_e_field against snprintf's exponent form
// followed by the same layout, on the values two sweeps write (D1 and each
// energy, D1 and each gap: zeros, negatives, small and large exponents).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "c_e_field.hpp"
#include "eigen/eigen.hpp"
#include "model/eigen_arrays.hpp"
#include "model/pass_rule.hpp"
#include "summary.hpp"
#include "sweep/hamiltonian.hpp"
#include "textio/efield.hpp"

namespace {

constexpr int n = sweep::n_states;

// The values of every field of the records of a sweep, in the order written.
void sweep_fields(std::vector<double>& out, double J, double D1min, double D1max, double step,
                  double ratio1, double ratio2) {
  for (long k = 1;; ++k) {
    const double D1 = passes::d1_of(k, D1min, step);
    if (D1 > D1max) break;
    model::EigenArrays a;
    const passes::PassTerms t = passes::pass_terms(D1, ratio1, ratio2);
    sweep::build_spin_hamiltonian(J, D1, t.D2, t.E1, t.E2, a.ar, a.ai, a.w);
    eigen::ch(n, n, a.ar, a.ai, a.w, 0, a.zr, a.zi, a.fv1, a.fv2, a.fm1, a.ierr);
    for (double e : a.w) out.insert(out.end(), {D1, e});
    out.insert(out.end(), {D1, a.w[2] - a.w[0]});
  }
}

const std::vector<double>& values() {
  static const std::vector<double> all = [] {
    std::vector<double> v;
    sweep_fields(v, -1.0, 0.0, 20.0, 0.02, 0.1, 0.2);
    sweep_fields(v, 3.7, -4.0, 4.0, 0.01, 1.0 / 3.0, 0.05);
    return v;
  }();
  return all;
}

template <void (*field)(char*, double)>
void fields(benchmark::State& state) {
  const std::vector<double>& v = values();
  char out[12];
  for (auto _ : state)
    for (double x : v) {
      field(out, x);
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * v.size()));
}

void ours(char* out, double v) { textio::format_e_field(out, v, 12, 6); }

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // Both must write the same field for every value before either is timed.
  long differ = 0, zeros = 0, negatives = 0;
  for (double x : values()) {
    char a[12], b[12];
    ours(a, x);
    bench::c_e_field(b, x);
    if (std::memcmp(a, b, 12) != 0 && differ++ < 5)
      std::printf("%.17g: %.12s against %.12s\n", x, a, b);
    zeros += x == 0.0;
    negatives += x < 0.0;
  }
  std::printf("%zu values (%ld zeros, %ld negatives); fields that differ: %ld\n", values().size(),
              zeros, negatives, differ);
  if (differ != 0) return 1;

  benchmark::RegisterBenchmark("format_e_field", fields<ours>);
  benchmark::RegisterBenchmark("snprintf+layout", fields<bench::c_e_field>);
  bench::Summary summary;
  benchmark::RunSpecifiedBenchmarks(&summary);
  benchmark::Shutdown();

  const double count = static_cast<double>(values().size());
  const double t_ours = summary.time("format_e_field") / count;
  const double t_c = summary.time("snprintf+layout") / count;
  std::printf("\nE12.6 field (median ns per field): format_e_field %.1f, snprintf+layout %.1f, "
              "ratio snprintf+layout / format_e_field %.2f\n",
              t_ours, t_c, t_c / t_ours);
}
