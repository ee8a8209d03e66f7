// The one front panel: its properties, the open device, the cached icon bytes, the text
// converter, and the commands that build its output reports.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/adapters/clock.h"
#include "service/adapters/text_converter.h"
#include "service/panel/hid_bus.h"

namespace zelk {

inline constexpr std::size_t kReportSize = 8;
inline constexpr std::uint8_t kFirstLine = 0xC0;
inline constexpr std::uint8_t kSecondLine = 0x80;

// Report ids.
inline constexpr std::uint8_t kCharacterReport = 1;
inline constexpr std::uint8_t kBrightnessReport = 2;
inline constexpr std::uint8_t kDisplayControlReport = 3;
inline constexpr std::uint8_t kVolumeBarReport = 4;
inline constexpr std::uint8_t kStatusIconReport = 5;
inline constexpr std::uint8_t kMediaIconReport = 6;

// ClearPanel flags.
inline constexpr std::uint32_t kClearAll = 1;
inline constexpr std::uint32_t kClearIcons = 2;
inline constexpr std::uint32_t kClearVolumeBar = 4;
inline constexpr std::uint32_t kClearDisplayControl = 8;

class PanelDevice {
  public:
    // Properties at their constructor values, no device. The bus, sleeper and converter are used
    // for the panel's whole life.
    PanelDevice(HidBus& bus, std::unique_ptr<TextConverter> converter, Sleeper& sleeper);
    // Ends a running scroll and waits for its thread.
    ~PanelDevice();
    PanelDevice(const PanelDevice&) = delete;
    PanelDevice& operator=(const PanelDevice&) = delete;

    // Properties (filled from DisplayProps.xml).
    std::uint16_t vendorId = 0x1F3C;
    std::uint16_t productId = 0x5A41;
    std::int16_t displayRows = 2;
    std::int16_t displayColumns = 12;
    bool colorDisplay = false;
    bool scrolling = false;
    std::int32_t volumeControl = 0;
    std::int32_t brightness = 0;
    std::int32_t displayType = 0;  // 0 alphanumeric, 1 graphic

    TextConverter& Converter() { return *converter_; }

    // Finds the first present interface with the configured ids and keeps it open.
    bool OpenPanel();
    bool IsOpen() const;

    // Writes one 8-byte report (the panel's output report length of it, zero-padded when the
    // panel's reports are longer): 0, 6 without a device, or the system error code.
    std::uint32_t WriteReport(const std::uint8_t (&report)[kReportSize]);

    // Commands. Each returns a system error code (0 success) unless noted.
    std::uint32_t WriteLine(const char* text, std::uint8_t lineCode, bool fromScroller);
    std::uint32_t WriteOrScrollLine(const char* text, std::uint8_t lineCode);  // always 0
    std::uint32_t ClearPanel(std::uint32_t flags, std::uint8_t value);
    std::uint32_t SetStatusIcon(std::int32_t code);
    std::uint32_t SetMediaIcon(std::int32_t code);
    std::uint32_t ShowTransportState(std::int32_t state);  // returns 1
    std::uint32_t SetVolumeBar(std::uint16_t volume);
    std::uint32_t SetBrightness(std::uint8_t value);  // brightness report

    std::uint8_t StatusIconByte() const { return statusIcons_.load(); }
    std::uint8_t MediaIconByte() const { return mediaIcons_.load(); }

    // The panel lock: held for each whole redraw, fixed screen and brightness report, and by
    // the scroll thread for each of its line writes. Recursive, so a holder may call commands.
    std::recursive_timed_mutex& Lock() { return lock_; }

    // Ends a running scroll (if any) and waits for its thread, at most about 2 s.
    void StopScrolling();

  private:
    struct Impl;
    HidBus& bus_;
    std::unique_ptr<TextConverter> converter_;
    Sleeper& sleeper_;
    std::unique_ptr<HidDevice> device_;
    std::atomic<std::uint8_t> statusIcons_{0};
    std::atomic<std::uint8_t> mediaIcons_{0};
    std::recursive_timed_mutex lock_;
    std::unique_ptr<Impl> impl_;  // scroll request and thread, owned by the command code
};

}  // namespace zelk
