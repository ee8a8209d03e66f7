// The little the simulator needs from the console.
#pragma once

namespace zelk {

// True when standard output is a terminal (a console on Windows).
bool StdoutIsTerminal();
// Makes the terminal take UTF-8 and ANSI sequences (Windows consoles); nothing elsewhere.
void PrepareTerminal();

}  // namespace zelk
