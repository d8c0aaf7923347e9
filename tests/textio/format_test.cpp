#include "textio/format.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using textio::Format;
using Kind = textio::FormatItem::Kind;

// One expected item: nX, a literal, a slash or Ew.d.
struct Item {
  Kind kind;
  int a = 0;  // count of nX, width of Ew.d
  int b = 0;  // digits of Ew.d
  std::string_view literal;
};
Item X(int n) { return {Kind::blanks, n, 0, {}}; }
Item L(std::string_view s) { return {Kind::literal, 0, 0, s}; }
Item E(int w, int d) { return {Kind::e_field, w, d, {}}; }
const Item slash{Kind::slash, 0, 0, {}};

struct Accepted {
  int line;
  std::string_view text;
  std::vector<Item> items;
};

void expect_items(const Format& f, const std::vector<Item>& want) {
  ASSERT_EQ(f.items().size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    const textio::FormatItem& got = f.items()[i];
    EXPECT_EQ(got.kind, want[i].kind);
    if (want[i].kind == Kind::blanks) {
      EXPECT_EQ(got.count, want[i].a);
    } else if (want[i].kind == Kind::e_field) {
      EXPECT_EQ(got.width, want[i].a);
      EXPECT_EQ(got.digits, want[i].b);
    } else if (want[i].kind == Kind::literal) {
      EXPECT_EQ(got.literal, want[i].literal);
    }
  }
}

// The formats of the program's statements, exactly as the program passes them.
const std::string_view F1 = "(1X,'Enter the value for J (cm-1) :')";
const std::string_view F2 =
    "(1X,'Enter values for D1min, D1max (cm-1),'                           ' and  the step size :')";
const std::string_view F3 = "(1X,'Enter value for D2 (cm-1):')";
const std::string_view F4 = "(1X,'Enter values for E1/D1 and E2/D2:')";
const std::string_view F5 =
    "(1X,'Do you want to see the eigenvectors?'/                        1X,'(1 = yes, 0 = no):')";
const std::string_view F6 = "(1x,e12.6,2x,e12.6)";

TEST(Format, AcceptedTexts) {
  const Accepted rows[] = {
      {__LINE__, F1, {X(1), L("Enter the value for J (cm-1) :")}},
      {__LINE__, F2, {X(1), L("Enter values for D1min, D1max (cm-1),"), L(" and  the step size :")}},
      {__LINE__, F3, {X(1), L("Enter value for D2 (cm-1):")}},
      {__LINE__, F4, {X(1), L("Enter values for E1/D1 and E2/D2:")}},
      {__LINE__, F5, {X(1), L("Do you want to see the eigenvectors?"), slash, X(1), L("(1 = yes, 0 = no):")}},
      {__LINE__, F6, {X(1), E(12, 6), X(2), E(12, 6)}},
      {__LINE__, "(1X,E12.6,2X,E12.6)", {X(1), E(12, 6), X(2), E(12, 6)}},
      {__LINE__, "  ( 1 x , e 1 2 . 6 )", {X(1), E(12, 6)}},
      {__LINE__, "(12x,E1.1,e32767.32767,32767X)", {X(12), E(1, 1), E(32767, 32767), X(32767)}},
      {__LINE__, "(E5.10)", {E(5, 10)}},
      {__LINE__, "('it''s')", {L("it's")}},
      {__LINE__, "(\"say \"\"hi\"\"\")", {L("say \"hi\"")}},
      {__LINE__, "(\"it's\",'a\"b')", {L("it's"), L("a\"b")}},
      {__LINE__, "('','''',\"\")", {L(""), L("'"), L("")}},
      {__LINE__, "(' A b, (1X) ')", {L(" A b, (1X) ")}},
      {__LINE__, "('a'1X,'b''c'/'d')", {L("a"), X(1), L("b'c"), slash, L("d")}},
      {__LINE__, "(1X/1X,/,/E8.1)", {X(1), slash, X(1), slash, slash, E(8, 1)}},
      {__LINE__, "(//)", {slash, slash}},
      {__LINE__, "()", {}},
      {__LINE__, "(1X) and whatever follows", {X(1)}},
  };
  for (const Accepted& row : rows) {
    SCOPED_TRACE(row.line);
    Format f;
    std::string error;
    ASSERT_TRUE(f.parse(row.text, &error)) << error;
    expect_items(f, row.items);
  }
}

