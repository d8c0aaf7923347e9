// The built program, run as a user runs it: answers on standard input, the
// prompts, reports, exit status and both result files compared byte for byte.
#include <gtest/gtest.h>
#include <poll.h>

#include <Eigen/Eigenvalues>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <vector>

#include "support/dimerscan.hpp"
#include "sweep/hamiltonian.hpp"

namespace {

using support::Sandbox;
using Outcome = support::Run;

using support::p1, support::p2, support::p3, support::p4, support::p5, support::prompts,
    support::record, support::report, support::worked_input, support::worked10,
    support::worked20;

const std::string endless =
    "D1 sweep does not end: the step must be positive and give at most 2147483647 passes";

Outcome run(const Sandbox& box, const std::string& input) {
  return support::run_in(box, {.input = input});
}
Outcome run(const std::string& input, const std::vector<std::string>& args = {}) {
  Sandbox box;
  return support::run_in(box, {.input = input, .args = args});
}

using File = std::optional<std::string>;
const File none;

// Everything a run leaves, at once.
void expect_run(const Outcome& o, const std::string& out, const std::string& err, int status,
                const File& fort10, const File& fort20) {
  EXPECT_EQ(o.out, out);
  EXPECT_EQ(o.err, err);
  EXPECT_EQ(o.status, status);
  EXPECT_EQ(o.fort10, fort10);
  EXPECT_EQ(o.fort20, fort20);
}

// The D1 column (first 13 bytes) of every record.
std::vector<std::string> d1_column(const std::string& file) {
  std::vector<std::string> col;
  for (std::size_t at = 0; at + record <= file.size(); at += record)
    col.push_back(file.substr(at, 13));
  return col;
}

TEST(dimerscan, WorkedExampleWithAndWithoutArguments) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"-x", "fort.10", "--help", ""}}) {
    expect_run(run(worked_input, args), prompts, "", 0, worked10, worked20);
  }
}

// Every way of typing the worked example's answers gives its two files.
TEST(dimerscan, FreeFormAnswers) {
  const struct {
    int line;
    std::string input;
  } rows[] = {
      {__LINE__, "-1\n0\n0\n1\n5\n0\n0\n1\n"},               // one value a line
      {__LINE__, "-1\n0 0\n\n   \n1\n5\n0\n0\n1\n"},           // blank lines skipped
      {__LINE__, "-1\n0,0,1\n5\n0 , 0\n1\n"},                 // commas
      {__LINE__, "-1\n0,0,\n1\n5\n0,\n0\n1\n"},               // a comma ending the line
      {__LINE__, "-1\n2*0 1\n5\n2*0\n1\n"},                   // repeat counts
      {__LINE__, "-1\n,,1\n/\n/\n/\n"},                       // null values: 0.0, matz 1
      {__LINE__, "-1\n2*,1\n,\n,,\n,\n"},
      {__LINE__, "-1\r\n0 0 1\r\n5\r\n0 0\r\n1\r\n"},         // CR LF
      {__LINE__, "\t-1\t\n0\t0\t1\n5\n0 0\n1\n"},             // tabs
      {__LINE__, "-1 7 x\n0 0 1 9\n5 6\n0 0 3\n1 0\n"},       // extra values ignored
      {__LINE__, "-1,5\n0 0 1/ 8\n5\n0 0\n1\n"},              // a decimal comma, a slash
      {__LINE__, "-.1e1\n0.0 0d0 .1+1\n5\n-0 0.\n+1\n"},      // number forms
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    expect_run(run(row.input), prompts, "", 0, worked10, worked20);
  }
}

