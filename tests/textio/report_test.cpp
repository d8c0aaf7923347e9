#include "textio/run.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/dimerscan.hpp"
#include "support/tmpfs.hpp"
#include "textio/platform.hpp"
#include "textio/statements.hpp"

namespace {

using support::Sandbox;
using support::slurp;

// As the process entry does: a run-time context on the standard streams,
// installed for the rest of the child process.
void start_run() {
  textio::prepare_process();
  static textio::Runtime runtime(textio::platform::standard_handles());
  textio::install(&runtime);
}

std::string first_prompts(int n) {
  const std::string* const each[] = {&support::p1, &support::p2, &support::p3, &support::p4,
                                     &support::p5};
  std::string text;
  for (int i = 0; i < n; ++i) text += *each[i];
  return text;
}

const std::string& one_pass = support::worked_input;
const std::string& levels = support::worked10;
const std::string& gap = support::worked20;

const char* const absent = "(absent)";
const char* const unchecked = "(unchecked)";

void expect_file(const std::filesystem::path& path, const std::string& expected) {
  SCOPED_TRACE(path.string());
  if (expected == unchecked) return;
  if (expected == absent) {
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
  } else {
    EXPECT_EQ(slurp(path), expected);
  }
}

TEST(report, WholeRuns) {
  enum Setup { nothing, old_fort10, dir_fort10, dir_fort20, full_fort10 };
  struct Row {
    int line;
    Setup setup;
    std::string input, err;
    int status;
    std::string fort10, fort20, out;
  } rows[] = {
      {__LINE__, nothing, one_pass, "", 0, levels, gap, first_prompts(5)},
      {__LINE__, old_fort10, "-1\n1 0 1\n5\n0 0\n1\n", "", 0, "old\r\n", absent,
       first_prompts(5)},  // no pass: the old file stays as it was
      {__LINE__, dir_fort10, one_pass,
       "At line 265 of file dimerscan\nFortran runtime error: Is a directory\n", 2, unchecked,
       absent, first_prompts(5)},
      {__LINE__, dir_fort20, one_pass,
       "At line 268 of file dimerscan\nFortran runtime error: Is a directory\n", 2, levels,
       unchecked, first_prompts(5)},
      {__LINE__, full_fort10, one_pass,
       "Fortran runtime error: fort.10: No space left on device\n", 2, unchecked, "",
       first_prompts(5)},  // fort.20 cut back to the no pass that fort.10 holds
      {__LINE__, nothing, "", "At line 43 of file dimerscan\nFortran runtime error: End of file\n",
       2, absent, absent, first_prompts(1)},
      {__LINE__, nothing, "-1\n0 0 1\nabc\n",
       "At line 50 of file dimerscan\n"
       "Fortran runtime error: Bad real number in item 1 of list input\n",
       2, absent, absent, first_prompts(3)},
  };
  ASSERT_NE(std::getenv("DIMERSCAN"), nullptr) << "DIMERSCAN names the program";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Sandbox box;
    const auto fort10 = box.dir() / "fort.10", fort20 = box.dir() / "fort.20";
    if (row.setup == old_fort10) support::put(fort10, "old\r\n");
    if (row.setup == dir_fort10) {
      ASSERT_EQ(::mkdir(fort10.c_str(), 0755), 0);
    }
    if (row.setup == dir_fort20) {
      ASSERT_EQ(::mkdir(fort20.c_str(), 0755), 0);
    }
    if (row.setup == full_fort10) {
      ASSERT_EQ(::symlink("/dev/full", fort10.c_str()), 0);
    }
    const support::Run outcome = support::run_in(box, {.input = row.input});
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    expect_file(fort10, row.fort10);
    expect_file(fort20, row.fort20);
    EXPECT_EQ(outcome.out, row.out);
  }
}

constexpr textio::Location line_265{"dimerscan", 265};
const std::string record = " 0.000000E+00  -.750000E+01\r\n";  // 29 bytes

