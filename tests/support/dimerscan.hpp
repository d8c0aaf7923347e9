// What dimerscan shows and writes: its five prompts, its error reports and
// the worked example (J = -1, one pass at D1 = D2 = 0); and a run of the
// program in a sandbox with what it leaves there.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "model/record_layout.hpp"
#include "support/files.hpp"
#include "support/process.hpp"

namespace support {

inline const std::string p1 = " Enter the value for J (cm-1) :\r\n";
inline const std::string p2 = " Enter values for D1min, D1max (cm-1), and  the step size :\r\n";
inline const std::string p3 = " Enter value for D2 (cm-1):\r\n";
inline const std::string p4 = " Enter values for E1/D1 and E2/D2:\r\n";
inline const std::string p5 = " Do you want to see the eigenvectors?\r\n (1 = yes, 0 = no):\r\n";
inline const std::string prompts = p1 + p2 + p3 + p4 + p5;

// Bytes of one record of a result file.
inline constexpr std::size_t record = model::record::bytes;

// The two lines of an error report of the statement at line.
inline std::string report(int line, const std::string& message) {
  return "At line " + std::to_string(line) + " of file dimerscan\nFortran runtime error: " +
         message + "\n";
}

// The worked example: its answers and both result files.
inline const std::string worked_input = "-1\n0 0 1\n5\n0 0\n1\n";
inline const std::string worked10 =
    " 0.000000E+00  -.750000E+01\r\n 0.000000E+00  -.559337E+01\r\n"
    " 0.000000E+00  -.550000E+01\r\n 0.000000E+00  -.540663E+01\r\n"
    " 0.000000E+00  -.168674E+01\r\n 0.000000E+00  -.159337E+01\r\n"
    " 0.000000E+00  -.150000E+01\r\n 0.000000E+00  -.140663E+01\r\n"
    " 0.000000E+00  -.131326E+01\r\n 0.000000E+00  0.421988E+01\r\n"
    " 0.000000E+00  0.431326E+01\r\n 0.000000E+00  0.440663E+01\r\n"
    " 0.000000E+00  0.450000E+01\r\n 0.000000E+00  0.459337E+01\r\n"
    " 0.000000E+00  0.468674E+01\r\n 0.000000E+00  0.478012E+01\r\n";
inline const std::string worked20 = " 0.000000E+00  0.200000E+01\r\n";

// What a run leaves: its streams and status, and both result files.
struct Run : Finished {
  std::optional<std::string> fort10, fort20;
};

// Runs l (the program unless it has a body) with its streams in box.root()
// and, unless l names another, box.dir() as working directory.
inline Run run_in(const Sandbox& box, Launch l) {
  l.streams = box.root();
  if (l.dir.empty()) l.dir = box.dir();
  Run r{launch(l), {}, {}};
  r.fort10 = slurp(l.dir / "fort.10");
  r.fort20 = slurp(l.dir / "fort.20");
  return r;
}

}  // namespace support
