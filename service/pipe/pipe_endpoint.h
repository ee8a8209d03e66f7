// The server end of the front-panel pipe, one connection at a time. Windows: a named pipe of
// one instance. Elsewhere: an abstract-namespace SOCK_SEQPACKET socket named "\0" + the pipe
// name. The serving logic (pipe_server.h) is the same over both.
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

enum class PipeCreateResult {
    kCreated,
    kDescriptorFailed,  // the security descriptor could not be built (Windows)
    kCreateFailed,      // the pipe itself could not be created (name taken, no resources)
};

enum class PipeWaitResult {
    kConnected,  // a client is connected (it may already have written and gone)
    kFailed,     // the wait failed: the server gives up
    kClosed,     // Close() was called
};

enum class PipeReadResult {
    kRead,    // `count` bytes arrived (at least one)
    kFailed,  // nothing usable: the client went away, wrote nothing in time, or the read failed
    kClosed,  // Close() was called
};

class PipeEndpoint {
  public:
    virtual ~PipeEndpoint() = default;  // closes the pipe

    // Creates the server end of pipe `name` (without any prefix).
    virtual PipeCreateResult Create(const std::string& name) = 0;
    // Waits for the next client.
    virtual PipeWaitResult WaitForClient() = 0;
    // Reads once, at most `size` bytes, waiting at most `timeoutMs` for the client's data.
    virtual PipeReadResult Read(void* buffer, std::size_t size, std::size_t& count,
                                std::uint32_t timeoutMs) = 0;
    // Ends the current connection; false when that fails.
    virtual bool Disconnect() = 0;
    // Closes the pipe itself: called by the server thread as it ends, so the name is free and
    // clients find nobody serving.
    virtual void Release() = 0;
    // From any thread: the wait or read in progress and every later one return kClosed.
    virtual void Close() = 0;
};

// The platform's endpoint.
std::unique_ptr<PipeEndpoint> CreateSystemPipeEndpoint();

}  // namespace zelk
