// The whole program against its peers: the reference sweep (LAPACK's zheev
// and C stdio) and the Eigen sweep (Eigen's fixed-size solver built for this
// processor, std::to_chars and one large buffer), where it is built. All run
// in turn on the same answers, each run in a fresh temporary
// directory with its answers in a file on standard input. Wall time, CPU time
// of the child and its peak resident memory (wait4; address layout not
// randomised), medians and ratios; the records in which the two programs'
// files differ; and dimerscan's peak resident memory for a short and a long
// sweep.
//
// usage: compare_sweeps [runs of each program per case, default 5]
#include <fcntl.h>
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t record = 29;

struct Sample {
  double wall = 0, cpu = 0;  // seconds
  long maxrss = 0;           // KiB
};

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; }

fs::path fresh_dir() {
  std::string name = (fs::temp_directory_path() / "dimerscan-bench-XXXXXX").string();
  if (::mkdtemp(name.data()) == nullptr) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return name;
}

// Runs exe in dir with input on standard input and standard output discarded;
// a run that does not end with status 0 ends the comparison.
Sample run(const char* exe, const fs::path& dir, const std::string& input) {
  const fs::path answers = dir / "answers";
  std::FILE* f = std::fopen(answers.c_str(), "wb");
  if (f == nullptr || std::fwrite(input.data(), 1, input.size(), f) != input.size() ||
      std::fclose(f) != 0) {
    std::perror("answers");
    std::exit(1);
  }
  timespec start{}, end{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // A fixed address layout: peak resident memory then varies by pages, not
    // by the hundred KiB that randomised library placement adds.
    ::personality(ADDR_NO_RANDOMIZE);
    const int in = ::open(answers.c_str(), O_RDONLY), out = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || ::chdir(dir.c_str()) != 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0)
      ::_exit(126);
    ::execl(exe, exe, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) {
    std::perror("fork/wait4");
    std::exit(1);
  }
  ::clock_gettime(CLOCK_MONOTONIC, &end);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s ended with status %d\n", exe, status);
    std::exit(1);
  }
  Sample s;
  s.wall = static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9;
  s.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  s.maxrss = usage.ru_maxrss;
  return s;
}

struct Program {
  const char* name;
  const char* exe;
};

// dimerscan first, then its peers.
const std::vector<Program>& programs() {
  static const std::vector<Program> all = [] {
    std::vector<Program> p = {{"dimerscan", DIMERSCAN_EXE}, {"reference", REFERENCE_EXE}};
#ifdef EIGEN_SWEEP_EXE
    p.push_back({"eigen", EIGEN_SWEEP_EXE});
#endif
    return p;
  }();
  return all;
}

// Number of records of file a that differ from those of file b (and of
// records only one of them has); prints the first few.
long differing_records(const fs::path& a, const fs::path& b, const char* peer, long* records) {
  std::FILE* fa = std::fopen(a.c_str(), "rb");
  std::FILE* fb = std::fopen(b.c_str(), "rb");
  if (fa == nullptr || fb == nullptr) {
    std::perror("compare");
    std::exit(1);
  }
  char ra[record], rb[record];
  long differ = 0;
  *records = 0;
  for (;;) {
    const std::size_t ga = std::fread(ra, 1, record, fa), gb = std::fread(rb, 1, record, fb);
    if (ga == 0 && gb == 0) break;
    ++*records;
    if (ga != gb || std::memcmp(ra, rb, ga) != 0) {
      if (differ++ < 3)
        std::printf("    %s record %ld: dimerscan \"%.27s\", %s \"%.27s\"\n",
                    a.filename().c_str(), *records, ra, peer, rb);
    }
  }
  std::fclose(fa);
  std::fclose(fb);
  return differ;
}

