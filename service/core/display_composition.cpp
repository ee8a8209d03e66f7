// What the panel shows for a media state, and the four fixed screens. Each is written in one
// frame, so a redraw, a fixed screen and a scroll step never mix.
#include "service/core/display_composition.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "service/core/panel_texts.h"
#include "service/panel/panel_icons.h"

namespace zelk {
namespace {

using enum MediaIcon;
using enum StatusIcon;

constexpr std::size_t kTextSize = 256;
constexpr std::size_t kScreenTextSize = 128;
constexpr char kBlankLine[] = "            ";  // twelve blanks, whatever the column count

// A state text copied into a buffer of its own, always terminated, so a field that arrived
// without its NUL is cut at 255 bytes rather than read past.
class StateText {
  public:
    explicit StateText(const char (&field)[kStateTextSize]) {
        std::size_t length = 0;
        while (length < kStateTextSize - 1 && field[length] != '\0') ++length;
        std::memcpy(text_, field, length);
        text_[length] = '\0';
    }
    const char* c_str() const { return text_; }

  private:
    char text_[kStateTextSize];
};

// Fills a table text whose only conversions are "%d" (and "%%") with `values` in order, cut to
// fit `size` bytes. A conversion beyond the given values, or any other '%' sequence, is copied
// as it stands, so a changed table text can never read arguments that are not there.
void FormatIntegers(char* out, std::size_t size, const char* format,
                    std::initializer_list<std::int32_t> values) {
    std::size_t used = 0;
    auto put = [&](char c) {
        if (used + 1 < size) out[used++] = c;
    };
    const std::int32_t* next = values.begin();
    for (const char* p = format; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == '%') {
            put('%');
            ++p;
        } else if (p[0] == '%' && p[1] == 'd' && next != values.end()) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%d", static_cast<int>(*next++));
            for (const char* d = digits; *d != '\0'; ++d) put(*d);
            ++p;
        } else {
            put(*p);
        }
    }
    out[used] = '\0';
}

bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a;
        char y = *b;
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

void MediaIcons(PanelFrame& panel, std::initializer_list<std::int32_t> codes) {
    for (const std::int32_t code : codes) panel.SetMediaIcon(code);
}

void RepeatIcon(PanelFrame& panel, bool repeat) {
    panel.SetStatusIcon(Show(Repeat, repeat));
}

// The clock: time and date; with at most one session open the repeat icon goes and both icon
// reports are sent dark (their cached bytes stay as they are).
std::uint32_t ShowClock(PanelFrame& panel, const MediaState& state) {
    panel.WriteLine(StateText(state.timeText).c_str(), kFirstLine);
    const std::uint32_t result = panel.WriteLine(StateText(state.dateText).c_str(), kSecondLine);
    if (state.sessionCount <= 1) {
        panel.SetStatusIcon(Clear(Repeat));
        panel.ClearPanel(kClearIcons, 0);
    }
    return result;
}

std::uint32_t ShowLiveTv(PanelFrame& panel, const MediaState& state) {
    MediaIcons(panel, {Set(Tv), Clear(Audio), Clear(Photos), Clear(Dvd), Clear(VideoCd)});
    panel.SetStatusIcon(Clear(Repeat));
    char format[kTextSize];
    char line[kTextSize];
    LoadServiceString(kTextChannel, format, sizeof format);
    FormatIntegers(line, sizeof line, format, {state.trackNumber});
    panel.WriteLine(line, kFirstLine);
    return panel.WriteOrScrollLine(StateText(state.tvMediaName).c_str(), kSecondLine);
}

std::uint32_t ShowDisc(PanelFrame& panel, const MediaState& state) {
    const StateText mediaName(state.mediaName);
    const bool videoCd = EqualsIgnoringAsciiCase(mediaName.c_str(), "VCD");
    if (videoCd) {
        MediaIcons(panel, {Set(VideoCd), Clear(Dvd)});
    } else {
        MediaIcons(panel, {Set(Dvd), Clear(VideoCd)});
    }
    MediaIcons(panel, {Clear(Tv), Clear(Audio), Clear(Photos)});
    panel.SetStatusIcon(Clear(Repeat));

    // The real track numbers only once a DVD has reported a track time and knows both.
    const bool known =
        state.trackSeconds != 0 && !videoCd && state.trackNumber != 0 && state.totalTracks != 0;
    char format[kTextSize];
    char line[kTextSize];
    LoadServiceString(kTextTrack, format, sizeof format);
    FormatIntegers(line, sizeof line, format,
                   {known ? state.trackNumber : 1, known ? state.totalTracks : 1});
    panel.WriteLine(line, kFirstLine);
    return panel.WriteLine(StateText(state.trackTimeText).c_str(), kSecondLine);
}

std::uint32_t ShowStreamedAudio(PanelFrame& panel, const MediaState& state) {
    MediaIcons(panel,
               {Set(Audio), Clear(Tv), Clear(Photos), Clear(Dvd), Clear(Cd), Clear(VideoCd)});
    RepeatIcon(panel, state.repeat);
    // Two names of up to 255 bytes each: the line is cut at 255 bytes.
    char line[kTextSize];
    if (std::snprintf(line, sizeof line, "%s - %s", StateText(state.artistName).c_str(),
                      StateText(state.trackName).c_str()) < 0) {
        line[0] = '\0';
    }
    panel.WriteOrScrollLine(line, kFirstLine);
    return panel.WriteLine(StateText(state.trackTimeText).c_str(), kSecondLine);
}

