#include "textio/units.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.hpp"
#include "textio/format.hpp"
#include "textio/record.hpp"
#include "textio/run.hpp"
#include "textio/statements.hpp"

namespace {

using textio::UnitTable;

using support::slurp;

// Size of the file, -1 when there is none.
long long size_of(const char* path) {
  struct stat info;
  return ::stat(path, &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// What arrives on fd: waits up to two seconds for the first `want` bytes (a
// terminal passes them on a little later), then takes whatever else comes
// within wait_ms.
std::string drain(int fd, std::size_t want = 0, int wait_ms = 20) {
  std::string got;
  pollfd p{fd, POLLIN, 0};
  char buf[4096];
  while (::poll(&p, 1, got.size() < want ? 2000 : wait_ms) == 1 && (p.revents & POLLIN)) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

struct Fmt {
  textio::Format f;
  explicit Fmt(const std::string& text) {
    std::string error;
    EXPECT_TRUE(f.parse(text, &error)) << text << ": " << error;
  }
};

constexpr const char* f6 = "(1x,e12.6,2x,e12.6)";

// Standard input, output and error on /dev/null, a pipe and a pipe, in a fresh directory.
struct Session {
  support::Sandbox box;
  support::InDir here{box.dir()};
  int out[2], err[2];
  int in = ::open("/dev/null", O_RDONLY);
  Session() {
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
  }
  ~Session() {
    for (int fd : {in, out[0], out[1], err[0], err[1]}) ::close(fd);
  }
};

TEST(units, ResultFileHoldsOnlyThisRunsRecords) {
  struct Row {
    int line;
    const char* old;  // nullptr: no file before the run
    std::size_t repeat;
  } rows[] = {
      {__LINE__, nullptr, 0}, {__LINE__, "", 0},          {__LINE__, "abc\r\n", 1},
      {__LINE__, "x", 1000},  {__LINE__, "0123456", 3000},  // longer than a window
  };
  const std::string expected = " 0.100000E+01  -.750000E+01\r\n"
                               " 0.200000E+01  -.750000E+01\r\n"
                               " 0.300000E+01  -.750000E+01\r\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Session run;
    if (row.old != nullptr) {
      std::string old;
      for (std::size_t i = 0; i < row.repeat; ++i) old += row.old;
      support::put("fort.10", old);
    }
    textio::Runtime rt({run.in, run.out[1], run.err[1]});
    Fmt record(f6);
    for (double d1 : {1.0, 2.0, 3.0}) {
      const double v[] = {d1, -7.5};
      EXPECT_FALSE(rt.records().write(10, record.f, v));
    }
    EXPECT_EQ(rt.close_all(textio::exit_normal), textio::exit_normal);
    EXPECT_EQ(slurp("fort.10"), expected);
    EXPECT_EQ(drain(run.err[0]), "");
  }
}

TEST(units, ResultFileUnitNeverWrittenIsNeverConnected) {
  Session run;
  support::put("fort.20", "old run\r\n");
  struct timespec past[2] = {{1000000, 0}, {1000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, "fort.20", past, 0), 0);
  textio::Runtime rt({run.in, run.out[1], run.err[1]});
  UnitTable& units = rt.units();
  Fmt record(f6);
  const double v[] = {0.0, 1.0};
  EXPECT_FALSE(rt.records().write(10, record.f, v));
  EXPECT_EQ(units.find(20), nullptr);
  // Nor standard error, until something writes unit 0: then it is the stream, not fort.0.
  EXPECT_EQ(units.find(textio::stderr_unit), nullptr);
  EXPECT_FALSE(rt.records().write(textio::stderr_unit, record.f, v));
  EXPECT_EQ(rt.close_all(textio::exit_normal), textio::exit_normal);
  EXPECT_EQ(drain(run.err[0]), " 0.000000E+00  0.100000E+01\r\n");
  EXPECT_EQ(size_of("fort.0"), -1);
  EXPECT_EQ(slurp("fort.20"), "old run\r\n");
  struct stat info;
  ASSERT_EQ(::stat("fort.20", &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, 1000000);
  EXPECT_EQ(size_of("fort.30"), -1);
  EXPECT_EQ(slurp("fort.10"), " 0.000000E+00  0.100000E+01\r\n");
}

// A first write to unit 10 with fort.10 prepared by make_old: the statement
// fails with the host's text and leaves what was there alone.
void expect_open_failure(void (*make_old)(), const char* host_text) {
  Session run;
  make_old();
  textio::Runtime rt({run.in, run.out[1], run.err[1]});
  Fmt record(f6);
  const double v[] = {0.0, 1.0};
  const textio::Status status = rt.records().write(10, record.f, v);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->kind, textio::ErrorKind::os_error);
  EXPECT_EQ(textio::message_of(*status), host_text);
  EXPECT_EQ(rt.close_all(textio::exit_statement_failed), textio::exit_statement_failed);
  EXPECT_EQ(drain(run.err[0]), "");
  if (std::filesystem::is_directory("fort.10")) {
    EXPECT_TRUE(std::filesystem::is_empty("fort.10"));
  } else {
    EXPECT_EQ(slurp("fort.10"), "old\r\n");
  }
}

TEST(units, ResultFileDirectoryNamedLikeTheFile) {
  expect_open_failure([] { ASSERT_EQ(::mkdir("fort.10", 0755), 0); }, "Is a directory");
}

TEST(units, ResultFileReadOnlyFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write a read-only file";
  expect_open_failure(
      [] {
        support::put("fort.10", "old\r\n");
        ASSERT_EQ(::chmod("fort.10", 0444), 0);
      },
      "Permission denied");
}

TEST(units, RecordLayout) {
  struct Row {
    int line;
    const char* format;
    std::vector<double> values;
    const char* bytes;
    int records;
  } rows[] = {
      {__LINE__, f6, {0.0, -7.5}, " 0.000000E+00  -.750000E+01\r\n", 1},
      {__LINE__, "(3X,'a')", {}, "   a\r\n", 1},
      {__LINE__, "(1X,'a',3X)", {}, " a\r\n", 1},  // blanks that nothing follows
      {__LINE__, "(E12.6,2X)", {1.0}, "0.100000E+01\r\n", 1},
      {__LINE__, "(2X/1X,'b')", {}, "\r\n b\r\n", 2},  // blanks before a slash
      {__LINE__, "('a'//'b')", {}, "a\r\n\r\nb\r\n", 3},
      {__LINE__, "(1X,'a',2X,E12.6,'b')", {}, " a\r\n", 1},  // the walk stops at E
      {__LINE__, "(1X,'Do you want to see the eigenvectors?'/                        "
                 "1X,'(1 = yes, 0 = no):')",
       {}, " Do you want to see the eigenvectors?\r\n (1 = yes, 0 = no):\r\n", 2},
      {__LINE__, "(1X,'Enter values for D1min, D1max (cm-1),'                           "
                 "' and  the step size :')",
       {}, " Enter values for D1min, D1max (cm-1), and  the step size :\r\n", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Session run;
    textio::Runtime rt({run.in, run.out[1], run.err[1]});
  UnitTable& units = rt.units();
    Fmt format(row.format);
    EXPECT_FALSE(rt.records().write(10, format.f, row.values));
    ASSERT_NE(units.find(10), nullptr);
    EXPECT_EQ(units.find(10)->records(), row.records);
    rt.close_all(textio::exit_normal);
    EXPECT_EQ(slurp("fort.10"), row.bytes);
  }
}

// Where the bytes of 32-byte records are after statements 1, 256, 257 and
// 258 and after the end of the run: a window holds 256 of them.
TEST(units, BufferingWhenBytesLeaveTheWindow) {
  enum Target { new_file, old_file, stdout_pipe, stdout_terminal, fort10_terminal };
  struct Row {
    int line;
    Target target;
    long long seen[5];
  } rows[] = {
      {__LINE__, new_file, {0, 0, 8192, 8192, 8256}},
      {__LINE__, old_file, {32, 32, 32, 8224, 8256}},  // written out after the first
      {__LINE__, stdout_pipe, {0, 0, 8192, 8192, 8256}},
      {__LINE__, stdout_terminal, {32, 8192, 8224, 8256, 8256}},  // at every record
      {__LINE__, fort10_terminal, {32, 8192, 8224, 8256, 8256}},
  };
  const std::string text(30, 'r');
  Fmt record("('" + text + "')");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Session run;
    int out_read = run.out[0], out_write = run.out[1];
    int master = -1, slave = -1;
    const bool on_terminal = row.target == stdout_terminal || row.target == fort10_terminal;
    if (on_terminal) {
      char name[64];
      ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
      termios raw;
      ASSERT_EQ(::tcgetattr(slave, &raw), 0);
      ::cfmakeraw(&raw);  // no translation of line feeds on the way
      ASSERT_EQ(::tcsetattr(slave, TCSANOW, &raw), 0);
      out_read = master;
      if (row.target == stdout_terminal) out_write = slave;
      if (row.target == fort10_terminal) {
        ASSERT_EQ(::symlink(name, "fort.10"), 0);
      }
    }
    if (row.target == old_file) support::put("fort.10", std::string(100, 'o'));
    const bool on_file = row.target == new_file || row.target == old_file;
    const int unit = on_file || row.target == fort10_terminal ? 10 : textio::stdout_unit;

    textio::Runtime rt({run.in, out_write, run.err[1]});
  UnitTable& units = rt.units();
    EXPECT_EQ(units.find(textio::stdout_unit)->unbuffered(), row.target == stdout_terminal);
    std::string arrived;
    auto seen = [&](long long expected) -> long long {
      if (on_file) return size_of("fort.10");
      const long long missing = expected - static_cast<long long>(arrived.size());
      arrived += drain(out_read, missing > 0 ? static_cast<std::size_t>(missing) : 0);
      return static_cast<long long>(arrived.size());
    };
    int done = 0, check = 0;
    for (int upto : {1, 256, 257, 258}) {
      for (; done < upto; ++done) {
        ASSERT_FALSE(rt.records().write(unit, record.f, {}));
      }
      EXPECT_EQ(seen(row.seen[check]), row.seen[check]) << "after statement " << upto;
      ++check;
    }
    EXPECT_EQ(rt.close_all(textio::exit_normal), textio::exit_normal);
    EXPECT_EQ(seen(row.seen[4]), row.seen[4]) << "after the end of the run";
    std::string all;
    for (int i = 0; i < 258; ++i) all += text + "\r\n";
    EXPECT_EQ(on_file ? slurp("fort.10") : arrived, all);
    if (on_terminal) ::close(master), ::close(slave);
  }
}

// A result file whose bytes cannot be written out at the end of the run: one
// line on standard error and status 2, while the other connections are still
// written out. Failures on standard output stay unreported.
TEST(units, EndOfRunResultFileThatCannotBeWrittenOut) {
  struct Row {
    int line;
    bool fort10_full, stdout_full;
    int status_in, status_out;
    const char* err;
  } rows[] = {
      {__LINE__, true, false, 0, 2, "Fortran runtime error: fort.10: No space left on device\n"},
      {__LINE__, true, false, 2, 2, "Fortran runtime error: fort.10: No space left on device\n"},
      {__LINE__, false, true, 0, 0, ""},
      {__LINE__, false, false, 0, 0, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    Session run;
    if (row.fort10_full) {
      ASSERT_EQ(::symlink("/dev/full", "fort.10"), 0);
    }
    const int out = row.stdout_full ? ::open("/dev/full", O_WRONLY) : run.out[1];
    textio::Runtime rt({run.in, out, run.err[1]});
    Fmt record(f6), prompt("(1X,'Enter the value for J (cm-1) :')");
    const double v[] = {0.0, 2.0};
    EXPECT_FALSE(rt.records().write(textio::stdout_unit, prompt.f, {}));
    EXPECT_FALSE(rt.records().write(10, record.f, v));
    EXPECT_FALSE(rt.records().write(20, record.f, v));
    EXPECT_EQ(rt.close_all(row.status_in), row.status_out);
    EXPECT_EQ(drain(run.err[0]), row.err);
    EXPECT_EQ(slurp("fort.20"), " 0.000000E+00  0.200000E+01\r\n");
    if (!row.fort10_full) {
      EXPECT_EQ(slurp("fort.10"), " 0.000000E+00  0.200000E+01\r\n");
    }
    if (row.stdout_full) {
      ::close(out);
    } else {
      EXPECT_EQ(drain(run.out[0]), " Enter the value for J (cm-1) :\r\n");
    }
  }
}

// Bytes that could not be written out during the run fail that statement,
// and are not reported a second time when the run ends.
TEST(units, EndOfRunFailedWriteOutDuringTheRunIsReportedOnce) {
  Session run;
  ASSERT_EQ(::symlink("/dev/full", "fort.10"), 0);
  textio::Runtime rt({run.in, run.out[1], run.err[1]});
  Fmt record(f6);
  const double v[] = {1.0, 2.0};
  int statements = 0;
  textio::Status status;
  while (!status && statements < 1000) {
    status = rt.records().write(10, record.f, v);
    ++statements;
  }
  ASSERT_TRUE(status);
  EXPECT_EQ(statements, 283);  // 282 records of 29 bytes fit the window
  EXPECT_EQ(textio::message_of(*status), "fort.10: No space left on device");
  EXPECT_EQ(rt.close_all(textio::exit_statement_failed), textio::exit_statement_failed);
  EXPECT_EQ(drain(run.err[0]), "");
}

}  // namespace

namespace {

// A field is remembered by its value, width and digits, never by where its
// format lies: a format parsed where a destroyed one stood writes its own
// fields.
TEST(units, FormatParsedWhereAnotherStood) {
  const struct {
    const char* format;
    const char* bytes;
  } rows[] = {
      {"(E12.6)", "0.100000E+01\r\n"}, {"(E10.3)", " 0.100E+01\r\n"},
      {"(E12.3)", "   0.100E+01\r\n"}, {"(E12.6)", "0.100000E+01\r\n"},
      {"(1X,E10.3)", "  0.100E+01\r\n"},
  };
  Session run;
  textio::Runtime rt({run.in, run.out[1], run.err[1]});
  alignas(textio::Format) unsigned char storage[sizeof(textio::Format)];
  std::string expected;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.format);
    auto* format = new (storage) textio::Format;
    EXPECT_TRUE(format->parse(row.format, nullptr));
    const double one[] = {1.0};
    EXPECT_FALSE(rt.records().write(10, *format, one));
    format->~Format();
    expected += row.bytes;
  }
  EXPECT_EQ(rt.close_all(textio::exit_normal), textio::exit_normal);
  EXPECT_EQ(slurp("fort.10"), expected);
}

// The statements run on the context a test installs, in the test's own
// process: prompts on its standard output, answers from its standard input.
TEST(units, StatementsOnAnInstalledContext) {
  Session run;
  int in[2];
  ASSERT_EQ(::pipe(in), 0);
  const std::string answers = "1.5 -2\n3\n";
  ASSERT_EQ(::write(in[1], answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
  ::close(in[1]);
  textio::Runtime rt({in[0], run.out[1], run.err[1]});
  textio::Runtime* const before = textio::install(&rt);
  textio::Format prompt, record;
  textio::compile_format(prompt, "(1X,'J ?')");
  textio::compile_format(record, f6);
  double a = 0, b = 0;
  std::int32_t k = 0;
  textio::write({"test", 1}, textio::stdout_unit, prompt);
  textio::read({"test", 2}, a, b);
  textio::read({"test", 3}, k);
  textio::write({"test", 4}, 10, record, {a, b});
  textio::install(before);
  EXPECT_EQ(rt.close_all(textio::exit_normal), textio::exit_normal);
  ::close(in[0]);
  EXPECT_EQ(a, 1.5);
  EXPECT_EQ(b, -2.0);
  EXPECT_EQ(k, 3);
  EXPECT_EQ(drain(run.out[0]), " J ?\r\n");
  EXPECT_EQ(slurp("fort.10"), " 0.150000E+01  -.200000E+01\r\n");
  EXPECT_EQ(drain(run.err[0]), "");
}

}  // namespace
