// Tests of ch: the dimension check, the path chosen by matz, what stays
// untouched, and eigenpairs of seeded Hermitian matrices against the reference.
// At the order 16 ch takes the fast paths, which order16_test compares with
// the plain routines bit for bit.
#include <cstdlib>
#include <new>

#include "eigen_test_support.hpp"

// Counts every allocation of this binary, so that a test can show that ch allocates nothing.
// The replaced operators pair new with malloc and delete with free, which GCC,
// seeing free called where delete was written, takes for a mismatch.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static long allocations = 0;
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace eigen_test;

// The arrays of one call in one buffer: ar, ai, zr, zi (nm x c each), then w, fv1, fv2
// (c each) and fm1 (2 x c), with c = max(n, 1).
struct Args {
  int nm, n, c = std::max(n, 1), ierr = -7;
  std::vector<double> all = std::vector<double>(4 * nm * c + 5 * c, qnan);
  double* m(int q) { return all.data() + q * nm * c; }  // 0 ar, 1 ai, 2 zr, 3 zi
  double* v(int q) { return m(4) + q * c; }             // 0 w, 1 fv1, 2 fv2, 3 fm1
  void load(const Matrix& h) {  // the lower triangle of h
    for (int k = 1; k <= n; ++k)
      for (int i = k; i <= n; ++i) {
        m(0)[(k - 1) * nm + i - 1] = h(i, k).real();
        m(1)[(k - 1) * nm + i - 1] = h(i, k).imag();
      }
  }
  void run(int matz) {
    eigen::ch(nm, n, m(0), m(1), v(0), matz, m(2), m(3), v(1), v(2), v(3), ierr);
  }
};

TEST(Ch, OrderOutsideOneToNmTouchesNothing) {
  struct Row { int line, nm, n, ierr; };
  const Row rows[] = {
      {__LINE__, 16, 17, 170}, {__LINE__, 1, 2, 20}, {__LINE__, 4, 0, 0}, {__LINE__, 4, -1, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    for (int matz : {0, 1}) {
      Args a{row.nm, row.n};
      for (std::size_t i = 0; i < a.all.size(); ++i) a.all[i] = 1.0 + static_cast<double>(i);
      const std::vector<double> before = a.all;
      a.run(matz);
      EXPECT_EQ(a.ierr, row.ierr);
      EXPECT_TRUE(same_bits(a.all, before));
    }
  }
}

// matz = 0 leaves zr and zi alone, any other value computes vectors. With nm > n, no row
// beyond n is touched (5.0 in zr, zi) and no strict upper triangle or row beyond n of ar, ai
// (NaN, so that reading them would spoil the results) is read or written.
TEST(Ch, MatzChoosesPathAndOnlyLowerLeadingBlockIsTouched) {
  struct Row { int line, matz; };
  const Row rows[] = {{__LINE__, 0}, {__LINE__, 1}, {__LINE__, 2}, {__LINE__, -1}};
  const int n = 6, nm = 9;
  const Matrix h = make_hermitian(n, Kind::random);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Args a{nm, n};
    a.load(h);
    std::fill(a.m(2), a.m(4), 5.0);
    const std::vector<double> before = a.all;
    a.run(row.matz);
    EXPECT_EQ(a.ierr, 0);
    expect_values(h, a.v(0));
    if (row.matz != 0) expect_vectors(h, a.v(0), gather(n, nm, a.m(2), a.m(3)));
    for (int x = 0; x < 4 * nm * n; ++x) {
      const int i = x % nm + 1, k = x / nm % n + 1, z = x >= 2 * nm * n;
      if (i > n || (!z && i < k) || (z && row.matz == 0)) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a.all[x]), std::bit_cast<std::uint64_t>(before[x]))
            << (z ? "z" : "a") << (x / nm / n % 2 ? "i(" : "r(") << i << ", " << k << ")";
      }
    }
  }
}

TEST(Ch, SeededMatricesMatchTheReference) {
  for (Kind kind : all_kinds)
    for (int n = 1; n <= 40; ++n)
      for (int matz : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "kind " << int(kind) << ", n " << n << ", matz "
                                        << matz);
        const Matrix h = make_hermitian(n, kind);
        Args a{n, n};
        a.load(h);
        a.run(matz);
        ASSERT_EQ(a.ierr, 0);
        expect_values(h, a.v(0));
        if (matz == 0) continue;
        expect_vectors(h, a.v(0), gather(n, n, a.m(2), a.m(3)));
        for (int j = 1; j <= n; ++j)  // zi(n, j) = 0; zi = 0 throughout for a real matrix
          for (int i = kind == Kind::real ? 1 : n; i <= n; ++i)
            EXPECT_EQ(a.m(3)[(j - 1) * n + i - 1], 0.0) << "zi(" << i << ", " << j << ")";
      }
}

TEST(Ch, NegligibleElementNextToTheDiagonal) {
  struct Row { int line; Matrix h; };
  const Row rows[] = {{__LINE__, with_negligible_element(3)},
                      {__LINE__, [] {  // 1e-300 beside 1e10: divided, 1e-310
                         Matrix h = with_negligible_element(3);
                         h(3, 1) = h(1, 3) = 1e10;
                         h(3, 2) = h(2, 3) = 1e-300;
                         return h;
                       }()},
                      {__LINE__, with_negligible_element(16)}};
  for (const Row& row : rows)
    for (int matz : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "line " << row.line << ", matz " << matz);
      const int n = row.h.n;
      Args a{n, n};
      a.load(row.h);
      a.run(matz);
      ASSERT_EQ(a.ierr, 0);
      expect_values(row.h, a.v(0));
      if (matz != 0) expect_vectors(row.h, a.v(0), gather(n, n, a.m(2), a.m(3)));
    }
}

TEST(Ch, AllocatesNothing) {
  Args a{16, 16};
  a.load(make_hermitian(16, Kind::random));
  const long before = allocations;
  a.run(1);
  EXPECT_EQ(allocations, before);
  EXPECT_EQ(a.ierr, 0);
}

}  // namespace
