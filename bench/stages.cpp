// Where a pass's time goes, stage by stage, in processor time per pass: the
// sweep of bench/run (J = -1, ratios 0.1 and 0.2) in steps of 1e-3, each
// group of passes built anew and taken through the program's own fast paths
// one stage after another at every width the processor has; then the E12.6
// fields, the records through the record writer into a file (the writes of
// the windows included), and the bare writes of as many bytes in pieces of
// the window's size. A stage's time is that of the stages up to it less that
// of the stages before it; each figure is the median of several rounds, and
// every round runs every variant once.
//
// usage: stages [rounds, default 5]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "eigen/order16/kernels.hpp"
#include "sweep/hamiltonian.hpp"
#include "sweep/passes.hpp"
#include "textio/efield.hpp"
#include "textio/format.hpp"
#include "textio/platform.hpp"
#include "textio/record.hpp"
#include "textio/units.hpp"

namespace {

namespace o16 = eigen::order16;
constexpr int n = sweep::n_states;
constexpr int passes = 20008;  // D1 = 0, 0.001, ..., 20.007: whole groups of eight

double cpu_seconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

double D1_of(int k) { return k * 1e-3; }

// Microseconds per pass of each body, the median of rounds in each of which
// every body runs once, so that a change of the machine's load falls on all.
std::vector<double> per_pass(int rounds, const std::vector<std::function<void()>>& bodies) {
  std::vector<std::vector<double>> t(bodies.size());
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      const double start = cpu_seconds();
      bodies[b]();
      t[b].push_back((cpu_seconds() - start) / passes * 1e6);
    }
  }
  std::vector<double> medians;
  for (std::vector<double>& x : t) {
    std::sort(x.begin(), x.end());
    medians.push_back(x[x.size() / 2]);
  }
  return medians;
}
double per_pass(int rounds, const std::function<void()>& body) { return per_pass(rounds, std::vector{body})[0]; }