// fort.10 on a file system with room for 8192 bytes. The first 282 records go
// out whole with the 283rd statement; the next write-out, during the run or at
// its end, meets the full disk.
TEST(report, FullDisk) {
  struct Row {
    int line;
    int records;
    const char* err;
  } rows[] = {
      {__LINE__, 600,
       "At line 265 of file dimerscan\n"
       "Fortran runtime error: fort.10: No space left on device\n"},
      {__LINE__, 300, "Fortran runtime error: fort.10: No space left on device\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Sandbox box;
    support::SmallDisk disk(box.root() / "disk", "8k");
    if (!disk.mounted()) {
      GTEST_SKIP() << disk.refused();
    }
    const support::Run outcome = support::run_in(box, {.dir = disk.path(), .body = [&row] {
      start_run();
      textio::Format f6;
      textio::compile_format(f6, "(1x,e12.6,2x,e12.6)");
      for (int i = 0; i < row.records; ++i) textio::write(line_265, 10, f6, {0.0, -7.5});
      textio::end_run(textio::exit_normal);
    }});
    const std::string written = outcome.fort10.value_or("");
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, textio::exit_statement_failed);
    std::string whole;
    for (int i = 0; i < 282; ++i) whole += record;
    EXPECT_EQ(written.substr(0, whole.size()), whole);
    EXPECT_LE(written.size(), 8192u);
  }
}

void report_eof() {
  textio::report_failure({"dimerscan", 43}, {textio::ErrorKind::end_of_file, {}});
}

// Each way of ending the run, after one record to fort.10, which the exit
// processing still writes out. The last row reports from inside the exit
// processing of a report: the guard ends the process with status 4 and
// prints nothing more.
TEST(report, EndingsOfTheRun) {
  using textio::ErrorKind;
  struct Row {
    int line;
    void (*end)();
    const char* err;
    int status;
  } rows[] = {
      {__LINE__, report_eof, "At line 43 of file dimerscan\nFortran runtime error: End of file\n",
       2},
      {__LINE__, [] { textio::report_failure({"dimerscan", 265}, {ErrorKind::end_of_record, {}}); },
       "At line 265 of file dimerscan\nFortran runtime error: End of record\n", 2},
      {__LINE__, [] { textio::report_failure({"dimerscan", 63}, {ErrorKind::bad_value, {}}); },
       "At line 63 of file dimerscan\nFortran runtime error: Bad value during read\n", 2},
      {__LINE__,
       [] {
         textio::report_failure({"dimerscan", 53},
                                {ErrorKind::bad_value, "Zero repeat count in item 2 of list input"});
       },
       "At line 53 of file dimerscan\n"
       "Fortran runtime error: Zero repeat count in item 2 of list input\n",
       2},
      {__LINE__, [] { textio::report_failure({nullptr, 0}, textio::os_error(ENOSPC)); },
       "Fortran runtime error: No space left on device\n", 2},
      {__LINE__, textio::report_out_of_memory,
       "Operating system error: Cannot allocate memory\nMemory allocation failed\n", 1},
      {__LINE__, [] { textio::report_internal_error("unit table lost"); },
       "Internal Error: unit table lost\n", 3},
      {__LINE__, [] { textio::end_run(textio::exit_normal); }, "", 0},
      {__LINE__,
       [] {
         std::atexit(report_eof);
         textio::report_failure({"dimerscan", 268}, {ErrorKind::end_of_record, {}});
       },
       "At line 268 of file dimerscan\nFortran runtime error: End of record\n", 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Sandbox box;
    const support::Run outcome = support::run_in(box, {.body = [&row] {
      start_run();
      textio::Format f6;
      textio::compile_format(f6, "(1x,e12.6,2x,e12.6)");
      textio::write(line_265, 10, f6, {0.0, -7.5});
      row.end();
    }});
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.fort10, record);
  }
}

}  // namespace
