// The fast paths of the order 16 against the plain routines, bit for bit: at
// every width this processor has, in batches of one to nine calls,
// on the program's Hamiltonians and on matrices that take every branch of
// the reduction, also where the two of a pair take different ones.
#include <array>

#include "eigen/order16/kernels.hpp"
#include "eigen/order16/order16.hpp"
#include "eigen_test_support.hpp"
#include "sweep/hamiltonian.hpp"

namespace {

using namespace eigen_test;
constexpr int n = eigen::order16::n;

// The program's Hamiltonian for J, D1 (= D2), E1/D1 and E2/D2.
Matrix program_matrix(double J, double D1, double ratio1, double ratio2) {
  std::vector<double> ar(n * n), ai(n * n), w(n);
  sweep::build_spin_hamiltonian(J, D1, D1, D1 * ratio1, D1 * ratio2, ar.data(), ai.data(),
                                w.data());
  Matrix h{n};
  for (int q = 0; q < n * n; ++q) h.a[q] = {ar[q], ai[q]};
  return h;
}

std::vector<Matrix> cases() {
  std::vector<Matrix> matrices;
  for (Kind kind : all_kinds) matrices.push_back(make_hermitian(n, kind));
  matrices.push_back(with_negligible_element(n));
  Matrix nan_matrix = make_hermitian(n, Kind::random);
  nan_matrix(9, 2) = {0.5, qnan};
  matrices.push_back(nan_matrix);
  Matrix scaled = make_hermitian(n, Kind::random);  // rows of very different scales
  for (int k = 1; k <= n; ++k)
    for (int i = 1; i <= n; ++i) scaled(i, k) *= std::ldexp(1.0, 40 * ((i + k) % 5 - 2));
  matrices.push_back(scaled);
  // The program's own: J, D1 (= D2), E1/D1, E2/D2.
  const double passes[][4] = {{-1, 0, 0, 0}, {-1, 0.5, 0.1, 0.2}, {-1, 17, 0.1, 0.2},
                              {3.7, -4, 1.0 / 3, 0.05}, {0, 0, 0, 0}};
  for (const auto& p : passes) matrices.push_back(program_matrix(p[0], p[1], p[2], p[3]));
  return matrices;
}

// Every array of one call of ch at the order 16, loaded with the lower
// triangle of h; above it, and in zr and zi, values that must stay or be
// overwritten alike.
struct Arrays {
  std::array<double, n * n> ar, ai, zr, zi;
  std::array<double, n> w, fv1, fv2;
  std::array<double, 2 * n> fm1;
  int ierr = -7;
  explicit Arrays(const Matrix& h) {
    for (int k = 1; k <= n; ++k)
      for (int i = 1; i <= n; ++i) {
        const int at = (k - 1) * n + i - 1;
        ar[at] = i < k ? -7.0 * i : h(i, k).real();
        ai[at] = i < k ? 5.0 * k : h(i, k).imag();
        zr[at] = zi[at] = 3.0 * at;
      }
    w.fill(qnan);
    fv1.fill(qnan);
    fv2.fill(qnan);
    fm1.fill(qnan);
  }
  eigen::order16::Reduction reduction() {
    return {ar.data(), ai.data(), w.data(), fv1.data(), fv2.data(), fm1.data()};
  }
  eigen::order16::Call call() {
    return {ar.data(), ai.data(), w.data(), zr.data(), zi.data(), fv1.data(), fv2.data(),
            fm1.data(), &ierr};
  }
  // ch's steps through the plain routines.
  void plain(int matz) {
    eigen::htridi(n, n, ar.data(), ai.data(), w.data(), fv1.data(), fv2.data(), fm1.data());
    if (matz == 0) return eigen::tqlrat(n, w.data(), fv2.data(), ierr);
    for (int k = 1; k <= n; ++k)
      for (int i = 1; i <= n; ++i) zr[(k - 1) * n + i - 1] = i == k ? 1.0 : 0.0;
    eigen::tql2(n, n, w.data(), fv1.data(), zr.data(), ierr);
    if (ierr == 0) eigen::htribk(n, n, ar.data(), ai.data(), fm1.data(), n, zr.data(), zi.data());
  }
  // Bits of w and ierr, what the sweep reads.
  std::vector<std::uint64_t> values() const {
    std::vector<std::uint64_t> b;
    for (double v : w) b.push_back(std::isnan(v) ? 1 : std::bit_cast<std::uint64_t>(v));
    b.push_back(static_cast<std::uint64_t>(ierr));
    return b;
  }
  // Bits of everything, with every not-a-number alike.
  std::vector<std::uint64_t> bits() const {
    std::vector<std::uint64_t> b;
    const auto add = [&b](const auto& x) {
      for (double v : x) b.push_back(std::isnan(v) ? 1 : std::bit_cast<std::uint64_t>(v));
    };
    add(ar), add(ai), add(zr), add(zi), add(w), add(fv1), add(fv2), add(fm1);
    b.push_back(static_cast<std::uint64_t>(ierr));
    return b;
  }
};

TEST(Order16, EveryWidthAndBatchGivesTheBitsOfThePlainRoutines) {
  const std::vector<Matrix> matrices = cases();
  const int count = static_cast<int>(matrices.size());
  int widths = 0;
  for (int matz : {0, 1}) {
    std::vector<std::vector<std::uint64_t>> plain;
    for (const Matrix& h : matrices) {
      Arrays a(h);
      a.plain(matz);
      plain.push_back(a.bits());
    }
    for (int m = 0; m < count; ++m) {  // ch itself, at the widest width
      SCOPED_TRACE(testing::Message() << "ch, matz " << matz << ", matrix " << m);
      Arrays a(matrices[m]);
      eigen::ch(n, n, a.ar.data(), a.ai.data(), a.w.data(), matz, a.zr.data(), a.zi.data(),
                a.fv1.data(), a.fv2.data(), a.fm1.data(), a.ierr);
      EXPECT_EQ(a.bits(), plain[m]);
    }
    for (eigen::order16::Width width : eigen::order16::all_widths) {
      if (!eigen::order16::has(width)) continue;
      widths += matz;
      for (int size = 1; size <= 9; ++size)
        for (int first = 0; first < count; ++first) {  // each matrix in every place of a batch
          SCOPED_TRACE(testing::Message() << "width " << int(width) << ", matz " << matz
                                          << ", batch of " << size << " from matrix " << first);
          std::vector<Arrays> batch;
          for (int q = 0; q < size; ++q) batch.emplace_back(matrices[(first + q) % count]);
          std::vector<eigen::order16::Call> calls;
          for (Arrays& a : batch) calls.push_back(a.call());
          eigen::order16::solve(width, matz, calls.data(), size);
          for (int q = 0; q < size; ++q)
            EXPECT_EQ(batch[q].bits(), plain[(first + q) % count]) << "call " << q;
          // A caller that reads only w and ierr gets their bits.
          std::vector<Arrays> sweep;
          for (int q = 0; q < size; ++q) sweep.emplace_back(matrices[(first + q) % count]);
          calls.clear();
          for (Arrays& a : sweep) calls.push_back(a.call());
          eigen::order16::solve(width, matz, calls.data(), size, eigen::order16::Reads::values);
          for (int q = 0; q < size; ++q) {
            Arrays alone(matrices[(first + q) % count]);
            alone.plain(matz);
            EXPECT_EQ(sweep[q].values(), alone.values()) << "call " << q << ", values only";
          }
        }
    }
  }
  // The widest width is one the processor has; two lanes run everywhere.
  EXPECT_TRUE(eigen::order16::has(eigen::order16::widest()));
  EXPECT_TRUE(eigen::order16::has(eigen::order16::Width::two));
  RecordProperty("widths", widths);
}

// Eight reductions at once, one in each lane: on eight of the program's
// Hamiltonians they take the common way and give htridi's bits; with a zero
// row, a negligible element or a not-a-number in one of them they give up
// before writing anything.
TEST(Order16, EightInLanesGiveTheBitsOfHtridiOrWriteNothing) {
  std::vector<Matrix> program;
  for (int q = 0; q < 8; ++q) {
    program.push_back(program_matrix(q % 3 - 1.5, 2.5 * q - 6, 0.1 * q, 0.3));
  }
  Matrix with_nan = program[3];
  with_nan(9, 2) = {0.5, qnan};
  const Matrix odd_ones[] = {make_hermitian(n, Kind::zero_rows), with_negligible_element(n),
                             with_nan};
  for (eigen::order16::Width width : eigen::order16::all_widths) {
    if (!eigen::order16::has(width)) continue;
    for (int odd = -1; odd < static_cast<int>(std::size(odd_ones)); ++odd) {
      SCOPED_TRACE(testing::Message() << "width " << int(width) << ", odd matrix " << odd);
      std::vector<Arrays> batch, plain;
      for (int q = 0; q < 8; ++q) {
        const Matrix& h = odd >= 0 && q == 5 ? odd_ones[odd] : program[q];
        batch.emplace_back(h);
        plain.emplace_back(h);
      }
      std::vector<eigen::order16::Reduction> reductions;
      for (Arrays& a : batch) reductions.push_back(a.reduction());
      const std::vector<Arrays> before = batch;
      // Only d and e2 asked for: their bits, nothing else written.
      std::vector<Arrays> values_only = batch;
      std::vector<eigen::order16::Reduction> values_reductions;
      for (Arrays& a : values_only) values_reductions.push_back(a.reduction());
      EXPECT_EQ(eigen::order16::reduce_in_lanes(width, values_reductions.data(), true), odd < 0);
      const bool common = eigen::order16::reduce_in_lanes(width, reductions.data());
      EXPECT_EQ(common, odd < 0);
      for (int q = 0; q < 8; ++q) {
        Arrays expected = before[q];
        expected.w = batch[q].w;
        expected.fv2 = batch[q].fv2;
        EXPECT_EQ(values_only[q].bits(), expected.bits()) << "matrix " << q << ", values only";
      }
      for (int q = 0; q < 8; ++q) {
        Arrays& p = plain[q];
        if (common) {
          eigen::htridi(n, n, p.ar.data(), p.ai.data(), p.w.data(), p.fv1.data(), p.fv2.data(),
                        p.fm1.data());
        }
        EXPECT_EQ(batch[q].bits(), common ? p.bits() : before[q].bits()) << "matrix " << q;
      }
    }
  }
}

}  // namespace
