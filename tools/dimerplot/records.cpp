#include "records.hpp"

#include <algorithm>
#include <span>
#include "textio/decimal.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace dimerplot {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(std::string_view s) {
  for (char c : s)
    if (!is_digit(c)) return false;
  return true;
}

std::string show(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

}  // namespace

std::optional<double> parse_e_field(std::string_view f) {
  if (f.size() != field_width) return std::nullopt;
  if (f == "         NaN") return std::numeric_limits<double>::quiet_NaN();
  if (f == "   +Infinity") return std::numeric_limits<double>::infinity();
  if (f == "   -Infinity") return -std::numeric_limits<double>::infinity();

  // Mantissa: "0." or "-." and six digits.
  const bool negative = f[0] == '-';
  if ((f[0] != '0' && !negative) || f[1] != '.') return std::nullopt;
  const std::string_view digits = f.substr(2, 6);
  if (!all_digits(digits)) return std::nullopt;

  // Exponent: "E+dd"/"E-dd", or "+ddd"/"-ddd" from 100 up.
  const std::string_view e = f.substr(8, 4);
  std::string_view sign, magnitude;
  if (e[0] == 'E') {
    sign = e.substr(1, 1);
    magnitude = e.substr(2);
  } else {
    sign = e.substr(0, 1);
    magnitude = e.substr(1);
    if (magnitude[0] == '0') return std::nullopt;  // below 100 the form is E+dd
  }
  if ((sign != "+" && sign != "-") || !all_digits(magnitude)) return std::nullopt;

  // A nonzero mantissa begins with a nonzero digit; zero is 0.000000E+00 alone.
  if (digits[0] == '0') {
    if (f != "0.000000E+00") return std::nullopt;
    return 0.0;
  }

  char text[24];
  char* p = text;
  if (negative) *p++ = '-';
  *p++ = '0';
  *p++ = '.';
  std::memcpy(p, digits.data(), digits.size());
  p += digits.size();
  *p++ = 'e';
  *p++ = sign[0];
  std::memcpy(p, magnitude.data(), magnitude.size());
  p += magnitude.size();
  double value = 0;
  const auto [end, ec] = textio::nearest_double(text, p, value);
  if (ec != std::errc() || end != p) return std::nullopt;  // overflow or underflow
  return value;
}

void RecordReader::check(std::string_view text, bool line_end) {
  if (line_end) {
    if (text.empty() || text.back() != '\r')
      throw InputError(file_, line_, "the record does not end with CR LF");
    text.remove_suffix(1);
  } else if (!text.empty() && text.back() == '\r') {
    text.remove_suffix(1);  // the last record, its LF missing
  }
  if (text.size() != record_width)
    throw InputError(file_, line_,
                     "a record has 27 characters (a blank, D1 in E12.6, two blanks, the value "
                     "in E12.6), this line has " +
                         std::to_string(text.size()));
  constexpr std::size_t d1_at = model::record::d1_column, value_at = model::record::value_column;
  if (text[0] != ' ' || text[value_at - 2] != ' ' || text[value_at - 1] != ' ')
    throw InputError(file_, line_,
                     "not a record: a blank, D1 in E12.6, two blanks, the value in E12.6");
  const auto d1 = parse_e_field(text.substr(d1_at, field_width));
  if (!d1) throw InputError(file_, line_, "D1 (columns 2-13) is not an E12.6 number");
  const auto value = parse_e_field(text.substr(value_at, field_width));
  if (!value) throw InputError(file_, line_, "the value (columns 16-27) is not an E12.6 number");
  if (sink_)
    sink_({*d1, *value});
  else
    records_.push_back({*d1, *value});
  ++line_;
}

void RecordReader::feed(std::string_view bytes) {
  seen_ = seen_ || !bytes.empty();
  while (!bytes.empty()) {
    const std::size_t eol = bytes.find('\n');
    const std::size_t take = eol == std::string_view::npos ? bytes.size() : eol;
    if (pending_.size() + take > longest_line)
      throw InputError(file_, line_,
                       "a record has 27 characters (a blank, D1 in E12.6, two blanks, the value "
                       "in E12.6), this line has more than " +
                           std::to_string(longest_line));
    if (eol == std::string_view::npos) {
      pending_.append(bytes);
      return;
    }
    if (pending_.empty()) {
      check(bytes.substr(0, eol), true);
    } else {
      pending_.append(bytes.substr(0, eol));
      check(pending_, true);
      pending_.clear();
    }
    bytes.remove_prefix(eol + 1);
  }
}

