// The panel watch: its thread, the wait for the panel to come back, and the reopening.
#include "service/panel/panel_recovery.h"

#include <utility>

#include "common/debug_print.h"

namespace zelk {

PanelRecovery::PanelRecovery(HidBus& bus, PanelDevice& panel, std::function<void()> panelBack)
    : bus_(bus), panel_(panel), panelBack_(std::move(panelBack)) {
    panel_.SetLostHandler([this] { PanelLost(); });
}

PanelRecovery::~PanelRecovery() {
    Stop();
}

void PanelRecovery::Start() {
    {
        MutexLock guard(lock_);
        quit_ = false;
    }
    thread_ = std::thread([this] { Watch(); });
}

void PanelRecovery::Stop() {
    {
        MutexLock guard(lock_);
        quit_ = true;
    }
    changed_.NotifyAll();
    bus_.CancelArrivalWait();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void PanelRecovery::PanelLost() {
    {
        MutexLock guard(lock_);
        lost_ = true;
    }
    changed_.NotifyAll();
}

bool PanelRecovery::QuitRequested() {
    MutexLock guard(lock_);
    return quit_;
}

void PanelRecovery::Watch() {
    for (;;) {
        {
            MutexLock guard(lock_);
            while (!quit_ && !lost_) {
                changed_.Wait(lock_);
            }
            if (quit_) {
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
            if (QuitRequested()) {
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
