#include "service/core/brightness_policy.h"

#include <algorithm>
#include <cstring>

namespace zelk {
namespace {

bool Playing(const MediaState& state) {
    return state.transportState == kTransportPlaying ||
           state.transportState == kTransportFastForward ||
           state.transportState == kTransportRewind;
}

bool VideoMode(std::int32_t mode) {
    return mode == kModeLiveTv || mode == kModeDvd || mode == kModeStreamedVideo ||
           mode == kModeRecordedTv;
}

bool SameText(const char (&a)[kStateTextSize], const char (&b)[kStateTextSize]) {
    return std::strncmp(a, b, kStateTextSize) == 0;
}

// Whether two states show the same, the clock's time and date texts aside.
bool SameShown(const MediaState& a, const MediaState& b) {
    return a.volume == b.volume && SameText(a.trackTimeText, b.trackTimeText) &&
           a.totalTracks == b.totalTracks && a.trackNumber == b.trackNumber &&
           SameText(a.trackName, b.trackName) && SameText(a.mediaName, b.mediaName) &&
           SameText(a.savedMediaName, b.savedMediaName) && SameText(a.artistName, b.artistName) &&
           SameText(a.radioFrequencyText, b.radioFrequencyText) &&
           SameText(a.tvMediaName, b.tvMediaName) && a.transportState == b.transportState &&
           a.sessionCount == b.sessionCount && a.mediaMode == b.mediaMode &&
           a.savedMediaMode == b.savedMediaMode && a.trackSeconds == b.trackSeconds &&
           a.recording == b.recording && a.mute == b.mute && a.repeat == b.repeat &&
           a.recordingSessions == b.recordingSessions;
}

}  // namespace

const char* DimReasonName(DimReason reason) {
    switch (reason) {
        case DimReason::kIdle:
            return "idle";
        case DimReason::kVideo:
            return "video";
        case DimReason::kNight:
            return "night";
        case DimReason::kStandby:
            return "standby";
        case DimReason::kClient:
            return "client";
        case DimReason::kNone:
            break;
    }
    return "";
}

BrightnessPolicy::BrightnessPolicy(const DimmingConfig& config, Clock& clock, std::uint8_t normal)
    : config_(config), clock_(clock), normal_(normal), lastActivityMs_(clock.NowMs()) {}

void BrightnessPolicy::SetNormal(std::uint8_t normal) {
    normal_ = normal;
    NoteActivity();
}

void BrightnessPolicy::NoteActivity() {
    lastActivityMs_ = clock_.NowMs();
}

void BrightnessPolicy::Observe(const MediaState& state) {
    const bool playing = Playing(state);
    // Playing keeps the panel awake, and the idle time starts again when it stops.
    if (playing || playing_) {
        NoteActivity();
    }
    playing_ = playing;
    videoPlaying_ = playing && VideoMode(state.mediaMode);
    if (seen_ && SameShown(state, shown_)) {
        return;
    }
    if (seen_) {
        NoteActivity();
    }
    shown_ = state;
    shown_.timeText[0] = '\0';
    shown_.dateText[0] = '\0';
    seen_ = true;
}

void BrightnessPolicy::SetStandby(bool standby) {
    standby_ = standby;
}

bool BrightnessPolicy::IdleNow(std::uint64_t now) const {
    return config_.idle && !playing_ && now - lastActivityMs_ >= config_.idleAfterMs;
}

std::optional<bool> BrightnessPolicy::NightAfter(std::uint64_t afterMs) {
    std::uint32_t local = 0;
    if (!clock_.LocalMsOfDay(afterMs, local)) {
        return std::nullopt;
    }
    const std::uint32_t from = config_.nightFromMs;
    const std::uint32_t until = config_.nightUntilMs;
    return from < until ? local >= from && local < until : local >= from || local < until;
}

std::optional<std::uint64_t> BrightnessPolicy::NightFlipAfterMs() {
    const std::optional<bool> inside = NightAfter(0);
    std::uint32_t local = 0;
    if (!inside || !clock_.LocalMsOfDay(0, local)) {
        return std::nullopt;
    }
    const std::uint32_t edge = *inside ? config_.nightUntilMs : config_.nightFromMs;
    // The edge as the wall clock reads it now; a daylight saving change on the way moves it.
    std::uint64_t hi = (edge + kMsPerDay - local) % kMsPerDay;
    if (hi == 0) hi = kMsPerDay;
    if (NightAfter(hi) == inside) {
        // The clock went back on the way: the edge is later. Looking again then finds it.
        return hi;
    }
    if (NightAfter(hi - 1) == inside) {
        return hi;  // no change of the clock on the way
    }
    // The clock went forward on the way (or not at all): the first moment outside, found by
    // halving.
    std::uint64_t lo = 0;
    while (hi - lo > 1) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (NightAfter(mid) == inside) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return hi;
}

BrightnessLevel BrightnessPolicy::Level() {
    if (standby_ && config_.blankInStandby) {
        return {0, DimReason::kStandby};
    }
    BrightnessLevel level{normal_, DimReason::kNone};
    const auto lower = [&level](bool applies, std::uint8_t ceiling, DimReason reason) {
        if (applies && ceiling < level.value) {
            level = {ceiling, reason};
        }
    };
    lower(config_.video && videoPlaying_, config_.videoLevel, DimReason::kVideo);
    lower(IdleNow(clock_.NowMs()), config_.idleLevel, DimReason::kIdle);
    lower(config_.night && NightAfter(0).value_or(false), config_.nightLevel, DimReason::kNight);
    lower(clientDark_, 0, DimReason::kClient);
    return level;
}

std::optional<std::uint64_t> BrightnessPolicy::NextChangeMs() {
    if (standby_ && config_.blankInStandby) {
        return std::nullopt;
    }
    const std::uint64_t now = clock_.NowMs();
    std::optional<std::uint64_t> next;
    if (config_.idle && !playing_ && !IdleNow(now)) {
        next = lastActivityMs_ + config_.idleAfterMs;
    }
    if (config_.night) {
        if (const auto flip = NightFlipAfterMs()) {
            next = std::min(next.value_or(now + *flip), now + *flip);
        }
    }
    return next;
}

}  // namespace zelk
