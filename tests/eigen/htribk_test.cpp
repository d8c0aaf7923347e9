// Tests of htribk: calls that transform nothing or apply only the
// phase factors, and Q^H A Q = T for the Q it builds from the identity.
#include "eigen_test_support.hpp"

namespace {

using namespace eigen_test;
constexpr double x = qnan;  // never read

TEST(Htribk, NothingToDoOrPhaseFactorsOnly) {
  // zi is NaN on entry; ar, ai, tau NaN where they must not be read.
  struct Row {
    int line, n, m;
    std::vector<double> ar, ai, tau, zr, zr_out, zi_out;
  };
  const Row rows[] = {
      {__LINE__, 1, 0, {x}, {x}, {x, x}, {2}, {2}, {x}},  // m = 0: nothing read or written
      {__LINE__, 2, -1, {x, x, x, x}, {x, x, x, x}, {x, x, x, x}, {2, 3}, {2, 3}, {x, x}},
      // n = 1, tau = 1: zr kept, zi(1, j) = -(zr(1, j) * 0), signed
      {__LINE__, 1, 3, {x}, {x}, {1, 0}, {2, -3, 0}, {2, -3, 0}, {-0.0, 0.0, -0.0}},
      // row 2 with normaliser ai(2, 2) = 0: no reflection; row 1 times conj(i)
      {__LINE__, 2, 2, {x, x, x, x}, {x, x, x, 0}, {0, 1, 1, 0}, {1, 1, 2, 0},
       {0, 1, 0, 0}, {-1, -0.0, -2, -0.0}}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    std::vector<double> zr = row.zr, zi(zr.size(), qnan);
    eigen::htribk(row.n, row.n, row.ar.data(), row.ai.data(), row.tau.data(), row.m, zr.data(),
                  zi.data());
    EXPECT_TRUE(same_bits(zr, row.zr_out));
    EXPECT_TRUE(same_bits(zi, row.zi_out));
  }
}

// From the identity, with zi NaN on entry and nm > n, htribk builds a unitary Q with
// Q^H A Q = T, the tridiagonal matrix of htridi, and zi(n, j) = 0; rows beyond n and
// the column beyond m = n stay as they were.
TEST(Htribk, BuildsUnitaryQThatTridiagonalises) {
  for (Kind kind : all_kinds)
    for (int n = 1; n <= 40; ++n) {
      SCOPED_TRACE(testing::Message() << "kind " << int(kind) << ", n " << n);
      const Matrix h = make_hermitian(n, kind);
      const int nm = n + 2;
      const Reduced r = reduce(h, nm);
      std::vector<double> zr((n + 1) * nm, 5.0), zi((n + 1) * nm, qnan);
      for (int j = 1; j <= n; ++j)
        for (int i = 1; i <= n; ++i) zr[(j - 1) * nm + i - 1] = i == j ? 1.0 : 0.0;
      eigen::htribk(nm, n, r.ar.data(), r.ai.data(), r.tau.data(), n, zr.data(), zi.data());
      const Matrix q = gather(n, nm, zr.data(), zi.data());
      expect_near(product(q, q, true), identity(n), orth);
      expect_near(product(q, product(h, q), true), tridiagonal(r.d, r.e), h.tol());
      for (int j = 1; j <= n + 1; ++j)
        for (int i = 1; i <= nm; ++i) {
          const double vr = zr[(j - 1) * nm + i - 1], vi = zi[(j - 1) * nm + i - 1];
          if (i > n || j > n) {
            EXPECT_TRUE(vr == 5.0 && std::isnan(vi)) << i << ", " << j;
          } else if (i == n) {
            EXPECT_EQ(vi, 0.0) << "zi(n, " << j << ")";
          }
        }
    }
}

}  // namespace
