// dimerplot: the level diagram of a dimerscan sweep as an SVG file.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <new>
#include <optional>
#include <array>
#include <exception>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "followed.hpp"
#include "records.hpp"
#include "states_csv.hpp"
#include "svg.hpp"
#include "model/record_layout.hpp"
#include "textio/decimal.hpp"

namespace {

namespace fs = std::filesystem;
using dimerplot::InputError;

constexpr const char* usage =
    "Usage: dimerplot [options] [FORT10 [FORT20]]\n"
    "       dimerplot --states FILE [-o FILE] [--relative]\n"
    "\n"
    "Draws the level diagram of a dimerscan sweep: the sixteen energies against D1\n"
    "and, in a second panel, the gap between the third and the first level against\n"
    "D1, as one self-contained SVG file.\n"
    "\n"
    "  FORT10          the levels, 16 records a pass (default fort.10)\n"
    "  FORT20          the gap, one record a pass (default fort.20)\n"
    "  -o FILE         the SVG file to write (default levels.svg)\n"
    "  --relative      plot every energy minus the lowest at the same D1\n"
    "  --J J           the sweep's exchange constant J in cm-1: draw its states,\n"
    "                  followed through crossings and coloured by their spin\n"
    "  --ratio1 R1     the sweep's E1/D1 (default 0; with --J only)\n"
    "  --ratio2 R2     the sweep's E2/D2 (default 0; with --J only)\n"
    "  --states FILE   draw a sweep of dimerstates --csv instead (- for standard\n"
    "                  input): its states against the swept parameter\n"
    "  --help          show this text and exit\n"
    "  --version       show the version and exit\n"
    "\n"
    "Energies and D1 are in cm-1. NaN and infinite values are left out of the lines\n"
    "and counted in a note under the plot. Long sweeps are thinned to the first,\n"
    "last, lowest and highest point of every pixel column.\n"
    "\n"
    "With --J, every pass is recomputed (D2 = D1, E1 = D1 x R1, E2 = D1 x R2) and\n"
    "each level must agree with its record in FORT10 to the digits printed (within\n"
    "a unit of the sixth digit; levels zero up to rounding agree absolutely). One\n"
    "line is drawn per state: states are numbered by their rank at the first pass\n"
    "and followed from pass to pass by the overlap of their eigenvectors, so a\n"
    "state keeps its line where levels cross. A line's colour is its spin\n"
    "composition: the colours of total spin S = 0, 1, 2, 3 (the legend) mixed in\n"
    "the proportions of the weights wS = <P_S> of the state, to 0.05, so that a mix\n"
    "of S = 0 and S = 2 never looks like S = 1; each line carries its state number\n"
    "at its end.\n"
    "\n"
    "With --states, FILE is the CSV of a dimerstates sweep (its first column the\n"
    "swept parameter, e.g. dimerstates --sweep B=0:5:0.01 --csv): the x axis is\n"
    "that parameter with its unit, one line is drawn per state as dimerstates\n"
    "followed it, coloured by its columns w0..w3, the gap panel is E3 - E1, and the\n"
    "parameters that stay fixed go in the note. A parameter column other than the\n"
    "swept one (and those it sets, as D2 and the E's follow D1) that changes\n"
    "between passes is refused, as are a missing column, a field that is not a\n"
    "number and a pass that is not sixteen rows, levels 1 to 16.\n"
    "\n"
    "Each record or row is checked as it is read: on malformed input, or levels that are\n"
    "not those of the parameters given, one line on standard error names the file\n"
    "and the line; the status is 1 and no SVG file is written.\n";

using common::Failure;
using common::printable;
using common::same_file;
using common::write_whole;

struct Options {
  std::string levels = "fort.10", gap = "fort.20", output = "levels.svg";
  bool relative = false, help = false, version = false;
  std::string states;  // --states FILE: a dimerstates CSV, "-" for standard input
  bool follow = false;  // --J given
  dimerplot::SweepParameters p;
  std::string parameters;  // the values as given, for the note
};

// The whole of text as a finite number (an optional leading '+').
double number_of(const std::string& option, std::string_view text) {
  std::string_view t = text;
  if (t.size() > 1 && t[0] == '+' && t[1] != '-' && t[1] != '+') t.remove_prefix(1);
  double v = 0.0;
  const auto [end, ec] = textio::nearest_double(t.data(), t.data() + t.size(), v);
  if (ec == std::errc::result_out_of_range)
    throw Failure("value '" + printable(text) + "' of option " + option + " is out of range");
  if (ec != std::errc() || end != t.data() + t.size() || t.empty())
    throw Failure("value '" + printable(text) + "' of option " + option + " is not a number");
  if (!std::isfinite(v))
    throw Failure("value '" + printable(text) + "' of option " + option +
                  " is not a finite number");
  return v;
}

Options parse_options(int argc, char** argv) {
  Options o;
  std::vector<std::string> files;
  bool output_given = false, options_end = false;
  bool given[3] = {};
  std::string values[3] = {"", "0", "0"};
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (options_end || a.empty() || a[0] != '-' || a == "-") {
      files.emplace_back(a);
    } else if (a == "--") {
      options_end = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version") {
      o.version = true;
    } else if (a == "--states") {
      if (i + 1 == argc) throw Failure("option --states needs a file name (- for standard input)");
      if (!o.states.empty()) throw Failure("option --states given twice");
      o.states = argv[++i];
      if (o.states.empty()) throw Failure("option --states needs a file name, not an empty one");
    } else if (a == "--relative") {
      o.relative = true;
    } else if (a == "--J" || a == "--ratio1" || a == "--ratio2") {
      const std::string option(a);
      if (i + 1 == argc) throw Failure("option " + option + " needs a value");
      const int which = a == "--J" ? 0 : a == "--ratio1" ? 1 : 2;
      if (given[which]) throw Failure("option " + option + " given twice");
      given[which] = true;
      const std::string_view text = argv[++i];
      double* const into[] = {&o.p.J, &o.p.ratio1, &o.p.ratio2};
      *into[which] = number_of(option, text);
      values[which] = printable(text);
    } else if (a == "-o") {
      if (i + 1 == argc) throw Failure("option -o needs a file name");
      if (output_given) throw Failure("option -o given twice");
      o.output = argv[++i];
      output_given = true;
      if (o.output.empty()) throw Failure("option -o needs a file name, not an empty one");
    } else {
      throw Failure("unknown option '" + printable(a) + "' (dimerplot --help lists the options)");
    }
  }
  if (files.size() > 2)
    throw Failure("too many files: '" + printable(files[2]) +
                  "' (at most FORT10 and FORT20; dimerplot --help)");
  for (const std::string& f : files)
    if (f.empty()) throw Failure("an empty file name");
  if ((given[1] || given[2]) && !given[0])
    throw Failure("options --ratio1 and --ratio2 belong to --J, the sweep's own J");
  if (!o.states.empty() && (!files.empty() || given[0]))
    throw Failure("option --states draws a dimerstates CSV: no FORT10, FORT20 or --J with it");
  o.follow = given[0];
  o.parameters = "J = " + values[0] + ", E1/D1 = " + values[1] + ", E2/D2 = " + values[2];
  if (files.size() > 0) o.levels = files[0];
  if (files.size() > 1) o.gap = files[1];
  return o;
}

