// dimermag: the susceptibility and magnetisation of the pair, for one field
// direction or a powder, and fits of its parameters to measured curves.
// Options and conventions: dimermag --help.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/files.hpp"
#include "common/model_options.hpp"
#include "fit.hpp"
#include "magnetism.hpp"
#include "table.hpp"
#include "textio/platform.hpp"

namespace {

const char* const usage_text =
    "Usage: dimermag susceptibility --T FROM:TO:STEP [--B TESLA] [--powder | --theta DEG --phi DEG]\n"
    "                [MODEL OPTIONS] [--rho R] [--tip CHI0] [--noise F [--seed N]] [--csv]\n"
    "       dimermag magnetisation --B FROM:TO:STEP --T KELVIN [--powder | --theta DEG --phi DEG]\n"
    "                [MODEL OPTIONS] [--rho R] [--tip CHI0] [--noise F [--seed N]] [--csv]\n"
    "       dimermag fit DATA --vary NAMES [START VALUES] [--B TESLA | --T KELVIN]\n"
    "                [--powder | --theta DEG --phi DEG] [-o FILE.csv] [--plot FILE.svg]\n"
    "\n"
    "The magnetic response of an exchange-coupled pair of spin-3/2 ions,\n"
    "  H = -2 J S1.S2 + sum over ions i of [ Di (Siz^2 - 5/4) + Ei (Six^2 - Siy^2)\n"
    "      + muB (gix Bx Six + giy By Siy + giz Bz Siz) ]   (cm-1),\n"
    "per mole of pairs. In a field B along u each level i carries the moment\n"
    "-dEi/dB = -<i| muB (g.S1 + g.S2).u |i>; M is their Boltzmann average at T,\n"
    "in muB per pair, and chi = 0.558494 x M / B in cm3 mol-1 (CGS-emu),\n"
    "kB = 0.6950348 cm-1/K, muB = 0.46686 cm-1/T. At high T chiT tends to\n"
    "2 x 0.1250483 x g^2 x 15/4 cm3 K mol-1 (3.75145 for g = 2).\n"
    "\n"
    "susceptibility  columns T (K), chi (cm3 mol-1), chiT (cm3 K mol-1) for each\n"
    "                T of the range, at the measuring field --B (default 0.1 T).\n"
    "magnetisation   columns B (T), M (muB per pair) for each B of the range at --T.\n"
    "fit             fits NAMES to DATA, a table whose header row names its\n"
    "                columns: T and chiT (or chi), or B and M (then --T is\n"
    "                required); blanks, tabs or commas between values; lines\n"
    "                starting with # are comments. Prints the values with their\n"
    "                standard errors (from the Jacobian at the minimum, scaled by\n"
    "                the residual variance), the residual sum of squares, the\n"
    "                number of points and the correlation matrix.\n"
    "\n"
    "Field direction:\n"
    "  --powder        average over directions (the default): Gauss product rule\n"
    "                  over one octant of the sphere, 32 Gauss-Legendre nodes in\n"
    "                  cos(theta) times 16 equal steps (midpoint rule) in phi, 512\n"
    "                  directions; converged to better than 1e-4 relative for\n"
    "                  |D| <= 20 cm-1, T >= 1.8 K, B <= 7 T. The octant stands for\n"
    "                  the sphere: the levels are unchanged when any component\n"
    "                  of the field changes sign.\n"
    "  --theta DEG, --phi DEG   one direction: theta from z, phi from x (default\n"
    "                  theta 90, phi 0 when only one is given).\n"
    "\n"
    "Model options (as dimerstates takes them; defaults 0, every g 2.0):\n"
    "  --J J  --D1 D1  --D2 D2 (D2 = D1 unless given)  --D D (both ions)\n"
    "  --E1 E1  --E2 E2  --ratio1 R1  --ratio2 R2 (EN = DN x RN)\n"
    "  --g G (all six)  --g1 GX,GY,GZ  --g2 GX,GY,GZ\n"
    "  --rho R         fraction of paramagnetic S = 3/2 impurity:\n"
    "                  chi = (1 - R) chi_pair + R (chi_ion1 + chi_ion2), each ion's\n"
    "                  chi Curie's law at its g along the field (M: its Brillouin\n"
    "                  function)\n"
    "  --tip CHI0      temperature-independent chi, cm3 mol-1, added to chi\n"
    "                  (to M as CHI0 x B / 0.558494)\n"
    "\n"
    "Synthetic data:\n"
    "  --noise F       multiplies each chi (M) by 1 + F x n, n a standard normal\n"
    "                  deviate (Box-Muller from a 64-bit Mersenne twister), the\n"
    "                  same on every platform for one --seed N (default 1)\n"
    "\n"
    "Fit:\n"
    "  --vary NAMES    comma-separated, any of J, D (both ions), D1, D2, E (both\n"
    "                  ions), E1, E2, g (all six), gz (both ions' gz), gxy (both\n"
    "                  ions' gx and gy), rho, tip; start values from the model\n"
    "                  options. Least squares on the data's own quantity with\n"
    "                  Eigen's Levenberg-Marquardt minimiser, derivatives by\n"
    "                  central differences. A powder barely tells the sign of D:\n"
    "                  when D, D1 or D2 is varied, the fit starts from both signs\n"
    "                  (a start of 0 as +1 and -1 cm-1), keeps the better minimum\n"
    "                  and says which sign it has and how well the other fits.\n"
    "  -o FILE.csv     the data beside the fitted curve and the residuals\n"
    "  --plot FILE.svg data and fit as an SVG drawing\n"
    "  Progress goes to standard error when it is a terminal.\n"
    "\n"
    "  --csv           comma-separated values with a header row\n"
    "  --help, --version\n"
    "\n"
    "Errors give one line on standard error and status 1; nothing is written\n"
    "under an output name then.\n";

struct Options {
  std::string command;
  std::string data;                 // fit: the table
  common::ModelOptions model;
  bool powder = false;
  std::string T, B;                 // ranges or values as given
  bool csv = false;
  double rho = 0.0, tip = 0.0;
  double noise = 0.0;
  std::uint64_t seed = 1;
  bool seed_given = false;
  std::string vary, out, plot;
};

// The value of option name at args[i] ("--name VALUE" or "--name=VALUE"),
// advancing i past it; false when args[i] is not that option.
bool value_of(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
              std::string& value, bool& given) {
  const std::string& a = args[i];
  if (a == name) {
    if (i + 1 >= args.size()) throw common::Failure("option " + name + " needs a value");
    value = args[++i];
  } else if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=') {
    value = a.substr(name.size() + 1);
  } else {
    return false;
  }
  if (given) throw common::Failure("option " + name + " is given twice");
  given = true;
  return true;
}

