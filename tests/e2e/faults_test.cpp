// The built program under faults of its surroundings: input that ends or is
// closed at every question, enormous values and lines, result files that
// cannot be made, a disk that fills, standard output closed or full. The run
// never crashes, and it never ends with status 0 while a result file is
// incomplete.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "support/dimerscan.hpp"
#include "support/tmpfs.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define DIMERSCAN_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DIMERSCAN_UNDER_ASAN 1
#endif
#endif

namespace {

namespace fs = support::fs;
using support::Sandbox;
using support::SmallDisk;

using support::p1, support::p2, support::p3, support::p4, support::p5, support::prompts,
    support::record, support::report, support::worked_input;

using In = support::Input;
using Out = support::Output;
using Result = support::Run;

// Runs dimerscan in box.dir() (or in dir, when given) with input arriving as
// asked.
Result launch(const Sandbox& box, const std::string& input, In in = In::file, Out out = Out::file,
              const fs::path& dir = {}) {
  return support::run_in(box, {.input = input, .in = in, .out = out, .dir = dir});
}

// The files of the worked example, taken from an undisturbed run.
const Result& worked() {
  static const Result r = [] {
    Sandbox box;
    return launch(box, worked_input);
  }();
  return r;
}

TEST(Faults, UndisturbedRunIsComplete) {
  const Result& r = worked();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, prompts);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(r.fort10 && r.fort20);
  EXPECT_EQ(r.fort10->size(), 16 * record);
  EXPECT_EQ(r.fort20->size(), record);
}

// The input ends before each of the five questions has its values, whether
// it comes from a file or from a pipe closed by its writer; a closed
// standard input ends at the first question. Nothing is written to a file.
TEST(Faults, InputEndsAtEveryQuestion) {
  const std::string answers[] = {"-1\n", "0 0 1\n", "5\n", "0 0\n"};
  const int lines[] = {43, 47, 50, 53, 63};
  const std::string shown[] = {p1, p1 + p2, p1 + p2 + p3, p1 + p2 + p3 + p4, prompts};
  for (In in : {In::file, In::pipe}) {
    std::string input;
    for (int k = 0; k < 5; ++k) {
      SCOPED_TRACE("question " + std::to_string(k + 1) + (in == In::pipe ? ", pipe" : ", file"));
      Sandbox box;
      const Result r = launch(box, input, in);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.out, shown[k]);
      EXPECT_EQ(r.err, report(lines[k], "End of file"));
      EXPECT_FALSE(r.fort10);
      EXPECT_FALSE(r.fort20);
      if (k < 4) input += answers[k];
    }
  }
  Sandbox box;
  const Result r = launch(box, worked_input, In::closed);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, p1);
  EXPECT_EQ(r.err, report(43, "End of file"));
  EXPECT_FALSE(r.fort10);
}

// Long lines and many lines before an answer change nothing.
TEST(Faults, BlankLinesBeforeTheAnswers) {
  const struct {
    const char* what;
    std::string before;
  } rows[] = {
      {"a line of 10 MB of blanks", std::string(10u << 20, ' ') + "\n"},
      {"100000 empty lines", std::string(100000, '\n')},
      {"100000 empty lines ended by CR LF", [] {
         std::string s;
         for (int i = 0; i < 100000; ++i) s += "\r\n";
         return s;
       }()},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox box;
    const Result r = launch(box, row.before + worked_input, In::pipe);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, prompts);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.fort10, worked().fort10);
    EXPECT_EQ(r.fort20, worked().fort20);
  }
}

