// The widths an x86-64 processor runs, asked of the processor once, and the
// batch kernel of each.
#include "eigen/order16/widths.hpp"

// The processor is asked with a built-in that only compilers for x86-64
// know; compilers for other processors see an empty file (the build takes
// portable/widths.cpp there).
#if defined(__x86_64__)

namespace eigen::order16 {

bool has(Width width) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  static const bool avx512 = __builtin_cpu_supports("avx512f");
  return width == Width::two || (width == Width::four && avx2) ||
         (width == Width::eight && avx512);
}

BatchKernel kernel_of(Width width) {
  return width == Width::eight  ? &solve_batch<8>
         : width == Width::four ? &solve_batch<4>
                                : &solve_batch<2>;
}

}  // namespace eigen::order16

#endif
