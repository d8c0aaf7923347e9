#include "textio/listread.hpp"

#include <cstdio>

#include "textio/decimal.hpp"

namespace textio {

namespace {

constexpr int line_feed = '\n';
constexpr int carriage_return = '\r';

bool is_blank(int c) { return c == ' ' || c == '\t'; }
bool is_line_end(int c) { return c == line_feed || c == carriage_return; }
bool is_separator(int c) { return is_blank(c) || c == ',' || c == '/' || is_line_end(c); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_sign(char c) { return c == '+' || c == '-'; }

// Room for the value text at first; doubled whenever it is full.
constexpr std::size_t initial_text_room = 300;

}  // namespace

int ListRead::take(Status& status) {
  const int c = in_.get();
  if (c == InputStream::end_of_input) {
    status = IoError{ErrorKind::end_of_file, {}};
  } else if (c == InputStream::read_error) {
    status = os_error(in_.errnum());
  }
  return c;
}

Status ListRead::peek(int& c) {
  Status status;
  c = take(status);
  if (!status) in_.unget(c);
  return status;
}

Status ListRead::skip_blanks() {
  for (;;) {
    Status status;
    const int c = take(status);
    if (status) return status;
    if (!is_blank(c)) {
      in_.unget(c);
      return {};
    }
  }
}

// Discards the rest of the current line, its line feed included.
Status ListRead::discard_line() {
  for (;;) {
    Status status;
    const int c = take(status);
    if (status) return status;
    if (c == line_feed) {
      at_line_end_ = true;
      return {};
    }
  }
}

// Takes the separator after a value, or one met where a value was expected:
// blanks and tabs, then a comma (with the blanks after it), a slash, or a
// line end; anything else begins the next value and is left in place.
Status ListRead::separator() {
  comma_seen_ = false;
  at_line_end_ = false;
  if (Status status = skip_blanks()) return status;
  Status status;
  const int c = take(status);
  if (status) return status;
  switch (c) {
    case ',':
      comma_seen_ = true;
      return skip_blanks();
    case '/':
      input_complete_ = true;
      return {};
    case line_feed:
      at_line_end_ = true;
      return {};
    case carriage_return: {
      at_line_end_ = true;
      // A line feed after the carriage return belongs to the same line end.
      // The input ending right after it leaves the line without its line
      // feed: the end of file, as for any last line not ended by one.
      const int next = take(status);
      if (status) return status;
      if (next != line_feed) in_.unget(next);
      return {};
    }
    default:
      in_.unget(c);
      return {};
  }
}

// Between items, once a line end was met: skips empty lines and lines of
// blanks, a comma that no comma precedes, and stops before the next value;
// a slash completes the statement and takes the rest of its line.
Status ListRead::continuation() {
  for (;;) {
    if (Status status = skip_blanks()) return status;
    Status status;
    const int c = take(status);
    if (status) return status;
    if (is_line_end(c)) continue;
    at_line_end_ = false;
    if (c == ',') {
      if (comma_seen_) {
        in_.unget(c);  // a second comma: the next item is a null value
        return {};
      }
      if (Status blanks = skip_blanks()) return blanks;
      int next;
      if (Status peeked = peek(next)) return peeked;
      if (is_line_end(next)) continue;
      return {};
    }
    if (c == '/') {
      input_complete_ = true;
      return discard_line();
    }
    in_.unget(c);
    return {};
  }
}

Status ListRead::real(double& item) {
  Value value;
  Status status = this->item(Kind::real, value);
  if (!status && !value.null) item = value.real;
  return status;
}

Status ListRead::integer(std::int32_t& item) {
  Value value;
  Status status = this->item(Kind::integer, value);
  if (!status && !value.null) item = value.integer;
  return status;
}

Status ListRead::item(Kind kind, Value& value) {
  ++item_number_;
  if (input_complete_) return {};

  if (first_) {
    first_ = false;
    comma_seen_ = false;
    at_line_end_ = false;
    input_complete_ = false;
    if (Status status = skip_blanks()) return status;
    int c;
    if (Status status = peek(c)) return status;
    if (is_separator(c)) {
      if (Status status = separator()) return status;
      if (comma_seen_ || input_complete_) return {};
      if (Status status = continuation()) return status;
      if (input_complete_) return {};
    }
    return read_value(kind, value);
  }

  if (repeat_left_ > 0) {
    --repeat_left_;
    if (repeat_null_) return {};
    const char* text = repeat_text_.data();
    if (Status bad = convert(kind, text, text + repeat_text_.size(), value)) return fail(*bad);
    return {};
  }

  if (at_line_end_) {
    if (Status status = continuation()) return status;
  } else {
    if (Status status = skip_blanks()) return status;
    int c;
    if (Status status = peek(c)) return status;
    if (is_line_end(c)) {
      if (Status status = continuation()) return status;
    }
  }
  if (input_complete_) return {};
  return read_value(kind, value);
}

// Follows the text of a value character by character and tells when it can
// no longer become a value of its kind: r*v, r*, or [sign] mantissa
// [exponent] for a real, [sign] digits for an integer. It accepts every
// prefix of a text that the conversion of the whole value would accept, and
// refuses a character only when every text beginning so is refused.
class ValueScan {
 public:
  explicit ValueScan(bool integer) : integer_(integer) {}

