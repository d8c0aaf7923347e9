// A pass of the sweep allocates nothing: a run of 1001 passes makes as many
// heap allocations as a run of one. The global operator new counts them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/counting_new.hpp"
#include "support/files.hpp"
#include "sweep/dimerscan.hpp"
#include "textio/run.hpp"

namespace {

struct Count {
  long allocations = -1;
  int status = -1;
  std::uintmax_t fort20 = 0;
};

// Runs MAIN__ in this process, in a fresh directory, on a run-time context of
// its own: input as standard input, the prompts on /dev/null. Counts the
// allocations MAIN__ makes, then closes the files so that the passes can be
// checked.
Count run_counted(const std::string& input) {
  support::Sandbox box;
  support::InDir here(box.dir());
  support::put("answers", input);
  const int in = ::open("answers", O_RDONLY), out = ::open("/dev/null", O_WRONLY);
  if (in < 0 || out < 0) return {};
  Count c;
  {
    textio::Runtime runtime({in, out, STDERR_FILENO});
    textio::Runtime* const before = textio::install(&runtime);
    support::allocations = 0;
    MAIN__();
    c.allocations = support::allocations;
    textio::install(before);
    c.status = runtime.close_all(textio::exit_normal);
  }
  ::close(in);
  ::close(out);
  c.fort20 = support::slurp("fort.20").value_or("").size();
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
