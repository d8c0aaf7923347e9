// A call of solve: its calls batch by batch, through the kernel of the width.
#include <algorithm>

#include "eigen/order16/order16.hpp"
#include "eigen/order16/widths.hpp"

namespace eigen::order16 {

Width widest() {
  static const Width width =
      has(Width::eight) ? Width::eight : (has(Width::four) ? Width::four : Width::two);
  return width;
}

void solve(Width width, int matz, const Call* calls, int count, Reads reads, Workspace& work) {
  const BatchKernel kernel = kernel_of(width);
  for (int q = 0; q < count; q += batch) {
    kernel(matz, calls + q, std::min(batch, count - q), reads, work);
  }
}

}  // namespace eigen::order16
