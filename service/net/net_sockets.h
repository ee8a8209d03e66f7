// The platform's TCP sockets as the line server uses them: listeners and connections named by
// small numbers, all non-blocking, and one untimed wait over them that another thread can end.
// Windows: Winsock with WSAPoll. Elsewhere: poll(2) and an eventfd.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelk {

// Names one listener or connection of a NetSockets until it is closed.
using NetHandle = std::uint32_t;

enum class NetListenError {
    kNone,
    kBadAddress,       // not a numeric IPv4 or IPv6 address
    kAddressInUse,     // another socket holds the address and port
    kAddressNotLocal,  // no interface has the address (for example no IPv6 on the host)
    kAccessDenied,     // a privileged port
    kFailed,           // anything else (the system code tells)
};

// Why a listen failed: the kind, the system's code and its text.
struct NetListenFailure {
    NetListenError error = NetListenError::kNone;
    int systemCode = 0;
    std::string text;
};

enum class NetIo {
    kDone,        // some bytes moved, or a connection was accepted
    kWouldBlock,  // nothing now
    kClosed,      // the peer closed (read) or the connection is gone (write)
};

// One socket watched by Wait: what is wanted, and what Wait found.
struct NetWatch {
    NetHandle handle = 0;
    bool read = false;
    bool write = false;
    bool readable = false;  // readable, accept pending, closed or failed
    bool writable = false;
};

class NetSockets {
  public:
    virtual ~NetSockets() = default;  // closes every socket

    // False when the sockets cannot be used at all (no wake-up channel, no Winsock).
    virtual bool Usable() const = 0;
    // Listens on a numeric address and port (0: a free port); tells the port it got.
    virtual bool Listen(const std::string& address, std::uint16_t port, NetHandle& listener,
                        std::uint16_t& boundPort, NetListenFailure& failure) = 0;
    // Takes one waiting connection of `listener`.
    virtual NetIo Accept(NetHandle listener, NetHandle& connection) = 0;
    virtual NetIo Read(NetHandle connection, char* buffer, std::size_t size,
                       std::size_t& count) = 0;
    virtual NetIo Write(NetHandle connection, const char* data, std::size_t size,
                        std::size_t& count) = 0;
    virtual void Close(NetHandle socket) = 0;
    // Waits until a watched socket is ready or Wake is called; with `block` false it only
    // looks. Returns false when the wait itself fails. `woken` tells whether Wake was called
    // since the last wait that reported it.
    virtual bool Wait(std::vector<NetWatch>& watches, bool block, bool& woken) = 0;
    // From any thread: ends the Wait in progress, or makes the next one return at once.
    virtual void Wake() = 0;
};

// The platform's sockets.
std::unique_ptr<NetSockets> CreateSystemNetSockets();

}  // namespace zelk
