// The reduction in vectors of four lanes; built with AVX2 (-mavx2).
#include "eigen/order16/passes_in_lanes.hpp"
#include "eigen/order16/reduction.hpp"
#include "eigen/order16/x86_64/kernels.hpp"

namespace eigen::order16 {

void reduce_four_lanes_avx2(const Reduction* matrices, int count) {
  reduce_at_width<4>(matrices, count);
}

bool reduce_in_lanes_avx2(const Reduction* matrices, bool values_only) {
  return reduce_in_lanes_at_width<4>(matrices, values_only);
}

}  // namespace eigen::order16
