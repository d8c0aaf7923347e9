// Reading the result files of dimerscan: fort.10 (sixteen records a pass,
// ascending energies) and fort.20 (one record a pass, the gap).
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/files.hpp"
#include "model/record_layout.hpp"

namespace dimerplot {

inline constexpr int levels = model::record::levels;  // energies in a pass
inline constexpr std::size_t field_width = model::record::field_width;  // an E12.6 field
inline constexpr std::size_t record_width = model::record::width;  // blank, field, two blanks, field

// A file that cannot be read or is not in the layout: what() is one line,
// "FILE, line N: text" (or "FILE: text" when no line is concerned).
using common::InputError;

// The value of one E12.6 field as dimerscan writes it: "0.dddddd" or
// "-.dddddd" followed by the exponent "E+dd"/"E-dd" (|e| <= 99) or
// "+ddd"/"-ddd" (100 <= |e| <= 999), the first digit nonzero unless the field
// is "0.000000E+00"; or "NaN", "+Infinity", "-Infinity" right-justified.
// Examples: "0.421988E+01" -> 4.21988, "-.750000E+01" -> -7.5,
// "0.100000+101" -> 1e100. Anything else, and a number beyond the range of
// doubles, gives nothing.
std::optional<double> parse_e_field(std::string_view field);

struct Record {
  double d1, value;
};

// A line longer than this is refused as soon as it is seen, without reading
// the rest of it: a record is 29 bytes.
inline constexpr std::size_t longest_line = 4096;

// Reads the records of a file piece by piece as they arrive, each checked as
// soon as its line is complete: each one blank, D1 in E12.6, two blanks, the
// value in E12.6, then CR LF. The last record may lack its CR LF (or its LF):
// its 27 characters are complete all the same. Throws InputError naming the
// file and the line of the first record out of layout (a line that has run
// past longest_line bytes without its end is out of layout at once), or the
// file when it is empty. Keeps the records read and at most one line.
class RecordReader {
 public:
  explicit RecordReader(std::string file) : file_(std::move(file)) {}
  // Hands each record to sink as it is checked instead of keeping it.
  RecordReader(std::string file, std::function<void(const Record&)> sink)
      : file_(std::move(file)), sink_(std::move(sink)) {}
  void feed(std::string_view bytes);
  // The records, once the file has ended.
  std::vector<Record> finish();

 private:
  void check(std::string_view text, bool line_end);
  std::string file_;
  std::string pending_;  // the start of a line whose end has not come yet
  std::function<void(const Record&)> sink_;
  std::vector<Record> records_;
  std::size_t line_ = 1;
  bool seen_ = false;
};

// The records of a whole file, as RecordReader reads them.
std::vector<Record> parse_records(std::string_view bytes, const std::string& file);

// One sweep: D1 (or the swept parameter) and the gap of every pass, and
// level k of every pass.
struct Sweep {
  std::string x_name = "D1", x_unit = "cm-1";  // the swept parameter
  std::string note;  // a line of the drawing's note of its own, when not empty
  std::vector<double> d1;
  std::array<std::vector<double>, levels> level;
  std::vector<double> gap;
  std::size_t passes() const { return d1.size(); }
};

// The checks of assemble, one pass at a time. check_pass: pass p (from 0),
// its records (16, fewer where the file ends), the D1 of the pass before
// (nullptr for the first). check_gap: record p of the gap file against the
// D1 of pass p (nullptr when p == passes). check_gap_count: at the end.
void check_pass(std::span<const Record> pass, std::size_t p, const double* d1_before,
                const std::string& levels_file);
void check_gap(const Record& g, std::size_t p, const double* d1, std::size_t passes,
               const std::string& levels_file, const std::string& gap_file);
void check_gap_count(std::size_t records, std::size_t passes, const std::string& levels_file,
                     const std::string& gap_file);

// Puts the records of both files together pass by pass. Throws InputError
// when a pass of the levels file has fewer than 16 records (D1 changes inside
// a pass, or the file ends inside one), when D1 is not finite or decreases
// from pass to pass, or when the gap file's D1 column differs from the passes
// of the levels file (a record missing, one too many, or another D1).
Sweep assemble(const std::vector<Record>& levels_records, const std::string& levels_file,
               const std::vector<Record>& gap_records, const std::string& gap_file);

}  // namespace dimerplot
