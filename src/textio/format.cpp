#include "textio/format.hpp"

#include <cstddef>

namespace textio {
namespace {

// Keeps the items and the literals' characters of a Format. The literals of
// a text are never longer than the text: with room reserved for the text's
// length, no character added moves those that earlier items point to.
class Storage {
 public:
  Storage(std::vector<FormatItem>& items, std::string& literals) : items_(items), literals_(literals) {}
  void add(const FormatItem& item) { items_.push_back(item); }
  void literal_begin() { start_ = literals_.size(); }
  void literal_char(char c) { literals_.push_back(c); }
  std::string_view literal_end() const {
    return std::string_view(literals_.data() + start_, literals_.size() - start_);
  }

 private:
  std::vector<FormatItem>& items_;
  std::string& literals_;
  std::size_t start_ = 0;
};

}  // namespace

bool Format::parse(std::string_view text, std::string* error) {
  items_.clear();
  text_.clear();
  // The literals of a text are never longer than the text: with this room no
  // append moves the characters that earlier items point to.
  text_.reserve(text.size());
  Storage storage(items_, text_);
  const char* fault = format_grammar::Reader<Storage>(text, storage).run();
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
