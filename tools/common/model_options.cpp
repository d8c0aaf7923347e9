#include "model_options.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "common/files.hpp"
#include "model/pass_rule.hpp"
#include "textio/decimal.hpp"

namespace common {

namespace {

std::string quoted(std::string_view text) {
  std::string q = "'";
  q += printable(text);
  q += '\'';
  return q;
}

std::array<double, 3> triple(std::string_view text, std::string_view option) {
  std::array<double, 3> g{};
  std::size_t start = 0;
  for (int k = 0; k < 3; ++k) {
    const std::size_t comma = text.find(',', start);
    if ((k < 2) != (comma != std::string_view::npos))
      throw Failure("value " + quoted(text) + " of option " + std::string(option) +
                    " is not three numbers GX,GY,GZ");
    const std::size_t end = k < 2 ? comma : text.size();
    g[k] = number(text.substr(start, end - start), option);
    start = end + 1;
  }
  return g;
}

}  // namespace

model::Parameters ModelInput::resolve() const {
  model::Parameters p;
  p.J = J;
  p.ion1.D = D1;
  p.ion2.D = D2 ? *D2 : D1;
  p.ion1.E = E1 ? *E1 : p.ion1.D * ratio1;
  p.ion2.E = E2 ? *E2 : p.ion2.D * ratio2;
  p.ion1.gx = g1[0], p.ion1.gy = g1[1], p.ion1.gz = g1[2];
  p.ion2.gx = g2[0], p.ion2.gy = g2[1], p.ion2.gz = g2[2];
  p.field = {B, theta, phi};
  return p;
}

bool ModelInput::set(std::string_view name, double value) {
  if (name == "J") J = value;
  else if (name == "D1") D1 = value;
  else if (name == "D2") D2 = value;
  else if (name == "D") D1 = value, D2 = value;
  else if (name == "E1") E1 = value;
  else if (name == "E2") E2 = value;
  else if (name == "ratio1") ratio1 = value, E1.reset();
  else if (name == "ratio2") ratio2 = value, E2.reset();
  else if (name == "B") B = value;
  else if (name == "theta") theta = value;
  else if (name == "phi") phi = value;
  else return false;
  return true;
}

double number(std::string_view text, std::string_view option) {
  const std::string what = "value " + quoted(text) + " of option " + std::string(option);
  double v = 0.0;
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;  // a plus sign is a number's own
  const auto [end, ec] = textio::nearest_double(first, last, v);
  if (ec == std::errc::result_out_of_range) throw Failure(what + " is out of range");
  if (ec != std::errc() || end != last || first == last) throw Failure(what + " is not a number");
  if (!std::isfinite(v)) throw Failure(what + " is not a finite number");
  return v;
}

double Range::at(std::int64_t k) const { return passes::d1_of(k, from, step); }

std::int64_t Range::count() const {
  std::int64_t k = 0;
  // Values are few enough to count: the range was checked to end.
  while (at(k + 1) <= to) ++k;
  return k;
}

Range range(std::string_view text, std::string_view option) {
  const std::size_t a = text.find(':');
  const std::size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
  if (b == std::string_view::npos || text.find(':', b + 1) != std::string_view::npos)
    throw Failure("value " + quoted(text) + " of option " + std::string(option) +
                  " is not FROM:TO:STEP");
  Range r;
  r.from = number(text.substr(0, a), option);
  r.to = number(text.substr(a + 1, b - a - 1), option);
  r.step = number(text.substr(b + 1), option);
  if (!passes::sweep_ends(r.from, r.to, r.step))
    throw Failure("the range " + quoted(text) + " of option " + std::string(option) +
                  " does not end: the step must be positive and give at most 2147483647 values");
  return r;
}

bool ModelOptions::given(std::string_view option) const {
  return std::find(seen_.begin(), seen_.end(), option) != seen_.end();
}

bool ModelOptions::take(const std::vector<std::string>& args, std::size_t& i) {
  static constexpr std::string_view names[] = {"--J",  "--D1",     "--D2",     "--D",  "--E1",
                                               "--E2", "--ratio1", "--ratio2", "--g",  "--g1",
                                               "--g2", "--B",      "--theta",  "--phi"};
  const std::string& arg = args[i];
  const std::size_t eq = arg.find('=');
  const std::string name = arg.substr(0, eq);
  if (std::find(std::begin(names), std::end(names), name) == std::end(names)) return false;
  std::string text;
  std::size_t next = i + 1;
  if (eq != std::string::npos) {
    text = arg.substr(eq + 1);
  } else if (next < args.size()) {
    text = args[next++];
  } else {
    throw Failure("option " + name + " needs a value");
  }
  if (given(name)) throw Failure("option " + name + " is given twice");
  auto exclusive = [&](std::string_view a, std::string_view b) {
    if ((name == a && given(b)) || (name == b && given(a)))
      throw Failure("options " + std::string(a) + " and " + std::string(b) +
                    " exclude each other");
  };
  exclusive("--E1", "--ratio1");
  exclusive("--E2", "--ratio2");
  exclusive("--D", "--D1");
  exclusive("--D", "--D2");
  exclusive("--g", "--g1");
  exclusive("--g", "--g2");
  seen_.push_back(name);

  ModelInput& in = input_;
  if (name == "--g") {
    const double g = number(text, name);
    in.g1 = in.g2 = {g, g, g};
  } else if (name == "--g1") {
    in.g1 = triple(text, name);
  } else if (name == "--g2") {
    in.g2 = triple(text, name);
  } else {
    in.set(name.substr(2), number(text, name));
  }
  if (name != "--J" && name != "--D1" && name != "--ratio1" && name != "--ratio2") general_ = true;
  i = next - 1;
  return true;
}

}  // namespace common