Options parse(const std::vector<std::string>& args) {
  Options o;
  if (args.empty()) throw common::Failure("no command: susceptibility, magnetisation or fit (try --help)");
  o.command = args[0];
  if (o.command != "susceptibility" && o.command != "magnetisation" && o.command != "fit")
    throw common::Failure("unknown command '" + common::printable(o.command) +
                          "': susceptibility, magnetisation or fit (try --help)");
  const bool fit = o.command == "fit";
  bool gT = false, gB = false, grho = false, gtip = false, gnoise = false, gvary = false,
       gout = false, gplot = false;
  std::string text;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    // Options that only store their text.
    if (value_of(args, i, "--T", o.T, gT) ||
        (o.command == "magnetisation" && value_of(args, i, "--B", o.B, gB)) ||
        (fit && value_of(args, i, "--vary", o.vary, gvary)) ||
        (fit && value_of(args, i, "-o", o.out, gout)) ||
        (fit && value_of(args, i, "--plot", o.plot, gplot)) || o.model.take(args, i))
      continue;
    if (a == "--powder") {
      o.powder = true;
    } else if (a == "--csv" && !fit) {
      o.csv = true;
    } else if (value_of(args, i, "--rho", text, grho)) {
      o.rho = common::number(text, "--rho");
      if (o.rho < 0.0 || o.rho > 1.0) throw common::Failure("option --rho: R must lie between 0 and 1");
    } else if (value_of(args, i, "--tip", text, gtip)) {
      o.tip = common::number(text, "--tip");
    } else if (!fit && value_of(args, i, "--noise", text, gnoise)) {
      o.noise = common::number(text, "--noise");
      if (o.noise < 0.0) throw common::Failure("option --noise: F must not be negative");
    } else if (!fit && value_of(args, i, "--seed", text, o.seed_given)) {
      const double s = common::number(text, "--seed");
      if (s < 0.0 || s != std::floor(s) || s > 9007199254740992.0)
        throw common::Failure("option --seed: N must be a whole number from 0 to 2^53");
      o.seed = static_cast<std::uint64_t>(s);
    } else if (fit && o.data.empty() && (a.empty() || a[0] != '-' || a == "-")) {
      o.data = a;
    } else {
      throw common::Failure("unknown option '" + common::printable(a) + "' for " + o.command +
                            " (try --help)");
    }
  }
  const bool oriented = o.model.given("--theta") || o.model.given("--phi");
  if (o.powder && oriented)
    throw common::Failure("options --powder and --theta/--phi exclude each other");
  if (fit) {
    if (o.data.empty()) throw common::Failure("fit needs a DATA file (try --help)");
    if (!gvary) throw common::Failure("fit needs --vary NAMES (try --help)");
  } else {
    if (!gT) throw common::Failure(o.command + " needs --T");
    if (o.command == "magnetisation" && !gB) throw common::Failure("magnetisation needs --B FROM:TO:STEP");
  }
  if (o.seed_given && !gnoise) throw common::Failure("option --seed needs --noise");
  return o;
}

