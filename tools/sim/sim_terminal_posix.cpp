#include <unistd.h>

#include "tools/sim/sim_terminal.h"

namespace zelk {

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

void PrepareTerminal() {}

}  // namespace zelk
