#include "support/files.hpp"
#include "textio/report.hpp"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "textio/statements.hpp"

namespace {

using support::slurp;
using support::spit;
using support::TempDir;

struct Outcome {
  int status;  // exit status, or minus the signal that ended the child
  std::string err;
};

// Runs body in a child process with standard input and output on /dev/null
// and standard error on a pipe. Body must end the process itself.
template <typename Body>
Outcome in_child(Body body) {
  int err[2];
  EXPECT_EQ(::pipe(err), 0);
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::close(err[0]);
    body();
    ::_exit(99);
  }
  ::close(err[1]);
  Outcome outcome{};
  char buf[4096];
  ssize_t n;
  while ((n = ::read(err[0], buf, sizeof buf)) > 0) outcome.err.append(buf, n);
  ::close(err[0]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  outcome.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);
  return outcome;
}

// Runs the program in the current directory with input on standard input;
// standard output goes to the file stdout.txt.
Outcome run_dimerscan(const std::string& input) {
  const char* program = std::getenv("DIMERSCAN");
  spit("stdin.txt", input);
  return in_child([program] {
    ::dup2(::open("stdin.txt", O_RDONLY), STDIN_FILENO);
    ::dup2(::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::execl(program, program, static_cast<char*>(nullptr));
    ::_exit(98);
  });
}

const std::string prompts[] = {
    " Enter the value for J (cm-1) :\r\n",
    " Enter values for D1min, D1max (cm-1), and  the step size :\r\n",
    " Enter value for D2 (cm-1):\r\n",
    " Enter values for E1/D1 and E2/D2:\r\n",
    " Do you want to see the eigenvectors?\r\n (1 = yes, 0 = no):\r\n",
};
std::string first_prompts(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += prompts[i];
  return text;
}

// One pass at D1 = 0 with J = -1: the sixteen levels and the gap.
const char* const one_pass = "-1\n0 0 1\n5\n0 0\n1\n";
const std::string levels = [] {
  std::string text;
  for (const char* e : {"-.750000E+01", "-.559337E+01", "-.550000E+01", "-.540663E+01",
                        "-.168674E+01", "-.159337E+01", "-.150000E+01", "-.140663E+01",
                        "-.131326E+01", "0.421988E+01", "0.431326E+01", "0.440663E+01",
                        "0.450000E+01", "0.459337E+01", "0.468674E+01", "0.478012E+01"}) {
    text += std::string(" 0.000000E+00  ") + e + "\r\n";
  }
  return text;
}();
const std::string gap = " 0.000000E+00  0.200000E+01\r\n";

const char* const absent = "(absent)";
const char* const unchecked = "(unchecked)";

void expect_file(const char* path, const std::string& expected) {
  SCOPED_TRACE(path);
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
       "Fortran runtime error: fort.10: No space left on device\n", 2, unchecked, gap,
       first_prompts(5)},
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
    TempDir dir;
    if (row.setup == old_fort10) spit("fort.10", "old\r\n");
    if (row.setup == dir_fort10) {
      ASSERT_EQ(::mkdir("fort.10", 0755), 0);
    }
    if (row.setup == dir_fort20) {
      ASSERT_EQ(::mkdir("fort.20", 0755), 0);
    }
    if (row.setup == full_fort10) {
      ASSERT_EQ(::symlink("/dev/full", "fort.10"), 0);
    }
    const Outcome outcome = run_dimerscan(row.input);
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    expect_file("fort.10", row.fort10);
    expect_file("fort.20", row.fort20);
    expect_file("stdout.txt", row.out);
  }
}

// A small file system of its own, mounted for the test where the machine allows.
class Tmpfs {
 public:
  explicit Tmpfs(const char* options) {
    if (::geteuid() != 0) {
      refused_ = "mounting needs root";
      return;
    }
    char name[] = "/tmp/report_tmpfs.XXXXXX";
    if (::mkdtemp(name) == nullptr) {
      refused_ = std::string("no mount point: ") + std::strerror(errno);
      return;
    }
    path_ = name;
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options) != 0) {
      refused_ = std::string("mount refused: ") + std::strerror(errno);
    }
  }
  ~Tmpfs() {
    if (path_.empty()) return;
    if (refused_.empty() && ::umount2(path_.c_str(), 0) != 0) ::umount2(path_.c_str(), MNT_DETACH);
    ::rmdir(path_.c_str());
  }
  const std::string& refused() const { return refused_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_, refused_;
};

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
    Tmpfs disk("size=8k");
    if (!disk.refused().empty()) {
      GTEST_SKIP() << disk.refused();
    }
    const auto old = std::filesystem::current_path();
    std::filesystem::current_path(disk.path());
    const Outcome outcome = in_child([&row] {
      textio::start_run();
      textio::Format f6;
      textio::compile_format(f6, "(1x,e12.6,2x,e12.6)");
      for (int i = 0; i < row.records; ++i) textio::write(line_265, 10, f6, {0.0, -7.5});
      textio::end_run(textio::exit_normal);
    });
    const std::string written = slurp("fort.10");
    std::filesystem::current_path(old);
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
    TempDir dir;
    const Outcome outcome = in_child([&row] {
      textio::start_run();
      textio::Format f6;
      textio::compile_format(f6, "(1x,e12.6,2x,e12.6)");
      textio::write(line_265, 10, f6, {0.0, -7.5});
      row.end();
    });
    EXPECT_EQ(outcome.err, row.err);
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(slurp("fort.10"), record);
  }
}

}  // namespace
