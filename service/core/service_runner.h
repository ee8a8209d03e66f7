// How every program and test runs the service: Run on a thread of its own, a stop asked for
// from any thread, a wait for Run to return, and the exit status it leaves.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/core/lumara_service.h"

namespace zelk {

class ServiceRunner {
  public:
    // `finished`, when given, runs on the runner's thread once Run has returned (to wake a
    // program's own loop).
    explicit ServiceRunner(LumaraService& service, std::function<void()> finished = {});
    // Waits for Run to return (it does not ask it to stop).
    ~ServiceRunner();
    ServiceRunner(const ServiceRunner&) = delete;
    ServiceRunner& operator=(const ServiceRunner&) = delete;

    // Starts Run; throws std::system_error when the system will not start the thread.
    void Start();
    // From any thread: the service's stop, as the service manager would ask for it.
    void RequestStop() { service_.OnStop(); }
    // Whether Run has returned.
    bool Finished() const EXCLUDES(lock_);
    // Waits up to `timeoutMs` (real time) for Run to return; false when it has not.
    bool WaitFor(std::uint32_t timeoutMs) EXCLUDES(lock_);
    // Waits for Run to return (from the thread that started it) and gives the exit status: 1
    // when Run stopped on a start-up failure (display properties, panel, COM), else 0.
    int Wait() EXCLUDES(lock_);

  private:
    LumaraService& service_;
    const std::function<void()> finished_;
    mutable Mutex lock_;
    CondVar changed_;
    bool returned_ GUARDED_BY(lock_) = false;
    std::thread thread_;
};

}  // namespace zelk