// Runs dimerscan and each peer on input and reports how many records of the
// peer's files differ from dimerscan's.
void compare_files(const char* what, const std::string& input) {
  const fs::path da = fresh_dir();
  run(DIMERSCAN_EXE, da, input);
  for (std::size_t q = 1; q < programs().size(); ++q) {
    const fs::path db = fresh_dir();
    run(programs()[q].exe, db, input);
    for (const char* file : {"fort.10", "fort.20"}) {
      long records = 0;
      const long differ = differing_records(da / file, db / file, programs()[q].name, &records);
      std::printf("  %s, %s, %s: %ld records, %ld differ\n", what, programs()[q].name, file,
                  records, differ);
    }
    fs::remove_all(db);
  }
  fs::remove_all(da);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

std::string sweep(const char* range, int matz) {
  return std::string("-1\n") + range + "\n0\n0.1 0.2\n" + std::to_string(matz) + "\n";
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  for (const Program& p : programs()) std::printf("%s: %s\n", p.name, p.exe);

  std::printf("\nSame files? (records in which a peer's files differ from dimerscan's)\n");
  for (int matz : {0, 1}) {
    const std::string m = " matz=" + std::to_string(matz);
    compare_files(("801 passes" + m).c_str(),
                  "3.7\n-4 4 0.01\n0\n0.3333333333333333 0.05\n" + std::to_string(matz) + "\n");
    compare_files(("200001 passes" + m).c_str(), sweep("0 20 1e-4", matz));
  }

  const std::size_t count = programs().size();
  for (int matz : {0, 1}) {
    std::printf("\nWhole program, 200001 passes (J = -1, D1 0 to 20 step 1e-4, D2 = 0, "
                "ratios 0.1 0.2), matz = %d, %d interleaved runs each\n", matz, runs);
    std::printf("  %-10s %4s %9s %9s %12s\n", "program", "run", "wall s", "cpu s", "maxrss KiB");
    const std::string input = sweep("0 20 1e-4", matz);
    std::vector<std::vector<double>> wall(count), cpu(count), rss(count);
    for (int r = 1; r <= runs; ++r)
      for (std::size_t p = 0; p < count; ++p) {
        const fs::path dir = fresh_dir();
        const Sample s = run(programs()[p].exe, dir, input);
        fs::remove_all(dir);
        wall[p].push_back(s.wall);
        cpu[p].push_back(s.cpu);
        rss[p].push_back(static_cast<double>(s.maxrss));
        std::printf("  %-10s %4d %9.3f %9.3f %12ld\n", programs()[p].name, r, s.wall, s.cpu,
                    s.maxrss);
      }
    for (std::size_t p = 0; p < count; ++p) {
      std::printf("  median     %-10s wall %.3f s cpu %.3f s maxrss %.0f KiB\n", programs()[p].name,
                  median(wall[p]), median(cpu[p]), median(rss[p]));
    }
    for (std::size_t p = 1; p < count; ++p) {
      std::printf("  RATIO %s/dimerscan matz=%d: wall %.2f, cpu %.2f\n", programs()[p].name, matz,
                  median(wall[p]) / median(wall[0]), median(cpu[p]) / median(cpu[0]));
    }
  }

  std::printf("\nPeak resident memory of dimerscan, 2001 against 200001 passes, run alternately "
              "(target: within 64 KiB)\n");
  for (int matz : {0, 1}) {
    std::vector<double> rss[2];
    for (int r = 0; r < runs; ++r)
      for (int l = 0; l < 2; ++l) {
        const fs::path dir = fresh_dir();
        rss[l].push_back(static_cast<double>(
            run(DIMERSCAN_EXE, dir, sweep(l ? "0 20 1e-4" : "0 0.2 1e-4", matz)).maxrss));
        const auto passes = fs::file_size(dir / "fort.20") / record;
        fs::remove_all(dir);
        if (passes != (l ? 200001u : 2001u))
          std::printf("  (a sweep gave %ju passes)\n", static_cast<std::uintmax_t>(passes));
      }
    const double a = median(rss[0]), b = median(rss[1]);
    std::printf("  matz=%d: 2001 passes %.0f KiB, 200001 passes %.0f KiB (medians), difference %+.0f KiB\n",
                matz, a, b, b - a);
    for (int l = 0; l < 2; ++l) {
      std::printf("          runs of %s passes:", l ? "200001" : "2001");
      for (double kib : rss[l]) std::printf(" %.0f", kib);
      std::printf("\n");
    }
  }
  // A child's figure includes the pages it held between fork and exec.
  const fs::path dir = fresh_dir();
  std::printf("  (floor: /bin/true run the same way peaks at %ld KiB)\n",
              run("/bin/true", dir, "").maxrss);
  fs::remove_all(dir);
}
