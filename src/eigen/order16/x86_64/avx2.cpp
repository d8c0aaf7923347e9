// The batch in vectors of four lanes; built with AVX2 (-mavx2).
#include "eigen/order16/batch.hpp"

namespace eigen::order16 {

template void solve_batch<4>(int, const Call*, int, Reads, Workspace&);

}  // namespace eigen::order16