// Without exchange the gap is the Zeeman splitting of one level; a null J is 0.
TEST(dimerscan, NoExchange) {
  for (const std::string j : {"0", "/", ","}) {
    SCOPED_TRACE(j);
    const Outcome o = run(j + "\n0 0 1\n5\n0 0\n1\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.fort20, " 0.000000E+00  0.933720E-01\r\n");
    ASSERT_TRUE(o.fort10);
    EXPECT_EQ(d1_column(*o.fort10), std::vector<std::string>(16, " 0.000000E+00"));
  }
}

// Neither the eigenvector flag nor D2 changes a byte of the results.
TEST(dimerscan, FlagAndD2TakeNoPart) {
  const auto answers = [](const std::string& d2, const std::string& matz) {
    return "-1\n-1 1 0.5\n" + d2 + "\n0.1 -0.2\n" + matz + "\n";
  };
  const Outcome base = run(answers("5", "1"));
  EXPECT_EQ(base.status, 0);
  ASSERT_TRUE(base.fort10 && base.fort20);
  EXPECT_EQ(base.fort10->size(), 5 * 16 * record);
  EXPECT_EQ(base.fort20->size(), 5 * record);
  for (const auto& [d2, matz] : {std::pair{"5", "0"}, {"5", "-7"}, {"-300", "1"}, {"0", "0"}}) {
    SCOPED_TRACE(std::string(d2) + " " + matz);
    const Outcome o = run(answers(d2, matz));
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.fort10, base.fort10);
    EXPECT_EQ(o.fort20, base.fort20);
  }
}

// D1 runs over the range, an end that is met exactly getting its pass.
TEST(dimerscan, PassesOverTheRange) {
  const struct {
    int line;
    std::string range;
    std::vector<std::string> d1;
  } rows[] = {
      {__LINE__, "0.5 0.5 0.1", {" 0.500000E+00"}},
      {__LINE__, "0 1 0.25",
       {" 0.000000E+00", " 0.250000E+00", " 0.500000E+00", " 0.750000E+00", " 0.100000E+01"}},
      {__LINE__, "-1 -0.5 0.3", {" -.100000E+01", " -.700000E+00"}},
      // D1 grows with the counter although 1 + step rounds to 1 eleven times.
      {__LINE__, "1 1 1e-17", std::vector<std::string>(12, " 0.100000E+01")},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    const Outcome o = run("-1\n" + row.range + "\n5\n0 0\n1\n");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    ASSERT_TRUE(o.fort10 && o.fort20);
    EXPECT_EQ(d1_column(*o.fort20), row.d1);
    std::vector<std::string> each16;
    for (const std::string& d1 : row.d1) each16.insert(each16.end(), 16, d1);
    EXPECT_EQ(d1_column(*o.fort10), each16);
    EXPECT_EQ(o.fort10->size(), 16 * record * row.d1.size());
    if (row.d1.front() == " 0.000000E+00") {  // the first pass is the worked example
      EXPECT_EQ(o.fort10->substr(0, worked10.size()), worked10);
      EXPECT_EQ(o.fort20->substr(0, record), worked20);
    }
  }
}

// The sixteen levels of the pair for one pass, ascending, by Eigen's
// self-adjoint solver: a reference independent of our eigensolver.
std::vector<double> reference_levels(double J, double D1, double D2, double E1, double E2) {
  constexpr int n = 16;
  double ar[n * n], ai[n * n], w[n];
  sweep::build_spin_hamiltonian(J, D1, D2, E1, E2, ar, ai, w);
  Eigen::Matrix<std::complex<double>, n, n> a;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) a(i, j) = {ar[i + n * j], ai[i + n * j]};
  const Eigen::SelfAdjointEigenSolver<decltype(a)> solver(a, Eigen::EigenvaluesOnly);
  EXPECT_EQ(solver.info(), Eigen::Success);
  return {solver.eigenvalues().data(), solver.eigenvalues().data() + n};
}

// Every pass writes the levels of D1 on both ions with E1 = D1 E1/D1 and
// E2 = D1 E2/D2, ascending, and the gap of the third above the first; the D2
// answer takes no part. Six digits leave the field at most 5e-6 relative off.
TEST(dimerscan, LevelsOfEveryPass) {
  const double J = -0.8, ratio1 = 0.15, ratio2 = -0.25;
  const Outcome o = run("-0.8\n-2 2 0.5\n9\n0.15 -0.25\n0\n");
  ASSERT_EQ(o.status, 0);
  ASSERT_TRUE(o.fort10 && o.fort20);
  ASSERT_EQ(o.fort10->size(), 9 * 16 * record);
  ASSERT_EQ(o.fort20->size(), 9 * record);
  const auto near = [](const std::string& field, double want) {
    return std::fabs(std::stod(field) - want) <= 5e-6 * std::fabs(want) + 1e-12;
  };
  for (int pass = 0; pass < 9; ++pass) {
    const double D1 = -2 + 0.5 * pass;
    const std::vector<double> w = reference_levels(J, D1, D1, D1 * ratio1, D1 * ratio2);
    for (int i = 0; i < 16; ++i) {
      const std::string rec = o.fort10->substr((16 * pass + i) * record, record);
      EXPECT_TRUE(near(rec.substr(0, 13), D1) && near(rec.substr(15, 12), w[i])) << rec;
    }
    const std::string rec = o.fort20->substr(pass * record, record);
    EXPECT_TRUE(near(rec.substr(0, 13), D1) && near(rec.substr(15, 12), w[2] - w[0])) << rec;
  }
}

