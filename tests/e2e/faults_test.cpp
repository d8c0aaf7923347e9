// The built program under faults of its surroundings: input that ends or is
// closed at every question, enormous values and lines, result files that
// cannot be made, a disk that fills, standard output closed or full, result
// files shared with another run or with standard output, interrupts, a file
// size limit, a small stack, FIFOs and devices as result files. The run never crashes or
// hangs, and it never ends with status 0 while a result file is incomplete.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
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

// After a failed write, both files hold the same whole passes: 16 records
// of fort.10 for each of fort.20.
void expect_whole_passes(const Result& r) {
  ASSERT_TRUE(r.fort10 && r.fort20);
  EXPECT_EQ(r.fort20->size() % record, 0u);
  EXPECT_EQ(r.fort10->size(), 16 * r.fort20->size());
}

// The disk fills while the sweep runs: the write that fails ends the run at
// its statement, status 2; both files are cut back to the passes both hold.
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
  expect_whole_passes(r);
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

// A sweep far longer than any test waits for: 1e8 passes.
const std::string endless_input = "-1\n0 100000 0.001\n5\n0.1 0.2\n0\n";

// Another run's hold on a result file: the file, opened and locked as a run
// holds it. Also the read end of a FIFO, opened without waiting for a writer.
struct Held {
  int fd = -1;
  Held() = default;
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (fd >= 0) ::close(fd);
  }
  void lock(const fs::path& file) {
    support::put(file, "old\r\n");
    fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  }
  void read_fifo(const fs::path& file) {
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
  }
  // Reads what the writer sends, keep bytes at most or to its end; then
  // stops reading, as a reader that quits does.
  std::string take(std::size_t keep) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (support::read_into(fd, got, keep, 10) && std::chrono::steady_clock::now() < deadline) {
    }
    ::close(fd);
    fd = -1;
    return got;
  }
};

// Where the program would write over records, or cut them into another's:
// a result file locked by another run, or the same file as standard input,
// output or error or as the other result file, ends the run with status 2
// at that file's first record, the file as it was, never in a hang. A device
// may be shared.
TEST(Faults, ResultFileSharedWithAnotherWriter) {
  const std::string old = "old\r\n";
  struct Row {
    const char* what;
    std::function<void(const fs::path& dir, Held& held, support::Launch& l)> prepare;
    int status;
    std::string err;
    std::optional<std::string> fort10, fort20;  // nullopt: no regular file there
    bool check_fort10 = true;
  } rows[] = {
      {"fort.10 locked by another run", [](auto& dir, Held& held, auto&) { held.lock(dir / "fort.10"); },
       2, report(265, "fort.10: another run is writing this file"), old, std::nullopt},
      {"fort.20 locked by another run", [](auto& dir, Held& held, auto&) { held.lock(dir / "fort.20"); },
       2, report(268, "fort.20: another run is writing this file"), support::worked10, old},
      {"standard output is fort.10", [](auto& dir, Held&, auto& l) { l.output_file = dir / "fort.10"; },
       2, report(265, "fort.10: the same file as standard output"), prompts, std::nullopt},
      {"standard output is fort.20", [](auto& dir, Held&, auto& l) { l.output_file = dir / "fort.20"; },
       2, report(268, "fort.20: the same file as standard output"), support::worked10, prompts},
      {"fort.20 a symbolic link to fort.10",
       [](auto& dir, Held&, auto&) { fs::create_symlink("fort.10", dir / "fort.20"); }, 2,
       report(268, "fort.20: the same file as fort.10"), support::worked10, support::worked10},
      {"fort.20 a hard link to fort.10",
       [&](auto& dir, Held&, auto&) {
         support::put(dir / "fort.10", old);
         fs::create_hard_link(dir / "fort.10", dir / "fort.20");
       },
       2, report(268, "fort.20: the same file as fort.10"), support::worked10, support::worked10},
      {"fort.10 a link to /dev/stdout, standard output a file",
       [](auto& dir, Held&, auto&) { fs::create_symlink("/dev/stdout", dir / "fort.10"); }, 2,
       report(265, "fort.10: the same file as standard output"), {}, std::nullopt, false},
      {"fort.10 a link to /dev/stdout, standard output piped into a reader that quits",
       [](auto& dir, Held&, auto& l) {
         fs::create_symlink("/dev/stdout", dir / "fort.10");
         l.out = Out::pipe;
         l.out_keep = 10;
       },
       2, report(265, "fort.10: the same file as standard output"), {}, std::nullopt, false},
      {"standard input is fort.10",
       [&](auto& dir, Held&, auto& l) {
         support::put(dir / "fort.10", worked_input);
         l.input_file = dir / "fort.10";
       },
       2, report(265, "fort.10: the same file as standard input"), worked_input, std::nullopt},
      {"fort.10 a link to /proc/self/fd/0, standard input a pipe",
       [](auto& dir, Held&, auto& l) {
         fs::create_symlink("/proc/self/fd/0", dir / "fort.10");
         l.in = In::pipe;
       },
       2, report(265, "fort.10: the same file as standard input"), {}, std::nullopt, false},
      {"standard error is fort.10",
       [](auto& dir, Held&, auto&) { fs::create_hard_link(dir.parent_path() / "stderr", dir / "fort.10"); },
       2, report(265, "fort.10: the same file as standard error"),
       report(265, "fort.10: the same file as standard error"), std::nullopt},
      {"both files and standard output on /dev/null",
       [](auto& dir, Held&, auto& l) {
         fs::create_symlink("/dev/null", dir / "fort.10");
         fs::create_symlink("/dev/null", dir / "fort.20");
         l.output_file = "/dev/null";
       },
       0, "", std::nullopt, std::nullopt},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Sandbox box;
    support::put(box.root() / "stderr", "");
    Held held;
    support::Launch l{.input = worked_input, .timeout = std::chrono::seconds(20)};
    row.prepare(box.dir(), held, l);
    const Result r = support::run_in(box, l);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    if (row.check_fort10) {
      EXPECT_EQ(r.fort10, row.fort10);
    }
    EXPECT_EQ(r.fort20, row.fort20);
  }
}

