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
    while (!returned_ && changed_.WaitUntil(lock_, deadline)) {
    }
    return returned_;
}

int ServiceRunner::Wait() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return service_.StartupError() != 0 || service_.ComFailed() ? 1 : 0;
}

}  // namespace zelk
