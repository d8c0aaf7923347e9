#include "states.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "model/pass_rule.hpp"
#include "eigen/eigen.hpp"
#include "textio/decimal.hpp"

namespace states {

namespace {

using sweep::m1_of;
using sweep::m2_of;

constexpr double s_ion = sweep::ion_spin;
// s (s + 1) of each ion.
constexpr double s_ion_sq = s_ion * (s_ion + 1.0);

// Two weights closer than this count as equal; the earlier basis state wins.
constexpr double tie = 1e-12;

// Matrix element <m + 1| S+ |m> of one spin-3/2 ion.
double raise(double m) { return std::sqrt(s_ion_sq - m * (m + 1.0)); }

// 0-based index of the basis state |m1, m2>.
int index_of(double m1, double m2) { return sweep::state_of(m1, m2) - 1; }

// S^2 = S1^2 + S2^2 + 2 S1z S2z + S1+ S2- + S1- S2+ and Sx = S1x + S2x in the
// product basis; both real and symmetric.
struct Operators {
  double s2[n][n]{};
  double sx[n][n]{};

  Operators() {
    for (int k = 0; k < n; ++k) {
      const double m1 = m1_of(k + 1), m2 = m2_of(k + 1);
      s2[k][k] = 2.0 * s_ion_sq + 2.0 * m1 * m2;
      // S1+ S2-: m1 up by one, m2 down by one (and its transpose, S1- S2+).
      if (m1 < s_ion && m2 > -s_ion) {
        const int j = index_of(m1 + 1.0, m2 - 1.0);
        const double v = raise(m1) * raise(m2 - 1.0);
        s2[j][k] = v;
        s2[k][j] = v;
      }
      // Six = (Si+ + Si-) / 2.
      if (m1 < s_ion) {
        const int j = index_of(m1 + 1.0, m2);
        sx[j][k] = sx[k][j] = 0.5 * raise(m1);
      }
      if (m2 < s_ion) {
        const int j = index_of(m1, m2 + 1.0);
        sx[j][k] = sx[k][j] = 0.5 * raise(m2);
      }
    }
  }
};

// <c| A |c> for a real symmetric A and c = zr + i zi, summed over every
// element, row by row.
double expectation(const double (&a)[n][n], const double* zr, const double* zi) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) sum += a[i][j] * (zr[i] * zr[j] + zi[i] * zi[j]);
  return sum;
}

// The nonzero elements of an operator, row by row: the same sum as
// expectation in the same order, without its terms that are exactly zero
// (adding a zero product leaves a sum as it is), so bit for bit the same.
struct Sparse {
  int count = 0;
  int i[n * n]{}, j[n * n]{};
  double value[n * n]{};
  explicit Sparse(const double (&a)[n][n]) {
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c)
        if (a[r][c] != 0.0) {
          i[count] = r;
          j[count] = c;
          value[count++] = a[r][c];
        }
  }
  double expectation(const double* zr, const double* zi) const {
    double sum = 0.0;
    for (int k = 0; k < count; ++k)
      sum += value[k] * (zr[i[k]] * zr[j[k]] + zi[i[k]] * zi[j[k]]);
    return sum;
  }
};

const Operators& operators() {
  static const Operators ops;
  return ops;
}

// The earliest basis state whose weight lies within tie of the largest,
// leaving out the state skip.
int largest(const std::array<double, n>& w, int skip) {
  double top = -1.0;
  for (int k = 0; k < n; ++k)
    if (k != skip && w[k] > top) top = w[k];
  for (int k = 0; k < n; ++k)
    if (k != skip && w[k] >= top - tie) return k;
  return skip == 0 ? 1 : 0;
}

// Reads the whole of text as a finite number; an optional leading '+'.
bool parse_number(const std::string& text, double& out, std::string& why) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
    ++first;
  double v = 0.0;
  const auto [end, ec] = textio::nearest_double(first, last, v);
  if (ec == std::errc::result_out_of_range) {
    why = "is out of range";
    return false;
  }
  if (ec != std::errc() || end != last || text.empty()) {
    why = "is not a number";
    return false;
  }
  if (!std::isfinite(v)) {
    why = "is not a finite number";
    return false;
  }
  out = v;
  return true;
}

