// The one way the service's worker threads start and stop. A worker is started once and
// stopped once; stopping sets the stop signal its thread was handed, wakes whatever wait the
// thread is in, and joins it. The service starts its workers in order and stops them in reverse.
#pragma once

#include <functional>
#include <thread>
#include <utility>

#include "common/stop_signal.h"

namespace zelk {

class Worker {
  public:
    virtual ~Worker() = default;
    // Starts the thread; throws std::system_error when the system will not start it.
    virtual void Start() = 0;
    // Sets the stop signal, ends the thread's wait and joins it. Safe when not started, and
    // again.
    virtual void Stop() = 0;
};

// A thread that runs `body` with the stop signal it is to end on. `wake`, when given, is called
// by Stop after the signal is set, for a thread that waits on something else as well (a pipe, a
// gate, a notification loop): it must make that wait end or look at the signal.
class WorkerThread : public Worker {
  public:
    explicit WorkerThread(std::function<void(StopSignal&)> body, std::function<void()> wake = {})
        : body_(std::move(body)), wake_(std::move(wake)) {}
    ~WorkerThread() override { Stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    void Start() override {
        thread_ = std::thread([this] { body_(stop_); });
    }
    void Stop() override {
        stop_.Set();
        if (wake_) {
            wake_();
        }
        if (thread_.joinable()) {
            thread_.join();
        }
    }

  private:
    const std::function<void(StopSignal&)> body_;
    const std::function<void()> wake_;
    StopSignal stop_;
    std::thread thread_;
};

}  // namespace zelk
