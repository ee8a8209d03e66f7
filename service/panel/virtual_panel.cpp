#include "service/panel/virtual_panel.h"

#include <algorithm>
#include <deque>
#include <utility>

#include "common/mutex.h"
#include "common/thread_annotations.h"

namespace zelk {
namespace {

struct VirtualDevice {
    VirtualDeviceConfig config;
    bool unplugged = false;
    std::uint32_t unpluggedError = kErrorDeviceNotConnected;
    PanelPicture picture;
    std::deque<std::vector<std::uint8_t>> log;  // the last kVirtualPanelHistory reports
    std::size_t logged = 0;                     // reports since the log was last cleared
    std::size_t accesses = 0;
    std::size_t opens = 0;
};

template <std::size_t N>
std::vector<std::string> LitNames(std::uint8_t value, const std::array<IconName, N>& names) {
    std::vector<std::string> lit;
    for (const IconName& icon : names) {
        if ((value & icon.bit) != 0) {
            lit.emplace_back(icon.name);
        }
    }
    return lit;
}

// Applies one report to the picture, as the panel's firmware reads the bytes it received.
void Decode(const std::vector<std::uint8_t>& report, PanelPicture& picture) {
    auto needs = [&](std::size_t bytes) {
        if (report.size() < bytes) {
            ++picture.ignoredReports;
            return false;
        }
        ++picture.decodedReports;
        return true;
    };
    if (report.empty()) {
        ++picture.ignoredReports;
        return;
    }
    switch (report[0]) {
        case 1: {
            if (report.size() < 3) {
                ++picture.ignoredReports;
                return;
            }
            const std::uint8_t code = report[1];
            int row = -1;
            if ((code & 0xC0) == 0xC0) {
                row = 0;
            } else if ((code & 0xC0) == 0x80) {
                row = 1;
            }
            if (row < 0) {
                ++picture.ignoredReports;
                return;
            }
            ++picture.decodedReports;
            picture.lines[row][code & 0x3F] = static_cast<char>(report[2]);
            return;
        }
        case 2:
            if (needs(2)) {
                picture.brightness = report[1];
            }
            return;
        case 3:
            if (needs(2)) {
                picture.displayControl = report[1];
            }
            return;
        case 4:
            if (needs(3)) {
                picture.volumeMask = static_cast<std::uint16_t>(report[1] | (report[2] << 8));
            }
            return;
        case 5:
            if (needs(2)) {
                picture.statusIcons = report[1];
            }
            return;
        case 6:
            if (needs(2)) {
                picture.mediaIcons = report[1];
            }
            return;
        default:
            ++picture.ignoredReports;
            return;
    }
}

}  // namespace

std::vector<std::string> StatusIconNames(std::uint8_t statusByte) {
    return LitNames(statusByte, kStatusIconNames);
}

std::vector<std::string> MediaIconNames(std::uint8_t mediaByte) {
    return LitNames(mediaByte, kMediaIconNames);
}

std::string PanelPicture::Line(int row, std::size_t columns) const {
    if (row != 0 && row != 1) {
        return std::string();
    }
    return lines[row].substr(0, std::min(columns, kVirtualPanelColumns));
}

int PanelPicture::VolumeSegments() const {
    int lit = 0;
    for (std::uint16_t mask = volumeMask; mask != 0; mask &= static_cast<std::uint16_t>(mask - 1)) {
        ++lit;
    }
    return lit;
}

struct VirtualPanelBus::Shared {
    // Order of locking: observerLock, then lock. observerLock keeps the observer's calls in
    // the order of the log while letting it read the bus.
    mutable Mutex observerLock ACQUIRED_BEFORE(lock);
    mutable Mutex lock;
    mutable CondVar reportArrived;
    CondVar arrivalNoticed;
    std::uint64_t arrivals GUARDED_BY(lock) = 0;      // notices given so far
    std::uint64_t arrivalsSeen GUARDED_BY(lock) = 0;  // notices a wait has returned for
    bool watching GUARDED_BY(lock) = false;           // a wait has set up the watch
    bool cancelled GUARDED_BY(lock) = false;
    std::vector<VirtualDevice> devices GUARDED_BY(lock);
    ReportObserver observer GUARDED_BY(lock);

