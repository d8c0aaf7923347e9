// QL iterations that can stop after any row of a sweep and go on later, run
// to their end together: the rows of all their sweeps in turn, so that the
// independent chains of divisions and square roots of the matrices overlap
// in the processor. An iteration has start() and end_sweep(), each false
// when nothing is left to do, rows_left(), and rows<Count>(q, k), which
// makes k rows of each of the Count iterations q[0..Count).
#pragma once

#include <algorithm>

namespace eigen::order16 {

// Matrices whose iterations run together at most.
inline constexpr int max_together = 4;

// The count (1 to max_together) iterations q[0..count), each to its end.
template <typename Iteration>
void run_together(Iteration* q, int count) {
  Iteration* going[max_together];
  int left = 0;
  for (int c = 0; c < count; ++c) {
    if (q[c].start()) going[left++] = &q[c];
  }
  while (left > 0) {
    int k = going[0]->rows_left();
    for (int c = 1; c < left; ++c) k = std::min(k, going[c]->rows_left());
    switch (left) {
      case 4:
        Iteration::template rows<4>(going, k);
        break;
      case 3:
        Iteration::template rows<3>(going, k);
        break;
      case 2:
        Iteration::template rows<2>(going, k);
        break;
      default:
        Iteration::template rows<1>(going, k);
        break;
    }
    // Those whose sweep is over go on with their next, or end.
    int kept = 0;
    for (int c = 0; c < left; ++c) {
      if (going[c]->rows_left() > 0 || going[c]->end_sweep()) going[kept++] = going[c];
    }
    left = kept;
  }
}

}  // namespace eigen::order16
