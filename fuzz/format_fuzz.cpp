// Format reader: arbitrary format texts never crash or loop, and a parse
// either gives items or an error text; the program's six formats parse to
// the items they stand for.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "textio/format.hpp"

namespace {

using Kind = textio::FormatItem::Kind;

void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

struct Expected {
  Kind kind;
  int count;
  int width;
  int digits;
  const char* literal;
};

void expect(const char* text, const std::vector<Expected>& items) {
  textio::Format f;
  std::string error;
  require(f.parse(text, &error), "a format of the program does not parse");
  require(f.items().size() == items.size(), "a format of the program gives the wrong item count");
  for (std::size_t i = 0; i < items.size(); ++i) {
    const auto& got = f.items()[i];
    const auto& want = items[i];
    require(got.kind == want.kind, "a format of the program gives a wrong item kind");
    if (want.kind == Kind::blanks) require(got.count == want.count, "a wrong nX count");
    if (want.kind == Kind::e_field)
      require(got.width == want.width && got.digits == want.digits, "a wrong Ew.d field");
    if (want.kind == Kind::literal) require(got.literal == want.literal, "a wrong literal");
  }
}

void program_formats() {
  const Expected x1{Kind::blanks, 1, 0, 0, nullptr};
  const Expected x2{Kind::blanks, 2, 0, 0, nullptr};
  const Expected slash{Kind::slash, 0, 0, 0, nullptr};
  const Expected e126{Kind::e_field, 0, 12, 6, nullptr};
  auto lit = [](const char* s) { return Expected{Kind::literal, 0, 0, 0, s}; };
  expect("(1X,'Enter the value for J (cm-1) :')", {x1, lit("Enter the value for J (cm-1) :")});
  expect(
      "(1X,'Enter values for D1min, D1max (cm-1),'                           "
      "' and  the step size :')",
      {x1, lit("Enter values for D1min, D1max (cm-1),"), lit(" and  the step size :")});
  expect("(1X,'Enter value for D2 (cm-1):')", {x1, lit("Enter value for D2 (cm-1):")});
  expect("(1X,'Enter values for E1/D1 and E2/D2:')", {x1, lit("Enter values for E1/D1 and E2/D2:")});
  expect(
      "(1X,'Do you want to see the eigenvectors?'/                        "
      "1X,'(1 = yes, 0 = no):')",
      {x1, lit("Do you want to see the eigenvectors?"), slash, x1, lit("(1 = yes, 0 = no):")});
  expect("(1x,e12.6,2x,e12.6)", {x1, e126, x2, e126});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  program_formats();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  textio::Format f;
  std::string error;
  const bool ok = f.parse(text, &error);
  if (!ok) {
    require(!error.empty(), "a failed parse without an error text");
    require(f.items().empty(), "a failed parse leaves items");
    return 0;
  }
  bool slash = false;
  std::size_t literal_bytes = 0;
  for (const auto& item : f.items()) {
    switch (item.kind) {
      case Kind::blanks: require(item.count >= 1, "an nX item with n < 1"); break;
      case Kind::slash: slash = true; break;
      case Kind::e_field:
        require(item.width >= 1 && item.digits >= 1, "an Ew.d field with w or d below 1");
        break;
      case Kind::literal:
        literal_bytes += item.literal.size();
        require(item.literal.size() <= size, "a literal longer than the format text");
        break;
    }
  }
  require(literal_bytes <= size, "literals longer than the format text");
  if (slash) require(f.one_record_room() == 0, "a record room given for a format with slashes");
  else require(f.one_record_room() >= 1, "no record room for a format without slashes");
  return 0;
}