    VirtualDevice* Find(std::size_t index) REQUIRES(lock) {
        return index < devices.size() ? &devices[index] : nullptr;
    }
    const VirtualDevice* Find(std::size_t index) const REQUIRES(lock) {
        return index < devices.size() ? &devices[index] : nullptr;
    }
};

// An open device: reaches the shared state by index, so it stays valid after the bus is gone.
class VirtualPanelBus::Handle : public HidDevice {
  public:
    Handle(std::shared_ptr<Shared> shared, std::size_t index)
        : shared_(std::move(shared)), index_(index) {}

    bool GetAttributes(std::uint16_t& vendorId, std::uint16_t& productId) override {
        MutexLock guard(shared_->lock);
        VirtualDevice& device = shared_->devices[index_];
        ++device.accesses;
        if (device.unplugged || !device.config.attributesReadable) {
            return false;
        }
        vendorId = device.config.vendorId;
        productId = device.config.productId;
        return true;
    }

    std::uint32_t GetOutputReportLength(std::uint16_t& length) override {
        MutexLock guard(shared_->lock);
        VirtualDevice& device = shared_->devices[index_];
        ++device.accesses;
        if (device.unplugged) {
            return device.unpluggedError;
        }
        length = device.config.outputReportLength;
        return kErrorSuccess;
    }

    std::uint32_t Write(const std::uint8_t* data, std::size_t length) override {
        MutexLock observing(shared_->observerLock);
        std::vector<std::uint8_t> report;
        PanelPicture picture;
        ReportObserver observer;
        {
            MutexLock guard(shared_->lock);
            VirtualDevice& device = shared_->devices[index_];
            ++device.accesses;
            if (device.unplugged) {
                return device.unpluggedError;
            }
            if (data == nullptr && length > 0) {
                return kErrorGenFailure;
            }
            report.assign(data, data + length);
            Decode(report, device.picture);
            device.log.push_back(report);
            if (device.log.size() > kVirtualPanelHistory) {
                device.log.pop_front();
            }
            ++device.logged;
            picture = device.picture;
            observer = shared_->observer;
        }
        shared_->reportArrived.NotifyAll();
        if (observer) {
            observer(index_, report, picture);
        }
        return kErrorSuccess;
    }

