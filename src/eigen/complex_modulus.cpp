#include "eigen/eigen.hpp"
#include "eigen/modulus.hpp"

namespace eigen {

double complex_modulus(double x, double y) { return step::modulus(x, y); }

bool negligible(double f, double g) { return step::negligible_element(f, g); }

}  // namespace eigen
