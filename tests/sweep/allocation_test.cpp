// A pass of the sweep allocates nothing: a run of 1001 passes makes as many
// heap allocations as a run of one. The global operator new counts them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/counting_new.hpp"
#include "support/dimerscan.hpp"
#include "sweep/dimerscan.hpp"
#include "textio/report.hpp"
#include "textio/runtime.hpp"

namespace {

struct Count {
  long allocations = -1;  // -1: the child sent none
  int status = -1;
  std::uintmax_t fort20 = 0;
};

// Runs MAIN__ in a child in a fresh directory with input as standard input
// and its prompts on /dev/null; the child prints the count of allocations
// MAIN__ made, then ends the run (writing the files out) so that the passes
// can be checked.
Count run_counted(const std::string& input) {
  support::Sandbox box;
  const support::Run run = support::run_in(box, {.input = input, .body = [] {
    const int null = ::open("/dev/null", O_WRONLY);
    textio::Runtime runtime({STDIN_FILENO, null, STDERR_FILENO});
    textio::install(&runtime);
    support::allocations = 0;
    MAIN__();
    const std::string made = std::to_string(support::allocations);
    if (::write(STDOUT_FILENO, made.data(), made.size()) != static_cast<ssize_t>(made.size())) {
      ::_exit(125);
    }
    textio::end_run(0);
  }});
  Count c;
  if (!run.out.empty()) c.allocations = std::stol(run.out);
  c.status = run.status;
  c.fort20 = run.fort20 ? run.fort20->size() : 0;
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
