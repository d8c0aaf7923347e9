#include "states_csv.hpp"

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "textio/decimal.hpp"

namespace dimerplot {

namespace {

// The parameter columns of dimerstates' CSV, with their units.
struct Parameter {
  const char* name;
  const char* unit;
};
constexpr Parameter parameters[] = {
    {"J", "cm-1"},  {"D1", "cm-1"}, {"D2", "cm-1"}, {"E1", "cm-1"}, {"E2", "cm-1"},
    {"g1x", ""},    {"g1y", ""},    {"g1z", ""},    {"g2x", ""},    {"g2y", ""},
    {"g2z", ""},    {"B", "T"},     {"theta", "deg"}, {"phi", "deg"}};

// A sweep's parameter, its unit and the parameter columns that change with it.
struct Swept {
  const char* name;
  const char* unit;
  std::vector<std::string_view> moves;
};
const Swept swept[] = {
    {"J", "cm-1", {"J"}},
    {"D1", "cm-1", {"D1", "D2", "E1", "E2"}},  // D2 = D1 unless given, E = D x ratio
    {"D2", "cm-1", {"D2", "E2"}},
    {"D", "cm-1", {"D1", "D2", "E1", "E2"}},
    {"E1", "cm-1", {"E1"}},
    {"E2", "cm-1", {"E2"}},
    {"ratio1", "", {"E1"}},
    {"ratio2", "", {"E2"}},
    {"B", "T", {"B"}},
    {"theta", "deg", {"theta"}},
    {"phi", "deg", {"phi"}},
};

std::string show(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", v);
  return text;
}

// The fields of one line: commas split them outside double quotes, which are
// dropped. False when a quote is left open.
bool split(std::string_view line, std::vector<std::string>& fields) {
  fields.assign(1, std::string());
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    else if (c == ',' && !quoted) fields.emplace_back();
    else fields.back() += c;
  }
  return !quoted;
}

class Reader {
 public:
  Reader(std::string_view text, const std::string& file) : text_(text), file_(file) {}
  Reader(std::FILE* stream, const std::string& file) : stream_(stream), file_(file) {}

  // The next line without its end (a CR before the LF is dropped); false at the end.
  bool next(std::string_view& line) {
    if (stream_ != nullptr) {
      buffer_.clear();
      int c = 0;
      bool any = false;
      errno = 0;
      while ((c = std::getc(stream_)) != EOF) {
        any = true;
        if (c == '\n') break;
        buffer_ += static_cast<char>(c);
      }
      if (std::ferror(stream_)) fail(0, std::strerror(errno != 0 ? errno : EIO));
      if (!any) return false;
      line = buffer_;
    } else {
      if (at_ >= text_.size()) return false;
      const std::size_t eol = text_.find('\n', at_);
      const std::size_t end = eol == std::string_view::npos ? text_.size() : eol;
      line = text_.substr(at_, end - at_);
      at_ = end + 1;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++line_;
    return true;
  }
  std::size_t line() const { return line_; }
  [[noreturn]] void fail(std::size_t line, const std::string& text) const {
    throw InputError(file_, line, text);
  }

 private:
  std::string_view text_;
  std::FILE* stream_ = nullptr;
  std::string buffer_;
  const std::string& file_;
  std::size_t at_ = 0, line_ = 0;
};

}  // namespace

namespace {

// Reads a whole CSV, handing each pass to on_pass as soon as its sixteen rows
// are read and checked; returns the swept parameter, its unit and the fixed
// parameters.
StatesMeta parse(Reader& in, const std::function<void(const StatesPass&)>& on_pass) {
  std::string_view line;
  if (!in.next(line)) in.fail(1, "empty file: no header row of dimerstates --csv");
  std::vector<std::string> names;
  split(line, names);
  const Swept* sweep = nullptr;
  for (const Swept& s : swept)
    if (names[0] == s.name) sweep = &s;
  if (sweep == nullptr)
    in.fail(1, "not a sweep of dimerstates --csv: its first column is '" + common::printable(names[0]) +
                   "', not the swept parameter (J, D1, D2, D, E1, E2, ratio1, ratio2, B, theta, phi)");
  auto column = [&](std::string_view name) -> std::size_t {
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) in.fail(1, "no column '" + std::string(name) + "'");
    return static_cast<std::size_t>(it - names.begin());
  };
  const std::size_t level_at = column("level"), state_at = column("state"),
                    energy_at = column("energy"), spin_at = column("S");
  std::size_t w_at[4];
  for (int S = 0; S < 4; ++S) w_at[S] = column("w" + std::to_string(S));
  // The parameter columns present (the swept one is the first column).
  std::vector<std::pair<const Parameter*, std::size_t>> present;
  for (const Parameter& p : parameters) {
    const auto it = std::find(names.begin() + 1, names.end(), p.name);
    if (it != names.end()) present.emplace_back(&p, static_cast<std::size_t>(it - names.begin()));
  }
  const auto model_it = std::find(names.begin(), names.end(), "model");

