// The eigenvectors in vectors of four lanes; built with AVX2 (-mavx2).
#include "eigen/order16/vectors.hpp"
#include "eigen/order16/x86_64/kernels.hpp"

namespace eigen::order16 {

void vectors_four_lanes_avx2(Stage stage, const Call* calls, int count) {
  vectors_at_width<4>(stage, calls, count);
}

}  // namespace eigen::order16