// The records of the file at path, each checked as it is read: a malformed
// file ends the reading at its first bad line, whatever follows it.
std::vector<dimerplot::Record> read_records(const std::string& path) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw InputError(printable(path), 0, std::strerror(errno != 0 ? errno : EIO));
  struct Closer {
    std::FILE* file;
    ~Closer() { std::fclose(file); }
  } closer{file};
  dimerplot::RecordReader reader(printable(path));
  std::vector<char> buffer(std::size_t{1} << 16);
  for (;;) {
    errno = 0;
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
    if (n > 0) reader.feed(std::string_view(buffer.data(), n));
    if (n < buffer.size()) {
      if (std::ferror(file)) throw InputError(printable(path), 0, std::strerror(errno != 0 ? errno : EIO));
      break;
    }
  }
  return reader.finish();
}

// The records of a file one at a time, each checked as it is read, in
// pieces of 64 KiB.
class RecordFile {
 public:
  explicit RecordFile(const std::string& path)
      : name_(printable(path)), reader_(name_, [this](const dimerplot::Record& r) { buffer_.push_back(r); }) {
    errno = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) throw InputError(name_, 0, std::strerror(errno != 0 ? errno : EIO));
  }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;
  ~RecordFile() { std::fclose(file_); }
  // The next record; false at the end of the file.
  bool next(dimerplot::Record& r) {
    while (at_ == buffer_.size()) {
      if (ended_) return false;
      buffer_.clear();
      at_ = 0;
      errno = 0;
      const std::size_t n = std::fread(chunk_.data(), 1, chunk_.size(), file_);
      if (n > 0) reader_.feed(std::string_view(chunk_.data(), n));
      if (n < chunk_.size()) {
        if (std::ferror(file_)) throw InputError(name_, 0, std::strerror(errno != 0 ? errno : EIO));
        reader_.finish();
        ended_ = true;
      }
    }
    r = buffer_[at_++];  // cppcheck-suppress containerOutOfBounds ; the loop ends only when feed's callback has filled buffer_ past at_
    return true;
  }

 private:
  std::string name_;
  std::FILE* file_ = nullptr;
  dimerplot::RecordReader reader_;
  std::vector<dimerplot::Record> buffer_;
  std::size_t at_ = 0;
  bool ended_ = false;
  std::vector<char> chunk_ = std::vector<char>(std::size_t{1} << 16);
};