  StatesMeta out;
  out.x_name = sweep->name;
  out.x_unit = sweep->unit;
  StatesPass pass;
  std::size_t passes = 0;
  std::vector<std::string> fields, first_row;
  std::vector<double> first_values(present.size());
  std::size_t pass_line = 0;  // the line of the current pass's first row
  std::array<bool, levels> taken{};
  std::size_t rows = 0;
  while (in.next(line)) {
    const std::size_t n = in.line();
    if (!split(line, fields)) in.fail(n, "a quote is not closed");
    if (fields.size() != names.size())
      in.fail(n, std::to_string(fields.size()) + " fields, but the header has " +
                     std::to_string(names.size()));
    auto number = [&](std::size_t c) {
      const std::string& t = fields[c];
      double v = 0.0;
      const auto [end, ec] = textio::nearest_double(t.data(), t.data() + t.size(), v);
      if (ec != std::errc() || end != t.data() + t.size() || t.empty() || !std::isfinite(v)) {
        std::string why = "'";
        why.append(common::printable(t)).append("' in column ").append(names[c]);
        in.fail(n, why.append(" is not a finite number"));
      }
      return v;
    };
    const int j = static_cast<int>(rows % levels);  // the row's place in its pass
    const double x = number(0);
    const double level = number(level_at);
    if (level != j + 1)
      in.fail(n, "level " + show(level) + " where a pass has its level " + std::to_string(j + 1) +
                     ": a pass is sixteen rows, levels 1 to 16");
    if (j == 0) {
      if (passes > 0 && !(x > pass.x))
        in.fail(n, out.x_name + " " + show(x) + " does not increase from " + show(pass.x) +
                       " of the pass before");
      pass = StatesPass{};
      pass.x = x;
      taken.fill(false);
      pass_line = n;
    } else if (x != pass.x) {
      in.fail(n, out.x_name + " " + show(x) + " differs from " + show(pass.x) +
                     " of the pass that begins at line " + std::to_string(pass_line) +
                     ": that pass has fewer than 16 rows");
    }
    const double state = number(state_at);
    if (!(state >= 1 && state <= levels && state == std::floor(state)) ||
        taken[static_cast<int>(state) - 1])
      in.fail(n, "state " + show(state) + " is not one of 1 to 16 left in its pass");
    const int k = static_cast<int>(state) - 1;
    taken[k] = true;
    const double energy = number(energy_at);
    pass.level[j] = energy;
    pass.level_of[k] = j;
    pass.spin[k] = number(spin_at);
    for (int S = 0; S < 4; ++S) pass.weights[k][S] = number(w_at[S]);
    for (std::size_t c = 0; c < present.size(); ++c) {
      const double v = number(present[c].second);
      const std::string_view name = present[c].first->name;
      if (rows == 0) {
        first_values[c] = v;
      } else if (v != first_values[c] &&
                 std::find(sweep->moves.begin(), sweep->moves.end(), name) == sweep->moves.end()) {
        in.fail(n, "parameter " + std::string(name) + " changes (" + show(first_values[c]) +
                       " in line 2, " + show(v) + " here), but the sweep is of " + out.x_name +
                       ": a drawing has one swept parameter");
      }
    }
    if (rows == 0) first_row = fields;
    ++rows;
    if (j == levels - 1) {
      if (passes == 0) out.first_x = pass.x;
      out.last_x = pass.x;
      ++passes;
      on_pass(pass);
    }
  }
  if (rows == 0) in.fail(2, "no rows: the sweep has no pass");
  if (rows % levels != 0)
    in.fail(pass_line, "the file ends inside the pass that begins here: " +
                           std::to_string(rows % levels) + " of its 16 rows");

