// The built program under faults of its surroundings: input that ends or is
// closed at every question, enormous values and lines, result files that
// cannot be made, a disk that fills, standard output closed or full. The run
// never crashes, and it never ends with status 0 while a result file is
// incomplete.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "run.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define DIMERSCAN_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DIMERSCAN_UNDER_ASAN 1
#endif
#endif

namespace {

namespace fs = e2e::fs;
using e2e::Sandbox;

using e2e::p1, e2e::p2, e2e::p3, e2e::p4, e2e::p5, e2e::prompts, e2e::record, e2e::report;

// How standard input and output reach the program.
enum class In { file, pipe, closed };
enum class Out { file, closed, full };

struct Result {
  std::string out, err;
  int status = -1;  // exit status, or minus the signal that ended the run
  long peak_kib = 0;
  std::optional<std::string> fort10, fort20;
};

// Runs dimerscan in box.dir() (or in dir, when given) with input arriving as
// asked; a pipe is written whole and then closed.
Result launch(const Sandbox& box, const std::string& input, In in = In::file, Out out = Out::file,
        const fs::path& dir = {}) {
  const fs::path work = dir.empty() ? box.dir() : dir;
  const fs::path in_file = box.root() / "stdin", out_file = box.root() / "stdout",
                 err_file = box.root() / "stderr";
  e2e::put(in_file, input);
  int pipe_fds[2] = {-1, -1};
  if (in == In::pipe && ::pipe(pipe_fds) != 0) ADD_FAILURE() << "pipe";
  const std::string exe = e2e::program();

  const pid_t pid = ::fork();
  if (pid == 0) {
    // Everything is opened before anything is closed, so that no new file
    // takes the number of a stream meant to stay closed.
    const int fd_err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int fd_in = in == In::pipe ? pipe_fds[0] : ::open(in_file.c_str(), O_RDONLY);
    const int fd_out = out == Out::full
                           ? ::open("/dev/full", O_WRONLY)
                           : ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd_err < 0 || fd_in < 0 || fd_out < 0 || ::chdir(work.c_str()) != 0) ::_exit(126);
    ::dup2(fd_err, 2);
    ::dup2(fd_in, 0);
    ::dup2(fd_out, 1);
    for (int fd : {fd_err, fd_in, fd_out, pipe_fds[1]}) {
      if (fd > 2) ::close(fd);
    }
    if (in == In::closed) ::close(0);
    if (out == Out::closed) ::close(1);
    const rlimit fsize{e2e::file_limit, e2e::file_limit};
    ::setrlimit(RLIMIT_FSIZE, &fsize);
    const char* argv[] = {exe.c_str(), nullptr};
    ::execv(exe.c_str(), const_cast<char* const*>(argv));
    ::_exit(127);
  }
  if (in == In::pipe) {
    ::close(pipe_fds[0]);
    // The reader may stop early; a write into a pipe it closed must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    for (std::size_t at = 0; at < input.size();) {
      const ssize_t n = ::write(pipe_fds[1], input.data() + at, input.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(pipe_fds[1]);
  }
  int wstatus = 0;
  rusage usage{};
  ::wait4(pid, &wstatus, 0, &usage);
  Result r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);
  r.peak_kib = usage.ru_maxrss;
  r.out = e2e::slurp(out_file).value_or("");
  r.err = e2e::slurp(err_file).value_or("");
  r.fort10 = e2e::slurp(work / "fort.10");
  r.fort20 = e2e::slurp(work / "fort.20");
  return r;
}

// J = -1, one pass at D1 = 0: sixteen records in fort.10, one in fort.20.
const std::string worked_input = "-1\n0 0 1\n5\n0 0\n1\n";

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

// One value of 100 MB of digits: read whole, then refused as beyond the
// range of doubles, with memory of a few times its size.
TEST(Faults, HundredMegabyteValue) {
  const std::size_t size = 100u << 20;
  const struct {
    const char* what;
    std::string value;
    std::string message;
  } rows[] = {
      {"digits", std::string(size, '7'), "Range error during floating point read"},
      {"digits and a letter", std::string(size, '7') + "x", "Bad real number in item 1 of list input"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox box;
    const Result r = launch(box, row.value + "\n0 0 1\n5\n0 0\n1\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, p1);
    EXPECT_EQ(r.err, report(43, row.message));
    EXPECT_FALSE(r.fort10);
#ifdef DIMERSCAN_UNDER_ASAN
    // The program is built with the address checks too: its memory is theirs.
#else
    EXPECT_LT(r.peak_kib, 4 * static_cast<long>(size >> 10)) << "peak " << r.peak_kib << " KiB";
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

// A small file system of its own, for a disk that fills: tmpfs mounted in
// the sandbox, or nothing where this process may not mount.
class SmallDisk {
 public:
  SmallDisk(const fs::path& at, const char* size) : at_(at) {
    fs::create_directory(at_);
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }
  // Fills the file system up to the last free bytes.
  void fill_up_to(std::size_t leave) {
    const fs::space_info space = fs::space(at_);
    const std::size_t take = space.available > leave ? space.available - leave : 0;
    e2e::put(at_ / "filler", std::string(take, 'x'));
  }

 private:
  fs::path at_;
  bool mounted_ = false;
};

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
  if (!disk.mounted()) GTEST_SKIP() << "tmpfs cannot be mounted here";
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
  if (!disk.mounted()) GTEST_SKIP() << "tmpfs cannot be mounted here";
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
