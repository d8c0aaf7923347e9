// The widths of any processor but x86-64: vectors of two lanes.
#include "eigen/order16/kernels.hpp"

namespace eigen::order16 {

bool has(Width width) { return width == Width::two; }

void reduce(Width /*width*/, const Reduction* matrices, int count) {
  reduce_two_lanes(matrices, count);
}

bool reduce_in_lanes(Width /*width*/, const Reduction* matrices, bool values_only) {
  return reduce_in_lanes_two(matrices, values_only);
}

void vectors(Width /*width*/, Stage stage, const Call* calls, int count) {
  vectors_two_lanes(stage, calls, count);
}

}  // namespace eigen::order16
