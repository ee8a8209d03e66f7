// An in-memory HID bus with one or more panels on it. Each panel decodes every output report it
// receives into what the real panel would show (both text lines, the icon bytes, the volume
// bar, brightness and display control value) and keeps the last reports it received. Used by the
// tests and by the simulator, which can draw the picture live through the report observer.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/win_codes.h"
#include "service/panel/hid_bus.h"
#include "service/panel/panel_icons.h"

namespace zelk {

// Reports each virtual panel keeps in its log: the newest ones, however long it runs.
inline constexpr std::size_t kVirtualPanelHistory = 10000;

// The most columns a line code can address (its low 6 bits).
inline constexpr std::size_t kVirtualPanelColumns = 64;

// Names of the icons, for drawing: the lit bits of a status or media icon byte.
struct IconName {
    std::uint8_t bit;
    const char* name;
};
inline constexpr std::array<IconName, 7> kStatusIconNames{
    {{Bit(StatusIcon::Play), "play"},
     {Bit(StatusIcon::Pause), "pause"},
     {Bit(StatusIcon::FastForward), "fast forward"},
     {Bit(StatusIcon::Rewind), "rewind"},
     {Bit(StatusIcon::Mute), "mute"},
     {Bit(StatusIcon::Recording), "recording"},
     {Bit(StatusIcon::Repeat), "repeat"}}};
inline constexpr std::array<IconName, 6> kMediaIconNames{{{Bit(MediaIcon::Tv), "TV"},
                                                          {Bit(MediaIcon::Photos), "photos"},
                                                          {Bit(MediaIcon::VideoCd), "VCD"},
                                                          {Bit(MediaIcon::Cd), "CD"},
                                                          {Bit(MediaIcon::Audio), "audio"},
                                                          {Bit(MediaIcon::Dvd), "DVD"}}};
// The names of the lit icons of a byte, lowest bit first; bits without a name are left out.
std::vector<std::string> StatusIconNames(std::uint8_t statusByte);
std::vector<std::string> MediaIconNames(std::uint8_t mediaByte);

// What the panel shows.
struct PanelPicture {
    // Line 0 is the first line (code 0xC0), line 1 the second (0x80); each holds 64 code page
    // 850 bytes, blanks until written.
    std::array<std::string, 2> lines{std::string(kVirtualPanelColumns, ' '),
                                     std::string(kVirtualPanelColumns, ' ')};
    std::uint8_t statusIcons = 0;
    std::uint8_t mediaIcons = 0;
    std::uint16_t volumeMask = 0;
    std::uint8_t brightness = 0;
    std::uint8_t displayControl = 0;
    std::size_t decodedReports = 0;  // reports that changed the picture's state
    std::size_t ignoredReports = 0;  // unknown report id, line code or too short to decode

    // The first `columns` characters of a line (at most 64); empty for a row other than 0 or 1.
    std::string Line(int row, std::size_t columns) const;
    // The number of lit volume bar segments.
    int VolumeSegments() const;
};

struct VirtualDeviceConfig {
    std::uint16_t vendorId = 0x1F3C;
    std::uint16_t productId = 0x5A41;
    std::uint16_t outputReportLength = 8;
    bool openable = true;            // false: opening fails, as for a collection held elsewhere
    bool attributesReadable = true;  // false: reading the ids fails
    std::string path;                // empty: "virtual-hid#<index>"
};

// Called once per report that reached a panel, in arrival order, with the report's bytes and
// the picture after it. Runs on the writing thread; it may read the bus but not write to it.
using ReportObserver =
    std::function<void(std::size_t device, const std::vector<std::uint8_t>&, const PanelPicture&)>;

class VirtualPanelBus : public HidBus {
  public:
    VirtualPanelBus();                                     // no device yet
    explicit VirtualPanelBus(const VirtualDeviceConfig&);  // one device
    ~VirtualPanelBus() override;
    VirtualPanelBus(const VirtualPanelBus&) = delete;
    VirtualPanelBus& operator=(const VirtualPanelBus&) = delete;

    // Adds a device at the end of the enumeration order; returns its index.
    std::size_t AddDevice(const VirtualDeviceConfig& config);
    std::size_t DeviceCount() const;

    std::vector<std::string> EnumerateInterfaces() override;
    std::unique_ptr<HidDevice> Open(const std::string& path) override;

    // Unplugs (or plugs back) a device: an unplugged one is not listed, cannot be opened, and
    // every call on a handle already open fails with `error`. Plugging back (and adding a
    // device) is an arrival notice.
    void SetUnplugged(std::size_t device, bool unplugged,
                      std::uint32_t error = kErrorDeviceNotConnected);
    bool IsUnplugged(std::size_t device = 0) const;
    bool WaitForArrival(std::uint32_t timeoutMs) override;
    void CancelArrivalWait() override;
    void SetObserver(ReportObserver observer);

    // Out-of-range device indexes give an empty picture / log and zero counts.
    PanelPicture Picture(std::size_t device = 0) const;
    // The last (at most kVirtualPanelHistory) reports, oldest first.
    std::vector<std::vector<std::uint8_t>> Reports(std::size_t device = 0) const;
    // Every report received since the log was last cleared, kept or not.
    std::size_t ReportCount(std::size_t device = 0) const;
    void ClearReports(std::size_t device = 0);  // the log and its count; the picture stays
    // Waits until ReportCount reaches at least `count`; false on timeout.
    bool WaitForReportCount(std::size_t count, std::chrono::milliseconds timeout,
                            std::size_t device = 0) const;

    // Every call that reached the device: opens (failed ones too), id and length reads, writes.
    std::size_t AccessCount(std::size_t device = 0) const;
    std::size_t OpenCount(std::size_t device = 0) const;

  private:
    struct Shared;
    class Handle;
    std::shared_ptr<Shared> shared_;
};

}  // namespace zelk
