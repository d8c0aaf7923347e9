#include "sweep/records.hpp"

#include <cstring>

#include "textio/efield.hpp"

namespace sweep {

bool lay_record(textio::Connection* c, const char* d1, double value) {
  char* r = c == nullptr ? nullptr : c->room_for_record(record_size);
  if (r == nullptr) return false;
  r[0] = ' ';
  std::memcpy(r + 1, d1, field_width);
  r[1 + field_width] = ' ';
  r[2 + field_width] = ' ';
  textio::format_e_field(r + 3 + field_width, value, field_width, field_digits);
  c->end_laid_record(record_size);
  return true;
}

}  // namespace sweep