bool regular_file(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && !ec;
}


// D1 of the last record of a file of records (its last line, with or without
// its CR LF), or nothing when that line is not a record: the file is then out
// of layout, and its reading will say where.
std::optional<double> last_d1_of(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  struct Closer {
    std::FILE* file;
    ~Closer() { std::fclose(file); }
  } closer{file};
  constexpr long tail = 64;  // more than a record and its line end
  if (std::fseek(file, 0, SEEK_END) != 0) return std::nullopt;
  const long size = std::ftell(file);
  if (size < 0 || std::fseek(file, size > tail ? size - tail : 0, SEEK_SET) != 0) return std::nullopt;
  char bytes[tail];
  std::string_view t(bytes, std::fread(bytes, 1, sizeof bytes, file));
  if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
  if (!t.empty() && t.back() == '\r') t.remove_suffix(1);
  const std::size_t eol = t.rfind('\n');
  if (eol != std::string_view::npos) t.remove_prefix(eol + 1);
  if (t.size() != dimerplot::record_width) return std::nullopt;
  return dimerplot::parse_e_field(t.substr(model::record::d1_column, dimerplot::field_width));
}

// Draws the sweep of two regular files in one reading, pass by pass, as the
// records come: memory is bounded whatever the number of passes. The D1 axis
// comes from the first record and the file's last one. A fault is reported
// as reading both files whole and then assembling them would: one in the
// levels file's layout first, then one in the gap file's, then one of the
// passes, of the gap records against them, and last a level that disagrees
// with the parameters; the first of each kind, in the order of the files.
std::string draw_streamed(const Options& o) {
  const std::string levels_name = printable(o.levels), gap_name = printable(o.gap);
  constexpr int n = dimerplot::levels;
  enum Kind { gap_layout, pass_fault, gap_fault, level_fault, kinds };
  std::exception_ptr fault[kinds];
  auto record = [&](Kind k) {
    if (!fault[k]) fault[k] = std::current_exception();
  };
  auto faulty = [&] {
    for (const auto& f : fault)
      if (f) return true;
    return false;
  };

  RecordFile lv(o.levels);  // its faults of layout end the run at once: nothing comes before them
  std::optional<RecordFile> gp;
  try {
    gp.emplace(o.gap);
  } catch (const InputError&) {
    record(gap_layout);
  }
  std::optional<dimerplot::Plot> plot;
  std::optional<dimerplot::PassFollower> follow;
  if (o.follow) follow.emplace(o.p, levels_name);
  dimerplot::PassFollower::State st;
  std::array<double, n> values{};
  std::vector<dimerplot::Record> pass;
  pass.reserve(n);
  std::size_t passes = 0, gaps = 0;
  double last_d1 = 0.0;
  bool assembled = true;  // every pass so far has its sixteen records
  dimerplot::Record r{}, g{};
  // The next gap record, or false at the end of the gap file (or at its first fault).
  auto next_gap = [&]() -> bool {
    if (!gp || fault[gap_layout]) return false;
    try {
      if (gp->next(g)) return true;
    } catch (const InputError&) {
      record(gap_layout);
    }
    return false;
  };
  for (bool more = true; more;) {
    pass.clear();
    while (pass.size() < static_cast<std::size_t>(n) && (more = lv.next(r))) pass.push_back(r);
    if (pass.empty()) break;
    if (assembled) {
      try {
        dimerplot::check_pass(pass, passes, passes > 0 ? &last_d1 : nullptr, levels_name);
      } catch (const InputError&) {
        record(pass_fault);
        assembled = false;
      }
    }
    if (!assembled) continue;  // the passes are no longer known: only the layout is checked
    if (passes == 0)
      plot.emplace(pass[0].d1, last_d1_of(o.levels).value_or(pass[0].d1));
    last_d1 = pass[0].d1;
    const bool has_gap = next_gap();
    if (has_gap) {
      try {
        dimerplot::check_gap(g, gaps, &last_d1, gaps + 1, levels_name, gap_name);
      } catch (const InputError&) {
        record(gap_fault);
      }
      ++gaps;
    }
    ++passes;
    if (faulty() || !has_gap) continue;
    std::array<double, n> level{};
    for (int k = 0; k < n; ++k) level[k] = pass[k].value;
    std::array<double, n> shown = level;
    if (o.relative) dimerplot::minus_lowest(shown);
    if (!follow) {
      plot->add(last_d1, shown, g.value);
      continue;
    }
    try {
      follow->next(passes - 1, last_d1, level, st);
    } catch (const InputError&) {
      record(level_fault);
      continue;
    }
    for (int k = 0; k < n; ++k) values[k] = shown[st.level[k]];
    plot->add(last_d1, values, g.value, &st.spin, &st.weights);
  }
  // The gap file to its end: a record too many, records missing, its layout.
  while (next_gap()) {
    if (assembled) {
      try {
        dimerplot::check_gap(g, gaps, nullptr, passes, levels_name, gap_name);
      } catch (const InputError&) {
        record(gap_fault);
      }
    }
    ++gaps;
  }
  if (assembled && !fault[gap_layout]) {
    try {
      dimerplot::check_gap_count(gaps, passes, levels_name, gap_name);
    } catch (const InputError&) {
      record(gap_fault);
    }
  }
  for (const auto& f : fault)
    if (f) std::rethrow_exception(f);
  return plot->render(dimerplot::Sweep{}, o.relative, o.follow, o.follow ? o.parameters : "");
}