TEST(Format, RefusedTexts) {
  struct Refused {
    int line;
    std::string_view text;
    const char* error;
  };
  const Refused rows[] = {
      {__LINE__, "", "expected '('"},
      {__LINE__, "   ", "expected '('"},
      {__LINE__, "1X)", "expected '('"},
      {__LINE__, "(", "expected ')'"},
      {__LINE__, "(1X", "expected ')'"},
      {__LINE__, "(E12.6", "expected ')'"},
      {__LINE__, "('abc", "unterminated literal"},
      {__LINE__, "('abc'')", "unterminated literal"},
      {__LINE__, "(\"abc')", "unterminated literal"},
      {__LINE__, std::string_view("('ab'')", 5), "expected ')'"},  // the view ends at the quote
      {__LINE__, "(0X)", "count must be at least 1"},
      {__LINE__, "(X)", "expected an item"},
      {__LINE__, "(2E12.6)", "expected 'X' after a count"},
      {__LINE__, "(3)", "expected 'X' after a count"},
      {__LINE__, "(E12)", "expected '.' after the width"},
      {__LINE__, "(E.6)", "expected a width after 'E'"},
      {__LINE__, "(E12.)", "expected digits after '.'"},
      {__LINE__, "(E0.6)", "width must be at least 1"},
      {__LINE__, "(E12.0)", "digits must be at least 1"},
      {__LINE__, "(E12.6E2)", "expected ',' or ')'"},
      {__LINE__, "(1X 'a')", "expected ',' or ')'"},
      {__LINE__, "(1X E12.6)", "expected ',' or ')'"},
      {__LINE__, "(1X\t,1X)", "expected ',' or ')'"},
      {__LINE__, std::string_view("(1X\0)", 5), "expected ',' or ')'"},
      {__LINE__, "(F12.6)", "expected an item"},
      {__LINE__, "(-1X)", "expected an item"},
      {__LINE__, "((1X))", "expected an item"},
      {__LINE__, "(1X,,1X)", "expected an item"},
      {__LINE__, "(,1X)", "expected an item"},
      {__LINE__, "(1X,)", "expected an item"},
      {__LINE__, "(32768X)", "number too large"},
      {__LINE__, "(E12.99999999999999999999)", "number too large"},
      {__LINE__, "(4294967297X)", "number too large"},
  };
  for (const Refused& row : rows) {
    SCOPED_TRACE(row.line);
    Format f;
    std::string error;
    EXPECT_FALSE(f.parse(row.text, &error));
    EXPECT_EQ(error, row.error);
    EXPECT_TRUE(f.items().empty());
  }
}

// Every proper prefix of a format ends before its closing parenthesis; read
// as a view into the whole text, it must be refused, so nothing past the end
// of the view is ever looked at.
TEST(Format, PrefixesAreRefused) {
  for (const std::string_view text : {F1, F2, F3, F4, F5, F6}) {
    for (std::size_t n = 0; n < text.size(); ++n) {
      SCOPED_TRACE(text.substr(0, n));
      Format f;
      std::string error;
      EXPECT_FALSE(f.parse(text.substr(0, n), &error));
      EXPECT_FALSE(error.empty());
    }
  }
}

// A failed parse leaves no items from an earlier one; a later parse replaces
// them; the fault may be left undescribed.
TEST(Format, ParseAgain) {
  Format f;
  ASSERT_TRUE(f.parse("('first'/'second')", nullptr));
  EXPECT_FALSE(f.parse("('broken", nullptr));
  EXPECT_TRUE(f.items().empty());
  ASSERT_TRUE(f.parse(F5, nullptr));
  expect_items(f, {X(1), L("Do you want to see the eigenvectors?"), slash, X(1), L("(1 = yes, 0 = no):")});
}

// Random texts over the characters that matter: the reader answers every
// one, and an accepted text has only well-formed items.
TEST(Format, RandomTextsNeverMisbehave) {
  const std::string alphabet = "()'\"/,.xXeE0123456789 ";
  std::mt19937 random(7);
  int accepted = 0;
  for (int k = 0; k < 200000; ++k) {
    std::string text(random() % 16, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    Format f;
    std::string error;
    if (!f.parse(text, &error)) {
      ASSERT_FALSE(error.empty()) << text;
      ASSERT_TRUE(f.items().empty()) << text;
      continue;
    }
    ++accepted;
    for (const textio::FormatItem& it : f.items()) {
      const bool good = it.kind == Kind::blanks    ? it.count >= 1
                        : it.kind == Kind::e_field ? it.width >= 1 && it.digits >= 1
                        : it.kind == Kind::literal ? it.literal.size() < text.size()
                                                   : true;
      ASSERT_TRUE(good) << text;
    }
  }
  EXPECT_GT(accepted, 0);
}

}  // namespace
