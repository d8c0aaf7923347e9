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

namespace dimerplot {

void Thinner::widen(Run& r, const Point& p) {
  if (p.y < r.lo.y) r.lo = p;
  if (p.y > r.hi.y) r.hi = p;
  r.last = p;
}

void Thinner::close() {
  if (!current_.empty()) pieces_.push_back(std::move(current_));
  current_.clear();
}

void Thinner::keep(const Point& p) {
  if (current_.empty() || current_.back().index < p.index) current_.push_back(p);
}

// The first, lowest, highest and last point of r, in order, once each.
void Thinner::keep_run(const Run& r) {
  const bool lo_first = r.lo.index <= r.hi.index;
  keep(r.first);
  keep(lo_first ? r.lo : r.hi);
  keep(lo_first ? r.hi : r.lo);
  keep(r.last);
}

// The open run (not the first) is closed: the one closed before it, if any,
// lies inside the column.
void Thinner::close_run() {
  if (pending_set_) {
    if (!inner_set_) {
      inner_lo_ = pending_.lo, inner_hi_ = pending_.hi;
      inner_lo_run_ = inner_hi_run_ = pending_.id;
      inner_set_ = true;
    } else {
      if (pending_.lo.y < inner_lo_.y) inner_lo_ = pending_.lo, inner_lo_run_ = pending_.id;
      if (pending_.hi.y > inner_hi_.y) inner_hi_ = pending_.hi, inner_hi_run_ = pending_.id;
    }
  }
  pending_ = open_run_;
  pending_set_ = true;
}

void Thinner::add(int column, const Point& p) {
  if (any_ && column != column_) end_column();
  if (!any_ || column != column_) {
    column_ = column;
    before_finite_ = any_ && last_finite_;
    runs_ = 0;
    open_ = pending_set_ = inner_set_ = false;
    continues_ = before_finite_ && std::isfinite(p.y);
  }
  any_ = true;
  last_finite_ = std::isfinite(p.y);
  if (!last_finite_) {
    if (open_ && runs_ > 1) close_run();
    open_ = false;
    return;
  }
  if (open_) {
    widen(runs_ == 1 ? first_ : open_run_, p);
    return;
  }
  open_ = true;
  Run& r = runs_ == 0 ? first_ : open_run_;
  r.first = r.last = r.lo = r.hi = p;
  r.id = runs_++;
}

void Thinner::end_column() {
  if (open_ && runs_ > 1) close_run();  // the open run is the last
  if (runs_ > 0) {
    if (!continues_) close();
    keep_run(first_);
  }
  if (inner_set_) {
    close();
    const bool lo_first = inner_lo_.index <= inner_hi_.index;
    const Point& p = lo_first ? inner_lo_ : inner_hi_;
    const Point& q = lo_first ? inner_hi_ : inner_lo_;
    current_.push_back(p);
    if (q.index != p.index) {
      if (inner_lo_run_ != inner_hi_run_) close();
      current_.push_back(q);
    }
  }
  if (pending_set_) {
    close();
    keep_run(pending_);
  }
  if (!last_finite_) close();
}

std::vector<std::vector<Point>> Thinner::finish() {
  if (any_) end_column();
  close();
  any_ = false;
  return std::move(pieces_);
}

}  // namespace dimerplot
