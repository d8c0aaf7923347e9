// Runs the built dimerscan in a fresh directory and collects what it leaves:
// standard output and error, the exit status, fort.10 and fort.20.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

// The five prompts, as the program writes them.
inline const std::string p1 = " Enter the value for J (cm-1) :\r\n";
inline const std::string p2 = " Enter values for D1min, D1max (cm-1), and  the step size :\r\n";
inline const std::string p3 = " Enter value for D2 (cm-1):\r\n";
inline const std::string p4 = " Enter values for E1/D1 and E2/D2:\r\n";
inline const std::string p5 = " Do you want to see the eigenvectors?\r\n (1 = yes, 0 = no):\r\n";
inline const std::string prompts = p1 + p2 + p3 + p4 + p5;

// Bytes of one record of a result file.
inline constexpr std::size_t record = 29;

// The two lines of an error report of the statement at line.
inline std::string report(int line, const std::string& message) {
  return "At line " + std::to_string(line) + " of file dimerscan\nFortran runtime error: " +
         message + "\n";
}

// The program under test, as the test registration passes it.
inline std::string program() {
  const char* path = std::getenv("DIMERSCAN");
  return path ? path : "";
}

// The bytes of a regular file, or nothing when there is none.
inline std::optional<std::string> slurp(const fs::path& path) {
  if (!fs::is_regular_file(path)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void put(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A temporary directory, removed with everything in it at the end of the
// scope; the redirected streams lie beside the program's working directory.
class Sandbox {
 public:
  Sandbox() {
    std::string name = (fs::temp_directory_path() / "dimerscan-e2e-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr)
      throw fs::filesystem_error("mkdtemp", std::error_code(errno, std::generic_category()));
    root_ = name;
    fs::create_directory(dir());
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Sandbox(const Sandbox&) = delete;
  fs::path root() const { return root_; }
  fs::path dir() const { return root_ / "run"; }  // the program's working directory

 private:
  fs::path root_;
};

struct Outcome {
  std::string out, err;
  int status = -1;  // exit status, or minus the signal that ended the run
  std::optional<std::string> fort10, fort20;
};

// Largest file the program may write: room for the longest sweep of the tests.
inline constexpr rlim_t file_limit = rlim_t{16} << 20;

// Waits for the child pid, killing it after timeout; its exit status, or
// minus the signal that ended it.
inline int wait_for(pid_t pid, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int wstatus = 0;
  while (::waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wstatus, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);
}

// Runs the program exe in box.dir() with input as standard input (a file) and
// the given arguments; a run that outlasts timeout is killed.
inline Outcome run_program(const std::string& exe, const Sandbox& box, const std::string& input,
                           const std::vector<std::string>& args = {},
                           std::chrono::seconds timeout = std::chrono::seconds(60)) {
  const fs::path in = box.root() / "stdin", out = box.root() / "stdout",
                 err = box.root() / "stderr";
  put(in, input);
  std::vector<char*> argv{const_cast<char*>(exe.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd0 = ::open(in.c_str(), O_RDONLY);
    const int fd1 = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int fd2 = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd0 < 0 || fd1 < 0 || fd2 < 0 || ::chdir(box.dir().c_str()) != 0) ::_exit(126);
    // A sweep that runs away is stopped by SIGXFSZ long before the disk fills.
    const rlimit fsize{file_limit, file_limit};
    ::setrlimit(RLIMIT_FSIZE, &fsize);
    ::dup2(fd0, 0);
    ::dup2(fd1, 1);
    ::dup2(fd2, 2);
    ::execv(exe.c_str(), argv.data());
    ::_exit(127);
  }
  Outcome o;
  o.status = wait_for(pid, timeout);
  o.out = slurp(out).value_or("");
  o.err = slurp(err).value_or("");
  o.fort10 = slurp(box.dir() / "fort.10");
  o.fort20 = slurp(box.dir() / "fort.20");
  return o;
}

// Runs dimerscan, as run_program does.
inline Outcome run(const Sandbox& box, const std::string& input,
                   const std::vector<std::string>& args = {},
                   std::chrono::seconds timeout = std::chrono::seconds(60)) {
  return run_program(program(), box, input, args, timeout);
}

}  // namespace e2e
