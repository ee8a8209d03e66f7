// The writer's side of the pipe, for the status sink, the tools and the tests: one connection,
// one record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/pipe_message.h"
#include "common/win_codes.h"

namespace zelk {

// How long a writer waits for a busy pipe, per wait.
inline constexpr std::uint32_t kPipeBusyWaitMs = 20000;

// How long a refused connection is tried again before it counts as "nobody serves" (sockets:
// a listener under heavy load now and then refuses for a moment; named pipes do not).
inline constexpr std::uint32_t kPipeRefusedRetryMs = 200;

// One client connection, held open until Close or destruction (tests: idle clients).
class PipeClientConnection {
  public:
    PipeClientConnection() = default;
    ~PipeClientConnection();
    PipeClientConnection(const PipeClientConnection&) = delete;
    PipeClientConnection& operator=(const PipeClientConnection&) = delete;

    // Where an Open failed: connecting, or waiting for a busy pipe.
    enum class Failure { kNone, kConnect, kBusyWait };
    // Connects to pipe `name`, waiting while it is busy: 0, 2 when nobody serves it, or
    // another system error code; `failure` (when given) says which step failed.
    std::uint32_t Open(const std::string& name, Failure* failure = nullptr,
                       std::uint32_t refusedRetryMs = kPipeRefusedRetryMs);
    // False when the open connection could not be put into message read mode (Windows).
    bool MessageMode() const { return messageMode_; }
    // One write of `count` bytes: 0 or a system error code.
    std::uint32_t Write(const void* bytes, std::size_t count);
    void Close();

  private:
    std::intptr_t handle_ = -1;
    bool messageMode_ = false;
};

// Connects to pipe `name`, writes the 264 bytes of `message` in one write and closes. Returns 0
// when sent, 2 when nobody serves the pipe, or another system error code. A writer that only
// checks whether the service is back passes 0 for `refusedRetryMs`.
std::uint32_t SendPipeRecord(const std::string& name, const PipeMessage& message,
                             std::uint32_t refusedRetryMs = kPipeRefusedRetryMs);

// Writes `count` raw bytes on one connection (tests: short and odd-sized records; 0 connects
// and closes without writing). Same results as SendPipeRecord.
std::uint32_t SendPipeBytes(const std::string& name, const void* bytes, std::size_t count);

}  // namespace zelk
