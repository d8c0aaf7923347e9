// Process entry of dimerscan. Command-line arguments are accepted and ignored.
#include <new>

#include "sweep/dimerscan.hpp"
#include "textio/platform.hpp"
#include "textio/report.hpp"
#include "textio/runtime.hpp"
#include "textio/statements.hpp"

int main() {
  textio::prepare_process();
  // Lives until the process ends: end_run closes its connections.
  textio::Runtime runtime(textio::platform::standard_handles());
  textio::install(&runtime);
  try {
    MAIN__();
  } catch (const std::bad_alloc&) {
    textio::report_out_of_memory();
  }
  textio::end_run(textio::exit_normal);
}
