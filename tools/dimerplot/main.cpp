// dimerplot: the level diagram of a dimerscan sweep as an SVG file.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "followed.hpp"
#include "records.hpp"
#include "svg.hpp"
#include "textio/decimal.hpp"

namespace {

namespace fs = std::filesystem;
using dimerplot::InputError;

constexpr const char* usage =
    "Usage: dimerplot [options] [FORT10 [FORT20]]\n"
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
    "  --help          show this text and exit\n"
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
    "state keeps its line where levels cross. A line's colour is its total spin S\n"
    "from <S^2> = S (S + 1): one colour for each of S = 0, 1, 2, 3 (the legend),\n"
    "mixed spins in between; each line carries its state number at its end.\n"
    "\n"
    "Each record is checked as it is read: on malformed input, or levels that are\n"
    "not those of the parameters given, one line on standard error names the file\n"
    "and the line; the status is 1 and no SVG file is written.\n";

// A failure reported as "dimerplot: text", status 1.
struct Failure {
  std::string text;
};

// A name safe to print on one line: control characters become '?'.
std::string printable(std::string_view name) {
  std::string s(name);
  for (char& c : s)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return s;
}

struct Options {
  std::string levels = "fort.10", gap = "fort.20", output = "levels.svg";
  bool relative = false, help = false;
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
    throw Failure{"value '" + printable(text) + "' of option " + option + " is out of range"};
  if (ec != std::errc() || end != t.data() + t.size() || t.empty())
    throw Failure{"value '" + printable(text) + "' of option " + option + " is not a number"};
  if (!std::isfinite(v))
    throw Failure{"value '" + printable(text) + "' of option " + option +
                  " is not a finite number"};
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
    } else if (a == "--relative") {
      o.relative = true;
    } else if (a == "--J" || a == "--ratio1" || a == "--ratio2") {
      const std::string option(a);
      if (i + 1 == argc) throw Failure{"option " + option + " needs a value"};
      const int which = a == "--J" ? 0 : a == "--ratio1" ? 1 : 2;
      if (given[which]) throw Failure{"option " + option + " given twice"};
      given[which] = true;
      const std::string_view text = argv[++i];
      double* const into[] = {&o.p.J, &o.p.ratio1, &o.p.ratio2};
      *into[which] = number_of(option, text);
      values[which] = printable(text);
    } else if (a == "-o") {
      if (i + 1 == argc) throw Failure{"option -o needs a file name"};
      if (output_given) throw Failure{"option -o given twice"};
      o.output = argv[++i];
      output_given = true;
      if (o.output.empty()) throw Failure{"option -o needs a file name, not an empty one"};
    } else {
      throw Failure{"unknown option '" + printable(a) + "' (dimerplot --help lists the options)"};
    }
  }
  if (files.size() > 2)
    throw Failure{"too many files: '" + printable(files[2]) +
                  "' (at most FORT10 and FORT20; dimerplot --help)"};
  for (const std::string& f : files)
    if (f.empty()) throw Failure{"an empty file name"};
  if ((given[1] || given[2]) && !given[0])
    throw Failure{"options --ratio1 and --ratio2 belong to --J, the sweep's own J"};
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

// Writes all of bytes to a new or emptied file at path and closes it; 0 or
// the error that stopped it.
int write_file(const fs::path& path, const std::string& bytes) {
  errno = 0;
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (file == nullptr) return errno != 0 ? errno : EIO;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                       std::fflush(file) == 0;
  int e = written ? 0 : (errno != 0 ? errno : EIO);
  if (std::fclose(file) != 0 && e == 0) e = errno != 0 ? errno : EIO;
  return e;
}

// Writes bytes to path. A regular file (new, or reached through symbolic
// links) is written through a temporary file beside it, renamed over it at the
// end: it is either left as it was or holds all of bytes, with the permissions
// it had. Anything else that exists (a device, a pipe) is written in place: a
// rename would put a regular file where it was.
void write_whole(const std::string& path, const std::string& bytes) {
  auto fail = [&](int e) -> Failure {
    return Failure{printable(path) + ": cannot write: " + std::strerror(e)};
  };
  // Follow symbolic links to the file they name, existing or not.
  fs::path target(path);
  for (int links = 0;; ++links) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(target, ec))) break;
    if (links == 40) throw fail(ELOOP);
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) throw fail(ec.value());
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  std::error_code ec;
  const fs::file_status st = fs::status(target, ec);
  const bool exists = fs::exists(st);
  if (fs::is_directory(st)) throw fail(EISDIR);
  if (exists && !fs::is_regular_file(st)) {
    if (const int e = write_file(target, bytes); e != 0) throw fail(e);
    return;
  }

  // A name beside the target that no file has: the target's own with a dot
  // before it and a random suffix after it.
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  std::random_device random;
  fs::path temp;
  do {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
    std::string name = ".";
    name += target.filename().string();
    name += suffix;
    temp = dir / name;
  } while (fs::exists(fs::symlink_status(temp, ec)));
  int e = write_file(temp, bytes);
  // The permissions of the file replaced; a new file has those the umask allows.
  if (e == 0 && exists) {
    fs::permissions(temp, st.permissions(), ec);
    if (ec) e = ec.value();
  }
  if (e == 0) {
    fs::rename(temp, target, ec);
    if (ec) e = ec.value();
  }
  if (e != 0) {
    fs::remove(temp, ec);
    throw fail(e);
  }
}

// True when path names the same file as input (both existing).
bool same_file(const std::string& path, const std::string& input) {
  std::error_code ec;
  return fs::equivalent(path, input, ec) && !ec;
}

int run(int argc, char** argv) {
  const Options o = parse_options(argc, argv);
  if (o.help) {
    std::cout << usage;
    return 0;
  }
  if (same_file(o.output, o.levels) || same_file(o.output, o.gap))
    throw Failure{printable(o.output) + ": the SVG file would replace an input file"};

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
  try {
    return run(argc, argv);
  } catch (const Failure& f) {
    std::cerr << "dimerplot: " << f.text << '\n';
  } catch (const InputError& e) {
    std::cerr << "dimerplot: " << e.what() << '\n';
  } catch (const std::bad_alloc&) {
    std::cerr << "dimerplot: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "dimerplot: " << e.what() << '\n';
  }
  return 1;
}
