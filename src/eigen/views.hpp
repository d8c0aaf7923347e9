// 1-based views over caller-owned arrays, so that each line of a routine
// reads like the formula it implements: a(i, k) is p[(k-1)*ld + (i-1)].
#pragma once

#include <cstddef>

namespace eigen {

template <typename T>
class Matrix1 {
 public:
  constexpr Matrix1(T* p, int ld) : p_(p), ld_(ld) {}
  constexpr T& operator()(int i, int k) const {
    return p_[static_cast<std::ptrdiff_t>(k - 1) * ld_ + (i - 1)];
  }

 private:
  T* p_;
  int ld_;
};

template <typename T>
class Vector1 {
 public:
  constexpr explicit Vector1(T* p) : p_(p) {}
  constexpr T& operator()(int i) const { return p_[i - 1]; }

 private:
  T* p_;
};

}  // namespace eigen