// The whole of a file, or of standard input for "-".
std::string read_whole(const std::string& path) {
  const bool in = path == "-";
  const std::string name = in ? "standard input" : printable(path);
  errno = 0;
  std::FILE* file = in ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw InputError(name, 0, std::strerror(errno != 0 ? errno : EIO));
  std::string text;
  std::vector<char> buffer(std::size_t{1} << 16);
  for (;;) {
    errno = 0;
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), file);
    text.append(buffer.data(), n);
    if (n < buffer.size()) break;
  }
  const bool failed = std::ferror(file) != 0;
  const int e = errno != 0 ? errno : EIO;
  if (!in) std::fclose(file);
  if (failed) throw InputError(name, 0, std::strerror(e));
  return text;
}

// Draws a dimerstates CSV. A regular file is read twice, a line at a time:
// once to check it and find its first and last swept value, once to draw
// it pass by pass. Standard input or a pipe is read once, and its text kept.
std::string draw_states(const Options& o) {
  const std::string name = o.states == "-" ? "standard input" : printable(o.states);
  const bool twice = o.states != "-" && regular_file(o.states);
  std::string text;
  if (!twice) text = read_whole(o.states);
  auto reading = [&](const std::function<void(const dimerplot::StatesPass&)>& on_pass) {
    if (!twice) return dimerplot::read_states_passes(text, name, on_pass);
    errno = 0;
    std::FILE* file = std::fopen(o.states.c_str(), "rb");
    if (file == nullptr) throw InputError(name, 0, std::strerror(errno != 0 ? errno : EIO));
    struct Closer {
      std::FILE* file;
      ~Closer() { std::fclose(file); }
    } closer{file};
    return dimerplot::read_states_passes(file, name, on_pass);
  };
  const dimerplot::StatesMeta meta = reading([](const dimerplot::StatesPass&) {});
  dimerplot::Plot plot(meta.first_x, meta.last_x);
  std::array<double, dimerplot::levels> values{};
  std::size_t passes = 0;
  reading([&](const dimerplot::StatesPass& p) {
    std::array<double, dimerplot::levels> level = p.level;
    if (o.relative) dimerplot::minus_lowest(level);
    for (int k = 0; k < dimerplot::levels; ++k) values[k] = level[p.level_of[k]];
    plot.add(p.x, values, p.level[2] - p.level[0], &p.spin, &p.weights);
    ++passes;
  });
  if (passes == 0) throw InputError(name, 0, "the file changed while it was read");
  dimerplot::Sweep m;
  m.x_name = meta.x_name;
  m.x_unit = meta.x_unit;
  m.note = meta.note;
  return plot.render(m, o.relative, true, "");
}

