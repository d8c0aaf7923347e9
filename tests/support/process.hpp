// The one launcher of the tests: a child process running the built program
// (or a function of the test) with standard input given as bytes in a file,
// bytes through a pipe, or closed; standard output in a file, closed, or on
// /dev/full; standard error in a file; in a working directory of its own,
// under a limit of file size, killed when it outlasts its time. Or the same
// child on a terminal, for a dialogue.
#pragma once

#include <fcntl.h>
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

enum class Input { file, pipe, closed };
enum class Output { file, closed, full };

// Largest file the child may write: room for the longest sweep of the tests.
inline constexpr rlim_t file_limit = rlim_t{16} << 20;

struct Launch {
  std::string program{};           // the program to run; empty: dimerscan
  fs::path streams{};              // directory for the files of the three streams
  std::string input{};             // bytes of standard input
  fs::path input_file{};           // or, when given, this file as standard input
  Input in = Input::file;          // a pipe is written whole, then closed
  Output out = Output::file;
  fs::path dir{};                  // working directory; empty: the current one
  std::vector<std::string> args{}; // arguments after the program's name
  std::function<void()> body{};    // run in the child instead of the program; ends it
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
  const rlimit fsize{file_limit, file_limit};
  ::setrlimit(RLIMIT_FSIZE, &fsize);
  if (l.body) {
    l.body();
    ::_exit(99);
  }
  exec_program(l.program.empty() ? program() : l.program, l.args);
}

}  // namespace detail

inline Finished launch(const Launch& l) {
  const fs::path in_file = l.input_file.empty() ? l.streams / "stdin" : l.input_file;
  const fs::path out_file = l.streams / "stdout", err_file = l.streams / "stderr";
  if (l.input_file.empty()) put(in_file, l.input);
  int pipe_fds[2] = {-1, -1};
  if (l.in == Input::pipe && ::pipe(pipe_fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Everything is opened before anything is closed, so that no new file
    // takes the number of a stream meant to stay closed.
    const int fd_err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int fd_in = l.in == Input::pipe ? pipe_fds[0] : ::open(in_file.c_str(), O_RDONLY);
    const int fd_out = l.out == Output::full
                           ? ::open("/dev/full", O_WRONLY)
                           : ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd_err < 0 || fd_in < 0 || fd_out < 0) ::_exit(126);
    ::dup2(fd_err, 2);
    ::dup2(fd_in, 0);
    ::dup2(fd_out, 1);
    for (int fd : {fd_err, fd_in, fd_out, pipe_fds[1]}) {
      if (fd > 2) ::close(fd);
    }
    if (l.in == Input::closed) ::close(0);
    if (l.out == Output::closed) ::close(1);
    detail::become(l);
  }
  if (l.in == Input::pipe) {
    ::close(pipe_fds[0]);
    // The reader may stop early; a write into a pipe it closed must not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    for (std::size_t at = 0; at < l.input.size();) {
      const ssize_t n = ::write(pipe_fds[1], l.input.data() + at, l.input.size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(pipe_fds[1]);
  }
  Finished f;
  f.status = wait_for(pid, l.timeout, &f.peak_kib);
  f.out = slurp(out_file).value_or("");
  f.err = slurp(err_file).value_or("");
  return f;
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
