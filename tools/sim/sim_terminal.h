// The little the simulator, its tests and the benchmarks need from the system.
#pragma once

#include <functional>

namespace zelk {

// From now on an interrupt or termination request (Ctrl+C, SIGINT, SIGTERM; a console close on
// Windows) calls `onStop` on a thread of its own instead of ending the process. Called first
// thing, before any other thread starts.
void CallOnStopRequest(std::function<void()> onStop);

// True when standard output is a terminal (a console on Windows).
bool StdoutIsTerminal();
// Makes the terminal take UTF-8 and ANSI sequences (Windows consoles); nothing elsewhere.
void PrepareTerminal();
// CPU time (user and system) this process has used so far, in seconds.
double ProcessCpuSeconds();
// The process's resident memory now, and its peak so far, in bytes (0 when unknown).
struct ResidentMemory {
    unsigned long long now = 0;
    unsigned long long peak = 0;
};
ResidentMemory ProcessResidentMemory();

}  // namespace zelk
