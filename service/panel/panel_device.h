// The one front panel and who may write to it.
//
// Every report reaches the panel through a PanelFrame: BeginFrame() waits for the panel's lock
// and the frame holds it until it goes, so the reports of one frame never mix with another's.
// The report-writing commands exist only on the frame. Each caller opens exactly one frame per
// sequence that must stay whole:
//   - a redraw of the media state (the run loop),
//   - each fixed screen (start-up, stopping, shutdown, standby) and the brightness report of a
//     user control (the control handler's thread),
//   - the start-up sequence (open, brightness),
//   - each step of a scroll (the scroll thread, with TryBeginFrame so that a holder that stops
//     the scroll is never waited on; see line_scroller.h).
// The lock is not recursive: a frame holder calls the frame's commands, never BeginFrame again.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "common/win_codes.h"
#include "service/adapters/clock.h"
#include "service/adapters/text_converter.h"
#include "service/panel/hid_bus.h"
#include "service/panel/panel_config.h"

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

class LineScroller;
class PanelDevice;

// Exclusive use of the panel while it lives; the panel's commands. Each command returns a
// system error code as WriteReport does (0 success) unless noted.
class PanelFrame {
  public:
    PanelFrame(PanelFrame&& other) noexcept;
    PanelFrame& operator=(PanelFrame&&) = delete;
    PanelFrame(const PanelFrame&) = delete;
    PanelFrame& operator=(const PanelFrame&) = delete;
    ~PanelFrame();

    // Takes `config` as the panel's properties and keeps open the first present interface with
    // its ids. Called once, at start-up, before the panel is shared with other threads.
    bool OpenPanel(const PanelConfig& config);
    // Opens the panel again, by the same rules and properties, after it had gone.
    bool ReopenPanel();

    // Writes one 8-byte report (the panel's output report length of it, zero-padded when the
    // panel's reports are longer): 0, 6 without a device, or the system error code. A write
    // that finds the panel gone (IsPanelGone) closes the device and calls the lost handler.
    std::uint32_t WriteReport(const std::uint8_t (&report)[kReportSize]);

    // Writes one whole line. When `lineCode` is the line scrolled last, the scroll is ended
    // first (the 200 ms handshake).
    std::uint32_t WriteLine(const char* text, std::uint8_t lineCode);
    // Writes the line if it fits, else has it scrolled. Always 0.
    std::uint32_t WriteOrScrollLine(const char* text, std::uint8_t lineCode);
    std::uint32_t ClearPanel(std::uint32_t flags, std::uint8_t value);
    // Icon codes: see panel_icons.h.
    std::uint32_t SetStatusIcon(std::int32_t code);
    std::uint32_t SetMediaIcon(std::int32_t code);
    std::uint32_t ShowTransportState(std::int32_t state);  // returns 1
    std::uint32_t SetVolumeBar(std::uint16_t volume);
    std::uint32_t SetBrightness(std::uint8_t value);  // brightness report
    // The reports that make the panel ours whenever it is opened, found again or woken: the
    // brightness it is to show (PanelDevice::Brightness) and, with `clearAll`, the whole panel
    // cleared. At start-up the clear follows once the service has started; a resume keeps the
    // start-up screen it has shown.
    std::uint32_t SendOpeningReports(bool clearAll);

  private:
    friend class PanelDevice;
    friend class LineScroller;
    explicit PanelFrame(PanelDevice& panel);  // the panel's lock is already held

    static std::uint32_t WriteTo(HidDevice& device, const std::uint8_t (&report)[kReportSize]);
    // The scroll thread's line write: no handshake with itself.
    std::uint32_t WriteScrollStep(const char* text, std::uint8_t lineCode);
    std::uint32_t WriteColumns(const char* converted, std::size_t length, std::uint8_t lineCode);

    PanelDevice* panel_;  // null once moved from
};

// Write results that mean the panel has gone (unplugged, powered off, its handle invalidated).
inline bool IsPanelGone(std::uint32_t error) {
    return error == kErrorDeviceNotConnected || error == kErrorInvalidHandle;
}

class PanelDevice {
  public:
    // Properties at their default values, no device. The bus, converter and sleeper (the
    // scroller's steps and handshakes) are used for the panel's whole life.
    PanelDevice(HidBus& bus, std::unique_ptr<TextConverter> converter, Sleeper& sleeper);
    // Ends a running scroll and waits for its thread.
    ~PanelDevice();
    PanelDevice(const PanelDevice&) = delete;
    PanelDevice& operator=(const PanelDevice&) = delete;

    // Waits for the panel and holds it until the frame goes.
    PanelFrame BeginFrame() EXCLUDES(lock_);
    // The panel when it is free at once, else nothing.
    std::optional<PanelFrame> TryBeginFrame() EXCLUDES(lock_);

    // A frame's OpenPanel in a frame of its own.
    bool OpenPanel(const PanelConfig& config = PanelConfig{}) EXCLUDES(lock_);
    bool IsOpen() const { return open_.load(); }
    // The properties given to OpenPanel (the defaults before it ran).
    const PanelConfig& Config() const { return config_; }

    TextConverter& Converter() { return *converter_; }

    // Called, inside the frame, each time a write has found the panel gone and closed it. Set
    // before the panel is shared with other threads.
    void SetLostHandler(std::function<void()> handler) { lostHandler_ = std::move(handler); }

    // The brightness the panel is to show: the properties' from OpenPanel on, then the value of
    // the last brightness report written (or tried, when the panel was gone), so that a panel
    // found again or woken from standby gets the brightness it was last set to.
    std::uint8_t Brightness() const { return brightness_.load(); }

    std::uint8_t StatusIconByte() const { return statusIcons_.load(); }
    std::uint8_t MediaIconByte() const { return mediaIcons_.load(); }

    // Ends a running scroll (if any) and waits for its thread, at most about 2 s. Any thread
    // may call it, inside a frame or not.
    void StopScrolling();

  private:
    friend class PanelFrame;

    HidBus& bus_;
    const std::unique_ptr<TextConverter> converter_;  // safe for use from several threads

    // Taken by BeginFrame / TryBeginFrame only; held by the frame. Lock order: this lock, then
    // the scroller's own locks.
    Mutex lock_;
    // Written by OpenPanel only, before the panel is shared; read-only afterwards.
    PanelConfig config_;
    std::unique_ptr<HidDevice> device_ GUARDED_BY(lock_);
    std::atomic<bool> open_{false};  // device_ is set; readable without the lock
    // Set before the panel is shared; read-only afterwards.
    std::function<void()> lostHandler_;
    // The icon bytes, changed only inside a frame; atomic so that they can be read without one.
    std::atomic<std::uint8_t> statusIcons_{0};
    std::atomic<std::uint8_t> mediaIcons_{0};
    std::atomic<std::uint8_t> brightness_{0};  // changed only inside a frame, like the icons
    // The scroll request and threads; it writes through frames like any other caller.
    const std::unique_ptr<LineScroller> scroller_;
};

}  // namespace zelk