std::vector<Record> RecordReader::finish() {
  if (!seen_) throw InputError(file_, 1, "empty file, no records");
  if (!pending_.empty()) check(pending_, false);
  pending_.clear();
  return std::move(records_);
}

std::vector<Record> parse_records(std::string_view bytes, const std::string& file) {
  RecordReader reader(file);
  reader.feed(bytes);
  return reader.finish();
}

void check_pass(std::span<const Record> pass, std::size_t p, const double* d1_before,
                const std::string& levels_file) {
  const std::size_t first = p * levels;  // index of the pass's first record
  const double d1 = pass[0].d1;
  if (!std::isfinite(d1)) throw InputError(levels_file, first + 1, "D1 is not a finite number");
  if (d1_before != nullptr && d1 < *d1_before)
    throw InputError(levels_file, first + 1,
                     "D1 " + show(d1) + " is below D1 " + show(*d1_before) +
                         " of the pass before (line " + std::to_string(first - levels + 1) +
                         "); a sweep's D1 never decreases");
  for (std::size_t r = 1; r < levels; ++r) {
    if (r == pass.size())
      throw InputError(levels_file, first + 1,
                       "the file ends inside the pass that begins here: " + std::to_string(r) +
                           " of its 16 records");
    if (!std::isfinite(pass[r].d1))
      throw InputError(levels_file, first + r + 1, "D1 is not a finite number");
    if (pass[r].d1 != d1)
      throw InputError(levels_file, first + r + 1,
                       "D1 " + show(pass[r].d1) + " differs from D1 " + show(d1) +
                           " of the pass that begins at line " + std::to_string(first + 1) +
                           ": that pass has fewer than 16 records");
  }
}

void check_gap(const Record& g, std::size_t p, const double* d1, std::size_t passes,
               const std::string& levels_file, const std::string& gap_file) {
  if (p == passes)
    throw InputError(gap_file, p + 1,
                     "one record more than the " + std::to_string(passes) + " passes of " +
                         levels_file);
  if (g.d1 != *d1)
    throw InputError(gap_file, p + 1,
                     "D1 " + show(g.d1) + " differs from D1 " + show(*d1) + " of pass " +
                         std::to_string(p + 1) + " in " + levels_file + " (line " +
                         std::to_string(p * levels + 1) + ")");
}

void check_gap_count(std::size_t records, std::size_t passes, const std::string& levels_file,
                     const std::string& gap_file) {
  if (records < passes)
    throw InputError(gap_file, records + 1,
                     "records missing: " + levels_file + " has " + std::to_string(passes) +
                         " passes, this file " + std::to_string(records) + " records");
}

Sweep assemble(const std::vector<Record>& lv, const std::string& levels_file,
               const std::vector<Record>& gp, const std::string& gap_file) {
  Sweep s;
  const std::size_t passes = lv.size() / levels;
  s.d1.reserve(passes);
  for (auto& l : s.level) l.reserve(passes);
  for (std::size_t p = 0; p * levels < lv.size(); ++p) {
    const std::size_t first = p * levels;  // index of the pass's first record
    const std::span<const Record> pass(lv.data() + first, std::min<std::size_t>(levels, lv.size() - first));
    check_pass(pass, p, p > 0 ? &s.d1.back() : nullptr, levels_file);
    s.d1.push_back(pass[0].d1);
    for (int k = 0; k < levels; ++k) s.level[k].push_back(pass[k].value);
  }

  s.gap.reserve(passes);
  for (std::size_t p = 0; p < gp.size(); ++p) {
    check_gap(gp[p], p, p < passes ? &s.d1[p] : nullptr, passes, levels_file, gap_file);
    s.gap.push_back(gp[p].value);
  }
  check_gap_count(gp.size(), passes, levels_file, gap_file);
  return s;
}

}  // namespace dimerplot
