// The run-time context of the statements: the unit table and the error
// stream of one run. The process entry makes one and installs it; a test
// makes its own on descriptors of its choice.
#pragma once

#include "textio/platform.hpp"
#include "textio/report.hpp"
#include "textio/units.hpp"

namespace textio {

class Runtime {
 public:
  // Units 5, 6 and 0 on the given handles; reports go to handles.err.
  explicit Runtime(platform::StandardHandles handles) : errors_(handles.err), units_(handles) {}
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  UnitTable& units() { return units_; }
  ErrorStream& errors() { return errors_; }
  // Writes out and closes every connection, once; the status the run ends with.
  int close_all(int status) { return units_.close_all(status, errors_); }

 private:
  ErrorStream errors_;
  UnitTable units_;
};

// Makes runtime (or none, for nullptr) the one the statements and reports
// use; returns the one installed before.
Runtime* install(Runtime* runtime);

// The installed run-time context. Without one, a statement is an internal
// error of the input/output layer.
Runtime& installed();

}  // namespace textio
