// What every companion program shares: its messages, its output files and
// its standard output.
//
// A failure is thrown as Failure and reported by run_program as one line,
// "PROGRAM: text", with status 1. An output file is written whole or not at
// all: under a temporary name beside it, renamed into place when complete.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace common {

// A failure the program reports as "PROGRAM: what()", status 1.
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& text) : std::runtime_error(text) {}
};

// A fault at a line of an input file: "FILE, line N: text" (line 0: "FILE: text").
class InputError : public Failure {
 public:
  InputError(const std::string& file, std::size_t line, const std::string& text);
};

// A name safe to print on one line: control characters become '?'.
std::string printable(std::string_view name);

// Writes bytes to path. A regular file (new, or reached through symbolic
// links) is written through a temporary file beside it, made anew (never one
// that exists), synced to the disk and renamed over it at the end: it is
// either left as it was or holds all of bytes, with the permissions it had,
// and a failure removes the temporary file. Anything else that exists (a
// device, a pipe) is written in place: a rename would put a regular file
// where it was. Throws Failure.
void write_whole(const std::string& path, const std::string& bytes);

// Writes bytes to standard output in full and flushes it; throws Failure when
// any of it is lost.
void write_stdout(std::string_view bytes);

// True when a and b name the same existing file.
bool same_file(const std::string& a, const std::string& b);

// Runs body and turns what it throws into one line on standard error,
// "PROGRAM: text" ("PROGRAM: out of memory" for an allocation refused), and
// status 1. body's own result is the status otherwise. A file size limit
// then fails the write that meets it instead of killing the program.
int run_program(const char* program, const std::function<int()>& body);

// "PROGRAM VERSION", the line of --version.
std::string version_line(const char* program);

}  // namespace common
