#include "options.hpp"

#include <algorithm>
#include <array>

#include "common/files.hpp"
#include "model/pass_rule.hpp"

namespace states {

namespace {

using common::Failure;
using common::printable;

struct Swept {
  std::string_view name, unit;
  // The options that set what the sweep sets.
  std::array<std::string_view, 3> options;
  bool dimerscans;  // a parameter of dimerscan's own dialogue
};

constexpr Swept sweepable[] = {
    {"J", "cm-1", {"--J"}, true},
    {"D1", "cm-1", {"--D1", "--D"}, true},
    {"D2", "cm-1", {"--D2", "--D"}, false},
    {"D", "cm-1", {"--D", "--D1", "--D2"}, false},
    {"E1", "cm-1", {"--E1", "--ratio1"}, false},
    {"E2", "cm-1", {"--E2", "--ratio2"}, false},
    {"ratio1", "", {"--ratio1", "--E1"}, true},
    {"ratio2", "", {"--ratio2", "--E2"}, true},
    {"B", "T", {"--B"}, false},
    {"theta", "deg", {"--theta"}, false},
    {"phi", "deg", {"--phi"}, false},
};

const Swept* find_swept(std::string_view name) {
  for (const Swept& s : sweepable)
    if (s.name == name) return &s;
  return nullptr;
}

std::string quoted(std::string_view text) { return "'" + printable(text) + "'"; }

// --D1 FROM:TO:STEP, each part a number in full, as dimerscan's sweep of D1.
common::Range d1_range(const std::string& text) {
  const std::size_t a = text.find(':'), b = text.find(':', a + 1);
  if (b == std::string::npos || text.find(':', b + 1) != std::string::npos)
    throw Failure("value " + quoted(text) + " of option --D1 is not one D1 nor FROM:TO:STEP");
  const std::string parts[3] = {text.substr(0, a), text.substr(a + 1, b - a - 1), text.substr(b + 1)};
  double v[3];
  for (int k = 0; k < 3; ++k) {
    try {
      v[k] = common::number(parts[k], "--D1");
    } catch (const Failure& f) {
      // "value 'P' of option --D1 ..." names the whole value too.
      std::string m = f.what();
      m.insert(m.find(" of option"), " in " + quoted(text));
      throw Failure(m);
    }
  }
  if (!passes::sweep_ends(v[0], v[1], v[2])) throw Failure(passes::endless);
  return {v[0], v[1], v[2]};
}

Options parse(const std::vector<std::string>& args) {
  Options o;
  bool d1_swept = false;  // the sweep came as --D1 FROM:TO:STEP
  bool csv = false, help = false, version = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const bool inline_value = eq != std::string::npos;
    if (name == "--csv" || name == "--help" || name == "--version") {
      if (inline_value) throw Failure("option " + name + " takes no value");
      bool& flag = name == "--csv" ? csv : name == "--help" ? help : version;
      if (flag) throw Failure("option " + name + " is given twice");
      flag = true;
      continue;
    }
    if (name == "--D1" || name == "--sweep") {
      std::string text;
      if (inline_value) text = arg.substr(eq + 1);
      else if (i + 1 < args.size()) text = args[i + 1];
      else throw Failure("option " + name + " needs a value");
      if (name == "--sweep" || text.find(':') != std::string::npos) {
        if (name == "--D1" && o.model.given("--D1")) throw Failure("option --D1 is given twice");
        if (o.sweep)
          throw Failure("one parameter is swept at a time: " +
                        std::string(d1_swept || name == "--D1" ? "--D1 FROM:TO:STEP and --sweep"
                                                               : "--sweep is given twice"));
        if (!inline_value) ++i;
        if (name == "--D1") {
          o.sweep = Sweep{"D1", d1_range(text)};
          d1_swept = true;
          // D1 is set by the sweep; --D1 counts as given.
          const std::vector<std::string> d1 = {"--D1=" + text.substr(0, text.find(':'))};
          std::size_t k = 0;
          o.model.take(d1, k);
        } else {
          const std::size_t sep = text.find('=');
          if (sep == std::string::npos)
            throw Failure("value " + quoted(text) + " of option --sweep is not NAME=FROM:TO:STEP");
          const std::string what = text.substr(0, sep);
          if (find_swept(what) == nullptr)
            throw Failure("--sweep " + quoted(text) + ": " + quoted(what) +
                          " is not a parameter (J, D1, D2, D, E1, E2, ratio1, ratio2, B, theta, phi)");
          o.sweep = Sweep{what, common::range(text.substr(sep + 1), "--sweep " + what)};
        }
        continue;
      }
    }
    if (o.model.take(args, i)) continue;
    if (arg.size() > 1 && arg[0] == '-') throw Failure("unknown option " + quoted(arg));
    throw Failure("unexpected argument " + quoted(arg));
  }
  o.csv = csv;
  o.help = help;
  o.version = version;
  o.general = o.model.general();
  if (o.sweep && !d1_swept) {
    const Swept& s = *find_swept(o.sweep->name);
    for (std::string_view option : s.options)
      if (!option.empty() && o.model.given(option))
        throw Failure("option " + std::string(option) + " and the sweep of " + o.sweep->name +
                      " exclude each other");
    o.general = o.general || !s.dimerscans;
  }
  return o;
}

}  // namespace

std::string_view unit_of(std::string_view name) {
  const Swept* s = find_swept(name);
  return s != nullptr ? s->unit : "";
}

common::ModelInput Options::at(double value) const {
  common::ModelInput in = input();
  if (sweep) in.set(sweep->name, value);
  return in;
}

