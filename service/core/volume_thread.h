// The volume thread: makes the volume source's monitor on its own thread (where the system wants
// its notifications delivered), unmutes, and runs its notification loop until stopped.
#pragma once

#include <functional>
#include <memory>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "common/worker_thread.h"
#include "service/adapters/volume_monitor.h"

namespace zelk {

class VolumeThread : public Worker {
  public:
    using MakeMonitor = std::function<std::unique_ptr<VolumeMonitor>(void* context)>;

    // `makeMonitor` (empty, or giving null: no volume source) is called with `context`, which
    // `callback` is then called with for each change.
    VolumeThread(MakeMonitor makeMonitor, void* context, VolumeCallback callback);
    VolumeThread(const VolumeThread&) = delete;
    VolumeThread& operator=(const VolumeThread&) = delete;

    void Start() override { thread_.Start(); }
    // Quits the monitor's loop (or keeps a monitor still being made from entering it).
    void Stop() override { thread_.Stop(); }

  private:
    void Routine(StopSignal& stop) EXCLUDES(lock_);
    void QuitMonitor() EXCLUDES(lock_);

    const MakeMonitor makeMonitor_;
    void* const context_;
    const VolumeCallback callback_;
    Mutex lock_;
    VolumeMonitor* monitor_ GUARDED_BY(lock_) = nullptr;  // while its loop runs
    // Last: stopped before the fields its thread uses go.
    WorkerThread thread_;
};

}  // namespace zelk
