// dimerepr: the pair's EPR at a fixed microwave frequency: resonance fields,
// line intensities and the field-swept spectrum, for one orientation of the
// field or a powder.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "common/files.hpp"
#include "common/model_options.hpp"
#include "epr.hpp"
#include "svg.hpp"

namespace {

using common::Failure;

constexpr const char* usage =
    "Usage: dimerepr --freq GHZ [--B FROM:TO:STEP] [--theta DEG --phi DEG | --powder]\n"
    "                [--T KELVIN] [--lw MT] [--shape gauss|lorentz] [--mode perpendicular|parallel]\n"
    "                [--cells N] [--split N] [--lines FILE.csv] [--csv] [-o FILE.svg] [model options]\n"
    "\n"
    "The EPR spectrum of the pair of spin-3/2 ions at a fixed microwave frequency:\n"
    "every resonance E_j - E_i = h nu (h nu = GHZ / 29.9792458 cm-1) in the field\n"
    "range, its intensity, and the absorption and its derivative on the field grid.\n"
    "\n"
    "  --freq GHZ        the microwave frequency in GHz (X band 9.5, Q band 34)\n"
    "  --B FROM:TO:STEP  the field grid in tesla (default 0:1.5:0.0001)\n"
    "  --theta DEG       the field's polar angle from z (default 0 when only --phi is given)\n"
    "  --phi DEG         its azimuth from x (default 0): one orientation\n"
    "  --powder          the mean over all orientations (the default)\n"
    "  --T KELVIN        the temperature of the populations (default 10)\n"
    "  --lw MT           the peak-to-peak width of the derivative line in mT (default 5)\n"
    "  --shape S         gauss (default) or lorentz\n"
    "  --mode M          perpendicular (b1 perpendicular to B, averaged; default) or\n"
    "                    parallel (b1 along B)\n"
    "  --cells N         the powder grid: N x N cells over one octant (default 24)\n"
    "  --split N         each cell split into N x N sub-cells (default 8)\n"
    "  --depth N         a cell whose corners' lines do not correspond is split in\n"
    "                    four, up to N times (default 2)\n"
    "  --lines FILE      write the lines to FILE as CSV: B_mT,lower,upper,intensity,theta,phi\n"
    "  --csv             the spectrum as CSV (B_mT,absorption,derivative) on standard output\n"
    "  -o FILE           draw the derivative spectrum to FILE as SVG\n"
    "  --help, --version\n"
    "\n"
    "Model options, as dimerstates takes them (cm-1): --J, --D1, --D2 (default D1),\n"
    "--D (both), --E1, --E2, --ratio1, --ratio2 (EN = DN x RN), --g, --g1 GX,GY,GZ,\n"
    "--g2 GX,GY,GZ (default 2).\n"
    "\n"
    "Resonances are bracketed on each pair of levels' difference: every interval\n"
    "where it can reach h nu (its slope is bounded by the spread of the Zeeman\n"
    "operator's eigenvalues) is halved until it is 1 mT wide; a sign change is refined by\n"
    "regula falsi to 1e-10 T, and a difference that turns back near h nu is\n"
    "followed to its turning point: two roots, or a double root (a looping\n"
    "transition, listed with an infinite intensity and left out of the spectrum).\n"
    "Levels are ranked 1 (lowest) to 16 at the resonance field. Intensity:\n"
    "|<i| muB (g.S1 + g.S2).b1 |j>|^2 x (p_i - p_j) / |d(E_j - E_i)/dB| in cm-1/T,\n"
    "p Boltzmann populations of all sixteen levels at T, summed over levels\n"
    "degenerate with i and with j; forbidden lines (probability below 1e-20) are\n"
    "left out. Each line is broadened to unit area in mT.\n"
    "\n"
    "Powder: the midpoint rule over one octant (the spectrum is the same in all\n"
    "eight), N x N cells uniform in cos(theta) and phi, each split into M x M\n"
    "sub-cells (default 24 x 24 cells of 8 x 8). Lines are computed exactly at\n"
    "the (N + 1)^2 corners and interpolated bilinearly to the sub-cells' centres,\n"
    "each line matched to the line of the same levels at the other corners, else\n"
    "to the nearest in field; a line without a partner at every corner stays at\n"
    "its corners, and a cell where such lines carry more than 2 % of its\n"
    "intensity is split in four (--depth times at most), its new corners computed\n"
    "exactly. The lines are put on the grid and convolved with the line shape.\n"
    "\n"
    "Without --csv, the spectrum goes to standard output as a table with its\n"
    "parameters in '#' lines. Bad input: one line on standard error, status 1,\n"
    "and no file written.\n";

struct Options {
  epr::Experiment x;
  bool powder = true, csv = false, help = false, version = false;
  epr::Shape shape = epr::Shape::gauss;
  double lw = 5.0;
  epr::PowderGrid grid;
  std::string lines_file, svg_file;
  std::string parameters;  // the model as given, for the notes
};

// Largest number of fields in the grid: three columns of doubles each.
constexpr std::int64_t max_fields = 10000000;

int count_of(std::string_view text, std::string_view option) {
  const double v = common::number(text, option);
  if (!(v >= 1 && v <= 1000 && v == std::floor(v)))
    throw Failure("value '" + common::printable(text) + "' of option " + std::string(option) +
                  " is not a whole number from 1 to 1000");
  return static_cast<int>(v);
}

Options parse(const std::vector<std::string>& args) {
  Options o;
  common::ModelOptions model;
  std::vector<std::string> seen;
  bool freq = false, orientation = false, powder_given = false, theta = false, phi = false;
  double th = 0.0, ph = 0.0;
  std::string shape = "gauss", mode = "perpendicular";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") { o.help = true; continue; }
    if (arg == "--version") { o.version = true; continue; }
    if (arg == "--powder") { powder_given = true; continue; }
    if (arg == "--csv") { o.csv = true; continue; }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    static const char* const own[] = {"--freq", "--B", "--theta", "--phi", "--T", "--lw", "--shape",
                                      "--mode", "--lines", "-o", "--cells", "--split", "--depth"};
    bool is_own = false;
    for (const char* n : own) is_own = is_own || name == n;
    if (!is_own) {
      if (model.take(args, i)) continue;
      throw Failure("unknown option '" + common::printable(arg) + "' (dimerepr --help lists the options)");
    }
    std::string value;
    if (eq != std::string::npos) value = arg.substr(eq + 1);
    else if (i + 1 < args.size()) value = args[++i];
    else throw Failure("option " + name + " needs a value");
    for (const std::string& s : seen)
      if (s == name) throw Failure("option " + name + " is given twice");
    seen.push_back(name);
    if (name == "--freq") {
      o.x.ghz = common::number(value, name);
      if (!(o.x.ghz > 0)) throw Failure("value '" + common::printable(value) + "' of option --freq is not a positive frequency");
      freq = true;
    } else if (name == "--B") {
      const common::Range r = common::range(value, name);
      if (r.from > r.to) throw Failure("the range '" + common::printable(value) + "' of option --B is empty");
      if ((r.to - r.from) / r.step >= static_cast<double>(max_fields))
        throw Failure("the range '" + common::printable(value) + "' of option --B has more than 10000000 fields");
      o.x.grid = {r.from, r.step, r.count()};
      if (o.x.grid.count < 2) throw Failure("the range '" + common::printable(value) + "' of option --B has fewer than two fields");
    } else if (name == "--theta") {
      th = common::number(value, name), theta = orientation = true;
    } else if (name == "--phi") {
      ph = common::number(value, name), phi = orientation = true;
    } else if (name == "--T") {
      o.x.T = common::number(value, name);
      if (!(o.x.T > 0)) throw Failure("value '" + common::printable(value) + "' of option --T is not a positive temperature");
    } else if (name == "--lw") {
      o.lw = common::number(value, name);
      if (!(o.lw > 0)) throw Failure("value '" + common::printable(value) + "' of option --lw is not a positive width");
    } else if (name == "--shape") {
      if (value == "gauss") o.shape = epr::Shape::gauss;
      else if (value == "lorentz") o.shape = epr::Shape::lorentz;
      else throw Failure("value '" + common::printable(value) + "' of option --shape is not gauss or lorentz");
      shape = value;
    } else if (name == "--mode") {
      if (value == "perpendicular") o.x.mode = epr::Mode::perpendicular;
      else if (value == "parallel") o.x.mode = epr::Mode::parallel;
      else throw Failure("value '" + common::printable(value) + "' of option --mode is not perpendicular or parallel");
      mode = value;
    } else if (name == "--lines") {
      if (value.empty()) throw Failure("option --lines needs a file name, not an empty one");
      o.lines_file = value;
    } else if (name == "-o") {
      if (value.empty()) throw Failure("option -o needs a file name, not an empty one");
      o.svg_file = value;
    } else if (name == "--cells") {
      o.grid.cells = count_of(value, name);
    } else if (name == "--split") {
      o.grid.split = count_of(value, name);
    } else if (name == "--depth") {
      const double d = common::number(value, name);
      if (!(d >= 0 && d <= 6 && d == std::floor(d)))
        throw Failure("value '" + common::printable(value) + "' of option --depth is not a whole number from 0 to 6");
      o.grid.depth = static_cast<int>(d);
    }
  }
  if (o.help || o.version) return o;
  if (!freq) throw Failure("option --freq is required: the microwave frequency in GHz");
  if (orientation && powder_given) throw Failure("options --powder and --theta/--phi exclude each other");
  if (!o.lines_file.empty() && o.lines_file == o.svg_file) throw Failure("options --lines and -o name the same file");
  if (!o.lines_file.empty() && !o.svg_file.empty() && common::same_file(o.lines_file, o.svg_file))
    throw Failure("options --lines and -o name the same file");
  o.powder = !orientation;
  o.x.p = model.input().resolve();
  if (orientation) {
    o.x.p.field.theta = theta ? th : 0.0;
    o.x.p.field.phi = phi ? ph : 0.0;
  }
  const model::Parameters& p = o.x.p;
  char text[512];
  std::snprintf(text, sizeof text,
                "J = %.6g, D1 = %.6g, D2 = %.6g, E1 = %.6g, E2 = %.6g cm-1; g1 = %.6g,%.6g,%.6g, g2 = %.6g,%.6g,%.6g",
                p.J, p.ion1.D, p.ion2.D, p.ion1.E, p.ion2.E, p.ion1.gx, p.ion1.gy, p.ion1.gz, p.ion2.gx,
                p.ion2.gy, p.ion2.gz);
  o.parameters = text;
  std::snprintf(text, sizeof text, "; %s, lw = %.6g mT, %s mode", shape.c_str(), o.lw, mode.c_str());
  o.parameters += text;
  return o;
}

