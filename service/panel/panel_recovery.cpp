// The panel watch: its thread, the wait for the panel to come back, and the reopening.
#include "service/panel/panel_recovery.h"

#include <utility>

#include "common/debug_print.h"

namespace zelk {

PanelRecovery::PanelRecovery(HidBus& bus, PanelDevice& panel, std::function<void()> panelBack)
    : bus_(bus),
      panel_(panel),
      panelBack_(std::move(panelBack)),
      thread_([this](StopSignal& stop) { Watch(stop); }, [this] { WakeToStop(); }) {
    panel_.SetLostHandler([this] { PanelLost(); });
}

PanelRecovery::~PanelRecovery() {
    Stop();
}

void PanelRecovery::WakeToStop() {
    {
        // Taken so that a watch between its look at the signal and its wait does not miss this.
        MutexLock guard(lock_);
    }
    changed_.NotifyAll();
    bus_.CancelArrivalWait();
}

void PanelRecovery::PanelLost() {
    {
        MutexLock guard(lock_);
        lost_ = true;
    }
    changed_.NotifyAll();
}

void PanelRecovery::Watch(StopSignal& stop) {
    for (;;) {
        {
            MutexLock guard(lock_);
            while (!stop.IsSet() && !lost_) {
                changed_.Wait(lock_);
            }
            if (stop.IsSet()) {
                return;
            }
            lost_ = false;
        }
        DebugPrint("The panel has gone; waiting for it to come back.\n");
        // Waits on the bus's arrival notices; without one the bus is scanned again now and
        // then. A write error that left the panel in place finds it at once.
        bool reopened = Reopen();
        while (!reopened) {
            bus_.WaitForArrival(kPanelRescanMs);
            if (stop.IsSet()) {
                return;
            }
            reopened = Reopen();
        }
    }
}

bool PanelRecovery::Reopen() {
    {
        PanelFrame frame = panel_.BeginFrame();
        if (!frame.ReopenPanel()) {
            return false;
        }
        frame.SendOpeningReports(true);
    }
    DebugPrint("The panel is back.\n");
    if (panelBack_) {
        panelBack_();
    }
    return true;
}

}  // namespace zelk
