// The eigenvectors in vectors of eight lanes; built with AVX-512 (-mavx512f).
#include "eigen/order16/vectors.hpp"
#include "eigen/order16/x86_64/kernels.hpp"

namespace eigen::order16 {

void vectors_eight_lanes_avx512(Stage stage, const Call* calls, int count) {
  vectors_at_width<8>(stage, calls, count);
}

}  // namespace eigen::order16
