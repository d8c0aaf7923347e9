#include "sweep/dimerscan.hpp"

#include <cstdint>
#include <string>

#include "eigen/eigen.hpp"
#include "sweep/hamiltonian.hpp"
#include "textio/statements.hpp"

namespace {

using textio::Location;

constexpr const char* source = "dimerscan";
constexpr Location at(int line) { return Location{source, line}; }

// Units of the console and of the result files.
constexpr int console = 6;
constexpr int levels_unit = 10;  // fort.10: D1 and each energy
constexpr int gap_unit = 20;     // fort.20: D1 and the gap w(3) - w(1)

constexpr const char* f1 = "(1X,'Enter the value for J (cm-1) :')";
constexpr const char* f2 =
    "(1X,'Enter values for D1min, D1max (cm-1),'                           "
    "' and  the step size :')";
constexpr const char* f3 = "(1X,'Enter value for D2 (cm-1):')";
constexpr const char* f4 = "(1X,'Enter values for E1/D1 and E2/D2:')";
constexpr const char* f5 =
    "(1X,'Do you want to see the eigenvectors?'/                        "
    "1X,'(1 = yes, 0 = no):')";
constexpr const char* f6 = "(1x,e12.6,2x,e12.6)";

// The pass counter is 32 bits wide: pass 2147483648 never comes.
constexpr std::int64_t max_passes = 2147483647;

// The sweep ends in time when D1 of pass max_passes + 1, computed as every
// pass computes it, would exceed D1max (or when there is no pass at all).
bool sweep_ends(double D1min, double D1max, double step) {
  return D1min > D1max || static_cast<double>(max_passes) * step + D1min > D1max;
}

}  // namespace

void MAIN__() {
  constexpr int n = sweep::n_states;

  textio::Format prompt_j, prompt_range, prompt_d2, prompt_ratios, prompt_vectors, record;
  textio::compile_format(prompt_j, f1);
  textio::compile_format(prompt_range, f2);
  textio::compile_format(prompt_d2, f3);
  textio::compile_format(prompt_ratios, f4);
  textio::compile_format(prompt_vectors, f5);
  textio::compile_format(record, f6);

  // Values a null answer leaves alone keep these.
  double J = 0.0;
  double D1min = 0.0;
  double D1max = 0.0;
  double step = 0.0;
  double D2 = 0.0;
  double ratio1 = 0.0;
  double ratio2 = 0.0;
  std::int32_t matz = 1;

  textio::write(at(41), console, prompt_j);
  textio::read(at(43), J);
  textio::write(at(44), console, prompt_range);
  textio::read(at(47), D1min, D1max, step);
  if (!sweep_ends(D1min, D1max, step)) {
    textio::report_failure(
        at(47), {textio::ErrorKind::bad_value,
                 "D1 sweep does not end: the step must be positive and give at most "
                 "2147483647 passes"});
  }
  textio::write(at(48), console, prompt_d2);
  textio::read(at(50), D2);
  textio::write(at(51), console, prompt_ratios);
  textio::read(at(53), ratio1, ratio2);
  textio::write(at(60), console, prompt_vectors);
  textio::read(at(63), matz);

  // Passes are computed two at a time (the eigenvalues of both come out as
  // if computed alone) and written in their order.
  eigen::Problem16 pass[2];
  double D1_of[2];

  for (std::int64_t kpass = 1;; kpass += 2) {
    int passes = 0;
    for (; passes < 2; ++passes) {
      // D1 afresh from the pass counter, never accumulated.
      const double D1 = static_cast<double>(kpass + passes - 1) * step + D1min;
      // Both ions carry D1; the D2 read above takes no part.
      D2 = D1;
      const double E1 = D1 * ratio1;
      const double E2 = D2 * ratio2;
      if (D1 > D1max) break;
      D1_of[passes] = D1;
      eigen::Problem16& p = pass[passes];
      sweep::build_spin_hamiltonian(J, D1, D2, E1, E2, p.ar, p.ai, p.w);
    }
    if (passes == 2) {
      eigen::ch_pair(matz, pass[0], pass[1]);
    } else if (passes == 1) {
      eigen::Problem16& p = pass[0];
      eigen::ch(n, n, p.ar, p.ai, p.w, matz, p.zr, p.zi, p.fv1, p.fv2, p.fm1, p.ierr);
    }

    for (int k = 0; k < passes; ++k) {
      const double D1 = D1_of[k];
      const double* w = pass[k].w;
      if (pass[k].ierr != 0) {
        textio::report_failure(at(265), {textio::ErrorKind::bad_value,
                                         "Eigenvalue " + std::to_string(pass[k].ierr) +
                                             " did not converge in 30 iterations"});
      }
      for (int i = 0; i < n; ++i) textio::write(at(265), levels_unit, record, {D1, w[i]});
      const double gap = w[2] - w[0];
      textio::write(at(268), gap_unit, record, {D1, gap});
    }
    if (passes < 2) break;
  }
}