// The passes in groups of eight, as the program batches them, built, then
// taken through the stages up to `upto`: 0 none, 1 the reductions (eight at
// once in lanes, or two by two; with matz 0 only what tqlrat needs, as the
// program asks), 2 tqlrat or tql2 (four by four), 3 htribk.
void solve_groups(o16::Width width, int matz, int upto) {
  constexpr int size = sweep::PassBatch::size;
  static_assert(size == 8, "the reductions take eight passes at once");
  constexpr int T = 4;  // QL iterations side by side
  sweep::Pass group[size];
  double sink = 0.0;
  for (int k = 0; k < passes; k += size) {
    o16::Call calls[size];
    o16::Reduction reductions[size];
    double* d[size];
    double* e2[size];
    int* ierr[size];
    for (int q = 0; q < size; ++q) {
      sweep::Pass& p = group[q];
      const double D1 = D1_of(k + q);
      sweep::build_spin_hamiltonian(-1.0, D1, D1, D1 * 0.1, D1 * 0.2, p.ar, p.ai, p.w);
      calls[q] = {p.ar, p.ai, p.w, p.zr, p.zi, p.fv1, p.fv2, p.fm1, &p.ierr};
      reductions[q] = {p.ar, p.ai, p.w, p.fv1, p.fv2, p.fm1};
      d[q] = p.w;
      e2[q] = p.fv2;
      ierr[q] = &p.ierr;
    }
    if (upto >= 1 && !o16::reduce_in_lanes(width, reductions, matz == 0)) {
      for (int q = 0; q < size; q += 2) o16::reduce(width, reductions + q, 2);
    }
    for (int q = 0; q < size; q += T) {
      if (upto >= 2 && matz == 0) o16::tqlrat_together(d + q, e2 + q, ierr + q, T);
      if (upto >= 2 && matz != 0) o16::vectors(width, o16::Stage::rotations, calls + q, T);
      if (upto >= 3 && matz != 0) o16::vectors(width, o16::Stage::back_transform, calls + q, T);
    }
    for (const sweep::Pass& p : group) sink = sink + p.w[0] + p.zr[5] + p.zi[7];
  }
  if (sink == 1.0) std::puts("");  // keeps the work
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::printf("Processor time per pass in us, median of %d rounds of %d passes\n", rounds, passes);
  for (o16::Width width : o16::all_widths) {
    if (!o16::has(width)) continue;
    const auto stage = [width](int matz, int upto) {
      return std::function<void()>([=] { solve_groups(width, matz, upto); });
    };
    const std::vector<double> t = per_pass(
        rounds, {stage(0, 0), stage(0, 1), stage(0, 2), stage(1, 1), stage(1, 2), stage(1, 3)});
    const double build = t[0], reduced = t[1], values = t[2], reduced_all = t[3], rotated = t[4],
                 vectors = t[5];
    std::printf("  %d lanes%s: build %.2f, htridi %.2f (%.2f with what the vectors need), "
                "tqlrat %.2f, tql2 %.2f, htribk %.2f\n",
                static_cast<int>(width), width == o16::widest() ? " (the program's)" : "", build,
                reduced - build, reduced_all - build, values - reduced, rotated - reduced_all,
                vectors - rotated);
  }

  // The values of the records: D1 and the sixteen levels, D1 and the gap.
  std::vector<double> levels(static_cast<std::size_t>(passes) * n);
  {
    sweep::Pass p;
    for (int k = 0; k < passes; ++k) {
      const double D1 = D1_of(k);
      sweep::build_spin_hamiltonian(-1.0, D1, D1, D1 * 0.1, D1 * 0.2, p.ar, p.ai, p.w);
      const o16::Call call{p.ar, p.ai, p.w, p.zr, p.zi, p.fv1, p.fv2, p.fm1, &p.ierr};
      o16::solve(0, &call, 1);
      std::copy(p.w, p.w + n, levels.begin() + static_cast<std::ptrdiff_t>(k) * n);
    }
  }
  const double fields = per_pass(rounds, [&] {
    char text[12];
    unsigned sink = 0;
    for (int k = 0; k < passes; ++k) {
      const double* w = &levels[static_cast<std::size_t>(k) * n];
      textio::format_e_field(text, D1_of(k), 12, 6);
      sink += static_cast<unsigned char>(text[3]);
      for (int i = 0; i < n; ++i) {
        textio::format_e_field(text, w[i], 12, 6);
        sink += static_cast<unsigned char>(text[3]);
      }
      textio::format_e_field(text, w[2] - w[0], 12, 6);
      sink += static_cast<unsigned char>(text[3]);
    }
    if (sink == 1) std::puts("");
  });

  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "dimerscan-stages";
  std::filesystem::create_directories(dir);
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  textio::Format f6;
  std::string error;
  if (!f6.parse("(1x,e12.6,2x,e12.6)", &error)) return 1;
  const double records = per_pass(rounds, [&] {
    textio::UnitTable units(textio::platform::standard_handles());
    textio::RecordWriter records(units);
    for (int k = 0; k < passes; ++k) {
      const double D1 = D1_of(k);
      const double* w = &levels[static_cast<std::size_t>(k) * n];
      for (int i = 0; i < n; ++i) {
        const double v[2] = {D1, w[i]};
        if (records.write(10, f6, v)) std::exit(1);
      }
      const double v[2] = {D1, w[2] - w[0]};
      if (records.write(20, f6, v)) std::exit(1);
    }
  });
  const double writes = per_pass(rounds, [&] {
    const int fd = ::open("fort.30", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> window(textio::window_size, ' ');
    const std::size_t total = std::size_t{passes} * 17 * 29;
    for (std::size_t done = 0; done < total; done += window.size()) {
      if (textio::platform::write_all(fd, window.data(), window.size()) != 0) std::exit(1);
    }
    ::close(fd);
  });
  std::filesystem::current_path(here);
  std::filesystem::remove_all(dir);
  std::printf("  18 E12.6 fields %.2f; 17 records %.2f (their fields, by the memo 17, and the "
              "writes included); the writes of 493 bytes alone %.2f\n",
              fields, records, writes);
}