std::uint32_t ShowCd(PanelFrame& panel, const MediaState& state) {
    // The video CD pair goes first, so that an audio CD after a VCD lights the CD icon alone.
    MediaIcons(panel,
               {Clear(VideoCd), Set(Cd), Clear(Audio), Clear(Tv), Clear(Photos), Clear(Dvd)});
    RepeatIcon(panel, state.repeat);
    panel.WriteLine(StateText(state.trackTimeText).c_str(), kSecondLine);
    return panel.WriteOrScrollLine(StateText(state.trackName).c_str(), kFirstLine);
}

std::uint32_t ShowPhotos(PanelFrame& panel, const MediaState& state) {
    MediaIcons(panel, {Set(Photos), Clear(Dvd), Clear(VideoCd), Clear(Tv), Clear(Audio)});
    panel.SetStatusIcon(Clear(Repeat));
    panel.WriteLine("", kSecondLine);
    return panel.WriteOrScrollLine(StateText(state.mediaName).c_str(), kFirstLine);
}

std::uint32_t ShowStreamedVideo(PanelFrame& panel, const MediaState& state) {
    MediaIcons(panel,
               {Clear(Tv), Clear(Audio), Clear(Photos), Clear(Dvd), Clear(VideoCd), Clear(Cd)});
    panel.SetStatusIcon(Clear(Repeat));
    panel.WriteOrScrollLine(StateText(state.mediaName).c_str(), kFirstLine);
    return panel.WriteLine(StateText(state.trackTimeText).c_str(), kSecondLine);
}

std::uint32_t ShowRecordedTv(PanelFrame& panel, const MediaState& state) {
    MediaIcons(panel,
               {Set(Tv), Clear(Audio), Clear(Photos), Clear(Dvd), Clear(Cd), Clear(VideoCd)});
    panel.SetStatusIcon(Clear(Repeat));
    panel.WriteOrScrollLine(StateText(state.tvMediaName).c_str(), kFirstLine);
    return panel.WriteLine(StateText(state.trackTimeText).c_str(), kSecondLine);
}

std::uint32_t ShowRadio(PanelFrame& panel, const MediaState& state) {
    MediaIcons(panel,
               {Clear(Tv), Set(Audio), Clear(Photos), Clear(Dvd), Clear(Cd), Clear(VideoCd)});
    panel.SetStatusIcon(Clear(Repeat));
    panel.WriteLine(StateText(state.radioFrequencyText).c_str(), kFirstLine);
    return panel.WriteLine(kBlankLine, kSecondLine);
}

std::uint32_t ShowScreen(PanelFrame& panel, const MediaState& state) {
    if (state.transportState == kTransportStopped) return ShowClock(panel, state);
    switch (state.mediaMode) {
        case kModeLiveTv:
            return ShowLiveTv(panel, state);
        case kModeDvd:
            return ShowDisc(panel, state);
        case kModeStreamedAudio:
            return ShowStreamedAudio(panel, state);
        case kModeCd:
            return ShowCd(panel, state);
        case kModePhotos:
            return ShowPhotos(panel, state);
        case kModeStreamedVideo:
            return ShowStreamedVideo(panel, state);
        case kModeRecordedTv:
            return ShowRecordedTv(panel, state);
        case kModeRadio:
            return ShowRadio(panel, state);
        default:  // none, 3 and anything unknown
            return ShowClock(panel, state);
    }
}

void WriteTableLine(PanelFrame& panel, int id, std::uint8_t lineCode) {
    char text[kScreenTextSize];
    LoadServiceString(id, text, sizeof text);
    panel.WriteLine(text, lineCode);
}

}  // namespace

std::uint32_t ShowMediaState(PanelFrame& panel, const MediaState& state) {
    const std::uint32_t result = ShowScreen(panel, state);
    panel.SetVolumeBar(state.volume);
    panel.SetStatusIcon(Show(Recording, state.recording));
    panel.SetStatusIcon(Show(Mute, state.mute));
    panel.ShowTransportState(state.transportState);
    return result;
}

std::uint32_t ShowMediaState(PanelDevice& panel, const MediaState& state) {
    PanelFrame frame = panel.BeginFrame();
    return ShowMediaState(frame, state);
}

void ShowStoppingScreen(PanelDevice& device) {
    PanelFrame panel = device.BeginFrame();
    panel.ClearPanel(kClearAll, 0);
    WriteTableLine(panel, kTextService, kFirstLine);
    WriteTableLine(panel, kTextStopping, kSecondLine);
    panel.ClearPanel(kClearAll, 2);
}

void ShowShutdownScreen(PanelDevice& device) {
    PanelFrame panel = device.BeginFrame();
    WriteTableLine(panel, kTextPreparing, kFirstLine);
    WriteTableLine(panel, kTextShutdown, kSecondLine);
    panel.ClearPanel(kClearAll, 5);
}

void ShowStandbyScreen(PanelDevice& device) {
    PanelFrame panel = device.BeginFrame();
    panel.ClearPanel(kClearAll, 0);
    WriteTableLine(panel, kTextPreparing, kFirstLine);
    WriteTableLine(panel, kTextToStandby, kSecondLine);
    panel.ClearPanel(kClearAll, 2);
}

void ShowStartupScreen(PanelDevice& device) {
    PanelFrame panel = device.BeginFrame();
    panel.ClearPanel(kClearAll, 0);
    WriteTableLine(panel, kTextStartingUp, kSecondLine);
}

}  // namespace zelk
