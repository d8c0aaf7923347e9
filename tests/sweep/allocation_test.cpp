// A pass of the sweep allocates nothing: a run of 1001 passes makes as many
// heap allocations as a run of one. The global operator new counts them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "support/files.hpp"
#include "sweep/dimerscan.hpp"
#include "textio/report.hpp"

namespace {
long allocations = 0;
}

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t align) {
  ++allocations;
  const auto a = static_cast<std::size_t>(align);
  if (void* p = std::aligned_alloc(a, ((size == 0 ? 1 : size) + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

struct Count {
  long allocations = -1;  // -1: the child sent none
  int status = -1;
  std::uintmax_t fort20 = 0;
};

// Runs MAIN__ in a child in a fresh directory with input as standard input;
// the child sends the count of allocations MAIN__ made, then ends the run
// (writing the files out) so that the passes can be checked.
Count run_counted(const std::string& input) {
  support::TempDir dir;
  support::spit("answers", input);
  int channel[2];
  if (::pipe(channel) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    const int in = ::open("answers", O_RDONLY), out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0) ::_exit(126);
    allocations = 0;
    MAIN__();
    const long made = allocations;
    if (::write(channel[1], &made, sizeof made) != sizeof made) ::_exit(125);
    textio::end_run(0);
  }
  ::close(channel[1]);
  Count c;
  if (::read(channel[0], &c.allocations, sizeof c.allocations) != sizeof c.allocations) c.allocations = -1;
  ::close(channel[0]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  c.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  std::error_code ec;
  c.fort20 = std::filesystem::file_size("fort.20", ec);
  return c;
}

TEST(Allocation, NoneInsideAPass) {
  for (const char* matz : {"0", "1"}) {
    SCOPED_TRACE(matz);
    const Count one = run_counted(std::string("-1\n0 0 1\n0\n0.1 0.2\n") + matz + "\n");
    const Count many = run_counted(std::string("-1\n0 1000 1\n0\n0.1 0.2\n") + matz + "\n");
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(one.fort20, 29u);
    EXPECT_EQ(many.fort20, 1001u * 29u);
    EXPECT_GE(one.allocations, 0);
    EXPECT_EQ(many.allocations, one.allocations);
  }
}

}  // namespace
