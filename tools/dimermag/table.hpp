// Measured data: a table with a header row naming its columns, values
// separated by blanks, tabs or commas; lines starting with '#' and empty
// lines are skipped.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace mag {

// What a table holds: chiT or chi against T, or M against B.
enum class Quantity { chiT, chi, M };

// The name of the quantity's column ("chiT", "chi", "M") and of its abscissa
// ("T", "T", "B").
const char* quantity_name(Quantity q);
const char* abscissa_name(Quantity q);

struct Table {
  Quantity q = Quantity::chiT;
  std::vector<double> x, y;          // abscissa and quantity, row by row
  std::vector<std::size_t> line;     // the line of each row in the file
};

// Reads the table from text, the contents of file (named in messages). The
// columns T and chiT are taken when there are both, else T and chi, else B
// and M; other columns are ignored. Throws common::InputError "FILE, line N:
// ..." for a missing column, a row of another length than the header, a value
// that is not a finite number, T <= 0, B < 0, or no row at all.
Table read_table(const std::string& file, const std::string& text);

// The shortest decimal that reads back as v ("0.1", "-2.5", "1.9799999999999999e-05").
std::string shortest(double v);

}  // namespace mag
