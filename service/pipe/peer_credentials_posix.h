// The credentials of a pipe client on the Unix socket, checked and traced.
#pragma once

namespace zelk {

// Reads the connected peer's process, user and group ids and traces them (once for a run of
// connections from the same process). False when they
// cannot be read: such a client is not served.
bool CheckPipePeer(int connection);

}  // namespace zelk
