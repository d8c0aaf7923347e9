// 1-based views over caller-owned arrays, so that each line of a routine
// reads like the formula it implements: a(i, k) is p[(k-1)*ld + (i-1)].
//
// The routines are written once over an order type: int for any order, or
// Order16 for the program's fixed order, where every loop bound and leading
// dimension is a constant the compiler can build on.
#pragma once

#include <cstddef>
#include <type_traits>

namespace eigen {

using Order16 = std::integral_constant<int, 16>;

template <typename T, typename Ld = int>
class Matrix1 {
 public:
  constexpr Matrix1() = default;
  constexpr Matrix1(T* p, Ld ld) : p_(p), ld_(ld) {}
  constexpr T& operator()(int i, int k) const {
    return p_[static_cast<std::ptrdiff_t>(k - 1) * static_cast<std::ptrdiff_t>(ld_) + (i - 1)];
  }

 private:
  T* p_ = nullptr;
  [[no_unique_address]] Ld ld_{};
};

template <typename T>
class Vector1 {
 public:
  constexpr Vector1() = default;
  constexpr explicit Vector1(T* p) : p_(p) {}
  constexpr T& operator()(int i) const { return p_[i - 1]; }

 private:
  T* p_ = nullptr;
};

// The routines at the fixed order 16 (nm = n = 16, all vectors), which ch
// takes for the program's matrices; same steps as the general routines.
namespace fixed {
void htridi(double* ar, double* ai, double* d, double* e, double* e2, double* tau);
// The reduction runs rows side by side in vectors of four or eight lanes, or
// one row at a time; all give the same bits, and htridi and htridi_pair take
// the widest the processor has. has_lanes tells whether it has a width,
// htridi_lanes runs the reduction at one (which the processor must have).
enum class Lanes { one = 1, four = 4, eight = 8 };
bool has_lanes(Lanes lanes);
void htridi_lanes(Lanes lanes, double* ar, double* ai, double* d, double* e, double* e2,
                  double* tau);
// htridi_pair at one width (which the processor must have); htridi_pair takes the widest.
void htridi_pair_lanes(Lanes lanes, double* const ar[2], double* const ai[2], double* const d[2],
                       double* const e[2], double* const e2[2], double* const tau[2]);
// htridi of two matrices side by side, each with exactly the results of
// htridi alone; the arguments hold the arrays of the first and the second.
void htridi_pair(double* const ar[2], double* const ai[2], double* const d[2],
                 double* const e[2], double* const e2[2], double* const tau[2]);
void tqlrat(double* d, double* e2, int& ierr);
// tqlrat of two matrices at once, each with exactly the results of tqlrat alone.
void tqlrat_pair(double* d1, double* e21, int& ierr1, double* d2, double* e22, int& ierr2);
void tql2(double* d, double* e, double* z, int& ierr);
void htribk(const double* ar, const double* ai, const double* tau, double* zr, double* zi);
}  // namespace fixed

}  // namespace eigen
