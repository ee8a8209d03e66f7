// The writer's side of the pipe, for the tools and tests: one connection, one record.
#pragma once

#include <cstdint>
#include <string>

#include "common/pipe_message.h"
#include "common/win_codes.h"

namespace zelk {

// A write that did not take the whole record (ERROR_WRITE_FAULT).
inline constexpr std::uint32_t kPipeErrorWriteFault = 29;

// How long a writer waits for a busy pipe, per wait.
inline constexpr std::uint32_t kPipeBusyWaitMs = 20000;

// Connects to pipe `name`, writes the 264 bytes of `message` in one write and closes. Returns 0
// when sent, 2 when nobody serves the pipe, or another system error code.
std::uint32_t SendPipeRecord(const std::string& name, const PipeMessage& message);

// Writes `count` raw bytes on one connection (tests: short and odd-sized records; 0 connects
// and closes without writing). Same results as SendPipeRecord.
std::uint32_t SendPipeBytes(const std::string& name, const void* bytes, std::size_t count);

}  // namespace zelk
