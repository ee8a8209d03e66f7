// What happens when the panel goes away (unplugged, powered off): a write finds it gone and
// closes it, the panel's lost handler wakes this watch, and its thread waits for the bus's
// arrival notices (scanning again at least every kPanelRescanMs should none come) until the
// panel opens again. The panel then gets its opening reports (the brightness it is to show, the
// whole panel cleared) and the owner is told, so that it can draw its picture again.
#pragma once

#include <cstdint>
#include <functional>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "common/worker_thread.h"

#include "service/panel/hid_bus.h"
#include "service/panel/panel_device.h"

namespace zelk {

// While the panel is gone the bus is scanned again at least this often.
inline constexpr std::uint32_t kPanelRescanMs = 5000;

class PanelRecovery : public Worker {
  public:
    // `panelBack` runs on the watch thread each time the panel was opened again, after its
    // opening reports and outside any frame. Makes the watch the panel's lost handler, so it
    // is built before the panel is shared with other threads.
    PanelRecovery(HidBus& bus, PanelDevice& panel, std::function<void()> panelBack);
    // Stops the watch.
    ~PanelRecovery() override;
    PanelRecovery(const PanelRecovery&) = delete;
    PanelRecovery& operator=(const PanelRecovery&) = delete;

    // Starts the watch thread; throws std::system_error when the system will not start it.
    void Start() override { thread_.Start(); }
    // Ends the watch (a wait for the panel included) and joins its thread. Safe to call when
    // it is not running.
    void Stop() override { thread_.Stop(); }

  private:
    // The panel's lost handler: called inside the frame whose write found the panel gone, it
    // only wakes the watch.
    void PanelLost() EXCLUDES(lock_);
    void Watch(StopSignal& stop) EXCLUDES(lock_);
    // Ends the watch's waits once its stop signal is set.
    void WakeToStop() EXCLUDES(lock_);
    // Opens the panel again and sends the opening reports; false when it is not there.
    bool Reopen() EXCLUDES(lock_);

    HidBus& bus_;
    PanelDevice& panel_;
    const std::function<void()> panelBack_;
    Mutex lock_;
    CondVar changed_;
    bool lost_ GUARDED_BY(lock_) = false;
    // Last: stopped before the fields its thread uses go.
    WorkerThread thread_;
};

}  // namespace zelk
