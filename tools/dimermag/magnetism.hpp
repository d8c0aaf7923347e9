// The magnetic response of the pair: its moment along the field, thermally
// averaged over the sixteen levels, for one field direction or averaged over
// the directions of a powder, and the susceptibility that follows.
//
// In a field B along the unit vector u the levels are those of
// H = zero_field + B x zeeman(u); level i carries the moment along u
// -dEi/dB = -<i| zeeman(u) |i> (cm-1/T, divided by muB for Bohr magnetons),
// and at temperature T the pair's moment is their Boltzmann average
//   M = sum_i mi exp(-Ei / kB T) / sum_i exp(-Ei / kB T).
// chi = 0.558494 M / B in cm3 mol-1 per mole of pairs (CGS-emu).
#pragma once

#include <array>
#include <vector>

#include "model/pair.hpp"

namespace mag {

// Boltzmann's constant in cm-1 per kelvin.
inline constexpr double k_B = 0.6950348;
// cm3 mol-1 of susceptibility per Bohr magneton per pair in one tesla:
// N_A muB / (1 T) in CGS-emu, 0.558494 cm3 T mol-1 per muB.
inline constexpr double chi_per_moment = 0.558494;
// The Curie constant per g^2 S(S + 1): chi_per_moment muB / (3 kB),
// 0.1250483 cm3 K mol-1.
inline constexpr double curie = chi_per_moment * model::mu_B / (3.0 * k_B);

// A field direction and its weight in the average (weights sum to 1).
struct Direction {
  std::array<double, 3> u{};
  double weight = 1.0;
};

// The powder average: a product rule over one octant of the sphere (the
// levels are the same for u and for every u with its components' signs
// changed, so the octant stands for the whole sphere), Gauss-Legendre in
// cos(theta) on [0, 1] with n_theta nodes times the midpoint rule in phi on
// [0, pi/2] with n_phi points (the trapezoidal rule of the whole circle,
// exact for the even, pi-periodic functions of phi up to degree 4 n_phi - 1).
std::vector<Direction> powder(int n_theta, int n_phi);

// The rule of --powder.
inline constexpr int powder_theta = 32;
inline constexpr int powder_phi = 16;
const std::vector<Direction>& default_powder();

// The one direction theta, phi (degrees).
std::vector<Direction> oriented(double theta, double phi);

// The nodes and weights of the Gauss-Legendre rule of n points on [-1, 1],
// nodes ascending.
void gauss_legendre(int n, std::vector<double>& x, std::vector<double>& w);

// What the pair is: its spin Hamiltonian, and what is measured beside it.
struct Sample {
  model::Parameters p;   // its field is not used: B and the directions are given
  double rho = 0.0;      // fraction of paramagnetic S = 3/2 impurity
  double tip = 0.0;      // temperature-independent susceptibility, cm3 mol-1
};

// The levels of the pair in a field B along u: energies ascending (cm-1) and
// each level's moment along u (muB). Throws common::Failure when the
// eigensolver does not settle.
struct Levels {
  std::array<double, model::n> e{}, m{};
};
Levels levels(const model::Matrix& h0, const model::Matrix& z, double B);

// The thermal average at T (K) of the moments m over the levels e (muB).
double thermal_moment(const Levels& l, double T);

// chi (cm3 mol-1) at each temperature T (K) in the field B (T), averaged
// over dirs, with (1 - rho) of the pair, rho of two free S = 3/2 ions
// (Curie's law at their g along the field) and tip added.
std::vector<double> susceptibility(const Sample& s, double B, const std::vector<double>& T,
                                   const std::vector<Direction>& dirs);

// M (muB per pair) along the field at each B (T) at temperature T (K),
// averaged over dirs, with (1 - rho) of the pair, rho of two free S = 3/2
// ions (the Brillouin function at their g along the field) and tip x B /
// 0.558494 added.
std::vector<double> magnetisation(const Sample& s, const std::vector<double>& B, double T,
                                  const std::vector<Direction>& dirs);

}  // namespace mag
