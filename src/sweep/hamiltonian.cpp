#include "sweep/hamiltonian.hpp"

#include <cmath>
#include <cstring>
#include <iterator>


namespace sweep {

namespace {

// Field magnitude in tesla, and its polar angle and azimuth in radians: the
// decimal 1.57079633, about 3.2e-9 above pi/2, not pi/2 itself.
constexpr double field = 0.1;
constexpr double field_angle = 1.57079633;
// g-values of both ions along x, y and z.
constexpr double g = 2.0;
// Bohr magneton in cm-1 per tesla.
constexpr double bohr = 0.46686;
// Transverse Zeeman factor between m = +-3/2 and +-1/2; the operator would
// give bohr * sqrt(3) / 2 = 0.4043126..., the stored factor is kept.
constexpr double outer = 0.40431;
constexpr double root3 = 1.7320508075688772;
constexpr double two_root3 = 3.4641016151377544;

// Element (row, col), 1-based, of a column-major 16 x 16 matrix.
class Elements {
 public:
  explicit Elements(double* p) : p_(p) {}
  double& operator()(int row, int col) const { return p_[(col - 1) * n_states + (row - 1)]; }

 private:
  double* p_;
};

struct Position {
  int row, col;
};

// Exchange: m1 lowered by 1, m2 raised by 1.
constexpr Position exchange3[] = {{2, 5}, {4, 7}, {10, 13}, {12, 15}};
constexpr Position exchange23[] = {{3, 6}, {6, 9}, {8, 11}, {11, 14}};
constexpr Position exchange4 = {7, 10};
// Rhombic terms: m2 (resp. m1) lowered by 2.
constexpr Position rhombic2[] = {{1, 3}, {2, 4}, {5, 7}, {6, 8}, {9, 11}, {10, 12}, {13, 15}, {14, 16}};
constexpr Position rhombic1[] = {{1, 9}, {2, 10}, {3, 11}, {4, 12}, {5, 13}, {6, 14}, {7, 15}, {8, 16}};
// Transverse Zeeman terms of ion 2 (column = row + 1) and of ion 1 (column = row + 4):
// the outer transitions +3/2 -> +1/2 and -1/2 -> -3/2, and the middle one +1/2 -> -1/2.
constexpr Position zeeman2_outer[] = {{1, 2}, {5, 6}, {9, 10}, {13, 14},
                                      {3, 4}, {7, 8}, {11, 12}, {15, 16}};
constexpr Position zeeman2_middle[] = {{2, 3}, {6, 7}, {10, 11}, {14, 15}};
constexpr Position zeeman1_outer[] = {{1, 5}, {2, 6}, {3, 7}, {4, 8},
                                      {9, 13}, {10, 14}, {11, 15}, {12, 16}};
constexpr Position zeeman1_middle[] = {{5, 9}, {6, 10}, {7, 11}, {8, 12}};

static_assert(std::size(exchange3) + std::size(exchange23) + 1 + std::size(rhombic2) +
                  std::size(rhombic1) + std::size(zeeman2_outer) + std::size(zeeman2_middle) +
                  std::size(zeeman1_outer) + std::size(zeeman1_middle) ==
              49);

// Transverse (x, y) and longitudinal (z) Zeeman factors of ions 1 and 2;
// m: between m = +1/2 and -1/2, o: between +-3/2 and +-1/2.
struct ZeemanFactors {
  double x1m, x1o, y1m, y1o, x2m, x2o, y2m, y2o, z1, z2;

  ZeemanFactors() {
    // Field components.
    const double Bx = std::sin(field_angle) * (std::sin(field_angle) * field);
    const double By = std::cos(field_angle) * (std::sin(field_angle) * field);
    const double Bz = std::cos(field_angle) * field;
    x1m = (g * bohr) * Bx;
    x1o = (g * outer) * Bx;
    y1m = -((g * bohr) * By);
    y1o = -((g * outer) * By);
    x2m = (g * bohr) * Bx;
    x2o = (g * outer) * Bx;
    y2m = -((g * bohr) * By);
    y2o = -((g * outer) * By);
    z1 = Bz * bohr;
    z2 = Bz * bohr;
  }
};

// The elements that do not change from pass to pass: the transverse Zeeman
// terms of the fixed field in both triangles, every other element zero, and
// the imaginary parts complete. Built once, with the Hermitian completion in
// ascending order, so that each mirror pair is first visited from its upper
// element: the lower triangle receives the conjugate of the upper one, and the
// imaginary diagonal and every zero below it become -0.
struct FieldElements {
  double ar[n_states * n_states];
  double ai[n_states * n_states];

  FieldElements() {  // cppcheck-suppress uninitMemberVar ; ar and ai are filled by the loops below
    const Elements r(ar);
    const Elements i(ai);
    const ZeemanFactors z;
    for (int row = 1; row <= n_states; ++row) {
      for (int col = 1; col <= n_states; ++col) {
        r(row, col) = 0.0;
        i(row, col) = 0.0;
      }
    }
    const auto put = [&](Position p, double re, double im) {
      r(p.row, p.col) = re;
      i(p.row, p.col) = im;
    };
    for (const Position p : zeeman2_outer) put(p, z.x2o, z.y2o);
    for (const Position p : zeeman2_middle) put(p, z.x2m, z.y2m);
    for (const Position p : zeeman1_outer) put(p, z.x1o, z.y1o);
    for (const Position p : zeeman1_middle) put(p, z.x1m, z.y1m);
    for (int a = 1; a <= n_states; ++a) {
      for (int b = 1; b <= n_states; ++b) {
        r(b, a) = r(a, b);
        i(b, a) = -i(a, b);
      }
    }
  }
};

}  // namespace

void build_spin_hamiltonian(double J, double D1, double D2, double E1, double E2, double* ar_,
                            double* ai_, double* w) {
  const Elements ar(ar_);

  // Everything the field alone decides, worked out once.
  static const FieldElements field_elements;
  static const ZeemanFactors zeeman;
  std::memcpy(ar_, field_elements.ar, sizeof field_elements.ar);
  std::memcpy(ai_, field_elements.ai, sizeof field_elements.ai);
  for (int i = 0; i < n_states; ++i) w[i] = 0.0;

  // Derived factors.
  const double jx3 = -(J * 3.0);
  const double jx23 = -(J * two_root3);
  const double jx4 = -(J * 4.0);
  const double e1r = E1 * root3;
  const double e2r = E2 * root3;

  // Diagonal: exchange -2 m1 m2 J, axial terms +D for |m| = 3/2 and -D for
  // |m| = 1/2, longitudinal Zeeman terms.
  for (int s = 1; s <= n_states; ++s) {
    const double m1 = m1_of(s);
    const double m2 = m2_of(s);
    const double cJ = -2.0 * m1 * m2;
    const double dD1 = std::fabs(m1) == 1.5 ? D1 : -D1;
    const double dD2 = std::fabs(m2) == 1.5 ? D2 : -D2;
    ar(s, s) = cJ * J + dD1 + dD2 + (g * m1) * zeeman.z1 + (g * m2) * zeeman.z2;
  }

  // Exchange and rhombic elements: real, so the element below the diagonal
  // equals the one above (their imaginary parts are the 0 and -0 of the
  // field elements).
  const auto put = [&](Position p, double re) {
    ar(p.row, p.col) = re;
    ar(p.col, p.row) = re;
  };
  for (const Position p : exchange3) put(p, jx3);
  for (const Position p : exchange23) put(p, jx23);
  put(exchange4, jx4);
  for (const Position p : rhombic2) put(p, e2r);
  for (const Position p : rhombic1) put(p, e1r);
}

}  // namespace sweep
