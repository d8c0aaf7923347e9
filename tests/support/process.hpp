// The one launcher of the tests: a child process running the built program
// (or a function of the test) with standard input given as bytes in a file,
// bytes through a pipe (closed after them, or held open), or closed;
// standard output in a file, closed, on /dev/full, or through a pipe to a
// reader that may quit early; standard error in a file; in a working
// directory of its own, under a limit of file size, with something done
// while it runs (a signal sent, a second run), killed when it outlasts its
// time. Or the same child on a terminal, for a dialogue.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/files.hpp"

namespace support {

// The program under test, as the test registration passes it.
inline std::string program() {
  const char* path = std::getenv("DIMERSCAN");
  return path ? path : "";
}

// held: a pipe written whole and kept open until the child ends.
enum class Input { file, pipe, held, closed };
// pipe: read by the launcher into Finished::out, up to out_keep bytes; then
// it closes its end, as `head -c` does.
enum class Output { file, closed, full, pipe };

// Largest file the child may write: room for the longest sweep of the tests.
inline constexpr rlim_t file_limit = rlim_t{16} << 20;

struct Launch {
  std::string program{};           // the program to run; empty: dimerscan
  fs::path streams{};              // directory for the files of the three streams
  std::string input{};             // bytes of standard input
  fs::path input_file{};           // or, when given, this file as standard input
  Input in = Input::file;          // a pipe is written whole, then closed
  Output out = Output::file;
  fs::path output_file{};          // or, when given, standard output to this file (cut)
  std::size_t out_keep = std::size_t(-1);  // Output::pipe: bytes read before closing
  fs::path dir{};                  // working directory; empty: the current one
  std::vector<std::string> args{}; // arguments after the program's name
  std::function<void()> body{};    // run in the child instead of the program; ends it
  rlim_t file_limit = support::file_limit;
  std::function<void(pid_t)> meanwhile{};  // run by the launcher once the child has started
  std::chrono::seconds timeout{60};
};

struct Finished {
  std::string out, err;
  int status = -1;    // exit status, or minus the signal that ended the child
  long peak_kib = 0;  // peak resident memory of the child
};

// Waits for the child pid, killing it after timeout: its exit status, or
// minus the signal that ended it; *peak_kib its peak resident memory.
inline int wait_for(pid_t pid, std::chrono::seconds timeout, long* peak_kib = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int wstatus = 0;
  rusage usage{};
  while (::wait4(pid, &wstatus, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &wstatus, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (peak_kib != nullptr) *peak_kib = usage.ru_maxrss;
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -WTERMSIG(wstatus);
}

// Replaces the child by the program exe with the arguments args, through
// the emulator of a cross build when DIMERSCAN_EMULATOR names one (its words
// before the program, as CMake's emulator list gives them).
[[noreturn]] inline void exec_program(const std::string& exe, const std::vector<std::string>& args) {
  std::vector<std::string> words;
  if (const char* emulator = std::getenv("DIMERSCAN_EMULATOR")) {
    std::string word;
    for (const char* c = emulator;; ++c) {
      if (*c == ' ' || *c == ';' || *c == '\0') {
        if (!word.empty()) words.push_back(word);
        word.clear();
        if (*c == '\0') break;
      } else {
        word += *c;
      }
    }
  }
  words.push_back(exe);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  ::execvp(argv[0], argv.data());
  ::_exit(127);
}

namespace detail {

// In the child, with its streams in place: the working directory, the file
// limit, then the program or the body.
[[noreturn]] inline void become(const Launch& l) {
  if (!l.dir.empty() && ::chdir(l.dir.c_str()) != 0) ::_exit(126);
  // A sweep that runs away is stopped by SIGXFSZ long before the disk fills.
  const rlimit fsize{l.file_limit, l.file_limit};
  ::setrlimit(RLIMIT_FSIZE, &fsize);
  if (l.body) {
    l.body();
    ::_exit(99);
  }
  exec_program(l.program.empty() ? program() : l.program, l.args);
}

}  // namespace detail

// Reads what fd has within wait_ms into got, keep bytes at most; false once
// keep bytes are there or the writer has gone.
inline bool read_into(int fd, std::string& got, std::size_t keep, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, wait_ms) != 1) return true;
  char buf[4096];
  const std::size_t room = keep - got.size() < sizeof buf ? keep - got.size() : sizeof buf;
  const ssize_t n = ::read(fd, buf, room);
  if (n <= 0) return false;
  got.append(buf, static_cast<std::size_t>(n));
  return got.size() < keep;
}

inline Finished launch(const Launch& l) {
  const fs::path in_file = l.input_file.empty() ? l.streams / "stdin" : l.input_file;
  const fs::path out_file = l.output_file.empty() ? l.streams / "stdout" : l.output_file;
  const fs::path err_file = l.streams / "stderr";
  const bool in_pipe = l.in == Input::pipe || l.in == Input::held;
  if (l.input_file.empty()) put(in_file, l.input);
  int pipe_fds[2] = {-1, -1}, out_fds[2] = {-1, -1};
  if (in_pipe && ::pipe(pipe_fds) != 0) return {};
  if (l.out == Output::pipe && ::pipe(out_fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Everything is opened before anything is closed, so that no new file
    // takes the number of a stream meant to stay closed.
    const int fd_err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int fd_in = in_pipe ? pipe_fds[0] : ::open(in_file.c_str(), O_RDONLY);
    const int fd_out = l.out == Output::full   ? ::open("/dev/full", O_WRONLY)
                       : l.out == Output::pipe ? out_fds[1]
                                               : ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd_err < 0 || fd_in < 0 || fd_out < 0) ::_exit(126);
    ::dup2(fd_err, 2);
    ::dup2(fd_in, 0);
    ::dup2(fd_out, 1);
    for (int fd : {fd_err, fd_in, fd_out, pipe_fds[1], out_fds[0]}) {
      if (fd > 2) ::close(fd);
    }
    if (l.in == Input::closed) ::close(0);
    if (l.out == Output::closed) ::close(1);
    detail::become(l);
  }
  // The reader may stop early; a write into a pipe it closed must not end the test.
  std::signal(SIGPIPE, SIG_IGN);
  if (in_pipe) {
    ::close(pipe_fds[0]);
    for (std::size_t at = 0; at < l.input.size();) {
      const ssize_t n = ::write(pipe_fds[1], l.input.data() + at, l.input.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    if (l.in == Input::pipe) ::close(pipe_fds[1]);
  }
  Finished f;
  if (l.out == Output::pipe) {
    ::close(out_fds[1]);
    // The child's standard output is taken while it runs, as a reader would.
    const auto deadline = std::chrono::steady_clock::now() + l.timeout;
    while (read_into(out_fds[0], f.out, l.out_keep, 10) &&
           std::chrono::steady_clock::now() < deadline) {
    }
    ::close(out_fds[0]);
  }
  if (l.meanwhile) l.meanwhile(pid);
  f.status = wait_for(pid, l.timeout, &f.peak_kib);
  if (l.in == Input::held) ::close(pipe_fds[1]);
  if (l.out != Output::pipe) f.out = slurp(out_file).value_or("");
  f.err = slurp(err_file).value_or("");
  return f;
}

// Waits up to timeout for ready() to hold, asking every millisecond; true
// when it did.
inline bool when(const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The peak resident memory of process pid since it started its program
// (VmHWM), in KiB, or -1.
inline long peak_kib_of(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The state letter of process pid ('R' running, 'S' waiting, ...), or 0.
inline char process_state(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  const std::size_t paren = text.rfind(')');
  return paren == std::string::npos || paren + 2 >= text.size() ? 0 : text[paren + 2];
}

// A child on a terminal: all three streams on it, no echo and no translation
// of line ends; the test holds the terminal's other side, master.
struct OnTerminal {
  pid_t pid = -1;
  int master = -1;
};

inline OnTerminal launch_on_terminal(const Launch& l) {
  termios raw{};
  ::cfmakeraw(&raw);
  OnTerminal t;
  std::fflush(nullptr);
  t.pid = ::forkpty(&t.master, nullptr, &raw, nullptr);
  if (t.pid == 0) detail::become(l);
  return t;
}

}  // namespace support
