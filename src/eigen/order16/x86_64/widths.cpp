// The widths an x86-64 processor runs, asked of the processor once, and the
// kernel for each.
#include "eigen/order16/x86_64/kernels.hpp"

// The processor is asked with a built-in that only compilers for x86-64
// know; compilers for other processors see an empty file (the build takes
// portable/widths.cpp there).
#if defined(__x86_64__)

namespace eigen::order16 {

bool has(Width width) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  static const bool avx512 = __builtin_cpu_supports("avx512f");
  switch (width) {
    case Width::two:
      return true;
    case Width::four:
      return avx2;
    case Width::eight:
      return avx512;
  }
  return false;
}

void reduce(Width width, const Reduction* matrices, int count) {
  switch (width) {
    case Width::eight:
      reduce_eight_lanes_avx512(matrices, count);
      return;
    case Width::four:
      reduce_four_lanes_avx2(matrices, count);
      return;
    case Width::two:
      break;
  }
  reduce_two_lanes(matrices, count);
}

bool reduce_in_lanes(Width width, const Reduction* matrices, bool values_only) {
  switch (width) {
    case Width::eight:
      return reduce_in_lanes_avx512(matrices, values_only);
    case Width::four:
      return reduce_in_lanes_avx2(matrices, values_only);
    case Width::two:
      break;
  }
  return reduce_in_lanes_two(matrices, values_only);
}

void vectors(Width width, Stage stage, const Call* calls, int count) {
  switch (width) {
    case Width::eight:
      vectors_eight_lanes_avx512(stage, calls, count);
      return;
    case Width::four:
      vectors_four_lanes_avx2(stage, calls, count);
      return;
    case Width::two:
      break;
  }
  vectors_two_lanes(stage, calls, count);
}

}  // namespace eigen::order16

#endif
