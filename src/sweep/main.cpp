// Process entry of dimerscan. Command-line arguments are accepted and ignored.
#include <new>

#include "sweep/dimerscan.hpp"
#include "textio/report.hpp"
#include "textio/statements.hpp"

int main() {
  textio::start_run();
  try {
    MAIN__();
  } catch (const std::bad_alloc&) {
    textio::report_out_of_memory();
  }
  textio::end_run(textio::exit_normal);
}
