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
// no longer become a value of its kind: r*v, r*, or a number of the list
// form for a real, of the integer form for an integer. It accepts every
// prefix of a text that the conversion of the whole value would accept, and
// refuses a character only when every text beginning so is refused.
class ValueScan {
 public:
  explicit ValueScan(bool integer)
      : form_(integer ? NumberForm::integer : NumberForm::list), number_(form_) {}

  // False when c makes the text bad whatever follows.
  bool next(char c) {
    if (leading_digits_) {  // digits from the start: a repeat count or the number's
      if (is_digit(c)) {
        if (repeat_ <= max_repeat) repeat_ = repeat_ * 10 + (c - '0');
      } else if (c == '*') {
        if (repeat_ < 1 || repeat_ > max_repeat) return false;
        leading_digits_ = false;
        number_ = NumberScan(form_);  // the number after the count
        return true;
      } else {
        leading_digits_ = false;
      }
    }
    return number_.next(c);
  }

 private:
  NumberForm form_;
  NumberScan number_;
  bool leading_digits_ = true;
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
  if (kind == Kind::integer) {
    const ScannedNumber number = scan_number(first, last, NumberForm::integer);
    if (number.stop != last || !number.scan.whole()) {
      return numbered("Bad integer for item %d in list input");
    }
    constexpr std::int64_t largest = 2147483647;
    const char* p = first;
    const bool negative = *p == '-';
    if (is_sign(*p)) ++p;
    std::int64_t magnitude = 0;
    for (; p != last; ++p) {
      magnitude = magnitude * 10 + (*p - '0');
      if (magnitude > largest) return numbered("Integer overflow while reading item %d");
    }
    value.null = false;
    value.integer = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return {};
  }

  // Real: the list form, written for the conversion as [sign] mantissa
  // [e [sign] digits], a point alone as 0.
  const ScannedNumber scanned = scan_number(first, last, NumberForm::list);
  const NumberScan& scan = scanned.scan;
  if (scanned.stop != last || !scan.whole()) return numbered("Bad real number in item %d of list input");
  const char* const mantissa_end = scan.exponent_begun() ? first + scan.exponent_at() : last;
  std::string number(first, mantissa_end);
  if (scan.mantissa_digits() == 0) number.back() = '0';  // "." reads as 0
  if (scan.exponent_begun()) {
    number.push_back('e');
    const char* exponent = mantissa_end;
    if (!is_sign(*exponent)) ++exponent;  // the letter
    number.append(exponent, last);
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
