// The pipe server: takes the records of the endpoint's clients (several connected at once, one
// record each) in the order they arrive, and hands every well-formed one to the service.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "common/mutex.h"
#include "common/pipe_message.h"
#include "common/thread_annotations.h"
#include "common/worker_thread.h"
#include "service/pipe/pipe_endpoint.h"

namespace zelk {

class HaltGate;

// Whether the pipe is being served: told once, when the server has created its pipe (or could
// not), and waited for by whoever must know that clients can reach the service.
class PipeServing {
  public:
    void Set(bool serving) EXCLUDES(lock_);
    // Waits up to `timeoutMs` (real time) to be told; true when the pipe is served.
    bool Wait(std::uint32_t timeoutMs) EXCLUDES(lock_);

  private:
    Mutex lock_;
    CondVar changed_;
    bool known_ GUARDED_BY(lock_) = false;
    bool serving_ GUARDED_BY(lock_) = false;
};

class PipeServer : public Worker {
  public:
    // `apply` takes one record and follows the writer protocol (lock, apply, unlock, wake).
    // `gate`, when given, is passed after each read and before the record is applied.
    // `serving`, when given, is told whether the pipe could be created.
    PipeServer(PipeEndpoint& endpoint, std::string name,
               std::function<void(const PipeMessage&)> apply, HaltGate* gate = nullptr,
               PipeServing* serving = nullptr);

    PipeServer(const PipeServer&) = delete;
    PipeServer& operator=(const PipeServer&) = delete;

    // The server thread's routine; returns when the server gives up or the endpoint is closed,
    // and releases the pipe either way.
    void Serve();

    // Serve on a thread of its own. Stop shuts the gate down and closes the endpoint, which
    // ends the thread wherever it waits.
    void Start() override { thread_.Start(); }
    void Stop() override { thread_.Stop(); }

    // Connections that wrote, and records applied, so far (tests, benchmarks).
    std::uint64_t Received() const { return received_.load(); }
    std::uint64_t RecordsApplied() const { return applied_.load(); }

  private:
    void ServeUntilDone();

    PipeEndpoint& endpoint_;
    std::string name_;
    std::function<void(const PipeMessage&)> apply_;
    HaltGate* gate_;
    PipeServing* serving_;
    std::atomic<std::uint64_t> received_{0};
    std::atomic<std::uint64_t> applied_{0};
    // Last: stopped before the fields its thread uses go.
    WorkerThread thread_;
};

}  // namespace zelk
