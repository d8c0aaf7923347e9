// The widths of any processor but x86-64: vectors of two lanes.
#include "eigen/order16/widths.hpp"

namespace eigen::order16 {

bool has(Width width) { return width == Width::two; }

BatchKernel kernel_of(Width /*width*/) { return &solve_batch<2>; }

}  // namespace eigen::order16
