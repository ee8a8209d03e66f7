// The pipe server: serves one client after another on a PipeEndpoint, one record each, and
// hands every well-formed record to the service.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/pipe_message.h"
#include "service/pipe/pipe_endpoint.h"

namespace zelk {

class HaltGate;

class PipeServer {
  public:
    // `apply` takes one record and follows the writer protocol (lock, apply, unlock, wake).
    // `gate`, when given, is passed after each read and before the record is applied.
    PipeServer(PipeEndpoint& endpoint, std::string name,
               std::function<void(const PipeMessage&)> apply, HaltGate* gate = nullptr);

    // The server thread's routine; returns when the server gives up or the endpoint is closed,
    // and releases the pipe either way.
    void Serve();

    // Connections served and records applied so far (tests, benchmarks).
    std::uint64_t Connections() const { return connections_.load(); }
    std::uint64_t RecordsApplied() const { return applied_.load(); }

  private:
    void ServeUntilDone();

    PipeEndpoint& endpoint_;
    std::string name_;
    std::function<void(const PipeMessage&)> apply_;
    HaltGate* gate_;
    std::atomic<std::uint64_t> connections_{0};
    std::atomic<std::uint64_t> applied_{0};
};

}  // namespace zelk
