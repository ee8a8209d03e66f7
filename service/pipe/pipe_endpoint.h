// The server end of the front-panel pipe. Windows: a named pipe of several instances. Elsewhere:
// an abstract-namespace SOCK_SEQPACKET socket named "\0" + the pipe name. Either way several
// clients are connected at once, each carrying one record; the serving logic (pipe_server.h)
// is the same over both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelk {

// Bytes the server reads at most per connection.
inline constexpr std::size_t kPipeReceiveBufferSize = 4096;
// How long a connected client may take to write its record before it is dropped.
inline constexpr std::uint32_t kPipeReadTimeoutMs = 2000;
// Connections held at once. Clients past them wait for a free one (the listen queue, or a
// busy pipe), as clients of a busy pipe do.
inline constexpr std::size_t kPipeMaxConnections = 64;

enum class PipeCreateResult {
    kCreated,
    kDescriptorFailed,  // the security descriptor could not be built (Windows)
    kCreateFailed,      // the pipe itself could not be created (name taken, no resources)
};

enum class PipeReceiveResult {
    kRecord,  // a connection's first bytes arrived (at least one)
    kFailed,  // waiting failed: the server gives up
    kClosed,  // Close() was called
};

// Names one connection between Receive and Disconnect.
using PipeConnectionId = std::uint32_t;

class PipeEndpoint {
  public:
    virtual ~PipeEndpoint() = default;  // closes the pipe

    // Creates the server end of pipe `name` (without any prefix).
    virtual PipeCreateResult Create(const std::string& name) = 0;
    // Waits until a connected client has written and reads once, at most `size` bytes, from
    // it. Meanwhile it takes new clients (up to kPipeMaxConnections at once) and drops those
    // that go away without writing or write nothing within kPipeReadTimeoutMs. Records are
    // given in the order their bytes arrived, so a client that writes, closes and connects
    // again has its records given in order.
    virtual PipeReceiveResult Receive(void* buffer, std::size_t size, std::size_t& count,
                                      PipeConnectionId& connection) = 0;
    // Ends a connection Receive gave; false when that fails.
    virtual bool Disconnect(PipeConnectionId connection) = 0;
    // Closes the pipe itself: called by the server thread as it ends, so the name is free and
    // clients find nobody serving.
    virtual void Release() = 0;
    // From any thread: the Receive in progress and every later one return kClosed.
    virtual void Close() = 0;
};

// The platform's endpoint.
std::unique_ptr<PipeEndpoint> CreateSystemPipeEndpoint();

}  // namespace zelk
