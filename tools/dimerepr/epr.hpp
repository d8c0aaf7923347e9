// The EPR of the pair at a fixed microwave frequency: the resonance fields of
// one orientation of the field, the intensity of each line, and the spectrum
// broadened on a field grid, for one orientation or a powder.
//
// Units: fields in tesla inside (mT in what the user reads), energies in
// cm-1, temperatures in kelvin.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/pair.hpp"

namespace epr {

// h nu in cm-1 of a frequency in GHz: GHz / 29.9792458 (the speed of light in
// cm per ns).
inline constexpr double ghz_per_wavenumber = 29.9792458;
// Boltzmann's constant in cm-1 per kelvin.
inline constexpr double k_B = 0.6950348004;
// Fields closer than this are one resonance (T): the refinement's tolerance.
inline constexpr double field_tolerance = 1e-7;

enum class Mode { perpendicular, parallel };
enum class Shape { gauss, lorentz };

// The field grid: B_k = from + (k - 1) x step, k = 1..count, in tesla.
struct Grid {
  double from = 0.0, step = 1e-4;
  std::int64_t count = 15001;
  double at(std::int64_t k) const { return static_cast<double>(k - 1) * step + from; }
  double last() const { return at(count); }
};

struct Experiment {
  model::Parameters p;    // the pair; its field is ignored
  double ghz = 9.5;       // microwave frequency
  double T = 10.0;        // temperature
  Mode mode = Mode::perpendicular;
  Grid grid;
};

// One resonance: levels lower < upper (ranks 1..16 at the resonance field)
// with E_upper - E_lower = h nu at B.
struct Line {
  double B = 0.0;          // tesla
  int lower = 0, upper = 0;
  // |<lower| V |upper>|^2 (V = muB (g.S1 + g.S2).b1, b1 a unit vector, cm-1/T)
  // x (p_lower - p_upper) / |d(E_upper - E_lower)/dB|, summed over levels
  // degenerate with lower and with upper: cm-1/T. Infinite for a double root
  // (looping transition), where the difference only touches h nu.
  double intensity = 0.0;
  double theta = 0.0, phi = 0.0;  // degrees
  // |<lower| V |upper>|^2 alone, summed as the intensity is (cm-2 T-2).
  double probability = 0.0;
  bool looping() const;
};

// A transition this weak (cm-2 T-2; an allowed one is about 0.1) is forbidden.
inline constexpr double min_probability = 1e-20;

// The lines that are not forbidden.
std::vector<Line> allowed(std::vector<Line> lines);

// What a search costs: diagonalisations without and with vectors.
struct Work {
  std::int64_t orientations = 0, energies = 0, vectors = 0;
};

// Every resonance of the field along (theta, phi) within the grid's range,
// ascending in B, forbidden ones included (a powder follows them where they
// become allowed). Throws common::Failure when the eigensolver fails.
std::vector<Line> find_lines(const Experiment& x, double theta, double phi, Work* work = nullptr);

// The powder's quadrature over one octant of directions (theta, phi in
// [0, 90] degrees; the spectrum is the same in all eight, the field reversed
// and the frame's three mirror images): the midpoint rule on a grid of
// cells x cells cells, uniform in cos(theta) and in phi, each cell split into
// split x split sub-cells. The lines are computed exactly at the cells'
// corners and taken bilinear in between: at every sub-cell's centre, a
// line's field and intensity are those interpolated from the four corners
// (a line that does not reach all four stays at the corners it has).
// A cell whose corners' lines do not correspond one to one is split in four,
// up to depth times, its new corners computed exactly.
struct PowderGrid {
  int cells = 24, split = 8, depth = 2;
};

// Absorption and its first derivative (per mT) on the grid.
struct Spectrum {
  std::vector<double> absorption, derivative;
};

// The lines broadened by the shape of peak-to-peak derivative width lw (mT),
// each of unit area (in mT) times its intensity times weight, added to s.
void broaden(const std::vector<Line>& lines, double weight, const Grid& g, Shape shape,
             double lw_mT, Spectrum& s);

// The powder spectrum: the mean over the directions of the field. The lines
// are put on the grid (each split between its two nearest fields, keeping
// its area and mean field) and convolved with the line shape. lines gets the
// lines found at the corners (at their own theta and phi) when not null.
Spectrum powder(const Experiment& x, Shape shape, double lw_mT, const PowderGrid& q,
                std::vector<Line>* lines = nullptr, Work* work = nullptr);

}  // namespace epr
