#include "service/core/volume_thread.h"

#include <utility>

namespace zelk {

VolumeThread::VolumeThread(MakeMonitor makeMonitor, void* context, VolumeCallback callback)
    : makeMonitor_(std::move(makeMonitor)),
      context_(context),
      callback_(callback),
      thread_([this](StopSignal& stop) { Routine(stop); }, [this] { QuitMonitor(); }) {}

void VolumeThread::Routine(StopSignal& stop) {
    if (!makeMonitor_) {
        return;
    }
    std::unique_ptr<VolumeMonitor> monitor = makeMonitor_(context_);
    if (!monitor) {
        return;
    }
    monitor->Unmute();
    monitor->SetCallback(callback_, 0);
    {
        // The signal is set before QuitMonitor takes the lock: either it is seen here, or the
        // monitor is there to be quit.
        MutexLock guard(lock_);
        if (stop.IsSet()) {
            return;
        }
        monitor_ = monitor.get();
    }
    monitor->RunNotificationLoop();
    MutexLock guard(lock_);
    monitor_ = nullptr;
}

void VolumeThread::QuitMonitor() {
    MutexLock guard(lock_);
    if (monitor_ != nullptr) {
        monitor_->Quit();
    }
}

}  // namespace zelk
