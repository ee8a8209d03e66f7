// The panel object: its frames, finding the panel among the present HID interfaces, and
// writing one output report to it.
#include "service/panel/panel_device.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/debug_print.h"
#include "common/win_codes.h"
#include "service/panel/line_scroller.h"

namespace zelk {

PanelDevice::PanelDevice(HidBus& bus, std::unique_ptr<TextConverter> converter, Sleeper& sleeper)
    : bus_(bus),
      converter_(converter ? std::move(converter) : CreateCopyingTextConverter()),
      scroller_(std::make_unique<LineScroller>(*this, sleeper)) {}

// The scroller goes first (it is the last member): its threads are joined while the lock and
// the device are still there.
PanelDevice::~PanelDevice() {
    StopScrolling();
}

// The frame's lifetime is the lock's: the analysis cannot follow a guard returned by value.
PanelFrame PanelDevice::BeginFrame() NO_THREAD_SAFETY_ANALYSIS {
    lock_.lock();
    return PanelFrame(*this);
}

std::optional<PanelFrame> PanelDevice::TryBeginFrame() NO_THREAD_SAFETY_ANALYSIS {
    if (!lock_.try_lock()) {
        return std::nullopt;
    }
    return std::optional<PanelFrame>(PanelFrame(*this));
}

bool PanelDevice::OpenPanel(const PanelConfig& config) {
    return BeginFrame().OpenPanel(config);
}

void PanelDevice::StopScrolling() {
    scroller_->Stop();
}

PanelFrame::PanelFrame(PanelDevice& panel) : panel_(&panel) {}

PanelFrame::PanelFrame(PanelFrame&& other) noexcept
    : panel_(std::exchange(other.panel_, nullptr)) {}

PanelFrame::~PanelFrame() NO_THREAD_SAFETY_ANALYSIS {
    if (panel_ != nullptr) {
        panel_->lock_.unlock();
    }
}

bool PanelFrame::OpenPanel(const PanelConfig& config) {
    PanelDevice& panel = *panel_;
    panel.lock_.AssertHeld();
    panel.config_ = config;
    panel.brightness_.store(static_cast<std::uint8_t>(config.brightness & 0xFF));
    return ReopenPanel();
}

bool PanelFrame::ReopenPanel() {
    PanelDevice& panel = *panel_;
    panel.lock_.AssertHeld();
    const PanelConfig& config = panel.config_;
    panel.device_.reset();
    panel.open_.store(false);
    for (const std::string& path : panel.bus_.EnumerateInterfaces()) {
        std::unique_ptr<HidDevice> candidate = panel.bus_.Open(path);
        if (!candidate) {
            continue;  // cannot be opened for reading and writing: skipped
        }
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        // Ids that cannot be read count as no match; the candidate closes when it goes.
        if (candidate->GetAttributes(vendor, product) && vendor == config.vendorId &&
            product == config.productId) {
            panel.device_ = std::move(candidate);
            panel.open_.store(true);
            // A panel found again shows nothing: the text scrolled last is to scroll again.
            panel.scroller_->Forget(*this);
            return true;
        }
    }
    DebugPrint("Searched through all HID devices and couldn't find a match. Returning FALSE.\n");
    return false;
}

std::uint32_t PanelFrame::WriteReport(const std::uint8_t (&report)[kReportSize]) {
    panel_->lock_.AssertHeld();
    HidDevice* device = panel_->device_.get();
    if (device == nullptr) {
        return kErrorInvalidHandle;
    }
    const std::uint32_t result = WriteTo(*device, report);
    if (IsPanelGone(result)) {
        // Nothing more goes to a dead handle; the lost handler has the panel found again.
        panel_->device_.reset();
        panel_->open_.store(false);
        if (panel_->lostHandler_) {
            panel_->lostHandler_();
        }
    }
    return result;
}

std::uint32_t PanelFrame::WriteTo(HidDevice& device, const std::uint8_t (&report)[kReportSize]) {
    std::uint16_t length = 0;
    const std::uint32_t result = device.GetOutputReportLength(length);
    if (result != kErrorSuccess) {
        return result;
    }
    if (length == 0) {
        return kErrorGenFailure;  // an interface without output reports cannot take ours
    }
    if (length <= kReportSize) {
        return device.Write(report, length);
    }
    // A panel with longer reports gets ours zero-padded to its length.
    std::vector<std::uint8_t> padded(length, 0);
    std::copy(std::begin(report), std::end(report), padded.begin());
    return device.Write(padded.data(), padded.size());
}

}  // namespace zelk