// Two runs in one directory: the second finds fort.10 held by the first,
// which waits for the reader of its fort.20, and ends at its first record
// without touching it; the first, interrupted in its waiting write, ends by
// the signal, not in a hang.
TEST(Faults, TwoRunsInOneDirectory) {
  Sandbox first, second;
  Held reader;
  reader.read_fifo(first.dir() / "fort.20");  // read by nobody: its pipe fills
  const fs::path fort10 = first.dir() / "fort.10";
  Result late;
  std::optional<std::string> before, after;
  const auto meanwhile = [&](pid_t pid) {
    // Waiting in a write for three looks in a row.
    const auto waits = [pid] {
      for (int look = 0; look < 3; ++look) {
        if (support::process_state(pid) != 'S') return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      return true;
    };
    EXPECT_TRUE(support::when(waits, std::chrono::seconds(20)));
    before = support::slurp(fort10);
    late = support::run_in(second, {.input = worked_input, .dir = first.dir(), .timeout = std::chrono::seconds(20)});
    after = support::slurp(fort10);
    ::kill(pid, SIGTERM);
  };
  const Result r = support::run_in(first, {.input = endless_input, .meanwhile = meanwhile,
                                           .timeout = std::chrono::seconds(30)});
  EXPECT_EQ(late.status, 2);
  EXPECT_EQ(late.err, report(265, "fort.10: another run is writing this file"));
  ASSERT_TRUE(before);
  EXPECT_GT(before->size(), 0u);
  EXPECT_EQ(after, before);
  EXPECT_EQ(r.status, -SIGTERM);
  EXPECT_EQ(r.err, report(268, "fort.20: Interrupted system call") +
                       "dimerscan: interrupted by signal SIGTERM\n");
}

// An interrupt during the sweep (any signal whose default action ends the
// process, SIGKILL and the program's own faults aside): the pass under way
// is finished, both files hold the same whole passes, one line says which,
// and the run ends by the signal; more of it meanwhile change nothing.
TEST(Faults, InterruptDuringTheSweep) {
  const struct {
    int sig;
    std::string name;
    int also = 0;  // sent right after sig: the two arrive together
    std::string also_name{};
  } rows[] = {{SIGINT, "SIGINT"},   {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},
              {SIGQUIT, "SIGQUIT"}, {SIGUSR1, "SIGUSR1"}, {SIGALRM, "SIGALRM"},
              {SIGXCPU, "SIGXCPU"}, {SIGRTMIN + 3, "SIGRTMIN+3"},
              // The one taken first ends the run; the other waits meanwhile.
              {SIGTERM, "SIGTERM", SIGHUP, "SIGHUP"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name + (row.also != 0 ? " and " + row.also_name : ""));
    Sandbox box;
    const fs::path fort20 = box.dir() / "fort.20";
    const auto meanwhile = [&](pid_t pid) {
      // Once fort.20 has its first window: 282 passes and more.
      const auto started = [&] {
        std::error_code absent;
        const std::uintmax_t size = fs::file_size(fort20, absent);
        return !absent && size >= 8192;
      };
      EXPECT_TRUE(support::when(started, std::chrono::seconds(20)));
      ::kill(pid, row.sig);
      if (row.also != 0) ::kill(pid, row.also);
    };
    // Room for the passes that may run before the signal arrives.
    const Result r = support::run_in(box, {.input = endless_input, .file_limit = rlim_t{256} << 20,
                                           .meanwhile = meanwhile,
                                           .timeout = std::chrono::seconds(30)});
    const bool by_also = row.also != 0 && r.status == -row.also;
    EXPECT_EQ(r.status, by_also ? -row.also : -row.sig);
    const std::string name = by_also ? row.also_name : row.name;
    ASSERT_TRUE(r.fort10 && r.fort20);
    const std::size_t passes = r.fort20->size() / record;
    EXPECT_EQ(r.fort20->size(), passes * record);
    EXPECT_EQ(r.fort10->size(), 16 * passes * record);
    EXPECT_GE(passes, 282u);
    const std::string n = std::to_string(passes);
    // An emulator reports a signal that ends its program with a core dump on a line of its own.
    std::string err = r.err;
    const char* emulator = std::getenv("DIMERSCAN_EMULATOR");
    if (emulator != nullptr && *emulator != '\0') {
      if (const std::size_t at = err.find("qemu: uncaught target signal"); at != std::string::npos)
        err.erase(at);
    }
    EXPECT_EQ(err, "dimerscan: interrupted by signal " + name + " after pass " + n +
                       ": fort.10 and fort.20 hold passes 1 to " + n + "\n");
    // The last pass is the same in both files, and whole in fort.10.
    if (passes == 0) continue;
    const std::string d1 = r.fort20->substr(r.fort20->size() - record, 13);
    EXPECT_EQ(r.fort10->substr(r.fort10->size() - 16 * record, 13), d1);
    EXPECT_EQ(r.fort10->substr(r.fort10->size() - record, 13), d1);
  }
}

// Before the sweep, an interrupt ends the run as it always did, with
// nothing created: waiting for an answer, or reading /dev/zero, a line that
// never ends, in bounded memory.
TEST(Faults, InterruptBeforeTheSweep) {
  const struct {
    const char* what;
    int sig;
    In in;
    const char* input_file;
    std::chrono::milliseconds after;
  } rows[] = {
      {"waiting for the D1 range", SIGINT, In::held, "", std::chrono::milliseconds(300)},
      {"waiting for the D1 range", SIGTERM, In::held, "", std::chrono::milliseconds(300)},
      {"waiting for the D1 range", SIGHUP, In::held, "", std::chrono::milliseconds(300)},
      {"reading /dev/zero", SIGINT, In::file, "/dev/zero", std::chrono::milliseconds(1500)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.what) + ", signal " + std::to_string(row.sig));
    Sandbox box;
    long peak_kib = -1;
    const Result r = support::run_in(
        box, {.input = "-1\n", .input_file = row.input_file, .in = row.in,
              .meanwhile = [&](pid_t pid) {
                std::this_thread::sleep_for(row.after);
                peak_kib = support::peak_kib_of(pid);
                ::kill(pid, row.sig);
              },
              .timeout = std::chrono::seconds(20)});
    EXPECT_EQ(r.status, -row.sig);
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(r.fort10);
    EXPECT_FALSE(r.fort20);
#ifndef DIMERSCAN_UNDER_ASAN
    // The program's own memory: an emulator adds its own.
    const char* emulator = std::getenv("DIMERSCAN_EMULATOR");
    if (emulator == nullptr || *emulator == '\0') {
      EXPECT_GT(peak_kib, 0);
      EXPECT_LT(peak_kib, 8 << 10) << "peak " << peak_kib << " KiB";
    }
#endif
  }
}

