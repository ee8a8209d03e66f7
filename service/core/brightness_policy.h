// Which brightness the panel shows: the normal level (from the properties at start, then from
// the brightness controls) lowered by the dimming rules that apply now: idle, video, night and
// standby. The policy only decides; the service sends the reports and serialises the calls.
#pragma once

#include <cstdint>
#include <optional>

#include "service/adapters/clock.h"
#include "service/core/media_state.h"
#include "service/panel/panel_config.h"

namespace zelk {

// Why the panel is below its normal level.
enum class DimReason { kNone, kIdle, kVideo, kNight, kStandby, kClient };

// "idle", "video", "night", "standby", "client" (an LCDproc client turned the backlight off),
// or "" for the normal level.
const char* DimReasonName(DimReason reason);

struct BrightnessLevel {
    std::uint8_t value = 0;
    DimReason reason = DimReason::kNone;
    bool operator==(const BrightnessLevel&) const = default;
};

class BrightnessPolicy {
  public:
    // `normal` is the level the panel was started with; activity is counted from now.
    BrightnessPolicy(const DimmingConfig& config, Clock& clock, std::uint8_t normal);

    // A brightness control: the new normal level. It counts as activity too.
    void SetNormal(std::uint8_t normal);
    // Something a person did or sees: a control, resume, a change of the picture.
    void NoteActivity();
    // The picture about to be shown: playing media keeps the panel from idling and a playing
    // video mode applies the video level; any change of what is shown (the clock's time and
    // date texts aside) counts as activity.
    void Observe(const MediaState& state);
    void SetStandby(bool standby);
    // Whether the LCDproc client screen in view asks for a dark panel (its backlight off).
    void SetClientDark(bool dark) { clientDark_ = dark; }

    // The level that applies now.
    BrightnessLevel Level();
    // When (Clock::NowMs) the level may change next without any other input: the end of the
    // idle time, the start or end of the night window. Nothing when no rule waits for a time.
    std::optional<std::uint64_t> NextChangeMs();

    std::uint8_t Normal() const { return normal_; }

  private:
    bool IdleNow(std::uint64_t now) const;
    // Whether the local time `afterMs` from now lies in the night window; nothing when the
    // local time is not known.
    std::optional<bool> NightAfter(std::uint64_t afterMs);
    // How long from now until the night window next opens or closes.
    std::optional<std::uint64_t> NightFlipAfterMs();

    DimmingConfig config_;
    Clock& clock_;
    std::uint8_t normal_;
    std::uint64_t lastActivityMs_;
    bool playing_ = false;
    bool videoPlaying_ = false;
    bool standby_ = false;
    bool clientDark_ = false;
    bool seen_ = false;
    MediaState shown_;  // the last observed picture, its time and date texts cleared
};

}  // namespace zelk
