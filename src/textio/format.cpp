#include "textio/format.hpp"

#include <cstddef>

namespace textio {
namespace {

// Largest count of nX, width and digits of Ew.d. Larger numbers are refused
// as "number too large": records of this program are at most 59 characters,
// and the bound keeps every sum the writer forms of them far from overflow.
constexpr int max_number = 32767;

using Kind = FormatItem::Kind;

FormatItem make_item(Kind kind) {
  FormatItem it{};
  it.kind = kind;
  return it;
}

// Reads the items of one format text over [0, size) of `s`; never looks at
// s[size] or beyond. Blanks outside literals are skipped everywhere, inside
// numbers too ("1 2X" is 12X). Text after the closing parenthesis is not read.
class Reader {
 public:
  Reader(std::string_view s, std::vector<FormatItem>& items, std::string& literals)
      : s_(s), items_(items), literals_(literals) {}

  // Returns nullptr when the text is a format, else the fault.
  const char* run() {
    if (!next_is('(')) return "expected '('";
    ++i_;
    if (next_is(')')) return nullptr;  // "()" holds no items
    for (;;) {
      bool comma_optional = false;
      if (const char* fault = item(&comma_optional)) return fault;
      if (at_end()) return "expected ')'";
      const char c = s_[i_];
      if (c == ')') return nullptr;
      if (c == ',') {
        ++i_;
        if (at_end()) return "expected ')'";
      } else if (c != '/' && !comma_optional) {  // a slash needs no comma before it
        return "expected ',' or ')'";
      }
    }
  }

 private:
  // Skips blanks; true when the text has ended.
  bool at_end() {
    while (i_ < s_.size() && s_[i_] == ' ') ++i_;
    return i_ == s_.size();
  }

  bool next_is(char c) { return !at_end() && s_[i_] == c; }

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }

  // Reads an unsigned decimal number (blanks may stand between its digits)
  // into *n. Fails with `missing` when no digit follows.
  const char* number(int* n, const char* missing) {
    if (at_end() || !is_digit(s_[i_])) return missing;
    int v = 0;
    while (!at_end() && is_digit(s_[i_])) {
      v = v * 10 + (s_[i_] - '0');
      if (v > max_number) return "number too large";
      ++i_;
    }
    *n = v;
    return nullptr;
  }

  // Reads one item at the current position (blanks already skipped).
  // *comma_optional is set after a literal and after a slash.
  const char* item(bool* comma_optional) {
    if (at_end()) return "expected ')'";
    const char c = s_[i_];
    if (c == '\'' || c == '"') {
      *comma_optional = true;
      return literal(c);
    }
    if (c == '/') {
      ++i_;
      *comma_optional = true;
      items_.push_back(make_item(Kind::slash));
      return nullptr;
    }
    if (is_digit(c)) {
      FormatItem it = make_item(Kind::blanks);
      if (const char* fault = number(&it.count, "expected a count")) return fault;
      if (it.count < 1) return "count must be at least 1";
      if (!next_is('X') && !next_is('x')) return "expected 'X' after a count";
      ++i_;
      items_.push_back(it);
      return nullptr;
    }
    if (c == 'E' || c == 'e') {
      ++i_;
      FormatItem it = make_item(Kind::e_field);
      if (const char* fault = number(&it.width, "expected a width after 'E'")) return fault;
      if (it.width < 1) return "width must be at least 1";
      if (!next_is('.')) return "expected '.' after the width";
      ++i_;
      if (const char* fault = number(&it.digits, "expected digits after '.'")) return fault;
      if (it.digits < 1) return "digits must be at least 1";
      items_.push_back(it);
      return nullptr;
    }
    return "expected an item";
  }

  // Reads a literal opened by `delim` at the current position; two delimiters
  // in a row stand for one. Its characters go to the end of literals_, whose
  // room the caller has reserved, so earlier views stay valid.
  const char* literal(char delim) {
    ++i_;
    const std::size_t start = literals_.size();
    for (;;) {
      if (i_ == s_.size()) return "unterminated literal";
      const char c = s_[i_++];
      if (c == delim) {
        if (i_ < s_.size() && s_[i_] == delim) {
          ++i_;
        } else {
          break;
        }
      }
      literals_.push_back(c);
    }
    FormatItem it = make_item(Kind::literal);
    it.literal = std::string_view(literals_.data() + start, literals_.size() - start);
    items_.push_back(it);
    return nullptr;
  }

  std::string_view s_;
  std::size_t i_ = 0;
  std::vector<FormatItem>& items_;
  std::string& literals_;
};

}  // namespace

bool Format::parse(std::string_view text, std::string* error) {
  items_.clear();
  text_.clear();
  // The literals of a text are never longer than the text: with this room no
  // append moves the characters that earlier items point to.
  text_.reserve(text.size());
  const char* fault = Reader(text, items_, text_).run();
  one_record_room_ = 0;
  if (fault == nullptr) {
    // Room for the one record of a format without slashes, terminator included.
    std::size_t room = 2;
    for (const FormatItem& item : items_) {
      switch (item.kind) {
        case FormatItem::Kind::blanks:
          room += static_cast<std::size_t>(item.count);
          break;
        case FormatItem::Kind::literal:
          room += item.literal.size();
          break;
        case FormatItem::Kind::e_field:
          room += static_cast<std::size_t>(item.width);
          break;
        case FormatItem::Kind::slash:
          return true;
      }
    }
    one_record_room_ = room;
    return true;
  }
  items_.clear();
  text_.clear();
  if (error != nullptr) *error = fault;
  return false;
}

}  // namespace textio
