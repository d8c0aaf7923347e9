// The reductions and eigenvectors built for the vector extensions of x86-64; each file is
// compiled for its instruction set, and runs only where the processor has it.
#pragma once

#include "eigen/order16/kernels.hpp"

namespace eigen::order16 {

void reduce_four_lanes_avx2(const Reduction* matrices, int count);
void reduce_eight_lanes_avx512(const Reduction* matrices, int count);
bool reduce_in_lanes_avx2(const Reduction* matrices, bool values_only);
bool reduce_in_lanes_avx512(const Reduction* matrices, bool values_only);
void vectors_four_lanes_avx2(Stage stage, const Call* calls, int count);
void vectors_eight_lanes_avx512(Stage stage, const Call* calls, int count);

}  // namespace eigen::order16
