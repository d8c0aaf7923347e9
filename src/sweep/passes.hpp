// The passes of the sweep in batches: each pass's Hamiltonian is built into
// a free slot, the batch is diagonalised once it is full (or at the end),
// and its passes are handed back in their order, each with the results it
// would get from ch alone.
#pragma once

#include "eigen/order16/order16.hpp"
#include "model/eigen_arrays.hpp"
#include "sweep/hamiltonian.hpp"

namespace sweep {

// The arrays of one pass, as ch takes them, and its D1.
struct Pass : model::EigenArrays {
  static_assert(n == n_states);
  double D1 = 0.0;
};

class PassBatch {
 public:
  // Passes diagonalised together, side by side.
  static constexpr int size = eigen::order16::batch;

  explicit PassBatch(int matz) : matz_(matz) {}  // cppcheck-suppress uninitMemberVar ; each slot is filled by next before it is solved or read

  // The slot for the next pass, whose D1 is given.
  Pass& next(double D1) {
    Pass& p = passes_[count_++];
    p.D1 = D1;
    return p;
  }

  // Once the batch is full: diagonalises it and hands each pass to done in
  // order. finish does so for the passes left at the end of the sweep.
  template <typename Done>
  void solve_when_full(Done&& done) {
    if (count_ == size) finish(done);
  }
  template <typename Done>
  void finish(Done&& done) {
    solve();
    for (int k = 0; k < count_; ++k) done(static_cast<const Pass&>(passes_[k]));
    count_ = 0;
  }

 private:
  void solve();  // ch for each of the first count_ passes

  int matz_;
  int count_ = 0;
  Pass passes_[size];
  eigen::order16::Workspace work_;
};

}  // namespace sweep
