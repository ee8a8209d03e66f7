#include "service/core/service_runner.h"

#include <chrono>
#include <utility>

namespace zelk {

ServiceRunner::ServiceRunner(LumaraService& service, std::function<void()> finished)
    : service_(service), finished_(std::move(finished)) {}

ServiceRunner::~ServiceRunner() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ServiceRunner::Start() {
    thread_ = std::thread([this] {
        service_.Run();
        {
            MutexLock guard(lock_);
            returned_ = true;
        }
        changed_.NotifyAll();
        if (finished_) {
            finished_();
        }
    });
}

bool ServiceRunner::Finished() const {
    MutexLock guard(lock_);
    return returned_;
}

bool ServiceRunner::WaitFor(std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    MutexLock guard(lock_);
    while (!returned_) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        changed_.WaitFor(lock_,
                         static_cast<std::uint32_t>(
                             std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
    }
    return true;
}

int ServiceRunner::Wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return service_.StartupError() != 0 || service_.ComFailed() ? 1 : 0;
}

}  // namespace zelk
