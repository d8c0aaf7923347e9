// The sweep's records laid straight into the window against the general
// record walk of the text layer: the same bytes, record for record, for
// values of every kind of field and across every window boundary, the first
// record of a file and every record that does not fit the window's rest
// taking the general walk.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "support/files.hpp"
#include "sweep/records.hpp"
#include "textio/efield.hpp"
#include "textio/format.hpp"
#include "textio/platform.hpp"
#include "textio/record.hpp"

namespace {

TEST(SweepRecords, LaidRecordsHaveTheBytesOfTheGeneralWalk) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double values[] = {0.0, -0.0, 1.0, -7.5, 0.421988e1, 1e100, -1e-100, 9.9999995e9,
                           5e-324, 1.7976931348623157e308, inf, -inf,
                           std::numeric_limits<double>::quiet_NaN(), 0.05, -123456.5};
  support::Sandbox box;
  support::InDir here(box.dir());
  textio::Format f6;
  std::string error;
  ASSERT_TRUE(f6.parse("(1x,e12.6,2x,e12.6)", &error)) << error;
  int laid = 0, walked = 0;
  {
    textio::UnitTable units(textio::platform::standard_handles());
    textio::RecordWriter records(units);
    // Enough records for several windows, whose size is no multiple of a record's.
    for (int k = 0; k < 3000; ++k) {
      const double D1 = values[k % std::size(values)] * (k / std::size(values) + 1);
      const double v = values[(k * 7 + 3) % std::size(values)];
      const double pair[2] = {D1, v};
      ASSERT_FALSE(records.write(10, f6, pair));
      char d1[sweep::field_width];
      textio::format_e_field(d1, D1, sweep::field_width, sweep::field_digits);
      if (sweep::lay_record(units.find(11), d1, v)) {
        ++laid;
      } else {
        ++walked;
        ASSERT_FALSE(records.write(11, f6, pair));
      }
    }
    ASSERT_EQ(units.find(10)->close(), 0);
    ASSERT_EQ(units.find(11)->close(), 0);
  }
  const auto general = support::slurp("fort.10");
  const auto straight = support::slurp("fort.11");
  ASSERT_TRUE(general && straight);
  EXPECT_EQ(general->size(), 3000u * (sweep::record_size + 2));
  EXPECT_EQ(*straight, *general);
  // The first record and one at each window boundary take the general walk.
  const int windows = static_cast<int>(general->size() / textio::window_size);
  EXPECT_EQ(walked, 1 + windows);
  EXPECT_EQ(laid, 3000 - walked);
}

// Nothing is laid where the connection must take its steps: no connection yet.
TEST(SweepRecords, NoConnectionTakesTheGeneralWalk) {
  char d1[sweep::field_width];
  textio::format_e_field(d1, 1.0, sweep::field_width, sweep::field_digits);
  EXPECT_FALSE(sweep::lay_record(nullptr, d1, 2.0));
}

}  // namespace
