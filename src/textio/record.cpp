#include "textio/record.hpp"

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "textio/efield.hpp"

namespace textio {

namespace {

// Widths up to this are formatted on the stack and remembered.
constexpr int small_field = 64;

// The last field made for an Ew.d item of a format, with the value's bits:
// a sweep writes the same D1 beside every level of a pass, so that field is
// made once per pass.
struct FieldMemo {
  const FormatItem* item = nullptr;
  std::uint64_t bits = 0;
  char text[small_field];
};
// Records up to this many bytes may take the direct way into the window.
constexpr std::size_t small_record = 256;

// Memos by the item's place in its format.
constexpr std::size_t memo_slots = 8;
FieldMemo memos[memo_slots];

// The field of value for the Ew.d item at place (of width <= small_field).
const char* small_field_text(const FormatItem& item, std::size_t place, double value) {
  FieldMemo& memo = memos[place % memo_slots];
  const auto bits = std::bit_cast<std::uint64_t>(value);
  if (memo.item != &item || memo.bits != bits) {
    format_e_field(memo.text, value, item.width, item.digits);
    memo.item = &item;
    memo.bits = bits;
  }
  return memo.text;
}

Status put_field(Connection& c, const FormatItem& item, std::size_t place, double value) {
  const auto width = static_cast<std::size_t>(item.width);
  if (item.width <= small_field) return c.put(small_field_text(item, place, value), width);
  std::vector<char> field(width);
  format_e_field(field.data(), value, item.width, item.digits);
  return c.put(field.data(), field.size());
}

// The record of a format without slashes, straight into the window, when it
// is sure to fit there and nothing else is due: the same bytes as the walk
// in write_statement. False when it is not sure to fit.
bool write_in_window(Connection& c, const Format& format, std::span<const double> values) {
  char* const start = c.room_for(format.one_record_room());
  if (start == nullptr) return false;
  char* p = start;
  int pending_blanks = 0;
  std::size_t next = 0;
  const std::vector<FormatItem>& items = format.items();
  for (std::size_t place = 0; place < items.size(); ++place) {
    const FormatItem& item = items[place];
    switch (item.kind) {
      case FormatItem::Kind::blanks:
        pending_blanks += item.count;
        continue;
      case FormatItem::Kind::literal:
        std::memset(p, ' ', static_cast<std::size_t>(pending_blanks));
        p += pending_blanks;
        pending_blanks = 0;
        std::memcpy(p, item.literal.data(), item.literal.size());
        p += item.literal.size();
        continue;
      case FormatItem::Kind::e_field:
        if (next == values.size()) break;  // the walk stops at an Ew.d without a value
        if (item.width > small_field) return false;
        std::memset(p, ' ', static_cast<std::size_t>(pending_blanks));
        p += pending_blanks;
        pending_blanks = 0;
        std::memcpy(p, small_field_text(item, place, values[next++]),
                    static_cast<std::size_t>(item.width));
        p += item.width;
        continue;
      case FormatItem::Kind::slash:
        break;
    }
    break;
  }
  *p++ = '\r';
  *p++ = '\n';
  c.commit_record(static_cast<std::size_t>(p - start));
  return true;
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

  // The usual record: one line on a file or stream already settled, far
  // shorter than the record limit, fields no wider than small_field.
  if (format.one_record_room() != 0 && format.one_record_room() <= small_record && !c->unbuffered &&
      c->end_file == Connection::EndFile::at_end && (c->standard() || c->records > 0) &&
      write_in_window(*c, format, values)) {
    return {};
  }

  c->bytes_left = record_limit;
  int pending_blanks = 0;
  std::size_t next = 0;
  bool values_left = true;
  const std::vector<FormatItem>& items = format.items();
  for (std::size_t place = 0; place < items.size() && values_left; ++place) {
    const FormatItem& item = items[place];
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
        if (!status) status = put_field(*c, item, place, values[next++]);
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
