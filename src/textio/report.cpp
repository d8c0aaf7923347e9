#include "textio/report.hpp"

#include <charconv>
#include <cstring>
#include <string>

#include "textio/runtime.hpp"

namespace textio {

namespace {

Runtime* current = nullptr;
// The name of the run in the line about an interrupt.
const char* interrupted_program = "";

// Reports made with no run-time context installed go to standard error.
ErrorStream& errors() {
  if (current != nullptr) return current->errors();
  static ErrorStream fallback(platform::standard_handles().err);
  return fallback;
}

}  // namespace

Runtime* install(Runtime* runtime) {
  Runtime* const before = current;
  current = runtime;
  return before;
}

Runtime& installed() {
  if (current == nullptr) report_internal_error("no run-time context installed");
  return *current;
}

void ErrorStream::line(std::initializer_list<std::string_view> pieces) {
  char text[1024];
  std::size_t size = 0;
  for (const std::string_view piece : pieces) {
    const std::size_t room = sizeof text - 1 - size;
    const std::size_t n = piece.size() < room ? piece.size() : room;
    std::memcpy(text + size, piece.data(), n);
    size += n;
  }
  text[size++] = '\n';
  platform::write_all(handle_, text, size);
}

void ErrorStream::runtime_error(std::initializer_list<std::string_view> pieces) {
  char text[1024];
  std::size_t size = 0;
  for (const std::string_view piece : pieces) {
    const std::size_t room = sizeof text - size;
    const std::size_t n = piece.size() < room ? piece.size() : room;
    std::memcpy(text + size, piece.data(), n);
    size += n;
  }
  line({"Fortran runtime error: ", std::string_view(text, size)});
}

void ErrorStream::begin_report() {
  if (reporting_) platform::exit_immediately(exit_report_failed);
  reporting_ = true;
}

void report_failure(const Location& where, const IoError& error) {
  ErrorStream& err = errors();
  err.begin_report();
  const std::string message = message_of(error);
  if (where.source != nullptr) {
    char number[16];
    const auto end = std::to_chars(number, number + sizeof number, where.line).ptr;
    err.line({"At line ", std::string_view(number, end - number), " of file ", where.source});
  }
  err.runtime_error({message});
  end_run(exit_statement_failed);
}

void report_out_of_memory() {
  ErrorStream& err = errors();
  err.begin_report();
  err.line({"Operating system error: ", platform::error_text(platform::out_of_memory_error())});
  err.line({"Memory allocation failed"});
  end_run(exit_no_memory);
}

void report_internal_error(std::string_view what) {
  ErrorStream& err = errors();
  err.begin_report();
  err.line({"Internal Error: ", what});
  end_run(exit_internal_error);
}

namespace {

int close_all(int status) { return current != nullptr ? current->close_all(status) : status; }

// Ends the process by the interrupt caught, after the line that tells of
// it: what the run had done when it stopped (after), and what the files hold.
[[noreturn]] void end_by_interrupt(std::string_view after = {}, std::string_view held = {}) {
  platform::Signal sig = platform::Signal::interrupt;
  platform::interrupt_caught(sig);
  const std::string_view program = interrupted_program, name = platform::signal_name(sig);
  if (after.empty()) {
    errors().line({program, ": interrupted by signal ", name});
  } else if (held.empty()) {
    errors().line({program, ": interrupted by signal ", name, " after ", after});
  } else {
    errors().line({program, ": interrupted by signal ", name, " after ", after, ": ", held});
  }
  platform::end_by_signal(sig);
}

}  // namespace

void end_run(int status) {
  status = close_all(status);
  if (interrupted()) end_by_interrupt();
  platform::exit_process(status);
}

void catch_interrupts(const char* program) {
  interrupted_program = program;
  platform::catch_interrupts();
}

bool interrupted() {
  platform::Signal sig;
  return platform::interrupt_caught(sig);
}

void end_interrupted(std::string_view after, std::string_view held) {
  if (close_all(exit_normal) == exit_normal) end_by_interrupt(after, held);
  end_by_interrupt(after);
}

}  // namespace textio
