#include "service/core/lcd_screens.h"

#include <cctype>
#include <cstring>
#include <utility>

#include "service/core/version.h"
#include "service/panel/panel_icons.h"

namespace zelk {
namespace {

using enum MediaIcon;
using enum StatusIcon;

bool IsVideoCd(const MediaState& state) {
    static constexpr char kVcd[] = "VCD";
    for (std::size_t i = 0; i < sizeof kVcd; ++i) {
        const char c = state.mediaName[i];
        if (std::toupper(static_cast<unsigned char>(c)) != kVcd[i]) return false;
    }
    return true;
}

LineServerOptions ServerOptions(const LcdServerConfig& config) {
    LineServerOptions options;
    options.addresses = config.addresses;
    options.port = config.port;
    return options;
}

LcdProtocolOptions ProtocolOptions() {
    LcdProtocolOptions options;
    options.serverVersion = ProductVersion();
    return options;
}

// Brings one icon byte of the panel to `want`, one command per bit that differs; `whole` sends
// the byte once even when nothing differs (the panel may show other icons than it has cached).
template <typename Send>
void SyncIcons(std::uint8_t have, std::uint8_t want, bool whole, Send&& send) {
    bool sent = false;
    for (unsigned bit = 0x01; bit <= 0x80; bit <<= 1) {
        if (((have ^ want) & bit) != 0) {
            send(bit, (want & bit) != 0);
            have = static_cast<std::uint8_t>(have ^ bit);
            sent = true;
        }
    }
    if (whole && !sent) send(0x01u, (want & 0x01) != 0);
}

}  // namespace

bool ShowsMediaScreen(const MediaState& state) {
    if (state.transportState == kTransportStopped) return false;
    switch (state.mediaMode) {
        case kModeLiveTv:
        case kModeDvd:
        case kModeStreamedAudio:
        case kModeCd:
        case kModePhotos:
        case kModeStreamedVideo:
        case kModeRecordedTv:
        case kModeRadio:
            return true;
        default:
            return false;
    }
}

std::uint8_t StatusIconsFor(const MediaState& state) {
    std::uint8_t bits = 0;
    switch (state.transportState) {
        case kTransportPlaying:
            bits |= Bit(Play);
            break;
        case kTransportPaused:
            bits |= Bit(Pause);
            break;
        case kTransportFastForward:
            bits |= Bit(FastForward);
            break;
        case kTransportRewind:
            bits |= Bit(Rewind);
            break;
        default:
            break;
    }
    if (state.mute) bits |= Bit(Mute);
    if (state.recording) bits |= Bit(Recording);
    if (ShowsMediaScreen(state) && state.repeat &&
        (state.mediaMode == kModeStreamedAudio || state.mediaMode == kModeCd)) {
        bits |= Bit(Repeat);
    }
    return bits;
}

std::uint8_t MediaIconsFor(const MediaState& state) {
    if (!ShowsMediaScreen(state)) return 0;
    switch (state.mediaMode) {
        case kModeLiveTv:
        case kModeRecordedTv:
            return Bit(Tv);
        case kModeDvd:
            return IsVideoCd(state) ? static_cast<std::uint8_t>(Bit(VideoCd) | Bit(Cd)) : Bit(Dvd);
        case kModeStreamedAudio:
        case kModeRadio:
            return Bit(Audio);
        case kModeCd:
            return Bit(Cd);
        case kModePhotos:
            return Bit(Photos);
        default:  // streamed video lights none
            return 0;
    }
}

LcdScreens::LcdScreens(const LcdServerConfig& config, Clock& clock, std::function<void()> wake)
    : clock_(clock),
      wake_(std::move(wake)),
      protocol_(
          server_, clock_, [this] { Wake(); }, ProtocolOptions()),
      server_(protocol_, ServerOptions(config)) {}

LcdScreens::~LcdScreens() {
    server_.Stop();
}

void LcdScreens::Wake() {
    if (wake_) wake_();
}

LcdDraw LcdScreens::Draw(PanelDevice& panel, PanelFrame& frame, const MediaState& state) {
    if (forget_.exchange(false)) written_.reset();
    protocol_.SetMediaPlaying(ShowsMediaScreen(state));
    const LcdView view = protocol_.View();
    nextChangeMs_ = view.nextChangeMs;
    LcdDraw drawn;
    if (view.source != LcdSource::kClient) {
        written_.reset();
        return drawn;
    }
    drawn.client = true;
    drawn.backlightOff = !view.backlightOn;
    const bool whole = !written_;
    if (whole) written_.emplace();
    static constexpr std::uint8_t kLineCodes[2] = {kFirstLine, kSecondLine};
    for (std::size_t i = 0; i < 2; ++i) {
        if (whole || written_->lines[i] != view.lines[i]) {
            frame.WriteLine(view.lines[i].c_str(), kLineCodes[i]);
            written_->lines[i] = view.lines[i];
            drawn.changed = true;
        }
    }
    const auto status =
        static_cast<std::uint8_t>(StatusIconsFor(state) | (view.output & kLcdOutputStatusMask));
    SyncIcons(panel.StatusIconByte(), status, whole, [&frame](unsigned bit, bool lit) {
        frame.SetStatusIcon(lit ? static_cast<std::int32_t>(bit) : ~static_cast<std::int32_t>(bit));
    });
    // The video CD icon goes on and off with the CD icon: its codes 4 and -5 move both bits.
    const std::uint8_t media = MediaIconsFor(state);
    std::uint8_t have = panel.MediaIconByte();
    bool mediaSent = false;
    if (((have ^ media) & Bit(VideoCd)) != 0) {
        frame.SetMediaIcon((media & Bit(VideoCd)) != 0 ? Set(VideoCd) : Clear(VideoCd));
        have = panel.MediaIconByte();
        mediaSent = true;
    }
    SyncIcons(have, media, whole && !mediaSent, [&frame](unsigned bit, bool lit) {
        frame.SetMediaIcon(lit ? static_cast<std::int32_t>(bit) : ~static_cast<std::int32_t>(bit));
    });
    if (whole || written_->volume != state.volume) {
        frame.SetVolumeBar(state.volume);
        written_->volume = state.volume;
    }
    return drawn;
}

DeadlineSource LcdScreens::Deadline(std::function<bool()> inStandby) {
    return {[this, inStandby = std::move(inStandby)]() -> std::optional<std::uint64_t> {
                if (inStandby()) return std::nullopt;
                return nextChangeMs_;
            },
            [this] {
                // The next redraw takes the new picture and says when the one after is due.
                nextChangeMs_.reset();
                Wake();
            }};
}

}  // namespace zelk
