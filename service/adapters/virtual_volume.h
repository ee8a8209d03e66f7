// A volume source for the simulator and the tests: a virtual master volume and mute that the
// user (or a test) changes, with change notices delivered to the monitor's callback on the
// thread that runs its notification loop, as the system mixer's are.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/volume_monitor.h"

namespace zelk {

class SimVolumeSource {
  public:
    // `volume` is what GetVolume reads at first (-1: as if there were no volume control).
    explicit SimVolumeSource(std::int32_t volume = -1) : volume_(volume) {}

    // A monitor over this source, as the service's factory makes one.
    std::unique_ptr<VolumeMonitor> MakeMonitor(void* context);

    // Changes the volume (0 to 65535) or the mute switch and notifies every monitor whose
    // callback is set.
    void SetVolume(std::int32_t volume);
    void SetMute(bool muted);

    std::int32_t Volume() const;
    bool Muted() const;
    int MonitorsMade() const;
    int Unmutes() const;
    // Monitors that have a callback set (what a notice reaches).
    int Listening() const;

  private:
    class Monitor;
    void Notify(std::int32_t value, std::int32_t flag);

    mutable Mutex lock_;
    std::int32_t volume_ GUARDED_BY(lock_);
    bool muted_ GUARDED_BY(lock_) = false;
    int made_ GUARDED_BY(lock_) = 0;
    int unmutes_ GUARDED_BY(lock_) = 0;
    std::vector<Monitor*> monitors_ GUARDED_BY(lock_);
};

}  // namespace zelk
