#include "textio/record.hpp"

#include <vector>

#include "textio/efield.hpp"

namespace textio {

namespace {

// Puts the Ew.d field of value, the item at place in its format.
bool put_field(Connection& c, FieldMemo& memo, const FormatItem& item, std::size_t place,
               double value) {
  const auto width = static_cast<std::size_t>(item.width);
  if (item.width <= FieldMemo::max_width) {
    return c.put(memo.field(place, value, item.width, item.digits), width);
  }
  std::vector<char> field(width);
  format_e_field(field.data(), value, item.width, item.digits);
  return c.put(field.data(), field.size());
}

}  // namespace

Status RecordWriter::write(int unit, const Format& format, std::span<const double> values) {
  Connection* c = units_.find(unit);
  if (c == nullptr) {
    Status status;
    c = units_.connect(unit, status);
    if (c == nullptr) return status;
  }
  if (!c->begin_statement()) return c->failure();

  int pending_blanks = 0;
  std::size_t next = 0;
  const std::vector<FormatItem>& items = format.items();
  bool values_left = true;
  for (std::size_t place = 0; place < items.size() && values_left; ++place) {
    const FormatItem& item = items[place];
    bool ok = true;
    switch (item.kind) {
      case FormatItem::Kind::blanks:
        pending_blanks += item.count;
        continue;
      case FormatItem::Kind::literal:
        ok = c->put_blanks(pending_blanks) && c->put(item.literal.data(), item.literal.size());
        pending_blanks = 0;
        break;
      case FormatItem::Kind::slash:
        pending_blanks = 0;
        ok = c->end_record();
        break;
      case FormatItem::Kind::e_field:
        if (next == values.size()) {
          values_left = false;  // the walk stops at an Ew.d without a value
          break;
        }
        ok = c->put_blanks(pending_blanks) && put_field(*c, fields_, item, place, values[next++]);
        pending_blanks = 0;
        break;
    }
    if (!ok) return c->failure();
  }
  // Blanks that nothing followed are dropped.
  if (!c->end_record() || !c->end_statement()) return c->failure();
  return {};
}

}  // namespace textio