  // False when c makes the text bad whatever follows.
  bool next(char c) {
    switch (state_) {
      case State::start:
        if (is_digit(c)) {
          repeat_ = c - '0';
          return to(State::lead);
        }
        return number_start(c);
      case State::lead:  // digits from the start: a repeat count or a mantissa
        if (is_digit(c)) {
          if (repeat_ <= max_repeat) repeat_ = repeat_ * 10 + (c - '0');
          return true;
        }
        if (c == '*') return valid_count() && to(State::after_count);
        return integer_ ? false : in_mantissa(c);
      case State::after_count:
        if (is_digit(c)) return to(integer_ ? State::digits : State::mantissa);
        return number_start(c);
      case State::sign:
        if (is_digit(c)) return to(integer_ ? State::digits : State::mantissa);
        if (!integer_ && c == '.') return to(State::mantissa, true);
        return false;
      case State::digits:
        return is_digit(c);
      case State::mantissa:
        if (is_digit(c)) return true;
        return in_mantissa(c);
      case State::exponent_letter:
        if (is_sign(c)) return to(State::exponent_sign);
        return is_digit(c) && to(State::exponent_digits);
      case State::exponent_sign:
        return is_digit(c) && to(State::exponent_digits);
      case State::exponent_digits:
        return is_digit(c);
    }
    return false;
  }

 private:
  enum class State {
    start, lead, after_count, sign, digits, mantissa, exponent_letter, exponent_sign,
    exponent_digits
  };

  bool to(State state, bool point = false) {
    state_ = state;
    point_ = point_ || point;
    return true;
  }
  // The first character of a number without repeat count, not a digit.
  bool number_start(char c) {
    if (is_sign(c)) return to(State::sign);
    return !integer_ && c == '.' && to(State::mantissa, true);
  }
  // A character after mantissa digits of a real that is not a digit.
  bool in_mantissa(char c) {
    if (c == '.') return !point_ && to(State::mantissa, true);
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') return to(State::exponent_letter);
    return is_sign(c) && to(State::exponent_sign);
  }
  bool valid_count() const { return repeat_ >= 1 && repeat_ <= max_repeat; }

