// dimerstates: the sixteen levels of the pair, or of every pass of a sweep
// of one parameter with each state followed, labelled by their spin
// character. Options and conventions: dimerstates --help.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "options.hpp"
#include "table.hpp"

namespace {

using common::Failure;

// The levels of one pass, by the Hamiltonian the run uses; throws when they
// cannot be computed. what names the pass in the message ("" for one pass).
states::Spectrum levels(const states::Options& o, const common::ModelInput& in,
                        const std::string& what) {
  const states::Spectrum s =
      o.general ? states::compute_general(in.resolve()) : states::compute(states::Options::pass_of(in));
  if (s.ierr != 0)
    throw Failure(what + "eigenvalue " + std::to_string(s.ierr) + " did not converge in 30 iterations");
  for (const states::Level& l : s.levels)
    if (!std::isfinite(l.energy) || !std::isfinite(l.s2) || !std::isfinite(l.sn))
      throw Failure(what + "the levels are not finite numbers: the parameters are too large");
  return s;
}

// The passes of the sweep, one after another, each written when it is done
// (in blocks of about 64 KiB).
int run_sweep(const states::Options& o) {
  common::write_stdout(states::heading(o));
  states::Follower follow;
  std::string rows;
  const common::Range& r = o.sweep->range;
  for (std::int64_t k = 1;; ++k) {
    const double x = r.at(k);
    if (x > r.to) break;
    const common::ModelInput in = o.at(x);
    char what[96];
    std::snprintf(what, sizeof what, "%s = %g: ", o.sweep->name.c_str(), x);
    states::Spectrum s = levels(o, in, what);
    const std::array<int, states::n> level_of = follow.next(s);
    std::array<int, states::n> state_of{};
    for (int a = 0; a < states::n; ++a) state_of[level_of[a]] = a;
    rows += states::rows(o, in, x, s, state_of);
    if (rows.size() >= (1u << 16)) {
      common::write_stdout(rows);
      rows.clear();
    }
  }
  common::write_stdout(rows);
  return 0;
}

int run(const std::vector<std::string>& args) {
  const states::Options o = states::parse_options(args);
  if (o.help) {
    common::write_stdout(states::usage());
    return 0;
  }
  if (o.version) {
    common::write_stdout(common::version_line("dimerstates"));
    return 0;
  }
  if (o.sweep) return run_sweep(o);
  const states::Spectrum s = levels(o, o.input(), "");
  std::array<int, states::n> in_order{};
  for (int j = 0; j < states::n; ++j) in_order[j] = j;
  // The table is made whole before any of it is written.
  common::write_stdout(states::heading(o) + states::rows(o, o.input(), 0.0, s, in_order));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return common::run_program("dimerstates",
                             [&] { return run(std::vector<std::string>(argv + 1, argv + argc)); });
}