// Old result files: cut to this run's records, or left alone when no pass is made.
TEST(dimerscan, OldResultFiles) {
  for (const std::string& old : {std::string(5000, 'x'), std::string("old\n")}) {
    Sandbox box;
    support::put(box.dir() / "fort.10", old);
    support::put(box.dir() / "fort.20", old);
    expect_run(run(box, worked_input), prompts, "", 0, worked10, worked20);
  }
  for (const std::string range : {"1 0 0.5", "1 0 0", "1 0 -1", "0 -1e-300 1"}) {
    SCOPED_TRACE(range);
    const std::string input = "-1\n" + range + "\n5\n0 0\n1\n";
    expect_run(run(input), prompts, "", 0, none, none);
    Sandbox box;
    support::put(box.dir() / "fort.10", "old ten\r\n");
    support::put(box.dir() / "fort.20", "");
    expect_run(run(box, input), prompts, "", 0, "old ten\r\n", "");
  }
}

// A read that fails ends the run at its line, after the prompts so far, before any result.
TEST(dimerscan, ReadErrors) {
  const struct {
    int line;
    std::string input;
    int at;
    std::string shown, message;
  } rows[] = {
      {__LINE__, "", 43, p1, "End of file"},
      {__LINE__, "abc\n", 43, p1, "Bad real number in item 1 of list input"},
      {__LINE__, "1\n1 x 3\n", 47, p1 + p2, "Bad real number in item 2 of list input"},
      {__LINE__, "1\n0 0\n", 47, p1 + p2, "End of file"},
      {__LINE__, "1\n0 0 1\n1e400\n", 50, p1 + p2 + p3, "Range error during floating point read"},
      {__LINE__, "1\n0 0 1\n5\n0 1.5q0\n", 53, p1 + p2 + p3 + p4,
       "Bad real number in item 2 of list input"},
      {__LINE__, "1\n0 0 1\n5\n0 0", 53, p1 + p2 + p3 + p4, "End of file"},
      {__LINE__, "1\n0 0 1\n5\n0 0\nyes\n", 63, prompts, "Bad integer for item 1 in list input"},
      {__LINE__, "1\n0 0 1\n5\n0 0\n2147483648\n", 63, prompts,
       "Integer overflow while reading item 1"},
      {__LINE__, "1\n0 0 1\n5\n0 0\n300000000*1\n", 63, prompts,
       "Repeat count overflow in item 1 of list input"},
      {__LINE__, "1\n0 0 1\n5\n0 0\n1", 63, prompts, "End of file"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    expect_run(run(row.input), row.shown, report(row.at, row.message), 2, none, none);
  }
}

// A result file that cannot be opened ends the run at its statement; what
// was written before stays.
TEST(dimerscan, ResultFileIsADirectory) {
  for (const char* name : {"fort.10", "fort.20"}) {
    SCOPED_TRACE(name);
    Sandbox box;
    support::fs::create_directory(box.dir() / name);
    const Outcome o = run(box, worked_input);
    if (std::string(name) == "fort.10") {
      expect_run(o, prompts, report(265, "Is a directory"), 2, none, none);
    } else {
      expect_run(o, prompts, report(268, "Is a directory"), 2, worked10, none);
    }
  }
}

// A sweep that would not end before the pass counter runs out is refused at
// once: no further prompt, no result file touched.
TEST(dimerscan, EndlessSweepRefused) {
  for (const std::string range : {"0 1 0", "0 1 -0.25", "1 1 0", "0 1 1e-300", "5 5 -1",
                                  "1e308 1e308 1", "-1e300 1e300 1e290",
                                  "0 2147483647 1" /* pass 2147483648 would have D1 = D1max */}) {
    SCOPED_TRACE(range);
    Sandbox box;
    support::put(box.dir() / "fort.10", "old\r\n");
    expect_run(run(box, "1\n" + range + "\n5\n0 0\n1\n"), p1 + p2, report(47, endless), 2,
               "old\r\n", none);
  }
}

// Ranges that end in time go on to the next prompt; the input then ends
// there, so that a sweep of 2147483647 passes is accepted without being run.
TEST(dimerscan, SweepThatEndsInTimeAccepted) {
  for (const std::string range : {"0 2147483646 1", "2 1 0", "2 1 -1", "1 1 1e-17"}) {
    SCOPED_TRACE(range);
    expect_run(run("1\n" + range + "\n"), p1 + p2 + p3, report(50, "End of file"), 2, none, none);
  }
}

// A diagonalisation that fails ends the run instead of writing its energies;
// the passes before it keep their records. Huge values make the matrix
// overflow to infinities, whose levels are not finite (and on which the
// rational QL iteration cannot converge): both answers end alike.
TEST(dimerscan, FailedDiagonalisation) {
  const auto failed = [](int kpass) {
    return report(265, "Levels of pass " + std::to_string(kpass) +
                           " are not finite: the Hamiltonian is beyond the range of doubles");
  };
  expect_run(run("1e308\n0 0 1\n5\n0 0\n0\n"), prompts, failed(1), 2, none, none);

  const Outcome second = run("0\n0 1e308 1e308\n5\n0 0\n0\n");
  EXPECT_EQ(second.err, failed(2));
  EXPECT_EQ(second.status, 2);
  ASSERT_TRUE(second.fort10);
  EXPECT_EQ(d1_column(*second.fort10), std::vector<std::string>(16, " 0.000000E+00"));
  EXPECT_EQ(second.fort20, " 0.000000E+00  0.933720E-01\r\n");
}

TEST(dimerscan, LongSweepKeepsItsCount) {
  const Outcome o = run("-1\n0 20 0.001\n5\n0.1 0.1\n0\n");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  ASSERT_TRUE(o.fort10 && o.fort20);
  EXPECT_EQ(o.fort10->size(), 16 * 20001 * record);
  ASSERT_EQ(o.fort20->size(), 20001 * record);
  EXPECT_EQ(o.fort20->substr(20000 * record, 13), " 0.200000E+02");
  EXPECT_EQ(o.fort20->substr(19999 * record, 13), " 0.199990E+02");
  EXPECT_EQ(o.fort10->substr(o.fort10->size() - 16 * record, 13), " 0.200000E+02");
}

// Bytes from the terminal's master side until want.size() have come or 10 s pass.
std::string read_master(int fd, std::size_t want, int timeout_ms = 10000) {
  std::string got;
  char buf[256];
  while (got.size() < want) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) break;
    const ssize_t k = ::read(fd, buf, std::min(sizeof buf, want - got.size()));
    if (k <= 0) break;
    got.append(buf, static_cast<std::size_t>(k));
  }
  return got;
}

