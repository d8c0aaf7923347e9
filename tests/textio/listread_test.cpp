#include "textio/listread.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "textio/decimal.hpp"

namespace {

using textio::InputStream;
using textio::ListRead;

// What an item holds after its statement: a value, or `same` for the value it
// held before (a sentinel no row's input produces).
using Item = std::optional<double>;
constexpr Item same = std::nullopt;
constexpr double real_before = 42.0;
constexpr std::int32_t integer_before = 7;

// Marks, in a row's input, where reading must stop: what follows is left for
// the next statement.
constexpr char stop = '|';

struct Row {
  int line;
  std::string input;        // one stop mark
  std::string statements;   // a word per statement, a letter per item: r double, i integer
  std::vector<Item> items;  // every item of every statement, in order
  std::string message;      // of the statement that fails; empty when none does
};

const char* const bad_real_1 = "Bad real number in item 1 of list input";
const char* const bad_int_1 = "Bad integer for item 1 in list input";
const char* const range = "Range error during floating point read";
const char* const eof = "End of file";

std::string with_crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Runs the row's statements one after another on one stream, as the program
// does, stopping at the first that fails.
void run(const Row& row, bool crlf) {
  SCOPED_TRACE(testing::Message() << "row at line " << row.line << (crlf ? ", CR LF lines" : "") << ": "
                                  << (row.input.size() < 100 ? row.input : "(long input)"));
  const std::size_t mark = row.input.find(stop);
  ASSERT_NE(mark, std::string::npos);
  std::string text = row.input.substr(0, mark) + row.input.substr(mark + 1);
  std::string rest = row.input.substr(mark + 1);
  if (crlf) {
    text = with_crlf(text);
    rest = with_crlf(rest);
  }
  InputStream in(text);
  std::vector<double> got;
  std::string message;
  std::istringstream words(row.statements);
  for (std::string word; words >> word;) {
    ListRead read(in);
    textio::Status status;
    for (char kind : word) {
      if (status || !message.empty()) {
        got.push_back(kind == 'r' ? real_before : integer_before);  // never transferred
      } else if (kind == 'r') {
        double x = real_before;
        status = read.real(x);
        got.push_back(x);
      } else {
        std::int32_t k = integer_before;
        status = read.integer(k);
        got.push_back(k);
      }
    }
    if (!message.empty()) continue;
    if (!status) status = read.finish();
    if (status) message = textio::message_of(*status);
  }
  EXPECT_EQ(message, row.message);
  ASSERT_EQ(got.size(), row.items.size()) << "items in the row";
  std::size_t k = 0;
  std::istringstream kinds(row.statements);
  for (std::string word; kinds >> word;) {
    for (char kind : word) {
      EXPECT_EQ(got[k], row.items[k].value_or(kind == 'r' ? real_before : integer_before))
          << "item " << k + 1;
      ++k;
    }
  }
  std::string left;
  for (int c; (c = in.get()) != InputStream::end_of_input;) left += static_cast<char>(c);
  EXPECT_EQ(left, rest) << "where the next read starts";
}

// Every row as written, then with every line ended by CR LF.
void check(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    run(row, false);
    run(row, true);
  }
}

