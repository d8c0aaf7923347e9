// The companions' output files under faults: a writer that fails or is
// killed midway leaves under the name either nothing or the previous whole
// file, and no temporary file when it could clean up.
#include "common/files.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "support/files.hpp"
#include "support/process.hpp"
#include "support/tmpfs.hpp"

namespace {

namespace fs = std::filesystem;
using support::slurp;

const std::string previous = "the previous whole file\n";

// Names in dir other than the given ones: what a writer left behind.
std::vector<std::string> others(const fs::path& dir, std::initializer_list<const char*> known) {
  std::vector<std::string> left;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (std::find(known.begin(), known.end(), name) == known.end()) left.push_back(name);
  }
  return left;
}

TEST(common, OutputFileFailedOrKilledMidway) {
  enum class Fault { size_limit_kills, size_limit_fails, disk_full };
  const struct Row {
    int line;
    Fault fault;
    bool had_previous;
    int status;
    const char* err;
  } rows[] = {
      {__LINE__, Fault::size_limit_kills, false, -SIGXFSZ, ""},
      {__LINE__, Fault::size_limit_kills, true, -SIGXFSZ, ""},
      {__LINE__, Fault::size_limit_fails, false, 1, "t: out.txt: cannot write: File too large\n"},
      {__LINE__, Fault::size_limit_fails, true, 1, "t: out.txt: cannot write: File too large\n"},
      {__LINE__, Fault::disk_full, false, 1, "t: out.txt: cannot write: No space left on device\n"},
      {__LINE__, Fault::disk_full, true, 1, "t: out.txt: cannot write: No space left on device\n"},
  };
  const std::string bytes(1 << 20, 'n');  // 1 MiB: past the limit and the disk
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    support::Sandbox box;
    support::SmallDisk disk(box.root() / "disk", "256k");
    if (row.fault == Fault::disk_full && !disk.mounted()) continue;
    const fs::path dir = row.fault == Fault::disk_full ? disk.path() : box.dir();
    if (row.had_previous) support::put(dir / "out.txt", previous);
    support::Launch launch;
    launch.streams = box.root();
    launch.dir = dir;
    if (row.fault != Fault::disk_full) launch.file_limit = 64 << 10;
    launch.body = [&] {
      if (row.fault == Fault::size_limit_kills) {
        std::signal(SIGXFSZ, SIG_DFL);
        common::write_whole("out.txt", bytes);
        ::_exit(0);
      }
      ::_exit(common::run_program("t", [&] {
        common::write_whole("out.txt", bytes);
        return 0;
      }));
    };
    const support::Finished f = support::launch(launch);
    EXPECT_EQ(f.status, row.status);
    EXPECT_EQ(f.err, row.err);
    if (row.had_previous) {
      EXPECT_EQ(slurp(dir / "out.txt"), previous);
    } else {
      EXPECT_FALSE(fs::exists(dir / "out.txt"));
    }
    // A writer that could report its failure has removed its temporary file.
    if (row.status == 1) {
      EXPECT_EQ(others(dir, {"out.txt"}), std::vector<std::string>{});
    }
  }
}

// A writer replacing the file again and again, killed at some moment: the
// name holds one of the whole contents it was given, or the previous one.
TEST(common, OutputFileKilledWhileBeingReplaced) {
  const std::string a(4 << 20, 'a'), b(4 << 20, 'b');
  for (const int after_ms : {0, 5, 20, 60}) {
    SCOPED_TRACE(after_ms);
    support::Sandbox box;
    support::put(box.dir() / "out.txt", previous);
    fs::permissions(box.dir() / "out.txt", fs::perms(0600));
    support::Launch launch;
    launch.streams = box.root();
    launch.dir = box.dir();
    launch.body = [&] {
      for (int i = 0;; ++i) common::write_whole("out.txt", i % 2 == 0 ? a : b);
    };
    launch.meanwhile = [after_ms](pid_t pid) {
      std::this_thread::sleep_for(std::chrono::milliseconds(after_ms));
      ::kill(pid, SIGKILL);
    };
    const support::Finished f = support::launch(launch);
    EXPECT_EQ(f.status, -SIGKILL);
    const std::string held = slurp(box.dir() / "out.txt").value_or("(none)");
    EXPECT_TRUE(held == previous || held == a || held == b)
        << held.size() << " bytes beginning " << held.substr(0, 16);
    // A private file's bytes are never readable by others, not even in the
    // temporary file a killed writer leaves.
    EXPECT_EQ(fs::status(box.dir() / "out.txt").permissions(), fs::perms(0600));
    for (const std::string& left : others(box.dir(), {"out.txt"})) {
      const fs::path temp = box.dir() / left;
      if (fs::file_size(temp) > 0) {
        EXPECT_EQ(fs::status(temp).permissions(), fs::perms(0600)) << left;
      }
    }
  }
}

}  // namespace
