// The D1 sweep of dimerscan as the strongest a careful user could write it:
// Eigen's SelfAdjointEigenSolver on a fixed-size 16 x 16 complex matrix (no
// allocation), built for this processor, E12.6 fields from std::to_chars, and
// one large write buffer per file. The same answers (scanf), the same
// matrices, the same two files.
#include <Eigen/Eigenvalues>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <complex>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dialogue.hpp"
#include "sweep/hamiltonian.hpp"

namespace {

constexpr int n = sweep::n_states;
using Matrix = Eigen::Matrix<std::complex<double>, n, n>;

// One E12.6 field: 0.dddddd, the exponent as E+dd or +ddd, a minus sign in
// place of the leading 0.
void e_field(char* out, double v) {
  if (std::isnan(v)) {
    std::memcpy(out, "         NaN", 12);
    return;
  }
  if (std::isinf(v)) {
    std::memcpy(out, v > 0 ? "   +Infinity" : "   -Infinity", 12);
    return;
  }
  char buf[32];
  // d.ddddde+xx: six significant digits, correctly rounded.
  *std::to_chars(buf, buf + sizeof buf - 1, std::fabs(v), std::chars_format::scientific, 5).ptr = 0;
  const int x = std::atoi(std::strchr(buf, 'e') + 1);
  const int e = v == 0.0 ? 0 : x + 1;
  out[0] = v < 0.0 ? '-' : '0';
  out[1] = '.';
  out[2] = buf[0];
  std::memcpy(out + 3, buf + 2, 5);
  const int m = e < 0 ? -e : e;
  const char sign = e < 0 ? '-' : '+';
  if (m <= 99) {
    out[8] = 'E';
    out[9] = sign;
    out[10] = static_cast<char>('0' + m / 10);
    out[11] = static_cast<char>('0' + m % 10);
  } else {
    out[8] = sign;
    out[9] = static_cast<char>('0' + m / 100);
    out[10] = static_cast<char>('0' + m / 10 % 10);
    out[11] = static_cast<char>('0' + m % 10);
  }
}

// Records gathered in one large buffer, written out when it is full.
class Output {
 public:
  explicit Output(std::FILE* f) : f_(f) { buffer_.reserve(size); }
  void record(const char* d1, const char* value) {
    if (buffer_.size() + 29 > size) flush();
    buffer_.push_back(' ');
    buffer_.insert(buffer_.end(), d1, d1 + 12);
    buffer_.push_back(' ');
    buffer_.push_back(' ');
    buffer_.insert(buffer_.end(), value, value + 12);
    buffer_.push_back('\r');
    buffer_.push_back('\n');
  }
  bool flush() {
    const bool ok = std::fwrite(buffer_.data(), 1, buffer_.size(), f_) == buffer_.size();
    buffer_.clear();
    return ok;
  }

 private:
  static constexpr std::size_t size = 1 << 20;
  std::FILE* f_;
  std::vector<char> buffer_;
};

}  // namespace

int main() {
  bench::Answers answers;
  if (!bench::ask(answers)) return 2;
  [[maybe_unused]] const auto [J, D1min, D1max, step, D2, ratio1, ratio2, matz] = answers;

  std::FILE* f10 = std::fopen("fort.10", "wb");
  std::FILE* f20 = std::fopen("fort.20", "wb");
  if (f10 == nullptr || f20 == nullptr) {
    std::perror("fort.10/fort.20");
    return 2;
  }
  std::setvbuf(f10, nullptr, _IONBF, 0);
  std::setvbuf(f20, nullptr, _IONBF, 0);
  Output levels(f10), gaps(f20);

  const int options = matz != 0 ? Eigen::ComputeEigenvectors : Eigen::EigenvaluesOnly;
  Eigen::SelfAdjointEigenSolver<Matrix> solver;
  Matrix a;
  double ar[n * n], ai[n * n], w[n];
  char d1_field[12], field[12];
  for (long long k = 1;; ++k) {
    const double D1 = static_cast<double>(k - 1) * step + D1min;
    const double E1 = D1 * ratio1, E2 = D1 * ratio2;
    if (D1 > D1max) break;
    sweep::build_spin_hamiltonian(J, D1, D1, E1, E2, ar, ai, w);
    for (int c = 0; c < n; ++c) {
      for (int r = 0; r < n; ++r) a(r, c) = {ar[c * n + r], ai[c * n + r]};
    }
    solver.compute(a, options);
    if (solver.info() != Eigen::Success) {
      std::fprintf(stderr, "no convergence at D1 = %g\n", D1);
      return 2;
    }
    const auto& values = solver.eigenvalues();
    e_field(d1_field, D1);
    for (int i = 0; i < n; ++i) {
      e_field(field, values(i));
      levels.record(d1_field, field);
    }
    e_field(field, values(2) - values(0));
    gaps.record(d1_field, field);
  }
  if (!levels.flush() || !gaps.flush() || std::fclose(f10) != 0 || std::fclose(f20) != 0) {
    std::perror("fort.10/fort.20");
    return 2;
  }
}