  // The fixed parameters, grouped by unit; g once when all six are equal.
  std::string fixed[3];  // cm-1, deg, T
  std::string g;
  std::vector<double> gs;
  for (std::size_t c = 0; c < present.size(); ++c) {
    const Parameter& p = *present[c].first;
    const std::string_view name = p.name, unit = p.unit;
    if (std::find(sweep->moves.begin(), sweep->moves.end(), name) != sweep->moves.end()) continue;
    const std::string item = std::string(name) + " = " + show(first_values[c]);
    if (name[0] == 'g') {
      g += (g.empty() ? "" : ", ") + item;
      gs.push_back(first_values[c]);
      continue;
    }
    std::string& group = unit == "cm-1" ? fixed[0] : unit == "deg" ? fixed[1] : fixed[2];
    group += (group.empty() ? "" : ", ") + item;
  }
  if (gs.size() == 6 && std::all_of(gs.begin(), gs.end(), [&](double v) { return v == gs[0]; }))
    g = "g = " + show(gs[0]);
  std::string note;
  auto add = [&](const std::string& part, const char* unit) {
    if (part.empty()) return;
    note += (note.empty() ? "" : "; ") + part + unit;
  };
  add(fixed[0], " cm-1");
  add(g, "");
  add(fixed[2], " T");
  add(fixed[1], " deg");
  if (model_it != names.end()) {
    const std::string& model = first_row[static_cast<std::size_t>(model_it - names.begin())];
    add(model == "dimerscan" ? "dimerscan's own pass" : model == "general" ? "the whole spin Hamiltonian" : "", "");
  }
  out.fixed = note;
  out.note = note.empty() ? "" : "Fixed: " + note + ".";
  return out;
}

}  // namespace

StatesMeta read_states_passes(std::string_view text, const std::string& file,
                              const std::function<void(const StatesPass&)>& on_pass) {
  Reader in(text, file);
  return parse(in, on_pass);
}

StatesMeta read_states_passes(std::FILE* stream, const std::string& file,
                              const std::function<void(const StatesPass&)>& on_pass) {
  Reader in(stream, file);
  return parse(in, on_pass);
}

StatesSweep read_states_csv(std::string_view text, const std::string& file) {
  StatesSweep out;
  Sweep& s = out.sweep;
  Followed& f = out.followed;
  const StatesMeta meta = read_states_passes(text, file, [&](const StatesPass& p) {
    s.d1.push_back(p.x);
    for (int j = 0; j < levels; ++j) s.level[j].push_back(p.level[j]);
    s.gap.push_back(p.level[2] - p.level[0]);
    for (int k = 0; k < levels; ++k) {
      f.level[k].push_back(p.level_of[k]);
      f.energy[k].push_back(p.level[p.level_of[k]]);
      f.spin[k].push_back(p.spin[k]);
      f.weights[k].push_back(p.weights[k]);
    }
  });
  s.x_name = meta.x_name;
  s.x_unit = meta.x_unit;
  s.note = meta.note;
  out.fixed = meta.fixed;
  return out;
}

}  // namespace dimerplot