std::string fixed(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace

std::string ket(int k) {
  char buf[16];
  const int a = static_cast<int>(2.0 * m1_of(k + 1)), b = static_cast<int>(2.0 * m2_of(k + 1));
  std::snprintf(buf, sizeof buf, "|%+d/2,%+d/2>", a, b);
  return buf;
}

Spectrum compute(const Parameters& p) {
  // The arrays of one call of ch; large, so kept off the stack.
  static struct {
    double ar[n * n], ai[n * n], w[n], zr[n * n], zi[n * n], fv1[n], fv2[n], fm1[2 * n];
    int ierr;
  } q;
  // One pass of the sweep: both ions carry D1, the ratios scale D1.
  const double D2 = p.D1;
  const double E1 = p.D1 * p.ratio1;
  const double E2 = D2 * p.ratio2;
  sweep::build_spin_hamiltonian(p.J, p.D1, D2, E1, E2, q.ar, q.ai, q.w);
  const int matz = 1;
  eigen::ch(n, n, q.ar, q.ai, q.w, matz, q.zr, q.zi, q.fv1, q.fv2, q.fm1, q.ierr);

  Spectrum s;
  s.ierr = q.ierr;
  if (s.ierr != 0) return s;
  for (int j = 0; j < n; ++j) {
    Level& l = s.levels[j];
    const double* zr = q.zr + j * n;  // NOLINT(bugprone-implicit-widening-of-multiplication-result): j, n <= 16
    const double* zi = q.zi + j * n;  // NOLINT(bugprone-implicit-widening-of-multiplication-result): j, n <= 16
    l.energy = q.w[j];
    l.above = q.w[j] - q.w[0];
    std::copy(zr, zr + n, l.re.begin());
    std::copy(zi, zi + n, l.im.begin());
    describe(l);
  }
  return s;
}

double plain_s2(const Level& l) { return expectation(operators().s2, l.re.data(), l.im.data()); }
double plain_sx(const Level& l) { return expectation(operators().sx, l.re.data(), l.im.data()); }

void describe(Level& l) {
  static const Sparse s2(operators().s2), sx(operators().sx);
  const double* zr = l.re.data();
  const double* zi = l.im.data();
  l.s2 = s2.expectation(zr, zi);
  // S = (sqrt(1 + 4 <S^2>) - 1) / 2; rounding may leave <S^2> a hair below 0.
  l.spin = 0.5 * (std::sqrt(1.0 + 4.0 * std::max(l.s2, 0.0)) - 1.0);
  l.sx = sx.expectation(zr, zi);
  for (int k = 0; k < n; ++k) l.weight[k] = zr[k] * zr[k] + zi[k] * zi[k];
  l.first = largest(l.weight, -1);
  l.second = largest(l.weight, l.first);
}

std::string parse_options(const std::vector<std::string>& args, Options& opt) {
  Options o;
  bool seen[6] = {};
  struct Value {
    const char* name;
    double Parameters::*field;
  };
  static constexpr Value values[] = {{"--J", &Parameters::J},
                                     {"--D1", &Parameters::D1},
                                     {"--ratio1", &Parameters::ratio1},
                                     {"--ratio2", &Parameters::ratio2}};
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const bool inline_value = eq != std::string::npos;
    int which = -1;
    for (int v = 0; v < 4; ++v)
      if (name == values[v].name) which = v;
    if (which >= 0) {
      std::string text;
      if (inline_value) {
        text = arg.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        text = args[++i];
      } else {
        return "option " + name + " needs a value";
      }
      if (seen[which]) return "option " + name + " is given twice";
      seen[which] = true;
      std::string why;
      if (which == 1 && text.find(':') != std::string::npos) {
        // A sweep FROM:TO:STEP, each part a number in full.
        const std::size_t a = text.find(':'), b = text.find(':', a + 1);
        if (b == std::string::npos || text.find(':', b + 1) != std::string::npos)
          return "value '" + text + "' of option --D1 is not one D1 nor FROM:TO:STEP";
        const std::string parts[3] = {text.substr(0, a), text.substr(a + 1, b - a - 1),
                                      text.substr(b + 1)};
        double* const into[3] = {&o.from, &o.to, &o.step};
        for (int k = 0; k < 3; ++k)
          if (!parse_number(parts[k], *into[k], why))
            return "value '" + parts[k] + "' in '" + text + "' of option --D1 " + why;  // NOLINT(performance-inefficient-string-concatenation): once, on the way out
        if (!passes::sweep_ends(o.from, o.to, o.step)) return passes::endless;
        o.sweep = true;
        continue;
      }
      if (!parse_number(text, o.p.*values[which].field, why))
        return "value '" + text + "' of option " + name + " " + why;  // NOLINT(performance-inefficient-string-concatenation): once, on the way out
      continue;
    }
    if (name == "--csv" || name == "--help") {
      if (inline_value) return "option " + name + " takes no value";
      const int flag = name == "--csv" ? 4 : 5;
      if (seen[flag]) return "option " + name + " is given twice";
      seen[flag] = true;
      (flag == 4 ? o.csv : o.help) = true;
      continue;
    }
    if (arg.size() > 1 && arg[0] == '-') return "unknown option '" + arg + "'";
    return "unexpected argument '" + arg + "'";
  }
  opt = o;
  return "";
}

