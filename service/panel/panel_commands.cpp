// The panel's commands: text lines (with scrolling of lines that are too long), the icon
// groups, the volume bar, brightness and display control. Each builds 8-byte output reports.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "common/win_codes.h"
#include "service/panel/panel_device.h"
#include "service/panel/panel_icons.h"
#include "service/panel/line_scroller.h"

namespace zelk {
namespace {

constexpr std::size_t kLineBufferSize = 128;  // converted text of one line
constexpr std::int16_t kMaxLineColumns = 64;  // the line code's 6 column bits

// Lowest volume of each bar length: n segments from kVolumeThresholds[n - 1].
constexpr std::array<std::uint16_t, 16> kVolumeThresholds{0,     1234,  1467,  2072, 2463, 2927,
                                                          3479,  4134,  5841,  6942, 8250, 9806,
                                                          16462, 23253, 32845, 55141};

// The bits an icon code changes: a positive code sets its bits, the complement of a code
// clears them. In the media byte the video CD bit never goes without the CD bit.
std::uint8_t IconCodeBits(std::int32_t code, bool media) {
    std::uint8_t bits = static_cast<std::uint8_t>((code >= 0 ? code : ~code) & 0xFF);
    if (media && (bits & Bit(MediaIcon::VideoCd)) != 0) {
        bits |= Bit(MediaIcon::Cd);
    }
    return bits;
}

// strlen that looks at no more than `limit` bytes.
std::size_t BoundedLength(const char* text, std::size_t limit) {
    const void* end = std::memchr(text, 0, limit);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
}

// Converts at most 127 bytes of `text` (none for null) into `converted`, always terminated;
// returns the length of the converted text, which ends where the converter's output ends.
std::size_t Convert(TextConverter& converter, const char* text,
                    char (&converted)[kLineBufferSize]) {
    if (text == nullptr) {
        text = "";
    }
    std::memset(converted, 0, sizeof converted);
    std::uint32_t sourceLength =
        static_cast<std::uint32_t>(BoundedLength(text, kLineBufferSize - 1));
    std::uint32_t written = kLineBufferSize - 1;
    converter.Convert(text, sourceLength, converted, written);
    written = std::min<std::uint32_t>(written, kLineBufferSize - 1);
    converted[written] = '\0';
    return BoundedLength(converted, written);
}

std::uint8_t ApplyIconCode(std::atomic<std::uint8_t>& cache, std::int32_t code, bool media) {
    const std::uint8_t bits = IconCodeBits(code, media);
    if (code > 0) {
        return static_cast<std::uint8_t>(cache.fetch_or(bits) | bits);
    }
    if (code < 0) {
        return static_cast<std::uint8_t>(cache.fetch_and(static_cast<std::uint8_t>(~bits)) & ~bits);
    }
    return cache.load();
}

}  // namespace

// ---- Text lines ----

std::uint32_t PanelFrame::WriteLine(const char* text, std::uint8_t lineCode) {
    char converted[kLineBufferSize];
    const std::size_t length = Convert(*panel_->converter_, text, converted);
    panel_->scroller_->YieldLine(*this, lineCode);
    return WriteColumns(converted, length, lineCode);
}

std::uint32_t PanelFrame::WriteScrollStep(const char* text, std::uint8_t lineCode) {
    char converted[kLineBufferSize];
    const std::size_t length = Convert(*panel_->converter_, text, converted);
    return WriteColumns(converted, length, lineCode);
}

std::uint32_t PanelFrame::WriteColumns(const char* converted, std::size_t length,
                                       std::uint8_t lineCode) {
    const std::int16_t columns = std::min(panel_->config_.displayColumns, kMaxLineColumns);
    for (std::int16_t c = 0; c < columns; ++c) {
        std::uint8_t report[kReportSize] = {kCharacterReport};
        report[1] = static_cast<std::uint8_t>(lineCode | c);
        report[2] =
            static_cast<std::size_t>(c) < length ? static_cast<std::uint8_t>(converted[c]) : 0x20;
        const std::uint32_t result = WriteReport(report);
        if (result != kErrorSuccess) {
            return result;
        }
    }
    return kErrorSuccess;
}

std::uint32_t PanelFrame::WriteOrScrollLine(const char* text, std::uint8_t lineCode) {
    if (text == nullptr) {
        text = "";
    }
    const std::int16_t columns = panel_->config_.displayColumns;
    const std::size_t length = BoundedLength(text, kMaxScrollTextBytes + 1);
    if (columns <= 0 || length <= static_cast<std::size_t>(columns)) {
        WriteLine(text, lineCode);
        return kErrorSuccess;
    }
    panel_->scroller_->Scroll(*this, std::string(text, std::min(length, kMaxScrollTextBytes)),
                              lineCode);
    return kErrorSuccess;
}

// ---- Fixed reports ----

std::uint32_t PanelFrame::ClearPanel(std::uint32_t flags, std::uint8_t value) {
    const std::uint8_t control[kReportSize] = {kDisplayControlReport, value};
    const std::uint8_t status[kReportSize] = {kStatusIconReport, 0};
    const std::uint8_t media[kReportSize] = {kMediaIconReport, 0};
    const std::uint8_t bar[kReportSize] = {kVolumeBarReport, 0, 0};
    if ((flags & kClearAll) != 0) {
        WriteReport(control);
        WriteReport(status);
        WriteReport(media);
        return WriteReport(bar);
    }
    if ((flags & kClearIcons) != 0) {
        WriteReport(status);
        return WriteReport(media);
    }
    if ((flags & kClearVolumeBar) != 0) {
        return WriteReport(bar);
    }
    if ((flags & kClearDisplayControl) != 0) {
        return WriteReport(control);
    }
    return kErrorSuccess;
}

std::uint32_t PanelFrame::SetStatusIcon(std::int32_t code) {
    const std::uint8_t report[kReportSize] = {kStatusIconReport,
                                              ApplyIconCode(panel_->statusIcons_, code, false)};
    return WriteReport(report);
}

std::uint32_t PanelFrame::SetMediaIcon(std::int32_t code) {
    const std::uint8_t report[kReportSize] = {kMediaIconReport,
                                              ApplyIconCode(panel_->mediaIcons_, code, true)};
    return WriteReport(report);
}

std::uint32_t PanelFrame::ShowTransportState(std::int32_t state) {
    // Per state: the four status codes, in the order they are sent.
    using enum StatusIcon;
    static constexpr std::int32_t kCalls[5][4] = {
        {Clear(Pause), Clear(Play), Clear(FastForward), Clear(Rewind)},  // stopped
        {Set(Play), Clear(Pause), Clear(FastForward), Clear(Rewind)},    // playing
        {Set(Pause), Clear(Play), Clear(FastForward), Clear(Rewind)},    // paused
        {Clear(Pause), Clear(Play), Set(FastForward), Clear(Rewind)},    // fast forward
        {Clear(Pause), Clear(Play), Clear(FastForward), Set(Rewind)},    // rewind
    };
    if (state < 0 || state > 4) {
        return 1;
    }
    for (std::int32_t code : kCalls[state]) {
        SetStatusIcon(code);
    }
    return 1;
}

std::uint32_t PanelFrame::SetVolumeBar(std::uint16_t volume) {
    const auto lit = std::upper_bound(kVolumeThresholds.begin(), kVolumeThresholds.end(), volume) -
                     kVolumeThresholds.begin();
    const std::uint16_t mask = static_cast<std::uint16_t>((1u << lit) - 1u);
    const std::uint8_t report[kReportSize] = {kVolumeBarReport,
                                              static_cast<std::uint8_t>(mask & 0xFF),
                                              static_cast<std::uint8_t>(mask >> 8)};
    return WriteReport(report);
}

std::uint32_t PanelFrame::SetBrightness(std::uint8_t value) {
    panel_->brightness_.store(value);
    const std::uint8_t report[kReportSize] = {kBrightnessReport, value};
    return WriteReport(report);
}

std::uint32_t PanelFrame::SendOpeningReports(bool clearAll) {
    const std::uint32_t result = SetBrightness(panel_->brightness_.load());
    return clearAll ? ClearPanel(kClearAll, 0) : result;
}

}  // namespace zelk
