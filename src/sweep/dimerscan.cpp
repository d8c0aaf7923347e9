#include "sweep/dimerscan.hpp"

#include <cstdint>
#include <memory>
#include <string>

#include "eigen/eigen.hpp"
#include "model/pass_rule.hpp"
#include "model/record_layout.hpp"
#include "sweep/finite_levels.hpp"
#include "sweep/hamiltonian.hpp"
#include "sweep/passes.hpp"
#include "sweep/records.hpp"
#include "textio/efield.hpp"
#include "textio/run.hpp"
#include "textio/statements.hpp"

namespace {

using textio::Location;

constexpr const char* source = "dimerscan";
constexpr Location at(int line) { return Location{source, line}; }

// Line numbers of the statements, which error reports name.
namespace line {
constexpr int prompt_j = 41, read_j = 43;
constexpr int prompt_range = 44, read_range = 47;
constexpr int prompt_d2 = 48, read_d2 = 50;
constexpr int prompt_ratios = 51, read_ratios = 53;
constexpr int prompt_vectors = 60, read_vectors = 63;
constexpr int level_record = 265, gap_record = 268;
}  // namespace line

// Units of the console and of the result files.
constexpr int console = 6;
constexpr int levels_unit = 10;  // fort.10: D1 and each energy
constexpr int gap_unit = 20;     // fort.20: D1 and the gap w(3) - w(1)
// Bytes of a record of F6: 1 + 12 + 2 + 12 characters, carriage return, line feed.
constexpr std::int64_t record_bytes = model::record::bytes;

constexpr const char* f1 = "(1X,'Enter the value for J (cm-1) :')";
constexpr const char* f2 =
    "(1X,'Enter values for D1min, D1max (cm-1),'                           "
    "' and  the step size :')";
constexpr const char* f3 = "(1X,'Enter value for D2 (cm-1):')";
constexpr const char* f4 = "(1X,'Enter values for E1/D1 and E2/D2:')";
constexpr const char* f5 =
    "(1X,'Do you want to see the eigenvectors?'/                        "
    "1X,'(1 = yes, 0 = no):')";
constexpr const char* f6 = model::record::format;

void refuse_endless_sweep() {
  textio::report_failure(at(line::read_range), {textio::ErrorKind::bad_value, passes::endless});
}

// A pass whose diagonalisation failed ends the run instead of writing
// meaningless energies.
void refuse_unconverged(int ierr) {
  textio::report_failure(at(line::level_record),
                         {textio::ErrorKind::bad_value,
                          "Eigenvalue " + std::to_string(ierr) + " did not converge in " +
                              std::to_string(eigen::max_sweeps) + " iterations"});
}

// An interrupt came during the sweep: ends the run after the passes
// written, which both files hold whole.
[[noreturn]] void end_interrupted(std::int64_t passes) {
  const std::string n = std::to_string(passes);
  textio::end_interrupted("pass " + n, "fort.10 and fort.20 hold passes 1 to " + n);
}

}  // namespace

void MAIN__() {
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

  textio::write(at(line::prompt_j), console, prompt_j);
  textio::read(at(line::read_j), J);
  textio::write(at(line::prompt_range), console, prompt_range);
  textio::read(at(line::read_range), D1min, D1max, step);
  if (!passes::sweep_ends(D1min, D1max, step)) refuse_endless_sweep();
  textio::write(at(line::prompt_d2), console, prompt_d2);
  textio::read(at(line::read_d2), D2);
  textio::write(at(line::prompt_ratios), console, prompt_ratios);
  textio::read(at(line::read_ratios), ratio1, ratio2);
  textio::write(at(line::prompt_vectors), console, prompt_vectors);
  textio::read(at(line::read_vectors), matz);

  // From here on an interrupt ends the run after the pass it comes in.
  textio::catch_interrupts(source);
  textio::write_in_passes({{levels_unit, sweep::Pass::n * record_bytes}, {gap_unit, record_bytes}});
  std::int64_t passes_written = 0;

  // Sixteen records of D1 and each energy, ascending, and one of D1 and the
  // gap, laid straight into the windows where they fit; then, when an
  // interrupt came, the end of the run.
  textio::UnitTable& units = textio::installed().units();
  const auto write_pass = [&record, &passes_written, &units](const sweep::Pass& pass) {
    if (!sweep::finite_levels(pass.w, sweep::Pass::n)) textio::report_failure(at(line::level_record), {textio::ErrorKind::bad_value, sweep::not_finite(passes_written + 1)});
    if (pass.ierr != 0) refuse_unconverged(pass.ierr);
    const double D1 = pass.D1;
    const double* w = pass.w;
    char d1[sweep::field_width];
    textio::format_e_field(d1, D1, sweep::field_width, sweep::field_digits);
    for (int i = 0; i < sweep::Pass::n; ++i) {
      if (sweep::lay_record(units.find(levels_unit), d1, w[i])) continue;
      textio::write(at(line::level_record), levels_unit, record, {D1, w[i]});
    }
    const double gap = w[2] - w[0];
    if (!sweep::lay_record(units.find(gap_unit), d1, gap)) {
      textio::write(at(line::gap_record), gap_unit, record, {D1, gap});
    }
    ++passes_written;
    if (textio::interrupted()) end_interrupted(passes_written);
  };

  // For each pass: build, solve (a batch at a time), write. The batch, some
  // hundred KiB with its work arrays, is taken from the heap once, so that
  // the sweep runs in a small stack and allocates nothing per pass.
  const auto owned = std::make_unique<sweep::PassBatch>(matz);
  sweep::PassBatch& batch = *owned;
  for (std::int64_t kpass = 1;; ++kpass) {
    // D1 afresh from the pass counter, never accumulated.
    const double D1 = passes::d1_of(kpass, D1min, step);
    // Both ions carry D1; the D2 read above takes no part.
    const passes::PassTerms terms = passes::pass_terms(D1, ratio1, ratio2);
    D2 = terms.D2;
    if (D1 > D1max) break;
    sweep::Pass& pass = batch.next(D1);
    sweep::build_spin_hamiltonian(J, D1, D2, terms.E1, terms.E2, pass.ar, pass.ai, pass.w);
    batch.solve_when_full(write_pass);
  }
  batch.finish(write_pass);
  if (textio::interrupted()) end_interrupted(passes_written);
}
