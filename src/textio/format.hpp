// Format texts of the record writer: "(1X,'text'/1X,'more')", "(1x,e12.6,2x,e12.6)".
#pragma once

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

}  // namespace textio
