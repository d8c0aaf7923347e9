// The dialogue of the peers of dimerscan: its five prompts on standard
// output and the answers read with scanf, as a C program would ask them.
#pragma once

#include <cstdio>

namespace bench {

struct Answers {
  double J, D1min, D1max, step, D2, ratio1, ratio2;
  int matz;
};

// Asks the five questions; false when an answer is missing or not a
// number, or when the sweep would not end (a step that is not positive).
inline bool ask(Answers& a) {
  std::printf(" Enter the value for J (cm-1) :\r\n");
  if (std::scanf("%lf", &a.J) != 1) return false;
  std::printf(" Enter values for D1min, D1max (cm-1), and  the step size :\r\n");
  if (std::scanf("%lf %lf %lf", &a.D1min, &a.D1max, &a.step) != 3) return false;
  if (a.D1min <= a.D1max && !(a.step > 0.0)) return false;
  std::printf(" Enter value for D2 (cm-1):\r\n");
  if (std::scanf("%lf", &a.D2) != 1) return false;
  std::printf(" Enter values for E1/D1 and E2/D2:\r\n");
  if (std::scanf("%lf %lf", &a.ratio1, &a.ratio2) != 2) return false;
  std::printf(" Do you want to see the eigenvectors?\r\n (1 = yes, 0 = no):\r\n");
  return std::scanf("%d", &a.matz) == 1;
}

}  // namespace bench
