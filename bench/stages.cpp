// Where a pass's time goes, stage by stage, in processor time per pass: the
// sweep of bench/run (J = -1, ratios 0.1 and 0.2) in steps of 1e-3, each
// batch of passes built anew and diagonalised through the program's own fast
// paths at every width the processor has; then the E12.6
// fields, the records through the record writer into a file and laid
// straight into its window as the program lays them (the writes of the
// windows included), and the bare writes of as many bytes in pieces of
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
#include <memory>
#include <string>
#include <vector>

#include "eigen/eigen.hpp"
#include "eigen/order16/order16.hpp"
#include "sweep/hamiltonian.hpp"
#include "sweep/passes.hpp"
#include "sweep/records.hpp"
#include "textio/efield.hpp"
#include "textio/format.hpp"
#include "textio/platform.hpp"
#include "textio/record.hpp"
#include "textio/units.hpp"

namespace {

namespace o16 = eigen::order16;
constexpr int n = sweep::n_states;
constexpr int passes = 20008;  // D1 = 0, 0.001, ..., 20.007: whole batches
static_assert(passes % o16::batch == 0);

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

// The passes in batches, as the program has them, built, then, unless
// build_only, diagonalised as asked.
void solve_batches(o16::Width width, int matz, o16::Reads reads, bool build_only) {
  constexpr int size = o16::batch;
  sweep::Pass group[size];
  auto work = std::make_unique<o16::Workspace>();
  double sink = 0.0;
  for (int k = 0; k < passes; k += size) {
    o16::Call calls[size];
    for (int q = 0; q < size; ++q) {
      sweep::Pass& p = group[q];
      const double D1 = D1_of(k + q);
      sweep::build_spin_hamiltonian(-1.0, D1, D1, D1 * 0.1, D1 * 0.2, p.ar, p.ai, p.w);
      calls[q] = {p.ar, p.ai, p.w, p.zr, p.zi, p.fv1, p.fv2, p.fm1, &p.ierr};
    }
    if (!build_only) o16::solve(width, matz, calls, size, reads, *work);
    for (const sweep::Pass& p : group) sink = sink + p.w[0] + p.zr[5] + p.zi[7];
  }
  if (sink == 1.0) std::puts("");  // keeps the work
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::printf("Processor time per pass in us, median of %d rounds of %d passes\n", rounds, passes);
  for (o16::Width width : o16::all_widths) {
    if (!o16::has(width)) {
      std::printf("  %d lanes: not run, this processor lacks them\n", static_cast<int>(width));
      continue;
    }
    const auto stage = [width](int matz, o16::Reads reads, bool build_only) {
      return std::function<void()>([=] { solve_batches(width, matz, reads, build_only); });
    };
    const std::vector<double> t =
        per_pass(rounds, {stage(0, o16::Reads::all, true), stage(0, o16::Reads::values, false),
                          stage(0, o16::Reads::all, false), stage(1, o16::Reads::all, false)});
    std::printf("  %d lanes%s: build %.2f; then ch with matz 0 as the program asks it (w and "
                "ierr) %.2f, with every result %.2f; with matz 1 %.2f\n",
                static_cast<int>(width), width == o16::widest() ? " (the program's)" : "", t[0],
                t[1] - t[0], t[2] - t[0], t[3] - t[0]);
  }

  // The values of the records: D1 and the sixteen levels, D1 and the gap.
  std::vector<double> levels(static_cast<std::size_t>(passes) * n);
  {
    sweep::Pass p;
    for (int k = 0; k < passes; ++k) {
      const double D1 = D1_of(k);
      sweep::build_spin_hamiltonian(-1.0, D1, D1, D1 * 0.1, D1 * 0.2, p.ar, p.ai, p.w);
      int ierr = 0;
      eigen::ch(n, n, p.ar, p.ai, p.w, 0, p.zr, p.zi, p.fv1, p.fv2, p.fm1, ierr);
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

  // A directory of this run's own: another run at the same time has its own.
  std::string dir_name = (std::filesystem::temp_directory_path() / "dimerscan-stages-XXXXXX").string();
  if (::mkdtemp(dir_name.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path dir = dir_name;
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  textio::Format f6;
  std::string error;
  if (!f6.parse("(1x,e12.6,2x,e12.6)", &error)) return 1;
  const auto fail = [](const textio::Status& status) {
    if (!status) return;
    std::fprintf(stderr, "stages: a record could not be written: %s\n", textio::message_of(*status).c_str());
    std::exit(1);
  };
  // The records through the general record walk, or laid straight into the
  // windows as the program lays them.
  const auto records_body = [&](bool laid) {
    return std::function<void()>([&, laid] {
      textio::UnitTable units(textio::platform::standard_handles());
      textio::RecordWriter writer(units);
      for (int k = 0; k < passes; ++k) {
        const double D1 = D1_of(k);
        const double* w = &levels[static_cast<std::size_t>(k) * n];
        char d1[sweep::field_width];
        if (laid) textio::format_e_field(d1, D1, sweep::field_width, sweep::field_digits);
        for (int i = 0; i <= n; ++i) {
          const int unit = i < n ? 10 : 20;
          const double v[2] = {D1, i < n ? w[i] : w[2] - w[0]};
          if (laid && sweep::lay_record(units.find(unit), d1, v[1])) continue;
          fail(writer.write(unit, f6, v));
        }
      }
      // Written out and closed, their locks with them, for the next round.
      for (const int unit : {10, 20}) {
        if (units.find(unit)->close() != 0) std::exit(1);
      }
    });
  };
  const std::vector<double> records = per_pass(rounds, {records_body(false), records_body(true)});
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
  std::printf("  18 E12.6 fields %.2f; 17 records (their fields and the writes included) "
              "through the general record walk %.2f, laid straight into the windows as the "
              "program lays them %.2f; the writes of 493 bytes alone %.2f\n",
              fields, records[0], records[1], writes);
}
