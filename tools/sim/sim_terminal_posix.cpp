#include <time.h>
#include <unistd.h>

#include "tools/sim/sim_terminal.h"

namespace zelk {

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void PrepareTerminal() {}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace zelk
