#include "textio/record.hpp"

#include <cerrno>
#include <vector>

#include "textio/efield.hpp"

namespace textio {

namespace {

// Widths up to this are formatted on the stack.
constexpr int small_field = 64;

Status put_field(Connection& c, double value, int width, int digits) {
  if (width <= small_field) {
    char field[small_field];
    format_e_field(field, value, width, digits);
    return c.put(field, static_cast<std::size_t>(width));
  }
  std::vector<char> field(static_cast<std::size_t>(width));
  format_e_field(field.data(), value, width, digits);
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
  if (c->direction == Connection::Direction::read) return os_error(EBADF);

  // The first record on a file: whatever the file held before the run goes.
  if (!c->standard() && c->records == 0) {
    if (Status status = c->cut()) return status;
  }

  c->bytes_left = record_limit;
  int pending_blanks = 0;
  std::size_t next = 0;
  bool values_left = true;
  for (auto item_it = format.items().begin(); item_it != format.items().end() && values_left;
       ++item_it) {
    const FormatItem& item = *item_it;
    Status status;
    switch (item.kind) {
      case FormatItem::Kind::blanks:
        pending_blanks += item.count;
        break;
      case FormatItem::Kind::literal:
        status = c->put_blanks(pending_blanks);
        pending_blanks = 0;
        if (!status) status = c->put(item.literal.data(), item.literal.size());
        break;
      case FormatItem::Kind::slash:
        pending_blanks = 0;
        status = c->end_record();
        c->bytes_left = record_limit;
        break;
      case FormatItem::Kind::e_field:
        if (next == values.size()) {
          values_left = false;  // the walk stops at an Ew.d without a value
          break;
        }
        status = c->put_blanks(pending_blanks);
        pending_blanks = 0;
        if (!status) status = put_field(*c, values[next++], item.width, item.digits);
        break;
    }
    if (status) return status;
  }
  // Blanks that nothing followed are dropped.
  if (Status status = c->end_record()) return status;

  // A file with old contents after this run's first record: cut them now.
  if (c->end_file == Connection::EndFile::none) {
    if (Status status = c->write_out()) return status;
    if (Status status = c->cut()) return status;
    c->end_file = Connection::EndFile::at_end;
  }
  return {};
}

}  // namespace textio
