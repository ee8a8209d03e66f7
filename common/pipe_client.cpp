// The one-record client, the same on every platform: a connection of its own per record.
#include "common/pipe_client.h"

namespace zelk {

std::uint32_t SendPipeBytes(const std::string& name, const void* bytes, std::size_t count) {
    PipeClientConnection connection;
    std::uint32_t result = connection.Open(name);
    if (result == 0 && count > 0) {
        result = connection.Write(bytes, count);
    }
    return result;
}

std::uint32_t SendPipeRecord(const std::string& name, const PipeMessage& message,
                             std::uint32_t refusedRetryMs) {
    PipeClientConnection connection;
    std::uint32_t result = connection.Open(name, nullptr, refusedRetryMs);
    if (result == 0) {
        result = connection.Write(&message, sizeof message);
    }
    return result;
}

}  // namespace zelk
