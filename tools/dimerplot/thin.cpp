#include "thin.hpp"

#include <algorithm>
#include <cmath>

namespace dimerplot {

namespace {

struct Run {
  std::size_t begin, end;  // [begin, end): consecutive finite points
};

// Index of the lowest and of the highest y over the runs, the first of equal ones.
std::pair<std::size_t, std::size_t> extremes(std::span<const double> y, const Run* first,
                                             const Run* last) {
  std::size_t lo = first->begin, hi = first->begin;  // cppcheck-suppress duplicateAssignExpression ; both start at the first point
  for (const Run* r = first; r != last; ++r)
    for (std::size_t i = r->begin; i < r->end; ++i) {
      if (y[i] < y[lo]) lo = i;
      if (y[i] > y[hi]) hi = i;
    }
  return {lo, hi};
}

// Appends the first, lowest, highest and last point of run r, in order, once each.
void keep_run(std::span<const double> y, const Run& r, Piece& out) {
  const auto [lo, hi] = extremes(y, &r, &r + 1);
  std::size_t kept[4] = {r.begin, std::min(lo, hi), std::max(lo, hi), r.end - 1};
  for (std::size_t i : kept)
    if (out.empty() || out.back() < i) out.push_back(i);
}

}  // namespace

std::vector<Piece> thin(std::span<const int> column, std::span<const double> y) {
  std::vector<Piece> pieces;
  Piece current;  // the piece being drawn; open while the data has no break
  auto close = [&] {
    if (!current.empty()) pieces.push_back(std::move(current));
    current.clear();
  };
  std::vector<Run> runs;
  const std::size_t n = std::min(column.size(), y.size());
  for (std::size_t a = 0; a < n;) {
    std::size_t b = a;  // points [a, b) lie in one column
    while (b < n && column[b] == column[a]) ++b;

    runs.clear();
    for (std::size_t i = a; i < b;) {
      if (!std::isfinite(y[i])) {
        ++i;
        continue;
      }
      std::size_t j = i;
      while (j < b && std::isfinite(y[j])) ++j;
      runs.push_back({i, j});
      i = j;
    }

    for (std::size_t r = 0; r < runs.size(); ++r) {
      // A run continues the open piece only when it follows it without a break.
      const bool continues = r == 0 && runs[0].begin == a && a > 0 && std::isfinite(y[a - 1]);
      if (!continues) close();
      if (r == 0 || r == runs.size() - 1) {
        keep_run(y, runs[r], current);
        continue;
      }
      // The runs strictly inside the column: their lowest and highest point.
      const Run* inner_end = runs.data() + runs.size() - 1;
      const auto [lo, hi] = extremes(y, runs.data() + 1, inner_end);
      const std::size_t p = std::min(lo, hi), q = std::max(lo, hi);
      // NOLINTNEXTLINE(bugprone-narrowing-conversions): p <= q < y.size()
      const bool same_run = std::all_of(y.begin() + p, y.begin() + q + 1,
                                        [](double v) { return std::isfinite(v); });
      current.push_back(p);
      if (q != p) {
        if (!same_run) close();
        current.push_back(q);
      }
      r = runs.size() - 2;  // the inner runs are done
    }
    if (!std::isfinite(y[b - 1])) close();
    a = b;
  }
  close();
  return pieces;
}

}  // namespace dimerplot
