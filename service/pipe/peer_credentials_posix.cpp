#include "service/pipe/peer_credentials_posix.h"

#include <sys/socket.h>

#include <atomic>

#include "common/debug_print.h"

namespace zelk {

namespace {

// The last client traced: a client that sends record after record is traced once.
std::atomic<int> lastTracedPid{0};

}  // namespace

bool CheckPipePeer(int connection) {
    ucred peer{};
    socklen_t length = sizeof peer;
    // (A client in another process namespace is shown as pid 0; it is served all the same.)
    if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        length != sizeof peer) {
        DebugPrint("Pipe client refused: its credentials cannot be read\n");
        return false;
    }
    if (lastTracedPid.exchange(peer.pid) == peer.pid) {
        return true;
    }
    DebugPrint("Pipe client: pid %d, uid %u, gid %u\n", static_cast<int>(peer.pid),
               static_cast<unsigned>(peer.uid), static_cast<unsigned>(peer.gid));
    return true;
}

}  // namespace zelk