std::vector<mag::Direction> directions(const Options& o) {
  if (o.model.given("--theta") || o.model.given("--phi"))
    return mag::oriented(o.model.input().theta, o.model.input().phi);
  return mag::default_powder();
}

std::vector<double> values(const std::string& text, const char* option) {
  const common::Range r = common::range(text, option);
  const std::int64_t count = r.count();
  if (count == 0) throw common::Failure("the range '" + common::printable(text) + "' of option " + option + " has no values");
  std::vector<double> v(static_cast<std::size_t>(count));
  for (std::int64_t k = 1; k <= count; ++k) v[static_cast<std::size_t>(k - 1)] = r.at(k);
  return v;
}

// Multiplies each value by 1 + f x n, n a standard normal deviate from the
// Box-Muller transform of two uniform numbers in (0, 1].
void add_noise(std::vector<double>& v, double f, std::uint64_t seed) {
  if (f == 0.0) return;
  std::mt19937_64 gen(seed);
  constexpr double unit = 0x1p-53;  // 53 random bits to a double in [0, 1)
  constexpr double two_pi = 6.283185307179586;
  for (double& x : v) {
    const double u1 = 1.0 - static_cast<double>(gen() >> 11) * unit;
    const double u2 = static_cast<double>(gen() >> 11) * unit;
    x *= 1.0 + f * std::sqrt(-2.0 * std::log(u1)) * std::cos(two_pi * u2);
  }
}

std::string heading(const Options& o, const model::Parameters& p, const std::string& field) {
  using mag::shortest;
  std::string h = "# dimermag " + o.command + ": J = " + shortest(p.J) + ", D1 = " +
                  shortest(p.ion1.D) + ", D2 = " + shortest(p.ion2.D) + ", E1 = " +
                  shortest(p.ion1.E) + ", E2 = " + shortest(p.ion2.E) + " cm-1; g1 = " +
                  shortest(p.ion1.gx) + "," + shortest(p.ion1.gy) + "," + shortest(p.ion1.gz) +
                  ", g2 = " + shortest(p.ion2.gx) + "," + shortest(p.ion2.gy) + "," +
                  shortest(p.ion2.gz) + "; " + field + "; ";
  if (o.model.given("--theta") || o.model.given("--phi"))
    h += "theta = " + shortest(p.field.theta) + ", phi = " + shortest(p.field.phi) + " deg";
  else
    h += "powder average over " + std::to_string(mag::default_powder().size()) + " directions";
  if (o.rho != 0.0) h += "; rho = " + shortest(o.rho);
  if (o.tip != 0.0) h += "; tip = " + shortest(o.tip) + " cm3 mol-1";
  if (o.noise != 0.0) h += "; noise " + shortest(o.noise) + ", seed " + std::to_string(o.seed);
  return h + "\n";
}

std::string row(const std::vector<double>& v, bool csv) {
  std::string line;
  for (std::size_t k = 0; k < v.size(); ++k) {
    const std::string s = mag::shortest(v[k]);
    if (csv) {
      line += (k ? "," : "") + s;
    } else {
      char field[40];
      std::snprintf(field, sizeof field, "%s%24s", k ? " " : "", s.c_str());
      line += field;
    }
  }
  return line + "\n";
}

int curves(const Options& o) {
  mag::Sample s;
  s.p = o.model.input().resolve();
  s.rho = o.rho;
  s.tip = o.tip;
  const std::vector<mag::Direction> dirs = directions(o);
  std::string out;
  if (o.command == "susceptibility") {
    const double B = s.p.field.B;
    if (!(B > 0.0)) throw common::Failure("option --B: B must be positive for chi = M / B");
    const std::vector<double> T = values(o.T, "--T");
    if (T[0] <= 0.0) throw common::Failure("option --T: T must be positive");
    std::vector<double> chi = mag::susceptibility(s, B, T, dirs);
    add_noise(chi, o.noise, o.seed);
    if (!o.csv) out = heading(o, s.p, "B = " + mag::shortest(B) + " T");
    if (o.csv) {
      out += "T,chi,chiT\n";
    } else {
      char h[100];
      std::snprintf(h, sizeof h, "%24s %24s %24s\n", "T", "chi", "chiT");
      out += h;
    }
    for (std::size_t k = 0; k < T.size(); ++k) {
      if (!std::isfinite(chi[k])) throw common::Failure("chi is not a finite number: the parameters are too large");
      out += row({T[k], chi[k], chi[k] * T[k]}, o.csv);
    }
  } else {
    const double T = common::number(o.T, "--T");
    if (!(T > 0.0)) throw common::Failure("option --T: T must be positive");
    const std::vector<double> B = values(o.B, "--B");
    if (B[0] < 0.0) throw common::Failure("option --B: B must not be negative");
    std::vector<double> M = mag::magnetisation(s, B, T, dirs);
    add_noise(M, o.noise, o.seed);
    if (!o.csv) {
      out = heading(o, s.p, "T = " + mag::shortest(T) + " K");
      char h[100];
      std::snprintf(h, sizeof h, "%24s %24s\n", "B", "M");
      out += h;
    } else {
      out = "B,M\n";
    }
    for (std::size_t k = 0; k < B.size(); ++k) {
      if (!std::isfinite(M[k])) throw common::Failure("M is not a finite number: the parameters are too large");
      out += row({B[k], M[k]}, o.csv);
    }
  }
  common::write_stdout(out);
  return 0;
}

