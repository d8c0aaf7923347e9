// Format texts of the record writer: "(1X,'text'/1X,'more')", "(1x,e12.6,2x,e12.6)".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

struct FormatItem {
  enum class Kind { blanks, literal, slash, e_field };
  Kind kind;
  int count = 0;             // blanks: n of nX
  int width = 0;             // e_field: w
  int digits = 0;            // e_field: d
  std::string_view literal;  // literal: its characters, doubled delimiters made single
};

// A parsed format text. The items' literals point into the Format's own
// storage, so a Format is neither copied nor moved once parsed.
class Format {
 public:
  // Parses text; on failure returns false and describes the fault in *error
  // ("expected ')'" and the like), leaving the items empty.
  bool parse(std::string_view text, std::string* error);

  const std::vector<FormatItem>& items() const { return items_; }
  // For a format without slashes, the most bytes its record can take with
  // its terminator; 0 for a format with slashes.
  std::size_t one_record_room() const { return one_record_room_; }

  Format() = default;
  Format(const Format&) = delete;
  Format& operator=(const Format&) = delete;

 private:
  std::vector<FormatItem> items_;
  std::string text_;  // literal characters, in item order
  std::size_t one_record_room_ = 0;
};

namespace format_grammar {

// Largest count of nX, width and digits of Ew.d. Larger numbers are refused
// as "number too large": records of this program are at most 59 characters,
// and the bound keeps every sum the writer forms of them far from overflow.
inline constexpr int max_number = 32767;

// Reads the items of one format text over [0, size) of `s`; never looks at
// s[size] or beyond. Blanks outside literals are skipped everywhere, inside
// numbers too ("1 2X" is 12X). Text after the closing parenthesis is not read.
// Each item goes to sink.add(item); the characters of a literal go to
// sink.literal_char(c) after sink.literal_begin(), and sink.literal_end()
// gives the view the item holds. It runs when the program is compiled too:
// the program's own formats are checked then (ConstantFormat).
template <typename Sink>
class Reader {
 public:
  constexpr Reader(std::string_view s, Sink& sink) : s_(s), sink_(sink) {}

  // Returns nullptr when the text is a format, else the fault.
  constexpr const char* run() {
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
  using Kind = FormatItem::Kind;

  static constexpr FormatItem make_item(Kind kind) {
    FormatItem it{};
    it.kind = kind;
    return it;
  }

  // Skips blanks; true when the text has ended.
  constexpr bool at_end() {
    while (i_ < s_.size() && s_[i_] == ' ') ++i_;
    return i_ == s_.size();
  }

  constexpr bool next_is(char c) { return !at_end() && s_[i_] == c; }

  static constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

  // Reads an unsigned decimal number (blanks may stand between its digits)
  // into *n. Fails with `missing` when no digit follows.
  constexpr const char* number(int* n, const char* missing) {
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
  constexpr const char* item(bool* comma_optional) {
    if (at_end()) return "expected ')'";
    const char c = s_[i_];
    if (c == '\'' || c == '"') {
      *comma_optional = true;
      return literal(c);
    }
    if (c == '/') {
      ++i_;
      *comma_optional = true;
      sink_.add(make_item(Kind::slash));
      return nullptr;
    }
    if (is_digit(c)) {
      FormatItem it = make_item(Kind::blanks);
      if (const char* fault = number(&it.count, "expected a count")) return fault;
      if (it.count < 1) return "count must be at least 1";
      if (!next_is('X') && !next_is('x')) return "expected 'X' after a count";
      ++i_;
      sink_.add(it);
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
      sink_.add(it);
      return nullptr;
    }
    return "expected an item";
  }

  // Reads a literal opened by `delim` at the current position; two delimiters
  // in a row stand for one.
  constexpr const char* literal(char delim) {
    ++i_;
    sink_.literal_begin();
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
      sink_.literal_char(c);
    }
    FormatItem it = make_item(Kind::literal);
    it.literal = sink_.literal_end();
    sink_.add(it);
    return nullptr;
  }

  std::string_view s_;
  std::size_t i_ = 0;
  Sink& sink_;
};

// A sink that keeps nothing: the reader then only tells whether a text is a format.
struct NoSink {
  constexpr void add(const FormatItem&) {}
  constexpr void literal_begin() {}
  constexpr void literal_char(char) {}
  constexpr std::string_view literal_end() { return {}; }
};

// The fault of text as a format, nullptr when there is none.
constexpr const char* fault_of(std::string_view text) {
  NoSink sink;
  return Reader<NoSink>(text, sink).run();
}

// Called only while a ConstantFormat is checked, for a text that is no
// format: not a constant expression, so such a text does not compile.
void the_text_is_not_a_format();

}  // namespace format_grammar

// A format text of the program's own, checked when the program is compiled:
// a text that is not a format does not compile, and parsing it at run time
// cannot fail.
class ConstantFormat {
 public:
  consteval ConstantFormat(const char* text) : text_(text) {
    if (format_grammar::fault_of(text_) != nullptr) format_grammar::the_text_is_not_a_format();
  }
  constexpr std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

}  // namespace textio