int run(int argc, char** argv) {
  const Options o = parse_options(argc, argv);
  if (o.help) {
    common::write_stdout(usage);
    return 0;
  }
  if (o.version) {
    common::write_stdout(common::version_line("dimerplot"));
    return 0;
  }
  if (!o.states.empty()) {
    if (o.states != "-" && same_file(o.output, o.states))
      throw Failure(printable(o.output) + ": the SVG file would replace an input file");
    write_whole(o.output, draw_states(o));
    return 0;
  }
  if (same_file(o.output, o.levels) || same_file(o.output, o.gap))
    throw Failure(printable(o.output) + ": the SVG file would replace an input file");

  if (regular_file(o.levels) && regular_file(o.gap)) {
    write_whole(o.output, draw_streamed(o));
    return 0;
  }
  // A pipe or a device is read once: its records are kept.
  const std::string levels_name = printable(o.levels), gap_name = printable(o.gap);
  dimerplot::Sweep sweep;
  {
    const auto levels = read_records(o.levels);
    const auto gap = read_records(o.gap);
    sweep = dimerplot::assemble(levels, levels_name, gap, gap_name);
  }
  if (!o.follow) {
    write_whole(o.output, dimerplot::render_svg(sweep, o.relative));
    return 0;
  }
  const dimerplot::Followed followed = dimerplot::follow_sweep(sweep, o.p, levels_name);
  write_whole(o.output, dimerplot::render_svg(sweep, o.relative, followed, o.parameters));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return common::run_program("dimerplot", [&] { return run(argc, argv); });
}