std::string usage() {
  return "Usage: dimerstates [--J J] [--D1 D1 | --D1 FROM:TO:STEP] [--ratio1 E1/D1]\n"
         "                   [--ratio2 E2/D2] [--csv]\n"
         "\n"
         "Computes the sixteen levels of an exchange-coupled pair of spin-3/2 ions for one\n"
         "D1, as one pass of dimerscan does, and tells what each level is; or, over a sweep\n"
         "of D1, follows every state from pass to pass.\n"
         "\n"
         "Options (a value follows as --J -1 or --J=-1; each option at most once):\n"
         "  --J J           exchange constant J in cm-1 (default 0)\n"
         "  --D1 D1         axial zero-field splitting of both ions in cm-1 (default 0)\n"
         "  --D1 FROM:TO:STEP\n"
         "                  the passes of dimerscan's sweep with D1min FROM, D1max TO and\n"
         "                  step STEP: D1 = (k - 1) x STEP + FROM for k = 1, 2, ... while\n"
         "                  D1 <= TO, computed as dimerscan computes it. A step that is not\n"
         "                  positive or gives more than 2147483647 passes is refused, as\n"
         "                  dimerscan refuses it; FROM > TO gives no pass.\n"
         "  --ratio1 R1     E1/D1: rhombic term of ion 1 is E1 = D1 x R1 (default 0)\n"
         "  --ratio2 R2     E2/D2: rhombic term of ion 2 is E2 = D1 x R2 (default 0)\n"
         "  --csv           print comma-separated values with a header row\n"
         "  --help          print this text and exit\n"
         "\n"
         "Conventions:\n"
         "  H = -2 J S1.S2 + sum over ions of Di (Siz^2 - 5/4) + Ei (Six^2 - Siy^2) + Zeeman\n"
         "  term; J < 0 is antiferromagnetic. Energies are in cm-1. The field is 0.1 T\n"
         "  along x, all g-values are 2.0. D2 = D1, as in dimerscan.\n"
         "  Basis |m1, m2>, m1 and m2 from +3/2 to -3/2; state s = 4 (3/2 - m1) + (3/2 - m2) + 1.\n"
         "\n"
         "Columns, one row per level in ascending energy:\n"
         "  level, energy, energy above the lowest level, <S^2> of the pair (S = S1 + S2),\n"
         "  effective S from <S^2> = S (S + 1), <Sx> of the pair (along the field), and the\n"
         "  two largest components |m1,m2> with their weights |c|^2. Weights within 1e-12\n"
         "  of each other count as equal; the state earlier in the basis is then shown.\n"
         "  With --csv every number is printed to 17 significant digits.\n"
         "\n"
         "A sweep puts D1 and the state before these columns, and the level after D1:\n"
         "  D1, level (the rank, 1 the lowest), state, energy, ...\n"
         "  The states are numbered by their rank at the first pass and followed from pass\n"
         "  to pass by the overlap |<a|b>|^2 of their eigenvectors, one to one, the largest\n"
         "  first, so a state keeps its number where levels cross. Levels degenerate to\n"
         "  rounding are matched as one eigenspace, the states going on in it with the\n"
         "  vectors they had. The table has its heading as comments (#) and one blank line\n"
         "  after each pass, for gnuplot; --csv has one header row, then a row per level.\n"
         "\n"
         "Exit status: 0 on success; 1 for a bad option or value, a level that could not be\n"
         "computed, or output that could not be written.\n";
}

