// dimerstates: the sixteen levels of the pair for one D1, or for every pass of
// a sweep with each state followed, labelled by their spin character. Options and conventions: dimerstates --help.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "model/pass_rule.hpp"
#include "states.hpp"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "dimerstates: %s\n", message.c_str());
  return 1;
}

// Writes text to standard output in full; false when any of it is lost.
bool put(const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  return std::fflush(stdout) == 0 && written && !std::ferror(stdout);
}

// The passes of the sweep, one after another, each written when it is done.
int run_sweep(const states::Options& opt) {
  if (!put(states::sweep_heading(opt))) return fail("standard output could not be written");
  states::Follower follow;
  states::Parameters p = opt.p;
  std::string rows;
  for (std::int64_t kpass = 1;; ++kpass) {
    p.D1 = passes::d1_of(kpass, opt.from, opt.step);
    if (p.D1 > opt.to) break;
    states::Spectrum s = states::compute(p);
    if (s.ierr != 0)
      return fail("D1 = " + std::to_string(p.D1) + ": eigenvalue " + std::to_string(s.ierr) +
                  " did not converge in 30 iterations");
    for (const states::Level& l : s.levels)
      if (!std::isfinite(l.energy) || !std::isfinite(l.s2) || !std::isfinite(l.sx))
        return fail("the levels are not finite numbers: the parameters are too large");
    rows += states::sweep_rows(p.D1, s, follow.next(s), opt.csv);
    // Written in blocks of about 64 KiB.
    if (rows.size() >= (1u << 16)) {
      if (!put(rows)) return fail("standard output could not be written");
      rows.clear();
    }
  }
  return put(rows) ? 0 : fail("standard output could not be written");
}

}  // namespace

int main(int argc, char** argv) {
  states::Options opt;
  const std::string fault = states::parse_options(std::vector<std::string>(argv + 1, argv + argc), opt);
  if (!fault.empty()) return fail(fault + " (try --help)");
  if (opt.help) return put(states::usage()) ? 0 : fail("standard output could not be written");

  if (opt.sweep) return run_sweep(opt);

  const states::Spectrum s = states::compute(opt.p);
  if (s.ierr != 0)
    return fail("eigenvalue " + std::to_string(s.ierr) + " did not converge in 30 iterations");
  for (const states::Level& l : s.levels)
    if (!std::isfinite(l.energy) || !std::isfinite(l.s2) || !std::isfinite(l.sx))
      return fail("the levels are not finite numbers: the parameters are too large");
  // The table is made whole before any of it is written.
  const std::string table = states::render(opt.p, s, opt.csv);
  return put(table) ? 0 : fail("standard output could not be written");
}