// The whole of a data file; refuses one larger than any table of measured
// data (a device that never ends, a wrong file).
std::string read_data(const std::string& path) {
  constexpr std::size_t limit = std::size_t{64} << 20;  // 64 MiB
  const std::string name = common::printable(path);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw common::Failure(name + ": cannot be opened for reading");
  std::string text;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > limit) throw common::Failure(name + ": larger than 64 MiB, not a table of measured data");
  }
  if (in.bad()) throw common::Failure(name + ": cannot be read");
  return text;
}

int run_fit(const Options& o) {
  for (const std::string* name : {&o.out, &o.plot}) {
    if (name->empty()) continue;
    if (*name == o.data || common::same_file(*name, o.data))
      throw common::Failure(common::printable(*name) + ": the same file as the data");
  }
  if (!o.out.empty() && (o.out == o.plot || common::same_file(o.out, o.plot)))
    throw common::Failure("-o and --plot name the same file");
  mag::Problem pb;
  pb.vary = mag::parse_vary(o.vary);
  pb.data = mag::read_table(o.data, read_data(o.data));
  pb.start = o.model.input();
  pb.rho = o.rho;
  pb.tip = o.tip;
  pb.dirs = directions(o);
  if (pb.data.q == mag::Quantity::M) {
    if (o.T.empty()) throw common::Failure(common::printable(o.data) + ": a table of M against B needs --T");
    if (o.model.given("--B")) throw common::Failure("option --B: the fields of M are the table's column B");
    pb.T = common::number(o.T, "--T");
    if (!(pb.T > 0.0)) throw common::Failure("option --T: T must be positive");
  } else {
    if (!o.T.empty()) throw common::Failure("option --T: the temperatures of " + std::string(mag::quantity_name(pb.data.q)) + " are the table's column T");
    pb.B = pb.start.B;
    if (!(pb.B > 0.0)) throw common::Failure("option --B: B must be positive for chi = M / B");
  }
  const textio::platform::Handle err = textio::platform::standard_handles().err;
  const bool terminal = textio::platform::is_terminal(err);
  const std::size_t starts = [&] {
    for (const std::string& n : pb.vary.names)
      if (n == "D" || n == "D1" || n == "D2") return 2;
    return 1;
  }();
  mag::Progress progress;
  if (terminal)
    progress = [starts](int start, int evaluations, double rss) {
      std::fprintf(stderr, "\rdimermag: start %d of %zu, evaluation %d, residual sum of squares %.6g   ",
                   start, starts, evaluations, rss);
      std::fflush(stderr);
    };
  mag::Outcome outcome;
  try {
    outcome = mag::fit(pb, progress);
  } catch (...) {
    if (terminal) std::fprintf(stderr, "\r%78s\r", "");
    throw;
  }
  if (terminal) std::fprintf(stderr, "\r%78s\r", "");
  const std::string report = mag::report(pb, outcome, o.data);
  // Both files are made before either is written.
  const std::string csv = o.out.empty() ? "" : mag::curve_csv(pb, outcome);
  const std::string svg = o.plot.empty() ? "" : mag::curve_svg(pb, outcome, o.data);
  if (!o.out.empty()) common::write_whole(o.out, csv);
  if (!o.plot.empty()) common::write_whole(o.plot, svg);
  common::write_stdout(report);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return common::run_program("dimermag", [&] {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
      if (a == "--help") {
        common::write_stdout(usage_text);
        return 0;
      }
      if (a == "--version") {
        common::write_stdout(common::version_line("dimermag"));
        return 0;
      }
    }
    const Options o = parse(args);
    return o.command == "fit" ? run_fit(o) : curves(o);
  });
}
