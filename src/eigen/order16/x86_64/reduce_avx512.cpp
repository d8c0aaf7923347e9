// The reduction in vectors of eight lanes; built with AVX-512 (-mavx512f).
#include "eigen/order16/passes_in_lanes.hpp"
#include "eigen/order16/reduction.hpp"
#include "eigen/order16/x86_64/kernels.hpp"

namespace eigen::order16 {

void reduce_eight_lanes_avx512(const Reduction* matrices, int count) {
  reduce_at_width<8>(matrices, count);
}

bool reduce_in_lanes_avx512(const Reduction* matrices, bool values_only) {
  return reduce_in_lanes_at_width<8>(matrices, values_only);
}

}  // namespace eigen::order16
