// Process entry of dimerscan. "--help" or "--version" as the one argument is
// answered and the program ends; other arguments are accepted and ignored.
#include <new>
#include <string>
#include <string_view>

#include "sweep/dimerscan.hpp"
#include "textio/platform.hpp"
#include "textio/run.hpp"
#include "version.hpp"

namespace {

constexpr std::string_view help_text =
    "Usage: dimerscan [--help | --version]\n"
    "\n"
    "Computes the sixteen energy levels of an exchange-coupled pair of spin-3/2\n"
    "ions (-2J S1.S2, axial and rhombic zero-field splitting, Zeeman term of\n"
    "0.1 T along x, g = 2.0) while D1 is stepped from D1min to D1max.\n"
    "\n"
    "Asks on standard output, reads the answers free-form from standard input:\n"
    "  J (cm-1); D1min, D1max (cm-1) and the step; D2 (cm-1, read but unused:\n"
    "  D2 = D1 in every pass); E1/D1 and E2/D2; eigenvectors (1 = yes, 0 = no).\n"
    "\n"
    "Writes in the current directory, each record ended by CR LF:\n"
    "  fort.10  16 records a pass: D1 and each energy, ascending (E12.6)\n"
    "  fort.20  one record a pass: D1 and the gap w(3) - w(1)\n"
    "\n"
    "Exit status: 0 sweep complete; 2 a read or write failed (two lines on\n"
    "standard error name the statement); 1 memory refused; 3 internal error of\n"
    "the input/output layer; 4 failure while reporting. See dimerscan(1).\n";

// Writes text to standard output: 0, or 2 after a line on standard error.
int answer(std::string_view text) {
  namespace platform = textio::platform;
  const platform::StandardHandles handles = platform::standard_handles();
  const int err = platform::write_all(handles.out, text.data(), text.size());
  if (err == 0) return textio::exit_normal;
  textio::ErrorStream errors(handles.err);
  errors.line({"dimerscan: standard output could not be written: ", platform::error_text(err)});
  return textio::exit_statement_failed;
}

// What the arguments ask for instead of a run: help or the version when it
// is the one argument; any other arguments are ignored, as they always were.
enum class Asked { run, help, version };

Asked asked(int argc, char** argv) {
  if (argc != 2) return Asked::run;
  const std::string_view arg = argv[1];
  if (arg == "--help") return Asked::help;
  if (arg == "--version") return Asked::version;
  return Asked::run;
}

}  // namespace

int main(int argc, char** argv) {
  switch (asked(argc, argv)) {
    case Asked::help:
      return answer(help_text);
    case Asked::version: {
      // "dimerscan <version>" and a line feed.
      std::string line = "dimerscan ";
      line += dimer::version;
      line += '\n';
      return answer(line);
    }
    case Asked::run:
      break;
  }
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
