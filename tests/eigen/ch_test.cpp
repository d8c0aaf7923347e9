// Tests of ch: the dimension check, the path chosen by matz, what
// stays untouched, and eigenpairs of seeded Hermitian matrices against LAPACK.
#include <cstdlib>
#include <new>

#include "eigen/views.hpp"
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

TEST(Ch, SeededMatricesMatchLapack) {
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

// An element next to the diagonal so small against its row that the reduction's
// 1 + g / f overflows (its divided modulus subnormal) counts as zero, instead of
// spreading infinities and NaN through the results while ierr stays 0.
Matrix with_negligible_element(int n) {
  Matrix h{n};
  auto set = [&](int i, int k, cplx x) {
    h(i, k) = x;
    h(k, i) = std::conj(x);
  };
  if (n == 3) {  // row 3: (1, 1e-320 i) beside the diagonal 3
    for (int i = 1; i <= 3; ++i) h(i, i) = i;
    set(2, 1, {1, 1});
    set(3, 1, 1);
    set(3, 2, {0, 1e-320});
  } else {  // rows 5, 6, 8, 13, 15, 16 zero; residues fall to 1e-239 before row 4 is reduced
    set(2, 1, {0, 2.0625});
    set(3, 1, 0.0625);
    set(7, 3, 0.0625);
    set(9, 4, {-2.25, -2.1875});
    set(10, 4, {-3.375, 3.0625});
    set(11, 4, -0.5);
    set(12, 4, {0, 0.25});
    set(14, 4, {2.75, 0.25});
  }
  return h;
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

// ch takes a second build of its routines for nm = n = 16; with a leading
// dimension of 17 the same matrix goes through the routines for any order, and
// every result must have the same bits.
// Matrices of order 16 that take every branch of the reduction: each kind,
// a negligible element, a not-a-number, and rows of very different scales.
std::vector<Matrix> fixed_order_cases() {
  std::vector<Matrix> matrices;
  for (Kind kind : all_kinds) matrices.push_back(make_hermitian(16, kind));
  matrices.push_back(with_negligible_element(16));
  Matrix nan_matrix = make_hermitian(16, Kind::random);
  nan_matrix(9, 2) = {0.5, qnan};
  matrices.push_back(nan_matrix);
  Matrix scaled = make_hermitian(16, Kind::random);
  for (int k = 1; k <= 16; ++k)
    for (int i = 1; i <= 16; ++i) scaled(i, k) *= std::ldexp(1.0, 40 * ((i + k) % 5 - 2));
  matrices.push_back(scaled);
  return matrices;
}

// Bits of x, with every not-a-number alike.
std::uint64_t bits(double x) { return std::isnan(x) ? 1 : std::bit_cast<std::uint64_t>(x); }

// The arrays of htridi at the fixed order, loaded with the lower triangle of h
// and, above it, values the reduction must leave alone.
struct Fixed16 {
  std::vector<double> ar, ai, d = std::vector<double>(16), e = d, e2 = d;
  std::vector<double> tau = std::vector<double>(32);
  explicit Fixed16(const Matrix& h) : ar(256), ai(256) {
    for (int k = 1; k <= 16; ++k)
      for (int i = 1; i <= 16; ++i) {
        ar[(k - 1) * 16 + i - 1] = i < k ? -7.0 * i : h(i, k).real();
        ai[(k - 1) * 16 + i - 1] = i < k ? 5.0 * k : h(i, k).imag();
      }
  }
  // Bit for bit what the general reduction (leading dimension 17) makes of h.
  void expect_reduced(const Matrix& h) const {
    const int n = 16, nm = 17;
    const Reduced any = reduce(h, nm);
    for (int k = 1; k <= n; ++k)
      for (int i = 1; i <= n; ++i) {
        const double r = ar[(k - 1) * n + i - 1], im = ai[(k - 1) * n + i - 1];
        if (i < k) {
          EXPECT_TRUE(r == -7.0 * i && im == 5.0 * k) << "(" << i << ", " << k << ")";
        } else {
          EXPECT_EQ(bits(r), bits(any.ar[(k - 1) * nm + i - 1])) << "ar(" << i << ", " << k << ")";
          EXPECT_EQ(bits(im), bits(any.ai[(k - 1) * nm + i - 1])) << "ai(" << i << ", " << k << ")";
        }
      }
    for (int i = 0; i < n; ++i) {
      EXPECT_EQ(bits(d[i]), bits(any.d[i])) << "d " << i;
      EXPECT_EQ(bits(e[i]), bits(any.e[i])) << "e " << i;
      EXPECT_EQ(bits(e2[i]), bits(any.e2[i])) << "e2 " << i;
    }
    for (int i = 0; i < 2 * n; ++i) EXPECT_EQ(bits(tau[i]), bits(any.tau[i])) << "tau " << i;
  }
};

// The reduction at the fixed order runs rows side by side in vectors of the
// widths the processor has, of one matrix or of two: each must give the bits
// of the general reduction and leave the strict upper triangle alone, also
// when the two of a pair take different branches (a zero row, a negligible
// element, in one of them only).
TEST(Ch, EveryVectorWidthReducesAsTheGeneralReduction) {
  using eigen::fixed::Lanes;
  const std::vector<Matrix> matrices = fixed_order_cases();
  int widths = 0;
  for (Lanes lanes : {Lanes::one, Lanes::four, Lanes::eight}) {
    if (!eigen::fixed::has_lanes(lanes)) continue;
    ++widths;
    for (std::size_t m = 0; m < matrices.size(); ++m) {
      SCOPED_TRACE(testing::Message() << "lanes " << int(lanes) << ", matrix " << m);
      Fixed16 one(matrices[m]);
      eigen::fixed::htridi_lanes(lanes, one.ar.data(), one.ai.data(), one.d.data(), one.e.data(),
                                 one.e2.data(), one.tau.data());
      one.expect_reduced(matrices[m]);

      for (std::size_t o = 0; o < matrices.size(); ++o) {
        SCOPED_TRACE(testing::Message() << "pair with matrix " << o);
        Fixed16 both[2] = {Fixed16(matrices[m]), Fixed16(matrices[o])};
        double* ar[2] = {both[0].ar.data(), both[1].ar.data()};
        double* ai[2] = {both[0].ai.data(), both[1].ai.data()};
        double* d[2] = {both[0].d.data(), both[1].d.data()};
        double* e[2] = {both[0].e.data(), both[1].e.data()};
        double* e2[2] = {both[0].e2.data(), both[1].e2.data()};
        double* tau[2] = {both[0].tau.data(), both[1].tau.data()};
        eigen::fixed::htridi_pair_lanes(lanes, ar, ai, d, e, e2, tau);
        both[0].expect_reduced(matrices[m]);
        both[1].expect_reduced(matrices[o]);
      }
    }
  }
  RecordProperty("widths", widths);
  EXPECT_GE(widths, 1);
}

TEST(Ch, FixedOrderGivesTheResultsOfAnyOrder) {
  const std::vector<Matrix> matrices = fixed_order_cases();
  const int n = 16;
  for (std::size_t m = 0; m < matrices.size(); ++m)
    for (int matz : {0, 1}) {
      SCOPED_TRACE(testing::Message() << "matrix " << m << ", matz " << matz);
      Args fixed{n, n}, any{n + 1, n};
      fixed.load(matrices[m]);
      any.load(matrices[m]);
      fixed.run(matz);
      any.run(matz);
      EXPECT_EQ(fixed.ierr, any.ierr);
      for (int q = 0; q < 4; ++q) {  // ar, ai lower triangles; zr, zi
        if (q >= 2 && matz == 0) break;
        for (int k = 1; k <= n; ++k)
          for (int i = q < 2 ? k : 1; i <= n; ++i)
            EXPECT_EQ(bits(fixed.m(q)[(k - 1) * n + i - 1]), bits(any.m(q)[(k - 1) * (n + 1) + i - 1]))
                << "matrix " << q << " (" << i << ", " << k << ")";
      }
      for (int q = 0; q < 4; ++q)  // w, fv1, fv2, fm1
        for (int i = 0; i < (q == 3 ? 2 * n : n); ++i)
          EXPECT_EQ(bits(fixed.v(q)[i]), bits(any.v(q)[i])) << "vector " << q << " [" << i << "]";
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

namespace {

// Fills a problem with the lower triangle (and, as garbage, the upper one) of h.
void fill(eigen::Problem16& p, const eigen_test::Matrix& h) {
  for (int k = 1; k <= 16; ++k) {
    for (int j = 1; j <= 16; ++j) {
      p.ar[(k - 1) * 16 + j - 1] = h(j, k).real();
      p.ai[(k - 1) * 16 + j - 1] = h(j, k).imag();
    }
  }
}

// Bits of a problem's results, with every not-a-number counted alike.
std::vector<std::uint64_t> results(const eigen::Problem16& p, int matz) {
  std::vector<std::uint64_t> bits;
  const auto add = [&](const double* x, int count) {
    for (int i = 0; i < count; ++i) {
      bits.push_back(std::isnan(x[i]) ? 1 : std::bit_cast<std::uint64_t>(x[i]));
    }
  };
  add(p.w, 16);
  add(p.ar, 256);
  add(p.ai, 256);
  if (matz != 0) {
    add(p.zr, 256);
    add(p.zi, 256);
  }
  bits.push_back(static_cast<std::uint64_t>(p.ierr));
  return bits;
}

}  // namespace

// Two problems side by side give exactly what each gives alone, also when they
// take different branches (a zero row in one only) or one holds not-a-number.
TEST(Ch, PairGivesTheResultsOfEachAlone) {
  using eigen_test::Kind;
  const eigen_test::Matrix nan_matrix = [] {
    auto h = eigen_test::make_hermitian(16, Kind::random);
    h(5, 3) = {eigen_test::qnan, 0.0};
    return h;
  }();
  const struct {
    int line;
    eigen_test::Matrix first, second;
  } rows[] = {
      {__LINE__, eigen_test::make_hermitian(16, Kind::random),
       eigen_test::make_hermitian(16, Kind::real)},
      {__LINE__, eigen_test::make_hermitian(16, Kind::repeated),
       eigen_test::make_hermitian(16, Kind::random)},
      {__LINE__, eigen_test::make_hermitian(16, Kind::zero_rows),
       eigen_test::make_hermitian(16, Kind::zero_rows)},
      {__LINE__, eigen_test::make_hermitian(16, Kind::zero_rows),
       eigen_test::make_hermitian(16, Kind::random)},
      {__LINE__, eigen_test::make_hermitian(16, Kind::zero),
       eigen_test::make_hermitian(16, Kind::repeated)},
      {__LINE__, nan_matrix, eigen_test::make_hermitian(16, Kind::random)},
      {__LINE__, with_negligible_element(16), eigen_test::make_hermitian(16, Kind::random)},
      {__LINE__, with_negligible_element(16), with_negligible_element(16)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    for (const int matz : {0, 1}) {
      eigen::Problem16 pair[2], alone[2];
      fill(pair[0], row.first);
      fill(pair[1], row.second);
      fill(alone[0], row.first);
      fill(alone[1], row.second);
      eigen::ch_pair(matz, pair[0], pair[1]);
      for (eigen::Problem16& p : alone) {
        eigen::ch(16, 16, p.ar, p.ai, p.w, matz, p.zr, p.zi, p.fv1, p.fv2, p.fm1, p.ierr);
      }
      EXPECT_EQ(results(pair[0], matz), results(alone[0], matz)) << "matz " << matz;
      EXPECT_EQ(results(pair[1], matz), results(alone[1], matz)) << "matz " << matz;
    }
  }
}
