#include "table.hpp"

#include <cstdio>

namespace states {

namespace {

std::string fixed(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// The parameter columns of a CSV row, in their order.
constexpr const char* parameter_columns[] = {"J",   "D1",  "D2",  "E1",  "E2",    "g1x", "g1y", "g1z",
                                             "g2x", "g2y", "g2z", "B",   "theta", "phi"};

std::array<double, 14> parameter_values(const common::ModelInput& in) {
  const model::Parameters p = in.resolve();
  return {p.J,         p.ion1.D,    p.ion2.D,    p.ion1.E,    p.ion2.E,      p.ion1.gx, p.ion1.gy,
          p.ion1.gz,   p.ion2.gx,   p.ion2.gy,   p.ion2.gz,   p.field.B,     p.field.theta,
          p.field.phi};
}

// "NAME = v UNIT", or "NAME from a to b step c UNIT" when it is the swept one.
std::string item(const Options& o, const std::string& name, double v, const std::string& unit) {
  const std::string u = unit.empty() ? "" : " " + unit;
  if (o.sweep && o.sweep->name == name)
    return name + " from " + fixed("%g", o.sweep->range.from) + " to " + fixed("%g", o.sweep->range.to) +
           " step " + fixed("%g", o.sweep->range.step) + u;
  return name + " = " + fixed("%g", v) + u;
}

bool swept(const Options& o, std::string_view name) { return o.sweep && o.sweep->name == name; }

// The run's parameters in words, for the table's first line.
std::string parameters_line(const Options& o) {
  const common::ModelInput& in = o.input();
  if (!o.general) {
    // dimerscan's own dialogue: D2 = D1, the ratios, its fixed field.
    return "# " + item(o, "J", in.J, "cm-1") + ", D1 = D2" + item(o, "D1", in.D1, "cm-1").substr(2) +
           ", E1/D1" + item(o, "ratio1", in.ratio1, "").substr(6) + ", E2/D2" +
           item(o, "ratio2", in.ratio2, "").substr(6) +
           "; 0.1 T along x, g = 2.0; dimerscan's own pass\n";
  }
  const model::Parameters p = in.resolve();
  std::string line = "# " + item(o, "J", in.J, "cm-1") + ", ";
  if (swept(o, "D")) {
    line += "D1 = D2" + item(o, "D", in.D1, "cm-1").substr(1);
  } else {
    line += item(o, "D1", p.ion1.D, "cm-1") + ", ";
    line += o.model.given("--D2") || swept(o, "D2") || !swept(o, "D1")
                ? item(o, "D2", p.ion2.D, "cm-1")
                : std::string("D2 = D1");
  }
  const double* ratio[2] = {&in.ratio1, &in.ratio2};
  for (int i = 0; i < 2; ++i) {
    const std::string E = i == 0 ? "E1" : "E2", D = i == 0 ? "D1" : "D2";
    const std::string r = i == 0 ? "ratio1" : "ratio2";
    const bool given = o.model.given("--" + E) || swept(o, E);
    line += ", ";
    if (!given && (swept(o, r) || *ratio[i] != 0.0))
      line.append(E).append(" = ").append(D).append(" x ").append(swept(o, r) ? item(o, r, 0.0, "") : fixed("%g", *ratio[i]));
    else
      line += item(o, E, i == 0 ? p.ion1.E : p.ion2.E, "cm-1");
  }
  line += "; g1 = " + fixed("%g", p.ion1.gx) + "," + fixed("%g", p.ion1.gy) + "," + fixed("%g", p.ion1.gz) +
          ", g2 = " + fixed("%g", p.ion2.gx) + "," + fixed("%g", p.ion2.gy) + "," + fixed("%g", p.ion2.gz);
  line += "; " + item(o, "B", p.field.B, "T") + ", " + item(o, "theta", p.field.theta, "deg") + ", " +
          item(o, "phi", p.field.phi, "deg") + "; the whole spin Hamiltonian\n";
  return line;
}

constexpr const char* level_columns =
    "energy,above,S2,S,Sx,first_state,first_weight,second_state,second_weight,Sn,w0,w1,w2,w3";

}  // namespace

std::string heading(const Options& o) {
  if (o.csv) {
    std::string h = o.sweep ? o.sweep->name + ",level,state," : std::string("level,");
    h += level_columns;
    for (const char* c : parameter_columns)
      if (!o.sweep || o.sweep->name != c) h.append(",").append(c);
    return h + ",model\n";
  }
  std::string out = parameters_line(o);
  char line[320];
  if (o.sweep) {
    const std::string_view unit = unit_of(o.sweep->name);
    std::string x = o.sweep->name;
    if (!unit.empty()) x.append("/").append(unit);
    std::snprintf(line, sizeof line,
                  "# %16s %5s %5s %18s %18s %10s %7s %10s  %-12s %8s  %-12s %8s %10s %8s %8s %8s %8s\n",
                  x.c_str(), "level", "state", "energy/cm-1", "above/cm-1", "<S^2>", "S", "<Sx>",
                  "largest", "weight", "next", "weight", "<S.n>", "w0", "w1", "w2", "w3");
  } else {
    std::snprintf(line, sizeof line,
                  "%5s %18s %18s %10s %7s %10s  %-12s %8s  %-12s %8s %10s %8s %8s %8s %8s\n", "level",
                  "energy/cm-1", "above/cm-1", "<S^2>", "S", "<Sx>", "largest", "weight", "next",
                  "weight", "<S.n>", "w0", "w1", "w2", "w3");
  }
  return out + line;
}

std::string rows(const Options& o, const common::ModelInput& in, double x, const Spectrum& s,
                 const std::array<int, n>& state_of_level) {
  std::string out;
  // The parameters that close every CSV row.
  std::string tail;
  if (o.csv) {
    const std::array<double, 14> v = parameter_values(in);
    for (std::size_t k = 0; k < v.size(); ++k)
      if (!o.sweep || o.sweep->name != parameter_columns[k]) tail.append(",").append(fixed("%.17g", v[k]));
    tail += o.general ? ",general\n" : ",dimerscan\n";
  }
  char line[512];
  for (int j = 0; j < n; ++j) {
    const Level& l = s.levels[j];
    const double* w = l.spin_weight.data();
    if (o.csv) {
      if (o.sweep) out += fixed("%.17g", x) + "," + std::to_string(j + 1) + "," +
                          std::to_string(state_of_level[j] + 1) + ",";
      else out += std::to_string(j + 1) + ",";
      std::snprintf(line, sizeof line,
                    "%.17g,%.17g,%.17g,%.17g,%.17g,\"%s\",%.17g,\"%s\",%.17g,%.17g,%.17g,%.17g,%.17g,%.17g",
                    l.energy, l.above, l.s2, l.spin, l.sx, ket(l.first).c_str(), l.weight[l.first],
                    ket(l.second).c_str(), l.weight[l.second], l.sn, w[0], w[1], w[2], w[3]);
      out += line;
      out += tail;
      continue;
    }
    if (o.sweep)
      std::snprintf(line, sizeof line, "  %16.10g %5d %5d ", x, j + 1, state_of_level[j] + 1);
    else
      std::snprintf(line, sizeof line, "%5d ", j + 1);
    out += line;
    std::snprintf(line, sizeof line,
                  "%18.10g %18.10g %10.6f %7.4f %10.6f  %-12s %8.6f  %-12s %8.6f %10.6f %8.6f %8.6f %8.6f %8.6f\n",
                  l.energy, l.above, l.s2, l.spin, l.sx, ket(l.first).c_str(), l.weight[l.first],
                  ket(l.second).c_str(), l.weight[l.second], l.sn, w[0], w[1], w[2], w[3]);
    out += line;
  }
  if (o.sweep && !o.csv) out += '\n';
  return out;
}

}  // namespace states
