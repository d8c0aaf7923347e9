// Tests of tqlrat: results where the steps pin them, and the 30-sweep
// limit reached through a NaN tolerance. On seeded matrices tqlrat runs in
// Ch.SeededMatricesMatchTheReference (matz = 0), which checks exactly htridi + tqlrat.
#include "eigen_test_support.hpp"

namespace {

using namespace eigen_test;
constexpr double x = qnan;  // e2(1): never read

// d comes back within tol of expected (0: exactly, where the steps pin it).
TEST(Tqlrat, Results) {
  struct Row { int line; std::vector<double> d, e2, expected; double tol; };
  const Row rows[] = {
      {__LINE__, {4}, {x}, {4}, 0},  // n = 1: nothing done, e2 untouched
      {__LINE__, {2, 2, 1}, {x, 0, 0}, {1, 2, 2}, 0},
      {__LINE__, {-1, 3, -1, 3}, {x, 0, 0, 0}, {-1, -1, 3, 3}, 0},
      {__LINE__, {1, 1}, {x, 1}, {eigen::eps, 2}, 0},  // g = b = 2 eps substituted for 0
      {__LINE__, {5, 1, 1}, {x, 0, 1}, {5 * eigen::eps / 2, 2, 5}, 0},  // b = 5 eps from l = 1
      // d(3) = 0 after the shift: g = b substituted at the start of the sweep
      {__LINE__, {1, 1, 0}, {x, 1, 1}, {-0.80193773580483825, 0.55495813208737119,
                                        2.2469796037174671}, 1e-15}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<double> d = row.d, e2 = row.e2;
    int ierr = -7;
    eigen::tqlrat(static_cast<int>(d.size()), d.data(), e2.data(), ierr);
    EXPECT_EQ(ierr, 0);
    for (std::size_t i = 0; i < d.size(); ++i) EXPECT_NEAR(d[i], row.expected[i], row.tol) << i;
    if (d.size() == 1) {
      EXPECT_TRUE(same_bits(e2, row.e2));
    }
  }
}

// A NaN on the diagonal makes the tolerance NaN: the block search must stop at n
// (unbounded, it would run off the buffer) and no sweep converges, so eigenvalue l
// ends at the 30-sweep limit with ierr = l and d(1..l-1) the values found, sorted.
// The arrays lie inside larger buffers whose sentinels must stay.
TEST(Tqlrat, NanToleranceStopsAtNAndEndsAtSweepLimit) {
  struct Row { int line; std::vector<double> d, e2; int ierr; std::vector<double> found; };
  const Row rows[] = {{__LINE__, {qnan, 1, 2}, {x, 1, 1}, 1, {}},
                      {__LINE__, {3, qnan, 1}, {x, 0, 1}, 2, {3}},
                      {__LINE__, {5, 2, qnan, 1}, {x, 0, 0, 1}, 3, {2, 5}}};
  const int pad = 4;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const int n = static_cast<int>(row.d.size());
    std::vector<double> d(n + 2 * pad, 7.0), e2(n + 2 * pad, 0.0);
    std::copy(row.d.begin(), row.d.end(), d.begin() + pad);
    std::copy(row.e2.begin(), row.e2.end(), e2.begin() + pad);
    int ierr = -7;
    eigen::tqlrat(n, d.data() + pad, e2.data() + pad, ierr);
    EXPECT_EQ(ierr, row.ierr);
    std::vector<double> found(d.begin() + pad, d.begin() + pad + row.ierr - 1);
    EXPECT_TRUE(same_bits(found, row.found));
    for (int i = 0; i < pad; ++i) {
      EXPECT_TRUE(d[i] == 7.0 && d[pad + n + i] == 7.0) << i;
      EXPECT_TRUE(e2[i] == 0.0 && e2[pad + n + i] == 0.0) << i;
    }
  }
}

}  // namespace
