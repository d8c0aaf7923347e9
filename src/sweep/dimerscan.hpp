// The main routine of dimerscan: the dialogue, then the sweep over D1.
#pragma once

// Asks for J, the D1 range and step, D2, E1/D1 and E2/D2 and the eigenvector
// flag; then, for D1 = D1min, D1min + step, ... up to D1max, writes the
// sixteen energies (ascending) to unit 10 and the gap between the third and
// the first to unit 20. A failed statement ends the run with a report.
void MAIN__();  // NOLINT(bugprone-reserved-identifier): the program's entry keeps its historical name
