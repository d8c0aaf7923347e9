// The batch kernel of each width: solve_batch<W> (batch.hpp), instantiated
// for two lanes in two_lanes.cpp, and on x86-64 for four with AVX2 in
// x86_64/avx2.cpp and for eight with AVX-512 in x86_64/avx512.cpp, so that
// no function built for an instruction set is linked where another runs.
// x86_64/widths.cpp or portable/widths.cpp says which the processor has.
#pragma once

#include "eigen/order16/order16.hpp"

namespace eigen::order16 {

// ch of calls[0..count), count 1..batch, in vectors of W lanes.
template <int W>
void solve_batch(int matz, const Call* calls, int count, Reads reads, Workspace& work);

using BatchKernel = void (*)(int matz, const Call* calls, int count, Reads reads, Workspace& work);

// The kernel of a width the processor has.
BatchKernel kernel_of(Width width);

}  // namespace eigen::order16