// One value of 100 MB: digits read whole, then refused as beyond the range
// of doubles, with memory of a few times its size; a value bad at its first
// character is refused without being kept. The test writes the input file
// piece by piece, so that the child starts small.
TEST(Faults, HundredMegabyteValue) {
  const std::size_t size = 100u << 20;
  const struct {
    const char* what;
    std::string before;
    char body;
    std::string after, message;
    long peak_limit_kib;
  } rows[] = {
      {"digits", "", '7', "", "Range error during floating point read", 4 * static_cast<long>(size >> 10)},
      {"digits and a letter", "", '7', "x", "Bad real number in item 1 of list input",
       4 * static_cast<long>(size >> 10)},
      {"a letter and digits", "x", '7', "", "Bad real number in item 1 of list input", 20 << 10},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox box;
    const fs::path input = box.root() / "input";
    {
      std::ofstream file(input, std::ios::binary);
      file << row.before;
      const std::string piece(1u << 20, row.body);
      for (std::size_t at = 0; at < size; at += piece.size()) file << piece;
      file << row.after << "\n0 0 1\n5\n0 0\n1\n";
    }
    const Result r = support::run_in(box, {.input_file = input});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, p1);
    EXPECT_EQ(r.err, report(43, row.message));
    EXPECT_FALSE(r.fort10);
#ifdef DIMERSCAN_UNDER_ASAN
    // The program is built with the address checks too: its memory is theirs.
#else
    EXPECT_LT(r.peak_kib, row.peak_limit_kib) << "peak " << r.peak_kib << " KiB";
#endif
  }
}

// A result file that cannot be created ends the run at its statement with
// the host's reason; fort.10 a directory is the program's own test.
TEST(Faults, ResultFilesInAReadOnlyDirectory) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop root";
  Sandbox box;
  fs::permissions(box.dir(), fs::perms::owner_read | fs::perms::owner_exec);
  const Result r = launch(box, worked_input);
  fs::permissions(box.dir(), fs::perms::owner_all);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, prompts);
  EXPECT_EQ(r.err, report(265, "Permission denied"));
  EXPECT_FALSE(r.fort10);
}

// Whatever happens, a run that ends with status 0 has complete files: 16
// records of fort.10 per record of fort.20.
void expect_no_silent_loss(const Result& r) {
  if (r.status != 0) return;
  ASSERT_TRUE(r.fort10 && r.fort20);
  EXPECT_EQ(r.fort10->size() % record, 0u);
  EXPECT_EQ(r.fort10->size(), 16 * r.fort20->size());
}

// The disk fills while the sweep runs: the write that fails ends the run at
// its statement, status 2; what was written before stays.
TEST(Faults, DiskFullDuringTheSweep) {
  Sandbox box;
  SmallDisk disk(box.root() / "disk", "64k");
  if (!disk.mounted()) GTEST_SKIP() << disk.refused();
  disk.fill_up_to(16 << 10);
  // 101 passes: 46864 bytes of fort.10, far beyond the 16 KiB left.
  const Result r = launch(box, "-1\n0 1 0.01\n5\n0.1 0.2\n0\n", In::file, Out::file, box.root() / "disk");
  expect_no_silent_loss(r);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, prompts);
  // fort.20's record, still in its buffer, cannot be written out either.
  EXPECT_EQ(r.err, report(265, "fort.10: No space left on device") +
                       "Fortran runtime error: fort.20: No space left on device\n");
  ASSERT_TRUE(r.fort10);
  EXPECT_EQ(r.fort10->size() % 8192, 0u) << "whole windows are written before the failure";
  EXPECT_LT(r.fort10->size(), 101 * 16 * record);
}

// The disk is already full: the records fit the buffers, and the failure
// comes when they are written out at the end of the run.
TEST(Faults, DiskFullAtTheEndOfTheRun) {
  Sandbox box;
  SmallDisk disk(box.root() / "disk", "64k");
  if (!disk.mounted()) GTEST_SKIP() << disk.refused();
  disk.fill_up_to(0);
  const Result r = launch(box, worked_input, In::file, Out::file, box.root() / "disk");
  expect_no_silent_loss(r);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, prompts);
  EXPECT_EQ(r.err, "Fortran runtime error: fort.10: No space left on device\n"
                   "Fortran runtime error: fort.20: No space left on device\n");
}

// Prompts that cannot be shown do not stop the sweep: the result files are
// complete and the status says so.
TEST(Faults, StandardOutputClosedOrFull) {
  for (Out out : {Out::closed, Out::full}) {
    SCOPED_TRACE(out == Out::closed ? "closed" : "/dev/full");
    Sandbox box;
    const Result r = launch(box, worked_input, In::file, out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.fort10, worked().fort10);
    EXPECT_EQ(r.fort20, worked().fort20);
  }
}

}  // namespace
