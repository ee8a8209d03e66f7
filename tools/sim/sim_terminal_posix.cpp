#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "tools/sim/sim_terminal.h"

namespace zelk {

void CallOnStopRequest(std::function<void()> onStop) {
    // Blocked here, the signals stay blocked in every thread started later; one thread takes
    // them with sigwait, so no thread polls for them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, onStop = std::move(onStop)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0) onStop();
        }
    }).detach();
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void PrepareTerminal() {}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

ResidentMemory ProcessResidentMemory() {
    ResidentMemory memory;
    std::ifstream status("/proc/self/status");
    std::string key;
    unsigned long long kib = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> kib) memory.now = kib * 1024;
        if (key == "VmHWM:" && status >> kib) memory.peak = kib * 1024;
    }
    return memory;
}

}  // namespace zelk
