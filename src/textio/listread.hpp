// Free-form (list) input of doubles and 32-bit integers.
//
// Values are separated by blanks, tabs, commas or line ends; an empty value
// between commas is a null value that leaves its item unchanged; r*v gives v
// to r items and r* makes r null values; a slash leaves the remaining items
// of the statement unchanged. A statement waits for further lines while items
// remain without a value, and the next statement starts on a fresh line.
#pragma once

#include <cstdint>
#include <string>

#include "textio/error.hpp"
#include "textio/input.hpp"

namespace textio {

// Largest repeat count r of r*v.
inline constexpr std::int32_t max_repeat = 200000000;

// One read statement: call real() or integer() once for each item, in list
// order, then finish(). After a failure the statement is over: the items
// already assigned keep their new values, the others are untouched.
class ListRead {
 public:
  explicit ListRead(InputStream& in) : in_(in) {}

  Status real(double& item);
  Status integer(std::int32_t& item);
  // Discards the rest of the current line unless its line end was taken.
  Status finish();

 private:
  enum class Kind { real, integer };
  // What one item receives: nothing (a null value) or a number.
  struct Value {
    bool null = true;
    double real = 0.0;
    std::int32_t integer = 0;
  };

  Status item(Kind kind, Value& value);
  Status read_value(Kind kind, Value& value);
  Status parse(Kind kind, const std::string& text, Value& value);
  Status convert(Kind kind, const char* first, const char* last, Value& value) const;
  Status separator();
  Status continuation();
  Status skip_blanks();
  Status peek(int& c);
  Status discard_line();
  Status fail(const IoError& error);
  IoError numbered(const char* format) const;
  int take(Status& status);

  InputStream& in_;
  int item_number_ = 0;
  bool first_ = true;
  bool comma_seen_ = false;
  bool at_line_end_ = false;
  bool input_complete_ = false;
  std::int32_t repeat_left_ = 0;  // later items that still receive the repeated value
  bool repeat_null_ = false;
  std::string repeat_text_;  // the repeated number, converted for each item's kind
};

}  // namespace textio