Options parse_options(const std::vector<std::string>& args) {
  try {
    return parse(args);
  } catch (const Failure& f) {
    throw Failure(std::string(f.what()) + " (try --help)");
  }
}

std::string usage() {
  return "Usage: dimerstates [PARAMETERS] [--sweep NAME=FROM:TO:STEP] [--csv]\n"
         "       dimerstates --help | --version\n"
         "\n"
         "Computes the sixteen levels of an exchange-coupled pair of spin-3/2 ions and tells\n"
         "what each level is; or, over a sweep of one parameter, follows every state from\n"
         "pass to pass.\n"
         "\n"
         "Parameters (a value follows as --J -1 or --J=-1; each option at most once):\n"
         "  --J J           exchange constant J in cm-1 (default 0)\n"
         "  --D1 D1         axial zero-field splitting of ion 1 in cm-1 (default 0)\n"
         "  --D1 FROM:TO:STEP\n"
         "                  the passes of dimerscan's sweep with D1min FROM, D1max TO and\n"
         "                  step STEP: D1 = (k - 1) x STEP + FROM for k = 1, 2, ... while\n"
         "                  D1 <= TO, computed as dimerscan computes it. A step that is not\n"
         "                  positive or gives more than 2147483647 passes is refused, as\n"
         "                  dimerscan refuses it; FROM > TO gives no pass.\n"
         "  --D2 D2         axial term of ion 2 in cm-1 (default: D2 = D1, as in dimerscan)\n"
         "  --D D           both ions' axial term at once\n"
         "  --E1 E1         rhombic term of ion 1 in cm-1 (default E1 = D1 x R1)\n"
         "  --E2 E2         rhombic term of ion 2 in cm-1 (default E2 = D2 x R2)\n"
         "  --ratio1 R1     E1/D1: E1 = D1 x R1 (default 0; not with --E1)\n"
         "  --ratio2 R2     E2/D2: E2 = D2 x R2 (default 0; not with --E2)\n"
         "  --g G           all six g-values (default 2.0)\n"
         "  --g1 GX,GY,GZ   the principal g-values of ion 1 (axes those of its D)\n"
         "  --g2 GX,GY,GZ   the principal g-values of ion 2\n"
         "  --B TESLA       the field (default 0.1 T)\n"
         "  --theta DEG     its angle from z (default 90)\n"
         "  --phi DEG       its angle from x in the xy plane (default 0): the default field\n"
         "                  is 0.1 T along x\n"
         "  --sweep NAME=FROM:TO:STEP\n"
         "                  sweeps one parameter, NAME one of J, D1, D2, D, E1, E2, ratio1,\n"
         "                  ratio2, B, theta, phi, its values as --D1 FROM:TO:STEP has them;\n"
         "                  the option of the same parameter is not given with it\n"
         "  --csv           print comma-separated values with a header row\n"
         "  --help          print this text and exit\n"
         "  --version       print the version and exit\n"
         "\n"
         "Conventions:\n"
         "  H = -2 J S1.S2 + sum over ions of [Di (Siz^2 - 5/4) + Ei (Six^2 - Siy^2)\n"
         "      + muB (gix Bx Six + giy By Siy + giz Bz Siz)], muB = 0.46686 cm-1/T,\n"
         "  Bx = B sin(theta) cos(phi), By = B sin(theta) sin(phi), Bz = B cos(theta).\n"
         "  J < 0 is antiferromagnetic. Energies are in cm-1.\n"
         "  Basis |m1, m2>, m1 and m2 from +3/2 to -3/2; state s = 4 (3/2 - m1) + (3/2 - m2) + 1.\n"
         "\n"
         "Which Hamiltonian a run uses:\n"
         "  A run that names only J, D1 (or its sweep), ratio1 and ratio2 computes dimerscan's\n"
         "  own pass from its element tables: D2 = D1, E1 = D1 x R1, E2 = D1 x R2, 0.1 T along\n"
         "  x, g = 2.0, and its energies are those of fort.10. Any other option (or a sweep of\n"
         "  another parameter) takes the whole Hamiltonian above, every element from the\n"
         "  spin-3/2 operators. The two differ in the seventh digit: dimerscan's tables use\n"
         "  0.40431 for muB sqrt(3)/2 = 0.4043126... The heading (and the CSV column model,\n"
         "  'dimerscan' or 'general') says which one a run used.\n"
         "\n"
         "Columns, one row per level in ascending energy:\n"
         "  level, energy, energy above the lowest level, <S^2> of the pair (S = S1 + S2),\n"
         "  effective S from <S^2> = S (S + 1), <Sx> of the pair, and the two largest\n"
         "  components |m1,m2> with their weights |c|^2 (weights within 1e-12 of each other\n"
         "  count as equal; the state earlier in the basis is then shown); then <S.n> along\n"
         "  the field and the spin composition w0, w1, w2, w3, the weights <P_S> of total\n"
         "  spin S = 0, 1, 2, 3 (they sum to 1). With --csv every number is printed to 17\n"
         "  significant digits and every row ends with the run's parameters: J, D1, D2, E1,\n"
         "  E2, g1x, g1y, g1z, g2x, g2y, g2z, B, theta, phi, model.\n"
         "\n"
         "A sweep puts the swept parameter and the state before these columns, and the level\n"
         "after it: D1, level (the rank, 1 the lowest), state, energy, ... (its own column is\n"
         "then not repeated among the parameters at the end).\n"
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

}  // namespace states
