// Tests of tql2: exact results where the steps pin them, rows and
// columns beyond n untouched, NaN input bounded by n, and eigenpairs of the
// tridiagonal matrices htridi makes from seeded Hermitian matrices.
#include "eigen_test_support.hpp"

namespace {

using namespace eigen_test;
constexpr double x = qnan;  // e(1): never read

std::vector<double> identity_array(int n) {  // as ch passes it
  std::vector<double> z(n * n, 0.0);
  for (int i = 1; i <= n; ++i) z[(i - 1) * n + i - 1] = 1.0;
  return z;
}

TEST(Tql2, ExactResults) {
  // d within tol of expected (0: exact); z (column-major) exactly as expected.
  struct Row { int line; std::vector<double> d, e, expected; double tol; std::vector<double> z; };
  const double c = 1 / std::sqrt(2.0);  // c = s of the single rotation
  const Row rows[] = {
      {__LINE__, {4}, {x}, {4}, 0, {1}},  // n = 1: nothing done, e untouched
      {__LINE__, {2, 2, 1}, {x, 0, 0}, {1, 2, 2}, 0, {0, 0, 1, 0, 1, 0, 1, 0, 0}},
      {__LINE__, {1, 1}, {x, 1}, {0, 2}, 0x1p-51, {c, -c, c, c}},
      {__LINE__, {5, 1, 1}, {x, 0, 1}, {0, 2, 5}, 0x1p-51, {0, c, -c, 0, c, c, 1, 0, 0}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const int n = static_cast<int>(row.d.size());
    std::vector<double> d = row.d, e = row.e, z = identity_array(n);
    int ierr = -7;
    eigen::tql2(n, n, d.data(), e.data(), z.data(), ierr);
    EXPECT_EQ(ierr, 0);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(d[i], row.expected[i], row.tol) << i;
    EXPECT_TRUE(same_bits(z, row.z));
    if (n == 1) {
      EXPECT_TRUE(same_bits(e, row.e));
    }
  }
}

// NaN input: the sweeps turn e(n) into NaN, so only the bound n ends the next block
// search (the zeros after e would otherwise stop it past n, and the sweep would
// write there). A NaN fails the test |e(l)| > b: every l counts as converged.
TEST(Tql2, NanInputStaysInsideArrays) {
  struct Row { int line; std::vector<double> d, e; };
  const Row rows[] = {{__LINE__, {qnan, 1, 2}, {x, 1, 1}},
                      {__LINE__, {1, 2, qnan}, {x, 1, 1}},
                      {__LINE__, {3, qnan, 1, 4}, {x, 0, 1, 1}},
                      {__LINE__, {1, 2, 3}, {x, qnan, 1}}};
  const int pad = 3;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const int n = static_cast<int>(row.d.size()), nm = n + pad;
    std::vector<double> d(n + pad, 7.0), e(n + pad, 0.0), z(nm * nm, 7.0);
    std::copy(row.d.begin(), row.d.end(), d.begin());
    std::copy(row.e.begin(), row.e.end(), e.begin());
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) z[(j - 1) * nm + i - 1] = i == j ? 1.0 : 0.0;
    int ierr = -7;
    eigen::tql2(nm, n, d.data(), e.data(), z.data(), ierr);
    EXPECT_EQ(ierr, 0);
    for (int i = n; i < n + pad; ++i) EXPECT_TRUE(d[i] == 7.0 && e[i] == 0.0) << i;
    for (int j = 1; j <= nm; ++j)
      for (int i = 1; i <= nm; ++i)
        if (i > n || j > n) {
          EXPECT_EQ(z[(j - 1) * nm + i - 1], 7.0) << i << ", " << j;
        }
  }
}

TEST(Tql2, SeededMatricesMatchTheReference) {
  for (Kind kind : all_kinds)
    for (int n = 1; n <= 40; ++n) {
      SCOPED_TRACE(testing::Message() << "kind " << int(kind) << ", n " << n);
      const Matrix h = make_hermitian(n, kind);
      Reduced r = reduce(h, n);
      const Matrix t = tridiagonal(r.d, r.e);
      std::vector<double> z = identity_array(n);
      r.e[0] = qnan;
      int ierr = -7;
      eigen::tql2(n, n, r.d.data(), r.e.data(), z.data(), ierr);
      ASSERT_EQ(ierr, 0);
      expect_values(h, r.d.data());
      expect_vectors(t, r.d.data(), gather(n, n, z.data(), nullptr));
    }
}

}  // namespace
