#include "table.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <system_error>

#include "common/files.hpp"
#include "textio/decimal.hpp"

namespace mag {

namespace {

// The fields of one line, split at blanks, tabs, carriage returns and
// commas ("1.8, 3.2" and "1.8 3.2" are two fields alike).
std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> f;
  std::string cur;
  for (char c : line) {
    if (c == ',' || c == ' ' || c == '\t' || c == '\r') {
      if (!cur.empty()) f.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) f.push_back(cur);
  return f;
}

// The value of a field, or the reason it is none.
bool value_of(const std::string& text, double& v, std::string& why) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  const auto [end, ec] = textio::nearest_double(first, last, v);
  if (ec == std::errc::result_out_of_range) why = "is out of range";
  else if (ec != std::errc() || end != last || first == last) why = "is not a number";
  else if (!std::isfinite(v)) why = "is not a finite number";
  else return true;
  return false;
}

}  // namespace

const char* quantity_name(Quantity q) {
  return q == Quantity::chiT ? "chiT" : q == Quantity::chi ? "chi" : "M";
}

const char* abscissa_name(Quantity q) { return q == Quantity::M ? "B" : "T"; }

Table read_table(const std::string& file, const std::string& text) {
  const std::string name = common::printable(file);
  Table t;
  std::vector<std::string> header;
  std::size_t header_line = 0;
  int ix = -1, iy = -1;
  std::size_t lineno = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) eol = text.size();
    const std::string line = text.substr(pos, eol - pos);
    pos = eol + 1;
    ++lineno;
    if (line.find('\0') != std::string::npos)
      throw common::InputError(name, lineno, "not a text table (a NUL byte)");
    const std::vector<std::string> f = fields(line);
    if (f.empty() || (!f[0].empty() && f[0][0] == '#')) continue;
    if (header.empty()) {
      header = f;
      header_line = lineno;
      auto find = [&](const char* col) {
        for (std::size_t k = 0; k < header.size(); ++k)
          if (header[k] == col) return static_cast<int>(k);
        return -1;
      };
      const int T = find("T"), chiT = find("chiT"), chi = find("chi"), B = find("B"), M = find("M");
      if (T >= 0 && (chiT >= 0 || chi >= 0)) {
        t.q = chiT >= 0 ? Quantity::chiT : Quantity::chi;
        ix = T;
        iy = chiT >= 0 ? chiT : chi;
      } else if (B >= 0 && M >= 0) {
        t.q = Quantity::M;
        ix = B;
        iy = M;
      } else {
        const char* missing = T >= 0 ? "chiT (or chi)" : B >= 0 ? "M" : M >= 0 ? "B" :
                              (chiT >= 0 || chi >= 0) ? "T" : "T and chiT (or chi), or B and M";
        throw common::InputError(name, lineno, std::string("the header has no column ") + missing);
      }
      continue;
    }
    if (f.size() != header.size())
      throw common::InputError(name, lineno,
                               std::to_string(f.size()) + " values where the header on line " +
                                   std::to_string(header_line) + " names " +
                                   std::to_string(header.size()) + " columns");
    double x = 0.0, y = 0.0;
    std::string why;
    for (int k : {ix, iy}) {
      double& v = k == ix ? x : y;
      if (!value_of(f[k], v, why))
        throw common::InputError(name, lineno, "'" + common::printable(f[k]) + "' in column " +
                                                   header[k] + " " + why);
    }
    if (t.q != Quantity::M && x <= 0.0)
      throw common::InputError(name, lineno, "T = " + shortest(x) + " K: T must be positive");
    if (t.q == Quantity::M && x < 0.0)
      throw common::InputError(name, lineno, "B = " + shortest(x) + " T: B must not be negative");
    t.x.push_back(x);
    t.y.push_back(y);
    t.line.push_back(lineno);
  }
  if (header.empty()) throw common::InputError(name, 0, "no header row naming the columns");
  if (t.x.empty()) throw common::InputError(name, 0, "no data below the header");
  return t;
}

std::string shortest(double v) {
  char text[40];
  int digits = 1;
  for (; digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, v);
    double back = 0.0;
    textio::nearest_double(text, text + std::char_traits<char>::length(text), back);
    if (back == v) break;
  }
  // Numbers of ordinary size without an exponent: 300, not 3e+02.
  const double a = std::abs(v);
  if (std::strchr(text, 'e') != nullptr && a >= 1e-4 && a < 1e15) {
    const int exponent = static_cast<int>(std::floor(std::log10(a)));
    std::snprintf(text, sizeof text, "%.*f", std::max(0, digits - 1 - exponent), v);
  }
  return text;
}

}  // namespace mag