std::string g17(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

int run(const std::vector<std::string>& args) {
  const Options o = parse(args);
  if (o.help) return common::write_stdout(usage), 0;
  if (o.version) return common::write_stdout(common::version_line("dimerepr")), 0;
  const epr::Experiment& x = o.x;

  std::vector<epr::Line> lines;
  epr::Spectrum s;
  epr::Work work;
  if (o.powder) {
    s = epr::powder(x, o.shape, o.lw, o.grid, &lines, &work);
  } else {
    lines = epr::find_lines(x, x.p.field.theta, x.p.field.phi);
    epr::broaden(lines, 1.0, x.grid, o.shape, o.lw, s);
  }
  // Forbidden lines are followed through the powder but not listed.
  lines = epr::allowed(std::move(lines));
  for (double v : s.derivative)
    if (!std::isfinite(v)) throw Failure("the spectrum is not finite: the parameters are too large");

  char text[512];
  std::snprintf(text, sizeof text, "%.6g GHz, T = %.6g K, B from %.6g to %.6g mT", x.ghz, x.T, x.grid.from * 1e3,
                x.grid.last() * 1e3);
  std::string where = text;
  if (o.powder) {
    std::snprintf(text, sizeof text, "; powder: midpoint rule on %d x %d cells of %d x %d over one octant, %lld orientations",
                  o.grid.cells, o.grid.cells, o.grid.split, o.grid.split, static_cast<long long>(work.orientations));
  } else {
    std::snprintf(text, sizeof text, "; theta = %.6g, phi = %.6g degrees", x.p.field.theta, x.p.field.phi);
  }
  where += text;
  const std::string none = lines.empty() ? "no allowed resonance in the field range" : "";
  std::size_t looping = 0;
  for (const epr::Line& l : lines) looping += l.looping();
  const std::string loops = looping ? std::to_string(looping) + " looping transition(s) (double roots) left out of the spectrum" : "";

  // Everything is made whole before anything is written.
  std::string table;
  if (o.csv) {
    table = "B_mT,absorption,derivative\n";
  } else {
    table = "# dimerepr: " + where + "\n# " + o.parameters + "\n";
    if (!none.empty()) table += "# " + none + "\n";
    if (!loops.empty()) table += "# " + loops + "\n";
    table += "# B_mT absorption derivative (per mT and per mT^2)\n";
  }
  for (std::int64_t k = 1; k <= x.grid.count; ++k) {
    const double B = x.grid.at(k) * 1e3;
    table += g17(B) + (o.csv ? "," : " ") + g17(s.absorption[k - 1]) + (o.csv ? "," : " ") + g17(s.derivative[k - 1]) + "\n";
  }
  std::string csv_lines;
  if (!o.lines_file.empty()) {
    csv_lines = "B_mT,lower,upper,intensity,theta,phi\n";
    for (const epr::Line& l : lines)
      csv_lines += g17(l.B * 1e3) + "," + std::to_string(l.lower) + "," + std::to_string(l.upper) + "," +
                   g17(l.intensity) + "," + g17(l.theta) + "," + g17(l.phi) + "\n";
  }
  std::string svg;
  if (!o.svg_file.empty()) {
    std::vector<epr::Mark> marks;
    for (const epr::Line& l : lines) {
      std::string label = std::to_string(l.lower) + "-" + std::to_string(l.upper);
      if (o.powder) {
        // The lines along the three axes of the frame.
        const bool z = l.theta < 1e-9 && l.phi < 1e-9, xa = std::fabs(l.theta - 90) < 1e-9 && l.phi < 1e-9,
                   ya = std::fabs(l.theta - 90) < 1e-9 && std::fabs(l.phi - 90) < 1e-9;
        if (!(z || xa || ya)) continue;
        label.insert(0, z ? "z " : xa ? "x " : "y ");
      }
      marks.push_back({l.B, label});
    }
    std::vector<std::string> notes = {where, o.parameters};
    notes.push_back(none.empty() ? (o.powder ? "Marks: the lines with the field along x, y and z, levels lower-upper ranked at resonance."
                                             : "Marks: the lines, levels lower-upper ranked at resonance.")
                                 : "No allowed resonance in the field range: the spectrum is flat.");
    if (!loops.empty()) notes.push_back(loops + ".");
    svg = epr::render_svg(x.grid, s.derivative, marks, notes);
  }
  if (!o.lines_file.empty()) common::write_whole(o.lines_file, csv_lines);
  if (!o.svg_file.empty()) common::write_whole(o.svg_file, svg);
  if (!none.empty()) std::fprintf(stderr, "dimerepr: note: %s\n", none.c_str());
  common::write_stdout(table);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return common::run_program("dimerepr", [&] { return run(std::vector<std::string>(argv + 1, argv + argc)); });
}
