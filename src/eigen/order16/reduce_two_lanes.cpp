// The reduction in vectors of two lanes: plain vector arithmetic that every
// processor runs, with no instruction set asked for.
#include "eigen/order16/kernels.hpp"
#include "eigen/order16/passes_in_lanes.hpp"
#include "eigen/order16/reduction.hpp"

namespace eigen::order16 {

void reduce_two_lanes(const Reduction* matrices, int count) {
  reduce_at_width<2>(matrices, count);
}

bool reduce_in_lanes_two(const Reduction* matrices, bool values_only) {
  return reduce_in_lanes_at_width<2>(matrices, values_only);
}

}  // namespace eigen::order16
