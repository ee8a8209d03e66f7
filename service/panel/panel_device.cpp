// The panel object: finding the panel among the present HID interfaces, and writing one output
// report to it.
#include "service/panel/panel_device.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/debug_print.h"
#include "common/win_codes.h"
#include "service/panel/panel_scroll.h"

namespace zelk {
namespace {

// Stands in when the panel is built without a converter: bytes pass unchanged.
class CopyConverter final : public TextConverter {
  public:
    HResult Open() override { return kSOk; }
    HResult SetCodePages(std::uint32_t, std::uint32_t, std::uint32_t) override { return kSOk; }
    HResult Convert(const char* source, std::uint32_t& sourceLength, char* destination,
                    std::uint32_t& destinationCapacity) override {
        const std::uint32_t n = std::min(sourceLength, destinationCapacity);
        if (n > 0) {
            std::memcpy(destination, source, n);
        }
        sourceLength = n;
        destinationCapacity = n;
        return kSFalse;
    }
};

}  // namespace

PanelDevice::PanelDevice(HidBus& bus, std::unique_ptr<TextConverter> converter, Sleeper& sleeper)
    : bus_(bus),
      converter_(converter ? std::move(converter) : std::make_unique<CopyConverter>()),
      sleeper_(sleeper),
      impl_(std::make_unique<Impl>()) {}

PanelDevice::~PanelDevice() {
    StopScrolling();
    impl_->JoinAll();
}

bool PanelDevice::OpenPanel() {
    device_.reset();
    for (const std::string& path : bus_.EnumerateInterfaces()) {
        std::unique_ptr<HidDevice> candidate = bus_.Open(path);
        if (!candidate) {
            continue;  // cannot be opened for reading and writing: skipped
        }
        std::uint16_t vendor = 0;
        std::uint16_t product = 0;
        // Ids that cannot be read count as no match; the candidate closes when it goes.
        if (candidate->GetAttributes(vendor, product) && vendor == vendorId &&
            product == productId) {
            device_ = std::move(candidate);
            return true;
        }
    }
    DebugPrint("Searched through all HID devices and couldn't find a match. Returning FALSE.\n");
    return false;
}

bool PanelDevice::IsOpen() const {
    return device_ != nullptr;
}

std::uint32_t PanelDevice::WriteReport(const std::uint8_t (&report)[kReportSize]) {
    HidDevice* device = device_.get();
    if (device == nullptr) {
        return kErrorInvalidHandle;
    }
    std::uint16_t length = 0;
    const std::uint32_t result = device->GetOutputReportLength(length);
    if (result != kErrorSuccess) {
        return result;
    }
    if (length == 0) {
        return kErrorGenFailure;  // an interface without output reports cannot take ours
    }
    if (length <= kReportSize) {
        return device->Write(report, length);
    }
    // A panel with longer reports gets ours zero-padded to its length.
    std::vector<std::uint8_t> padded(length, 0);
    std::copy(std::begin(report), std::end(report), padded.begin());
    return device->Write(padded.data(), padded.size());
}

}  // namespace zelk
