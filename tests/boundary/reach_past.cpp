// Reaches past its target's boundary: linked with the text layer alone, it
// includes the eigensolver's header, and must not build.
#include "eigen/eigen.hpp"
#include "textio/format.hpp"

int main() { return 0; }
