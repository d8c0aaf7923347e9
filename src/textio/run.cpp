#include "textio/run.hpp"

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

int close_all(int status) { return current != nullptr ? current->close_all(status) : status; }

// Ends the process by the interrupt caught, after the line that tells of
// it: what the run had done when it stopped (after), and what the files hold.
[[noreturn]] void end_by_interrupt(std::string_view after = {}, std::string_view held = {}) {
  int sig = 0;
  platform::interrupt_caught(sig);
  errors().interrupted(interrupted_program, platform::signal_name(sig), after, held);
  platform::end_by_signal(sig);
}

}  // namespace

void prepare_process() {
  platform::ensure_standard_handles();
  platform::ignore_signal(platform::Signal::broken_pipe);
  // A file grown to the size limit fails its write, as a full disk does.
  platform::ignore_signal(platform::Signal::file_size);
}

int Runtime::close_all(int status) {
  for (const NotWritten& failed : units_.close_results()) {
    errors_.not_written(failed.connection->file(), failed.errnum);
    if (status == exit_normal) status = exit_statement_failed;
  }
  units_.close_standard();
  return status;
}

Runtime* install(Runtime* runtime) {
  Runtime* const before = current;
  current = runtime;
  return before;
}

Runtime& installed() {
  if (current == nullptr) report_internal_error("no run-time context installed");
  return *current;
}

void report_failure(const Location& where, const IoError& error) {
  ErrorStream& err = errors();
  err.begin_report();
  err.failure(where, error);
  end_run(exit_statement_failed);
}

void report_out_of_memory() {
  ErrorStream& err = errors();
  err.begin_report();
  err.out_of_memory();
  end_run(exit_no_memory);
}

void report_internal_error(std::string_view what) {
  ErrorStream& err = errors();
  err.begin_report();
  err.internal_error(what);
  end_run(exit_internal_error);
}

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
  int sig = 0;
  return platform::interrupt_caught(sig);
}

void end_interrupted(std::string_view after, std::string_view held) {
  if (close_all(exit_normal) == exit_normal) end_by_interrupt(after, held);
  end_by_interrupt(after);
}

}  // namespace textio
