#include "textio/record.hpp"

#include <vector>

#include "textio/efield.hpp"

namespace textio {

namespace {

// Puts the Ew.d field of value, the item at place in its format.
Status put_field(Connection& c, const FormatItem& item, std::size_t place, double value) {
  const auto width = static_cast<std::size_t>(item.width);
  if (item.width <= FieldMemo::max_width) {
    return c.put(c.fields().field(place, value, item.width, item.digits), width);
  }
  std::vector<char> field(width);
  format_e_field(field.data(), value, item.width, item.digits);
  return c.put(field.data(), field.size());
}

}  // namespace

Status write_statement(UnitTable& units, int unit, const Format& format,
                       std::span<const double> values) {
  Connection* c = units.find(unit);
  if (c == nullptr) {
    Status status;
    c = units.connect(unit, status);
    if (c == nullptr) return status;
  }
  if (Status status = c->begin_statement()) return status;

  int pending_blanks = 0;
  std::size_t next = 0;
  const std::vector<FormatItem>& items = format.items();
  bool values_left = true;
  for (std::size_t place = 0; place < items.size() && values_left; ++place) {
    const FormatItem& item = items[place];
    Status status;
    switch (item.kind) {
      case FormatItem::Kind::blanks:
        pending_blanks += item.count;
        continue;
      case FormatItem::Kind::literal:
        status = c->put_blanks(pending_blanks);
        pending_blanks = 0;
        if (!status) status = c->put(item.literal.data(), item.literal.size());
        break;
      case FormatItem::Kind::slash:
        pending_blanks = 0;
        status = c->end_record();
        break;
      case FormatItem::Kind::e_field:
        if (next == values.size()) {
          values_left = false;  // the walk stops at an Ew.d without a value
          break;
        }
        status = c->put_blanks(pending_blanks);
        pending_blanks = 0;
        if (!status) status = put_field(*c, item, place, values[next++]);
        break;
    }
    if (status) return status;
  }
  // Blanks that nothing followed are dropped.
  if (Status status = c->end_record()) return status;
  return c->end_statement();
}

}  // namespace textio