std::string render(const Parameters& p, const Spectrum& s, bool csv) {
  std::string out;
  if (csv) {
    out = "level,energy,above,S2,S,Sx,first_state,first_weight,second_state,second_weight\n";
    for (int j = 0; j < n; ++j) {
      const Level& l = s.levels[j];
      out += std::to_string(j + 1);
      for (double v : {l.energy, l.above, l.s2, l.spin, l.sx}) out.append(",").append(fixed("%.17g", v));
      // The kets hold a comma: quoted.
      for (int k : {l.first, l.second})
        out.append(",\"").append(ket(k)).append("\",").append(fixed("%.17g", l.weight[k]));
      out += '\n';
    }
    return out;
  }
  out = "# J = " + fixed("%g", p.J) + " cm-1, D1 = D2 = " + fixed("%g", p.D1) +
        " cm-1, E1/D1 = " + fixed("%g", p.ratio1) + ", E2/D2 = " + fixed("%g", p.ratio2) +
        "; 0.1 T along x, g = 2.0\n";
  char line[256];
  std::snprintf(line, sizeof line, "%5s %18s %18s %10s %7s %10s  %-12s %8s  %-12s %8s\n", "level",
                "energy/cm-1", "above/cm-1", "<S^2>", "S", "<Sx>", "largest", "weight", "next",
                "weight");
  out += line;
  for (int j = 0; j < n; ++j) {
    const Level& l = s.levels[j];
    std::snprintf(line, sizeof line, "%5d %18.10g %18.10g %10.6f %7.4f %10.6f  %-12s %8.6f  %-12s %8.6f\n",
                  j + 1, l.energy, l.above, l.s2, l.spin, l.sx, ket(l.first).c_str(),
                  l.weight[l.first], ket(l.second).c_str(), l.weight[l.second]);
    out += line;
  }
  return out;
}

std::string sweep_heading(const Options& o) {
  if (o.csv)
    return "D1,level,state,energy,above,S2,S,Sx,first_state,first_weight,second_state,"
           "second_weight\n";
  std::string out = "# J = " + fixed("%g", o.p.J) + " cm-1, D1 = D2 from " + fixed("%g", o.from) +
                    " to " + fixed("%g", o.to) + " step " + fixed("%g", o.step) +
                    " cm-1, E1/D1 = " + fixed("%g", o.p.ratio1) + ", E2/D2 = " +
                    fixed("%g", o.p.ratio2) + "; 0.1 T along x, g = 2.0\n";
  char line[256];
  std::snprintf(line, sizeof line, "# %16s %5s %5s %18s %18s %10s %7s %10s  %-12s %8s  %-12s %8s\n",
                "D1/cm-1", "level", "state", "energy/cm-1", "above/cm-1", "<S^2>", "S", "<Sx>",
                "largest", "weight", "next", "weight");
  return out + line;
}

std::string sweep_rows(double D1, const Spectrum& s, const std::array<int, n>& level_of_state,
                       bool csv) {
  std::array<int, n> state_of_level{};
  for (int a = 0; a < n; ++a) state_of_level[level_of_state[a]] = a;
  std::string out;
  char line[320];
  for (int j = 0; j < n; ++j) {
    const Level& l = s.levels[j];
    if (csv) {
      std::snprintf(line, sizeof line,
                    "%.17g,%d,%d,%.17g,%.17g,%.17g,%.17g,%.17g,\"%s\",%.17g,\"%s\",%.17g\n", D1,
                    j + 1, state_of_level[j] + 1, l.energy, l.above, l.s2, l.spin, l.sx,
                    ket(l.first).c_str(), l.weight[l.first], ket(l.second).c_str(),
                    l.weight[l.second]);
    } else {
      std::snprintf(line, sizeof line,
                    "  %16.10g %5d %5d %18.10g %18.10g %10.6f %7.4f %10.6f  %-12s %8.6f  %-12s %8.6f\n",
                    D1, j + 1, state_of_level[j] + 1, l.energy, l.above, l.s2, l.spin, l.sx,
                    ket(l.first).c_str(), l.weight[l.first], ket(l.second).c_str(),
                    l.weight[l.second]);
    }
    out += line;
  }
  if (!csv) out += '\n';
  return out;
}

}  // namespace states
