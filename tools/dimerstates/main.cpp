// dimerstates: the sixteen levels of the pair for one D1, labelled by their
// spin character. Options and conventions: dimerstates --help.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
  states::Options opt;
  const std::string fault = states::parse_options(std::vector<std::string>(argv + 1, argv + argc), opt);
  if (!fault.empty()) return fail(fault + " (try --help)");
  if (opt.help) return put(states::usage()) ? 0 : fail("standard output could not be written");

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
