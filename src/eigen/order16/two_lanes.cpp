// The batch in vectors of two lanes: plain vector arithmetic that every
// processor runs, with no instruction set asked for.
#include "eigen/order16/batch.hpp"

namespace eigen::order16 {

template void solve_batch<2>(int, const Call*, int, Reads, Workspace&);

}  // namespace eigen::order16
