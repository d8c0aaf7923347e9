// QL iterations that can stop after any row of a sweep and go on later, run
// to their end alone or two in turn. An iteration has start() and
// end_sweep(), each false when nothing is left to do, rows_left() and row().
#pragma once

#include <algorithm>

namespace eigen::order16 {

template <typename Iteration>
void run_alone(Iteration& a) {
  for (bool going = a.start(); going; going = a.end_sweep()) {
    while (a.rows_left() > 0) a.row();
  }
}

// The rows of both sweeps in turn, so that the independent chains of
// divisions and square roots of the two overlap in the processor.
template <typename Iteration>
void run_in_turn(Iteration& a, Iteration& b) {
  bool going_a = a.start();
  bool going_b = b.start();
  while (going_a && going_b) {
    for (int k = std::min(a.rows_left(), b.rows_left()); k > 0; --k) {
      a.row();
      b.row();
    }
    if (a.rows_left() == 0) going_a = a.end_sweep();
    if (b.rows_left() == 0) going_b = b.end_sweep();
  }
  for (; going_a; going_a = a.end_sweep()) {
    while (a.rows_left() > 0) a.row();
  }
  for (; going_b; going_b = b.end_sweep()) {
    while (b.rows_left() > 0) b.row();
  }
}

}  // namespace eigen::order16
