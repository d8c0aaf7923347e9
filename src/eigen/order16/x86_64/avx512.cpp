// The batch in vectors of eight lanes; built with AVX-512 (-mavx512f).
#include "eigen/order16/batch.hpp"

namespace eigen::order16 {

template void solve_batch<8>(int, const Call*, int, Reads, Workspace&);

}  // namespace eigen::order16
