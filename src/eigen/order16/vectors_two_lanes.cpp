// The eigenvectors in vectors of two lanes: plain vector arithmetic that
// every processor runs, with no instruction set asked for.
#include "eigen/order16/kernels.hpp"
#include "eigen/order16/vectors.hpp"

namespace eigen::order16 {

void vectors_two_lanes(Stage stage, const Call* calls, int count) {
  vectors_at_width<2>(stage, calls, count);
}

}  // namespace eigen::order16
