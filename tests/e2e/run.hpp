// The names by which the tests of the companion tools reach the shared test
// support (tests/support): a sandbox, whole files, and a run of a program.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "support/dimerscan.hpp"

namespace e2e {

namespace fs = std::filesystem;
using support::program;
using support::put;
using support::Sandbox;
using support::slurp;
using support::wait_for;
using Outcome = support::Run;

// Runs exe in box.dir() with input as standard input and the arguments.
inline Outcome run_program(const std::string& exe, const Sandbox& box, const std::string& input,
                           const std::vector<std::string>& args = {},
                           std::chrono::seconds timeout = std::chrono::seconds(60)) {
  return support::run_in(box, {.program = exe, .input = input, .args = args, .timeout = timeout});
}

// Runs dimerscan, as run_program does.
inline Outcome run(const Sandbox& box, const std::string& input,
                   const std::vector<std::string>& args = {},
                   std::chrono::seconds timeout = std::chrono::seconds(60)) {
  return run_program(program(), box, input, args, timeout);
}

}  // namespace e2e
