// The little the simulator, its tests and the benchmarks need from the system.
#pragma once

namespace zelk {

// True when standard output is a terminal (a console on Windows).
bool StdoutIsTerminal();
// Makes the terminal take UTF-8 and ANSI sequences (Windows consoles); nothing elsewhere.
void PrepareTerminal();
// CPU time (user and system) this process has used so far, in seconds.
double ProcessCpuSeconds();

}  // namespace zelk