  bool integer_;
  State state_ = State::start;
  bool point_ = false;
  std::int64_t repeat_ = 0;  // the leading digits' number, held once past max_repeat
};

// Reads the text of one value up to the separator that ends it, then the
// separator. A separator in place of a value makes a null value. The first
// character that makes the value bad ends it: the rest of its line is
// discarded without being kept, so a bad value of any length costs no memory.
Status ListRead::read_value(Kind kind, Value& value) {
  Status status;
  int c = take(status);
  if (status) return status;
  if (is_separator(c)) {
    in_.unget(c);
    return separator();
  }
  {
    std::string text;
    text.reserve(initial_text_room);
    ValueScan scan(kind == Kind::integer);
    while (!is_separator(c)) {
      if (text.size() == text.capacity()) text.reserve(2 * text.capacity());
      const char ch = static_cast<char>(c);
      text.push_back(ch);
      if (!scan.next(ch)) {
        // The text so far holds the fault, and gives the message that the
        // whole value would give.
        const Status bad = parse(kind, text, value);
        return fail(bad ? *bad : IoError{ErrorKind::bad_value, {}});
      }
      c = take(status);
      if (status) return status;
    }
    in_.unget(c);
    if (Status bad = parse(kind, text, value)) return fail(*bad);
  }
  return separator();
}

// A value's text: a number, r*number (the number for r items) or r* (r null values).
Status ListRead::parse(Kind kind, const std::string& text, Value& value) {
  std::size_t digits = 0;
  while (digits < text.size() && is_digit(text[digits])) ++digits;
  if (digits == 0 || digits == text.size() || text[digits] != '*') {
    return convert(kind, text.data(), text.data() + text.size(), value);
  }

  std::int64_t count = 0;
  for (std::size_t i = 0; i < digits && count <= max_repeat; ++i) count = count * 10 + (text[i] - '0');
  if (count == 0) return numbered("Zero repeat count in item %d of list input");
  if (count > max_repeat) return numbered("Repeat count overflow in item %d of list input");

  const std::size_t rest = digits + 1;
  repeat_left_ = static_cast<std::int32_t>(count - 1);
  repeat_null_ = rest == text.size();
  if (repeat_null_) return {};
  if (Status status = convert(kind, text.data() + rest, text.data() + text.size(), value)) {
    return status;
  }
  repeat_text_.assign(text, rest);
  return {};
}

// Converts [first, last), an optionally signed number without repeat count.
Status ListRead::convert(Kind kind, const char* first, const char* last, Value& value) const {
  const char* p = first;
  if (kind == Kind::integer) {
    constexpr std::int64_t largest = 2147483647;
    const bool negative = p != last && *p == '-';
    if (p != last && is_sign(*p)) ++p;
    if (p == last) return numbered("Bad integer for item %d in list input");
    for (const char* q = p; q != last; ++q) {
      if (!is_digit(*q)) return numbered("Bad integer for item %d in list input");
    }
    std::int64_t magnitude = 0;
    for (; p != last; ++p) {
      magnitude = magnitude * 10 + (*p - '0');
      if (magnitude > largest) return numbered("Integer overflow while reading item %d");
    }
    value.null = false;
    value.integer = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return {};
  }

  // Real: [sign] mantissa [exponent], the mantissa digits with at most one
  // point, the exponent a letter E, e, D or d with an optional sign, or a sign
  // alone, and at least one digit.
  std::string number;
  if (p != last && is_sign(*p)) number.push_back(*p++);
  std::size_t mantissa_digits = 0;
  bool point = false;
  for (; p != last; ++p) {
    if (is_digit(*p)) {
      ++mantissa_digits;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      break;
    }
    number.push_back(*p);
  }
  if (mantissa_digits == 0 && !point) return numbered("Bad real number in item %d of list input");
  if (mantissa_digits == 0) number.back() = '0';  // "." reads as 0
  if (p != last) {
    number.push_back('e');
    if (*p == 'E' || *p == 'e' || *p == 'D' || *p == 'd') {
      ++p;
      if (p != last && is_sign(*p)) number.push_back(*p++);
    } else if (is_sign(*p)) {
      number.push_back(*p++);
    } else {
      return numbered("Bad real number in item %d of list input");
    }
    const char* exponent = p;
    for (; p != last && is_digit(*p); ++p) number.push_back(*p);
    if (p == exponent || p != last) return numbered("Bad real number in item %d of list input");
  }

  double result = 0.0;
  switch (to_double(number.data(), number.data() + number.size(), &result)) {
    case Conversion::ok:
      break;
    case Conversion::out_of_range:
      return IoError{ErrorKind::bad_value, "Range error during floating point read"};
    case Conversion::not_a_number:
      return numbered("Bad real number in item %d of list input");
  }
  value.null = false;
  value.real = result;
  return {};
}

IoError ListRead::numbered(const char* format) const {
  char message[96];
  std::snprintf(message, sizeof message, format, item_number_);
  return IoError{ErrorKind::bad_value, message};
}

// A bad value: the rest of its line goes before the report, which becomes the
// end-of-file one when the input ends first.
Status ListRead::fail(const IoError& error) {
  if (Status status = discard_line()) return status;
  return error;
}

Status ListRead::finish() {
  if (at_line_end_) return {};
  return discard_line();
}

}  // namespace textio