// On a terminal each prompt arrives whole before the program waits for its answer.
TEST(dimerscan, PromptsOnATerminal) {
  Sandbox box;
  const support::OnTerminal t = support::launch_on_terminal({.dir = box.dir()});
  ASSERT_GE(t.pid, 0) << std::strerror(errno);
  const int master = t.master;
  const pid_t pid = t.pid;
  const std::pair<std::string, std::string> dialogue[] = {
      {p1, "-1\n"}, {p2, "0 0 1\n"}, {p3, "5\n"}, {p4, "0 0\n"}, {p5, "1\n"}};
  for (const auto& [prompt, answer] : dialogue) {
    EXPECT_EQ(read_master(master, prompt.size()), prompt);
    EXPECT_EQ(read_master(master, 1, 200), "") << "nothing more before the answer";
    ASSERT_EQ(::write(master, answer.data(), answer.size()),
              static_cast<ssize_t>(answer.size()));
  }
  EXPECT_EQ(read_master(master, 1, 2000), "");  // nothing after the dialogue
  EXPECT_EQ(support::wait_for(pid, std::chrono::seconds(30)), 0);
  ::close(master);
  EXPECT_EQ(support::slurp(box.dir() / "fort.10"), worked10);
  EXPECT_EQ(support::slurp(box.dir() / "fort.20"), worked20);
}

}  // namespace
