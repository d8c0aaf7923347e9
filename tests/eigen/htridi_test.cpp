// Tests of htridi and of the complex modulus it uses: the closed
// forms for n = 1 and 2, zero rows and zero or tiny elements next to the
// diagonal, and the hand-over on seeded Hermitian matrices.
#include "eigen_test_support.hpp"

namespace {

using namespace eigen_test;

TEST(ComplexModulus, AccurateSymmetricAndExactAtZero) {
  EXPECT_EQ(std::bit_cast<std::uint64_t>(eigen::complex_modulus(0.0, 0.0)), 0u);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(eigen::complex_modulus(-0.0, -0.0)), 0u);
  struct Row { int line; double x, y; };
  const Row rows[] = {
      {__LINE__, 3.0, 4.0},        {__LINE__, 1.0, 1.0},      {__LINE__, 0.1, 0.7},
      {__LINE__, 1.0, 0.0},        {__LINE__, 1e-300, 1e-300}, {__LINE__, 1e-320, 0.0},
      {__LINE__, 3e-320, 4e-320},  {__LINE__, 1.0, 1e-300},   {__LINE__, 1e-160, 1e-300},
      {__LINE__, 0.5, 1e-320},     {__LINE__, 1e-200, 0.7},   {__LINE__, 0.9999999999999999, 1.0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    const long double lx = row.x, ly = row.y;
    const long double ref = std::sqrt(lx * lx + ly * ly);
    const double r = eigen::complex_modulus(row.x, row.y);
    const double ulp = std::nextafter(static_cast<double>(ref), 1e300) - static_cast<double>(ref);
    EXPECT_LE(std::fabs(r - ref), ulp);
    for (double s : {eigen::complex_modulus(-row.x, row.y), eigen::complex_modulus(row.x, -row.y),
                     eigen::complex_modulus(row.y, row.x), eigen::complex_modulus(-row.y, -row.x)})
      EXPECT_EQ(std::bit_cast<std::uint64_t>(s), std::bit_cast<std::uint64_t>(r));
  }
}

TEST(Htridi, OrderOne) {
  double ar = -3.5, ai = qnan, d = qnan, e = qnan, e2 = qnan, tau[2] = {qnan, qnan};
  eigen::htridi(1, 1, &ar, &ai, &d, &e, &e2, tau);
  EXPECT_TRUE(same_bits({d, ar, ai, e, e2, tau[0], tau[1]}, {-3.5, -3.5, 0, 0, 0, 1, 0}));
}

// n = 2, a = element (2, 1) not zero: d and the diagonal of ar as given, e(2) = |a|,
// tau(., 1) = -a / |a|, tau(., 2) = 1, a stored doubled, normaliser ai(2, 2) = sqrt(2) |a|.
TEST(Htridi, OrderTwoClosedForms) {
  struct Row { int line; double a11, a22, re, im; };
  const Row rows[] = {{__LINE__, 1.5, -2.0, 3.0, 4.0},    {__LINE__, 0.0, 0.0, -6.0, 0.0},
                      {__LINE__, 2.0, 1.0, 0.0, -2.0},    {__LINE__, -1.0, 1.0, 1e-200, 3e-200},
                      {__LINE__, 0.0, 0.0, 1e150, -1e150}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    double ar[4] = {row.a11, row.re, qnan, row.a22}, ai[4] = {0.0, row.im, qnan, qnan};
    double d[2], e[2], e2[2], tau[4];
    eigen::htridi(2, 2, ar, ai, d, e, e2, tau);
    EXPECT_TRUE(same_bits({d[0], d[1], e[0], e2[0], tau[2], tau[3], ar[0], ar[3], ai[0]},
                          {row.a11, row.a22, 0, 0, 1, 0, row.a11, row.a22, 0}));
    EXPECT_TRUE(std::isnan(ar[2]) && std::isnan(ai[2]));  // strict upper triangle untouched
    const long double lre = row.re, lim = row.im;
    const double m = static_cast<double>(std::sqrt(lre * lre + lim * lim)), u = 4 * 0x1p-52;
    const double got[] = {e[1], e2[1], tau[0], tau[1], ar[1], ai[1], ai[3]};
    const double want[] = {m, m * m, -row.re / m, -row.im / m, 2 * row.re, 2 * row.im,
                           std::sqrt(2.0) * m};
    const double tol[] = {u * m, u * m * m, u, u, u * m, u * m, u * m};
    for (int q = 0; q < 7; ++q) EXPECT_NEAR(got[q], want[q], tol[q]) << q;
  }
}

// n = 3, diagonal (1, 2, 3): the phase factors after a zero row 3, a row 2 that is zero
// when its step comes, a zero element (3, 2), a tiny element (3, 2), and a subnormal one
// that counts as zero.
TEST(Htridi, PhaseFactorsAtZeroRowsAndElements) {
  struct Row { int line; cplx a21, a31, a32, tau2; double tol; };  // tol 0: tau(., 2) exact
  const double r2 = 1 / std::sqrt(2.0), u = 2e-16;
  const Row rows[] = {{__LINE__, {1, 2}, {0, 0}, {0, 0}, {1, 0}, 0},
                      {__LINE__, {0, 0}, {0, 0}, {3, -4}, {-0.6, 0.8}, u},
                      {__LINE__, {1, 1}, {0, 2}, {0, 0}, {-1, 0}, 0},
                      {__LINE__, {1, 1}, {1, 0}, {1e-300, 1e-300}, {-r2, -r2}, u},
                      // 1 + g / f would overflow: the element counts as zero
                      {__LINE__, {1, 1}, {1, 0}, {0, 1e-320}, {-1, 0}, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    double ar[9] = {1, row.a21.real(), row.a31.real(), qnan, 2, row.a32.real(), qnan, qnan, 3};
    double ai[9] = {0, row.a21.imag(), row.a31.imag(), qnan, 0, row.a32.imag(), qnan, qnan, qnan};
    double d[3], e[3], e2[3], tau[6];
    eigen::htridi(3, 3, ar, ai, d, e, e2, tau);
    EXPECT_NEAR(tau[2], row.tau2.real(), row.tol);
    EXPECT_NEAR(tau[3], row.tau2.imag(), row.tol);
    if (row.a31 == 0.0 && row.a32 == 0.0) {  // zero row 3: e = 0, untouched, normaliser 0
      EXPECT_TRUE(e[2] == 0.0 && e2[2] == 0.0 && ai[8] == 0.0 && d[2] == 3.0);
      EXPECT_TRUE(ar[2] == 0.0 && ai[2] == 0.0 && ar[5] == 0.0 && ai[5] == 0.0);
    } else if (row.a32 == 0.0) {  // zero element (3, 2): replaced by e(3)
      EXPECT_EQ(ar[5], e[2]);
      EXPECT_EQ(ai[5], 0.0);
    }
    if (row.a21 == 0.0) {  // row 2 zero when its step comes: phase factors restart at 1
      EXPECT_TRUE(e[1] == 0.0 && e2[1] == 0.0 && tau[0] == 1.0 && tau[1] == 0.0);
    }
    for (int x : {3, 6, 7}) EXPECT_TRUE(std::isnan(ar[x]) && std::isnan(ai[x]));  // upper
  }
}

// The hand-over of htridi; that the tridiagonal matrix keeps the eigenvalues is checked
// in tqlrat_test and tql2_test, that the stored reflections reduce it in htribk_test.
TEST(Htridi, HandOverOnSeededMatrices) {
  for (Kind kind : all_kinds)
    for (int n = 1; n <= 40; ++n) {
      SCOPED_TRACE(testing::Message() << "kind " << int(kind) << ", n " << n);
      const Matrix h = make_hermitian(n, kind);
      const Reduced r = reduce(h, n);
      const Matrix s = gather(n, n, r.ar.data(), r.ai.data());
      EXPECT_TRUE(r.e[0] == 0.0 && r.e2[0] == 0.0);
      EXPECT_TRUE(r.tau[2 * n - 2] == 1.0 && r.tau[2 * n - 1] == 0.0);
      for (int i = 1; i <= n; ++i) {
        SCOPED_TRACE(i);
        const double e = r.e[i - 1], e2 = r.e2[i - 1], t1 = r.tau[2 * i - 2], t2 = r.tau[2 * i - 1];
        EXPECT_EQ(s(i, i).real(), h(i, i).real());
        EXPECT_GE(e, 0.0);
        EXPECT_NEAR(e2, e * e, 1e-14 * e2);
        EXPECT_NEAR(std::hypot(t1, t2), 1.0, 4e-16 * n);  // drifts a little from step to step
        double norm2 = 0;  // normaliser: sqrt of half the squared norm of the stored vector
        for (int k = 1; k < i; ++k) norm2 += std::norm(s(i, k));
        EXPECT_NEAR(s(i, i).imag(), std::sqrt(norm2 / 2), 1e-14 * std::sqrt(norm2));
        if (kind == Kind::real) {  // phase factors +-1, ai zero left of the diagonal
          EXPECT_TRUE(std::fabs(t1) == 1.0 && t2 == 0.0);
          for (int k = 1; k < i; ++k) EXPECT_EQ(s(i, k).imag(), 0.0);
        }
      }
    }
}

}  // namespace
