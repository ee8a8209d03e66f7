#include "service/pipe/pipe_server.h"

#include <array>
#include <chrono>
#include <utility>

#include "common/debug_print.h"
#include "common/halt_gate.h"

namespace zelk {

PipeServer::PipeServer(PipeEndpoint& endpoint, std::string name,
                       std::function<void(const PipeMessage&)> apply, HaltGate* gate,
                       PipeServing* serving)
    : endpoint_(endpoint),
      name_(std::move(name)),
      apply_(std::move(apply)),
      gate_(gate),
      serving_(serving),
      thread_([this](StopSignal&) { Serve(); },
              [this] {
                  if (gate_ != nullptr) {
                      gate_->Shutdown();
                  }
                  endpoint_.Close();
              }) {}

void PipeServing::Set(bool serving) {
    {
        MutexLock guard(lock_);
        known_ = true;
        serving_ = serving;
    }
    changed_.NotifyAll();
}

bool PipeServing::Wait(std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    MutexLock guard(lock_);
    while (!known_ && changed_.WaitUntil(lock_, deadline)) {
    }
    return known_ && serving_;
}

void PipeServer::Serve() {
    ServeUntilDone();
    endpoint_.Release();
}

void PipeServer::ServeUntilDone() {
    // Zeroed once; the record reader only ever looks at the bytes of the current read.
    std::array<unsigned char, kPipeReceiveBufferSize> buffer{};

    const PipeCreateResult created = endpoint_.Create(name_);
    if (serving_ != nullptr) {
        serving_->Set(created == PipeCreateResult::kCreated);
    }
    switch (created) {
        case PipeCreateResult::kCreated:
            break;
        case PipeCreateResult::kDescriptorFailed:
            DebugPrint("BuildRestrictedSD() failed\n");
            return;
        case PipeCreateResult::kCreateFailed:
            DebugPrint("Failed to create ZELK Named pipe\n");
            return;
    }

    for (;;) {
        std::size_t count = 0;
        PipeConnectionId connection = 0;
        if (endpoint_.Receive(buffer.data(), buffer.size(), count, connection) !=
            PipeReceiveResult::kRecord) {
            return;  // closed, or the wait failed
        }
        received_.fetch_add(1);
        if (gate_ != nullptr && !gate_->Pass()) {
            return;  // shut down while halted
        }
        PipeMessage message;
        if (ReadPipeRecord(buffer.data(), count, message)) {
            apply_(message);
            applied_.fetch_add(1);
        }
        if (!endpoint_.Disconnect(connection)) {
            DebugPrint("Failed to disconnect client.\n");
            return;
        }
    }
}

}  // namespace zelk