TEST(ListRead, Separators) {
  check({
      {__LINE__, "1 2 3\n|9\n", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1,2,3\n|", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1 , 2 , 3\n|", "rrr", {1, 2, 3}, ""},
      {__LINE__, "\t1\t2 \t,\t 3 \t\n|", "rrr", {1, 2, 3}, ""},
      {__LINE__, "  1  2  3  \n|9\n", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1 2\n3\n|", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1\n2\n3\n|9\n", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1,2,\n3\n|", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1 2 , \n  3\n|", "rrr", {1, 2, 3}, ""},
      {__LINE__, "\n  \n\t\n 1\n\n \n2 3\n|", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1 2 3 4\n|5\n", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1 2 3,4\n|5\n", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1 2 3 ,\n|5\n", "rrr", {1, 2, 3}, ""},
      {__LINE__, "1,5\n|2\n", "r", {1}, ""},
      {__LINE__, "1\n,2 3\n|", "rrr", {1, 2, 3}, ""},    // a leading comma after a value
      {__LINE__, "1\n,\n 2 3\n|", "rrr", {1, 2, 3}, ""},  // a comma alone on its line
      {__LINE__, "\n,5\n|", "r", {5}, ""},
  });
}

TEST(ListRead, NullValuesAndSlash) {
  check({
      {__LINE__, "1,,3\n|", "rrr", {1, same, 3}, ""},
      {__LINE__, "1 ,, 3\n|", "rrr", {1, same, 3}, ""},
      {__LINE__, ",2,3\n|", "rrr", {same, 2, 3}, ""},
      {__LINE__, " , 2 , 3\n|", "rrr", {same, 2, 3}, ""},
      {__LINE__, ",,\n5\n|", "rrr", {same, same, 5}, ""},
      {__LINE__, ",,,\n|5\n", "rrr", {same, same, same}, ""},
      {__LINE__, "1,2,,\n|5\n", "rrr", {1, 2, same}, ""},
      {__LINE__, "1,\n,3\n|", "rrr", {1, same, 3}, ""},
      {__LINE__, "1,\n\n  \n,3\n|", "rrr", {1, same, 3}, ""},
      {__LINE__, ",\n|5\n", "i", {same}, ""},
      {__LINE__, "1/\n|9\n", "rrr", {1, same, same}, ""},
      {__LINE__, "1 / 2 junk\n|9\n", "rrr", {1, same, same}, ""},
      {__LINE__, "1\n/\n|9\n", "rrr", {1, same, same}, ""},
      {__LINE__, "1\n\n \t/ junk, 5\n|9\n", "rrr", {1, same, same}, ""},
      {__LINE__, "1,\n/\n|9\n", "rrr", {1, same, same}, ""},
      {__LINE__, "1,2,/ 3\n|9\n", "rrr", {1, 2, same}, ""},
      {__LINE__, "1 2 3/ 4\n|9\n", "rrr", {1, 2, 3}, ""},
      {__LINE__, "/\n|9\n", "rrr", {same, same, same}, ""},
      {__LINE__, "  \n/ 1 2 3\n|9\n", "rrr", {same, same, same}, ""},
      {__LINE__, "/\n|9\n", "i", {same}, ""},
  });
}

TEST(ListRead, RepeatCounts) {
  check({
      {__LINE__, "3*1\n|", "rrr", {1, 1, 1}, ""},
      {__LINE__, "2*\n5\n|", "rrr", {same, same, 5}, ""},
      {__LINE__, "2*,5\n|", "rrr", {same, same, 5}, ""},
      {__LINE__, "2* 5\n|", "rrr", {same, same, 5}, ""},
      {__LINE__, "1 2*-1.5e1\n|", "rrr", {1, -15, -15}, ""},
      {__LINE__, "2*4 9\n|", "rrr", {4, 4, 9}, ""},
      {__LINE__, "5*1.5\n|9\n", "rrr", {1.5, 1.5, 1.5}, ""},  // repetitions beyond the list dropped
      {__LINE__, "1 3*2 8\n|9\n", "rrr", {1, 2, 2}, ""},
      {__LINE__, "2*5/\n|9\n", "rrr", {5, same, same}, ""},  // the slash ends the repetition too
      {__LINE__, "3*\n|9\n", "rrr", {same, same, same}, ""},
      {__LINE__, "200000000*1\n|", "rrr", {1, 1, 1}, ""},
      {__LINE__, "000000000000000000000000003*2\n|", "rrr", {2, 2, 2}, ""},
      {__LINE__, "2*5\n|", "i", {5}, ""},
      {__LINE__, "1*-3\n|", "i", {-3}, ""},
      {__LINE__, "4*\n|9\n", "i", {same}, ""},
      {__LINE__, "0*1\n|9\n", "rrr", {same, same, same}, "Zero repeat count in item 1 of list input"},
      {__LINE__, "1 00*\n|9\n", "rrr", {1, same, same}, "Zero repeat count in item 2 of list input"},
      {__LINE__, "0*5\n|", "i", {same}, "Zero repeat count in item 1 of list input"},
      {__LINE__, "200000001*1\n|", "rrr", {same, same, same}, "Repeat count overflow in item 1 of list input"},
      {__LINE__, "1 2 99999999999999999999999*1 x\n|9\n", "rrr", {1, 2, same},
       "Repeat count overflow in item 3 of list input"},
      {__LINE__, "+2*3\n|", "rrr", {same, same, same}, bad_real_1},
      {__LINE__, "2*3*4\n|", "rrr", {same, same, same}, bad_real_1},
      {__LINE__, "2*x\n|", "rrr", {same, same, same}, bad_real_1},
      {__LINE__, "-2*3\n|", "i", {same}, bad_int_1},
  });
}

TEST(ListRead, RealForms) {
  check({
      {__LINE__, "1.5d0 1.5D0 1.5e0 1.5E0 15e-1 0.15+1 150-2 15.d-1\n|", "rrrrrrrr",
       {1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 1.5, 1.5}, ""},
      {__LINE__, "1.0+3 2-1 .5 -.5 . 5. +7 -3\n|", "rrrrrrrr", {1000, 0.2, 0.5, -0.5, 0, 5, 7, -3}, ""},
      {__LINE__, "1d2 1E+2 1e-2 -2.5D+01 +.25e1 0e999999 -. 3\n|", "rrrrrrrr",
       {100, 100, 0.01, -25, 2.5, 0, 0, 3}, ""},
      {__LINE__, "0.1 123456789012345678901234567890 2.2250738585072014e-308 1.7976931348623157e308\n|",
       "rrrr", {0.1, 123456789012345678901234567890.0, 2.2250738585072014e-308, 1.7976931348623157e308}, ""},
  });
}

TEST(ListRead, BadRealsAndRange) {
  std::vector<Row> rows;
  for (const char* bad : {"1.5q0", "1..5", "abc", "1e", "1e+", "1d-", "1+", "1e5e5", "1e2.5", "1+-3", "--1",
                          "inf", "nan", "infinity", "0x10", "-", "+", "*3", "1.5x/2"}) {
    rows.push_back({__LINE__, std::string(bad) + " junk, 5\n|9\n", "rrr", {same, same, same}, bad_real_1});
  }
  rows.insert(rows.end(), {
      {__LINE__, "1 x 3\n|9\n", "rrr", {1, same, same}, "Bad real number in item 2 of list input"},
      {__LINE__, "1,2,3e\n|9\n", "rrr", {1, 2, same}, "Bad real number in item 3 of list input"},
      {__LINE__, "2*1 x\n|9\n", "rrr", {1, 1, same}, "Bad real number in item 3 of list input"},
      {__LINE__, "1e400\n|9\n", "r", {same}, range},
      {__LINE__, "1 -1e400 x\n|9\n", "rrr", {1, same, same}, range},
      {__LINE__, "1.7976931348623159e308\n|", "r", {same}, range},
      {__LINE__, "1e-400\n|", "r", {same}, range},
      // The host's conversion reports a result in the subnormal range as an underflow.
      {__LINE__, "1e-310\n|", "r", {same}, range},
      {__LINE__, "4.9406564584124654e-324\n|", "r", {same}, range},
      // Just below the smallest normal, rounding up to it: an underflow all the same.
      {__LINE__, "2.2250738585072012e-308\n|", "r", {same}, range},
      {__LINE__, "-2.2250738585072012e-308\n|", "r", {same}, range},
      {__LINE__, "2.2250738585072013e-308\n|", "r", {2.2250738585072014e-308}, ""},
  });
  // A subnormal written out exactly is no underflow; one digit off, it is.
  char exact[1200];
  std::snprintf(exact, sizeof exact, "%.760e", 0x1p-1074);
  const std::string printed = exact;
  std::string mantissa = printed.substr(0, printed.find('e'));
  mantissa.erase(mantissa.find_last_not_of('0') + 1);
  const std::string text = mantissa + printed.substr(printed.find('e'));
  rows.push_back({__LINE__, text + "\n|", "r", {0x1p-1074}, ""});
  std::string off = text;
  off[text.find('e') - 1] += 1;
  rows.push_back({__LINE__, off + "\n|", "r", {same}, range});
  check(rows);
}

TEST(ListRead, Integers) {
  check({
      {__LINE__, "1\n|", "i", {1}, ""},
      {__LINE__, "+1\n|", "i", {1}, ""},
      {__LINE__, "0 5\n|9\n", "i", {0}, ""},
      {__LINE__, "-0\n|", "i", {0}, ""},
      {__LINE__, "\n  \n\t2147483647\n|", "i", {2147483647}, ""},
      {__LINE__, "-2147483647,\n|9\n", "i", {-2147483647}, ""},
      {__LINE__, "000000000000000000000012\n|", "i", {12}, ""},
      {__LINE__, "1.0\n|9\n", "i", {same}, bad_int_1},
      {__LINE__, "yes\n|", "i", {same}, bad_int_1},
      {__LINE__, "1e3\n|", "i", {same}, bad_int_1},
      {__LINE__, ".5\n|", "i", {same}, bad_int_1},
      {__LINE__, "-\n|", "i", {same}, bad_int_1},
      {__LINE__, "1-2\n|", "i", {same}, bad_int_1},
      {__LINE__, "2147483648 x\n|9\n", "i", {same}, "Integer overflow while reading item 1"},
      {__LINE__, "-2147483648\n|", "i", {same}, "Integer overflow while reading item 1"},
      {__LINE__, "99999999999999999999999\n|", "i", {same}, "Integer overflow while reading item 1"},
      {__LINE__, "1.5 x\n|", "ri", {1.5, same}, "Bad integer for item 2 in list input"},
      {__LINE__, "1.5,-4294967297\n|", "ri", {1.5, same}, "Integer overflow while reading item 2"},
  });
}

TEST(ListRead, EndOfInput) {
  check({
      {__LINE__, "|", "r", {same}, eof},
      {__LINE__, " \t|", "i", {same}, eof},
      {__LINE__, "\n\n  \n|", "r", {same}, eof},
      {__LINE__, "5|", "r", {same}, eof},     // no line feed after complete values
      {__LINE__, "5 |", "r", {same}, eof},
      {__LINE__, "5\r|", "r", {same}, eof},
      {__LINE__, "5,|", "i", {same}, eof},
      {__LINE__, "1 2 3|", "rrr", {1, 2, same}, eof},
      {__LINE__, "1 2 3\r|", "rrr", {1, 2, same}, eof},
      {__LINE__, "1 2 3 4|", "rrr", {1, 2, 3}, eof},
      {__LINE__, "1/|", "rrr", {1, same, same}, eof},
      {__LINE__, "1\n/ x|", "rrr", {1, same, same}, eof},
      {__LINE__, "1 2\n|", "rrr", {1, 2, same}, eof},
      {__LINE__, "1,\n\n \n|", "rr", {1, same}, eof},
      {__LINE__, "1,2,\n,|", "rrr", {1, 2, same}, eof},
      {__LINE__, "2*|", "rrr", {same, same, same}, eof},
      {__LINE__, "1 2.5e|", "rrr", {1, same, same}, eof},
      {__LINE__, "abc def|", "r", {same}, eof},  // input ends while the bad line is discarded
      {__LINE__, "1e400 x|", "r", {same}, eof},
      {__LINE__, "1.0 y|", "i", {same}, eof},
  });
}

// The five reads of the dialogue, one after another on one stream.
TEST(ListRead, DialogueSequence) {
  const std::string reads = "r rrr r rr i";
  check({
      {__LINE__, "-1\n0 0 1\n5\n0 0\n1\n|", reads, {-1, 0, 0, 1, 5, 0, 0, 1}, ""},
      {__LINE__, "  -1 junk\n\n0,\n  0\n1 extra\n5/7\n/\n+0 more\n|next\n", reads,
       {-1, 0, 0, 1, 5, same, same, 0}, ""},
      {__LINE__, "2.5,3\n3*0.5\n\n-4 \n,0.1\n2*\n|", reads, {2.5, 0.5, 0.5, 0.5, -4, same, 0.1, same}, ""},
      {__LINE__, "1 2\n0.5/\n\n3*2 9\n4*\n-3\n|x\n", reads, {1, 0.5, same, same, 2, same, same, -3}, ""},
      {__LINE__, "1\n1 x 3\n|4\n", reads, {1, 1, same, same, same, same, same, same},
       "Bad real number in item 2 of list input"},
      {__LINE__, "1\n2 3 4\n5\n6 7\n|", reads, {1, 2, 3, 4, 5, 6, 7, same}, eof},
  });
}

// Value text far beyond its first room of 300 characters.
TEST(ListRead, LongValues) {
  const std::string zeros(1 << 20, '0');
  check({
      {__LINE__, zeros + "1.5 " + zeros + "\n|9\n", "rr", {1.5, 0}, ""},
      {__LINE__, "0." + std::string(1 << 20, '3') + "\n|", "r", {1.0 / 3.0}, ""},
      {__LINE__, "-" + zeros + "12\n|", "i", {-12}, ""},
      {__LINE__, zeros + "3*2\n|", "rrr", {2, 2, 2}, ""},
      {__LINE__, std::string(1 << 20, '9') + "*1\n|", "r", {same}, "Repeat count overflow in item 1 of list input"},
      {__LINE__, "1" + zeros + "\n|9\n", "r", {same}, range},
      {__LINE__, "1." + zeros + "x\n|9\n", "r", {same}, bad_real_1},
  });
}

// The companions' number texts (the general form of std::from_chars) through
// the reader's own scanner: where a number ends, and what it is. "|" marks the
// end; an empty value is refused with nothing taken.
TEST(ListRead, GeneralNumberTexts) {
  const struct {
    int line;
    std::string text;
    std::errc ec;
    double value;
  } rows[] = {
      {__LINE__, "1.5|", std::errc(), 1.5},
      {__LINE__, "-.5|", std::errc(), -0.5},
      {__LINE__, "5.|x", std::errc(), 5.0},
      {__LINE__, "1e3|x", std::errc(), 1000.0},
      {__LINE__, "2|e+", std::errc(), 2.0},        // an exponent without digits is not taken
      {__LINE__, "2|E", std::errc(), 2.0},
      {__LINE__, "1|d5", std::errc(), 1.0},        // D is the list form's letter only
      {__LINE__, "1|+5", std::errc(), 1.0},        // and so is a sign alone
      {__LINE__, "1.2|.3", std::errc(), 1.2},
      {__LINE__, "0|x10", std::errc(), 0.0},
      {__LINE__, "-Infinity|", std::errc(), -HUGE_VAL},
      {__LINE__, "1e400|", std::errc::result_out_of_range, 0.0},
      {__LINE__, "|+1", std::errc::invalid_argument, 0.0},
      {__LINE__, "|.", std::errc::invalid_argument, 0.0},
      {__LINE__, "|-", std::errc::invalid_argument, 0.0},
      {__LINE__, "|.e5", std::errc::invalid_argument, 0.0},
      {__LINE__, "| 1", std::errc::invalid_argument, 0.0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const std::size_t end = row.text.find('|');
    std::string text = row.text;
    text.erase(end, 1);
    double value = 0.0;
    const auto [ptr, ec] = textio::nearest_double(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(ec, row.ec);
    EXPECT_EQ(static_cast<std::size_t>(ptr - text.data()), end);
    if (ec == std::errc()) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(row.value));
    }
  }
}

}  // namespace
