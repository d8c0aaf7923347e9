// A Hamiltonian with an element that is not finite gives levels that are not
// all finite, through the sweep's own batches, with eigenvectors or without:
// so the sweep's check of the sixteen levels finds every pass whose matrix
// is not finite.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "sweep/finite_levels.hpp"
#include "sweep/hamiltonian.hpp"
#include "sweep/passes.hpp"

namespace {

constexpr int n = sweep::Pass::n;

TEST(FiniteLevels, EveryNonFiniteElementGivesNonFiniteLevels) {
  const double inf = std::numeric_limits<double>::infinity();
  const double bad[] = {inf, -inf, std::numeric_limits<double>::quiet_NaN()};
  int checked = 0;
  for (int matz : {0, 1}) {
    for (const double value : bad) {
      for (int imaginary : {0, 1}) {
        // Each element of the lower triangle read by the eigensolver, eight
        // passes to a batch; position (i, k) is p[k * n + i], from 0.
        for (int i = 0; i < n; ++i) {
          sweep::PassBatch batch(matz);
          int spoiled[n] = {};
          int count = 0;
          for (int k = 0; k <= i; ++k) {
            if (imaginary == 1 && k == i) continue;  // the diagonal is real
            sweep::Pass& pass = batch.next(1.0);
            sweep::build_spin_hamiltonian(-1.0, 1.0, 1.0, 0.1, 0.2, pass.ar, pass.ai, pass.w);
            (imaginary == 1 ? pass.ai : pass.ar)[k * n + i] = value;
            spoiled[count++] = k;
            int handed = 0;
            const auto check = [&](const sweep::Pass& done) {
              SCOPED_TRACE("matz " + std::to_string(matz) + ", " + std::to_string(value) +
                           (imaginary == 1 ? " in ai(" : " in ar(") + std::to_string(i + 1) +
                           ", " + std::to_string(spoiled[handed++] + 1) + ")");
              EXPECT_FALSE(sweep::finite_levels(done.w, n));
              ++checked;
            };
            if (count == sweep::PassBatch::size) {
              batch.solve_when_full(check);
              count = 0;
            } else if (k == i || (imaginary == 1 && k == i - 1)) {
              batch.finish(check);
              count = 0;
            }
          }
        }
      }
    }
  }
  // 136 elements of ar's lower triangle and 120 of ai's, three values, two answers.
  EXPECT_EQ(checked, 2 * 3 * (136 + 120));
}

TEST(FiniteLevels, FiniteLevelsPass) {
  sweep::PassBatch batch(1);
  sweep::Pass& pass = batch.next(1.0);
  sweep::build_spin_hamiltonian(-1.0, 1.0, 1.0, 0.1, 0.2, pass.ar, pass.ai, pass.w);
  batch.finish([](const sweep::Pass& done) { EXPECT_TRUE(sweep::finite_levels(done.w, n)); });
}

}  // namespace