// A file size limit fails the write as a full disk does; a stack of 64 KiB
// is enough for a whole run (the batch of passes lives on the heap); a FIFO
// or a device is written, never read or cut: a FIFO without a reader, or
// whose reader quits, ends the run with status 2 instead of a hang.
TEST(Faults, FileSizeLimitsFifosAndDevices) {
  struct Row {
    const char* what;
    std::string input;
    rlim_t file_limit;
    std::size_t reader_keeps;  // 0: no FIFO; else fort.10 a FIFO read up to so many bytes
    int status;
    std::string err;
    std::function<void(const Result&, const std::string& read)> check;
    rlim_t stack_limit = 0;  // 0: the stack as the tests have it
  } rows[] = {
      {"a file size limit of 64 KiB during the sweep", endless_input, 64 << 10, 0, 2,
       report(265, "fort.10: File too large"),
       [](const Result& r, const std::string&) {
         // Cut back from the limit to the 141 passes both files hold.
         expect_whole_passes(r);
         EXPECT_EQ(r.fort20->size(), ((64u << 10) / (16 * record)) * record);
       }},
      {"a file size limit of 256 bytes met at the end of the run", worked_input, 256, 0, 2,
       "Fortran runtime error: fort.10: File too large\n",
       [](const Result& r, const std::string&) {
         // fort.10 holds no whole pass: nor does fort.20.
         EXPECT_EQ(r.fort10, "");
         EXPECT_EQ(r.fort20, "");
       }},
      {"a stack of 64 KiB", worked_input, support::file_limit, 0, 0, "",
       [](const Result& r, const std::string&) {
         EXPECT_EQ(r.fort10, support::worked10);
         EXPECT_EQ(r.fort20, support::worked20);
       },
       64 << 10},
      {"fort.10 a FIFO without a reader", worked_input, support::file_limit, 0, 2,
       report(265, "fort.10: No such device or address"), nullptr},
      {"fort.10 a FIFO read to the end", worked_input, support::file_limit, std::size_t(-1), 0, "",
       [](const Result& r, const std::string& read) {
         EXPECT_EQ(read, support::worked10);
         EXPECT_EQ(r.fort20, support::worked20);
       }},
      {"fort.10 a FIFO whose reader quits", endless_input, support::file_limit, 1000, 2,
       report(265, "fort.10: Broken pipe"),
       [](const Result&, const std::string& read) { EXPECT_EQ(read.size(), 1000u); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
#ifdef DIMERSCAN_UNDER_ASAN
    if (row.stack_limit != 0) {
      std::puts("a stack of 64 KiB: not run, the address sanitizer's frames are larger");
      continue;
    }
#endif
    Sandbox box;
    const fs::path fort10 = box.dir() / "fort.10";
    Held reader;
    if (row.reader_keeps != 0) {
      reader.read_fifo(fort10);
    } else if (row.file_limit == support::file_limit && row.stack_limit == 0) {
      ASSERT_EQ(::mkfifo(fort10.c_str(), 0600), 0);
    }
    std::string read;
    support::Launch l{.input = row.input, .file_limit = row.file_limit, .timeout = std::chrono::seconds(20)};
    if (row.reader_keeps != 0) l.meanwhile = [&](pid_t) { read = reader.take(row.reader_keeps); };
    if (row.stack_limit != 0) {
      l.body = [&row] {
        const rlimit stack{row.stack_limit, row.stack_limit};
        if (::setrlimit(RLIMIT_STACK, &stack) != 0) ::_exit(125);
        support::exec_program(support::program(), {});
      };
    }
    const Result r = support::run_in(box, l);
    EXPECT_EQ(r.status, row.status);
    EXPECT_EQ(r.err, row.err);
    if (row.file_limit == support::file_limit && row.stack_limit == 0) {
      EXPECT_TRUE(fs::is_fifo(fort10)) << "the FIFO stays a FIFO";
    }
    if (row.check) row.check(r, read);
  }
}

// A Hamiltonian beyond the range of doubles, from J near 1e308 or from ratios
// whose E1 = D1 x ratio1 overflows, gives levels that are not numbers: with
// eigenvectors or without, the run ends at that pass with status 2, and
// nothing of it is written; the passes before stay whole.
TEST(Faults, LevelsNotFinite) {
  const auto message = [](int kpass) {
    return report(265, "Levels of pass " + std::to_string(kpass) +
                           " are not finite: the Hamiltonian is beyond the range of doubles");
  };
  const struct {
    const char* input;
    int kpass;
  } rows[] = {{"1e308\n0 0 1\n5\n0 0\n", 1}, {"-1\n0 1 1\n5\n1e308 -1e308\n", 2}};
  for (const auto& row : rows) {
    for (const char* matz : {"0\n", "1\n"}) {
      SCOPED_TRACE(std::string(row.input) + matz);
      Sandbox box;
      const Result r = launch(box, std::string(row.input) + matz);
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, message(row.kpass));
      if (row.kpass == 1) {
        EXPECT_FALSE(r.fort10);
        EXPECT_FALSE(r.fort20);
      } else {
        expect_whole_passes(r);
        EXPECT_EQ(r.fort20->size(), record * (row.kpass - 1));
      }
    }
  }
}

}  // namespace