  private:
    std::shared_ptr<Shared> shared_;
    std::size_t index_;
};

VirtualPanelBus::VirtualPanelBus() : shared_(std::make_shared<Shared>()) {}

VirtualPanelBus::VirtualPanelBus(const VirtualDeviceConfig& config) : VirtualPanelBus() {
    AddDevice(config);
}

VirtualPanelBus::~VirtualPanelBus() = default;

std::size_t VirtualPanelBus::AddDevice(const VirtualDeviceConfig& config) {
    MutexLock guard(shared_->lock);
    VirtualDevice device;
    device.config = config;
    if (device.config.path.empty()) {
        device.config.path = "virtual-hid#" + std::to_string(shared_->devices.size());
    }
    shared_->devices.push_back(std::move(device));
    ++shared_->arrivals;
    shared_->arrivalNoticed.NotifyAll();
    return shared_->devices.size() - 1;
}

std::size_t VirtualPanelBus::DeviceCount() const {
    MutexLock guard(shared_->lock);
    return shared_->devices.size();
}

std::vector<std::string> VirtualPanelBus::EnumerateInterfaces() {
    MutexLock guard(shared_->lock);
    std::vector<std::string> paths;
    for (const VirtualDevice& device : shared_->devices) {
        if (!device.unplugged) {
            paths.push_back(device.config.path);
        }
    }
    return paths;
}

std::unique_ptr<HidDevice> VirtualPanelBus::Open(const std::string& path) {
    MutexLock guard(shared_->lock);
    for (std::size_t i = 0; i < shared_->devices.size(); ++i) {
        VirtualDevice& device = shared_->devices[i];
        if (device.config.path != path) {
            continue;
        }
        ++device.accesses;
        ++device.opens;
        if (device.unplugged || !device.config.openable) {
            return nullptr;
        }
        return std::make_unique<Handle>(shared_, i);
    }
    return nullptr;
}

void VirtualPanelBus::SetUnplugged(std::size_t device, bool unplugged, std::uint32_t error) {
    MutexLock guard(shared_->lock);
    if (VirtualDevice* d = shared_->Find(device)) {
        if (d->unplugged && !unplugged) {
            ++shared_->arrivals;
            shared_->arrivalNoticed.NotifyAll();
        }
        d->unplugged = unplugged;
        d->unpluggedError = error == 0 ? kErrorGenFailure : error;
    }
}

bool VirtualPanelBus::IsUnplugged(std::size_t device) const {
    MutexLock guard(shared_->lock);
    const VirtualDevice* d = shared_->Find(device);
    return d != nullptr && d->unplugged;
}

bool VirtualPanelBus::WaitForArrival(std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    MutexLock guard(shared_->lock);
    if (shared_->cancelled) return false;
    if (!shared_->watching) {
        shared_->watching = true;
        shared_->arrivalsSeen = shared_->arrivals;
        return true;
    }
    while (!shared_->cancelled && shared_->arrivals == shared_->arrivalsSeen &&
           shared_->arrivalNoticed.WaitUntil(shared_->lock, deadline)) {
    }
    if (shared_->cancelled || shared_->arrivals == shared_->arrivalsSeen) return false;
    shared_->arrivalsSeen = shared_->arrivals;
    return true;
}

void VirtualPanelBus::CancelArrivalWait() {
    {
        MutexLock guard(shared_->lock);
        shared_->cancelled = true;
    }
    shared_->arrivalNoticed.NotifyAll();
}

void VirtualPanelBus::SetObserver(ReportObserver observer) {
    MutexLock observing(shared_->observerLock);
    MutexLock guard(shared_->lock);
    shared_->observer = std::move(observer);
}

PanelPicture VirtualPanelBus::Picture(std::size_t device) const {
    MutexLock guard(shared_->lock);
    const VirtualDevice* d = shared_->Find(device);
    return d ? d->picture : PanelPicture();
}

std::vector<std::vector<std::uint8_t>> VirtualPanelBus::Reports(std::size_t device) const {
    MutexLock guard(shared_->lock);
    const VirtualDevice* d = shared_->Find(device);
    return d ? std::vector<std::vector<std::uint8_t>>(d->log.begin(), d->log.end())
             : std::vector<std::vector<std::uint8_t>>();
}

std::size_t VirtualPanelBus::ReportCount(std::size_t device) const {
    MutexLock guard(shared_->lock);
    const VirtualDevice* d = shared_->Find(device);
    return d ? d->logged : 0;
}

void VirtualPanelBus::ClearReports(std::size_t device) {
    MutexLock guard(shared_->lock);
    if (VirtualDevice* d = shared_->Find(device)) {
        d->log.clear();
        d->logged = 0;
    }
}

bool VirtualPanelBus::WaitForReportCount(std::size_t count, std::chrono::milliseconds timeout,
                                         std::size_t device) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock guard(shared_->lock);
    for (bool waiting = true;;
         waiting = shared_->reportArrived.WaitUntil(shared_->lock, deadline)) {
        const VirtualDevice* d = shared_->Find(device);
        if (d != nullptr && d->logged >= count) return true;
        if (!waiting) return false;
    }
}

std::size_t VirtualPanelBus::AccessCount(std::size_t device) const {
    MutexLock guard(shared_->lock);
    const VirtualDevice* d = shared_->Find(device);
    return d ? d->accesses : 0;
}

std::size_t VirtualPanelBus::OpenCount(std::size_t device) const {
    MutexLock guard(shared_->lock);
    const VirtualDevice* d = shared_->Find(device);
    return d ? d->opens : 0;
}

}  // namespace zelk
