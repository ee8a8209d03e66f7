// The dimming rules on fake time: each rule, how they combine, the night window across midnight
// and across a daylight saving change, the brightness controls during a dim, and standby.
#include <gtest/gtest.h>

#include <cstring>

#include "service/core/brightness_policy.h"
#include "tests/support/fake_clock.h"

namespace zelk {
namespace {

using test::FakeClock;
using test::kHourMs;

constexpr std::uint8_t kNormal = 0xAF;
constexpr std::uint32_t kMinuteMs = 60u * 1000u;

DimmingConfig Idle(std::uint32_t seconds, std::uint8_t level) {
    DimmingConfig c;
    c.idle = true;
    c.idleAfterMs = seconds * 1000;
    c.idleLevel = level;
    return c;
}
DimmingConfig& Night(DimmingConfig& c, std::uint32_t fromHour, std::uint32_t untilHour,
                     std::uint8_t level, std::uint32_t untilMinute = 0) {
    c.night = true;
    c.nightFromMs = fromHour * kHourMs;
    c.nightUntilMs = untilHour * kHourMs + untilMinute * kMinuteMs;
    c.nightLevel = level;
    return c;
}

MediaState Playing(std::int32_t mode) {
    MediaState s;
    s.mediaMode = mode;
    s.transportState = kTransportPlaying;
    return s;
}

BrightnessLevel L(std::uint8_t value, DimReason reason = DimReason::kNone) {
    return {value, reason};
}

TEST(BrightnessPolicy, WithoutRulesTheNormalLevelHoldsAndNothingIsWaitedFor) {
    FakeClock clock;
    clock.SetLocalTime(23 * kHourMs);
    BrightnessPolicy policy(DimmingConfig{}, clock, kNormal);
    policy.Observe(Playing(kModeDvd));
    clock.Advance(48 * kHourMs);
    policy.SetStandby(true);
    EXPECT_EQ(policy.Level(), L(kNormal));
    EXPECT_EQ(policy.NextChangeMs(), std::nullopt);
    policy.SetNormal(0xA4);
    EXPECT_EQ(policy.Level(), L(0xA4));
}

TEST(BrightnessPolicy, IdleDimsAfterItsTimeAndAnyActivityBringsTheNormalLevelBack) {
    FakeClock clock;
    BrightnessPolicy policy(Idle(300, 0x20), clock, kNormal);
    MediaState shown;
    std::strcpy(shown.timeText, "12:00");
    policy.Observe(shown);
    EXPECT_EQ(policy.NextChangeMs(), 300000u);
    clock.Advance(299999);
    EXPECT_EQ(policy.Level(), L(kNormal));
    // The clock's own texts changing is no activity.
    std::strcpy(shown.timeText, "12:05");
    std::strcpy(shown.dateText, "02/01/2000");
    policy.Observe(shown);
    clock.Advance(1);
    EXPECT_EQ(policy.Level(), L(0x20, DimReason::kIdle));
    EXPECT_EQ(policy.NextChangeMs(), std::nullopt);

    // A change of the picture (the volume here) restores at once and starts the time again.
    shown.volume = 100;
    policy.Observe(shown);
    EXPECT_EQ(policy.Level(), L(kNormal));
    EXPECT_EQ(policy.NextChangeMs(), 600000u);

    // Playing media keeps the panel awake however long; the idle time counts from its end.
    policy.Observe(Playing(kModeCd));
    clock.Advance(kHourMs);
    EXPECT_EQ(policy.Level(), L(kNormal));
    EXPECT_EQ(policy.NextChangeMs(), std::nullopt);
    MediaState paused = Playing(kModeCd);
    paused.transportState = kTransportPaused;
    policy.Observe(paused);
    EXPECT_EQ(policy.NextChangeMs(), clock.NowMs() + 300000u);
    clock.Advance(300000);
    EXPECT_EQ(policy.Level(), L(0x20, DimReason::kIdle));

    // Resume or a control is activity too.
    policy.NoteActivity();
    EXPECT_EQ(policy.Level(), L(kNormal));
}

TEST(BrightnessPolicy, VideoModesPlayingUseTheVideoLevelUnderANightCeiling) {
    FakeClock clock;
    clock.SetLocalTime(20 * kHourMs);
    DimmingConfig config;
    config.video = true;
    config.videoLevel = 0x60;
    Night(config, 22, 6, 0x30);
    BrightnessPolicy policy(config, clock, kNormal);
    for (std::int32_t mode : {kModeLiveTv, kModeDvd, kModeStreamedVideo, kModeRecordedTv}) {
        policy.Observe(Playing(mode));
        EXPECT_EQ(policy.Level(), L(0x60, DimReason::kVideo)) << mode;
    }
    for (std::int32_t mode : {kModeCd, kModeRadio, kModeStreamedAudio, kModePhotos}) {
        policy.Observe(Playing(mode));
        EXPECT_EQ(policy.Level(), L(kNormal)) << mode;
    }
    MediaState paused = Playing(kModeDvd);
    paused.transportState = kTransportPaused;
    policy.Observe(paused);
    EXPECT_EQ(policy.Level(), L(kNormal));

    // At 22:00 the night ceiling, lower than the video level, wins.
    policy.Observe(Playing(kModeDvd));
    EXPECT_EQ(policy.NextChangeMs(), 2 * kHourMs);
    clock.Advance(2 * kHourMs);
    EXPECT_EQ(policy.Level(), L(0x30, DimReason::kNight));
    // A video level below the night one stays.
    config.videoLevel = 0x10;
    BrightnessPolicy darkVideo(config, clock, kNormal);
    darkVideo.Observe(Playing(kModeDvd));
    EXPECT_EQ(darkVideo.Level(), L(0x10, DimReason::kVideo));
}

TEST(BrightnessPolicy, TheNightWindowAcrossMidnightWithIdleInsideIt) {
    FakeClock clock;
    clock.SetLocalTime(22 * kHourMs + 59 * kMinuteMs);
    DimmingConfig config = Idle(600, 0x08);
    Night(config, 23, 7, 0x40);
    BrightnessPolicy policy(config, clock, kNormal);
    policy.Observe(MediaState{});
    EXPECT_EQ(policy.Level(), L(kNormal));
    EXPECT_EQ(policy.NextChangeMs(), kMinuteMs);  // 23:00 comes before the idle time
    clock.Advance(kMinuteMs);
    EXPECT_EQ(policy.Level(), L(0x40, DimReason::kNight));
    EXPECT_EQ(policy.NextChangeMs(), 600000u);
    clock.Advance(9 * kMinuteMs);
    EXPECT_EQ(policy.Level(), L(0x08, DimReason::kIdle));  // idle is darker than the night
    policy.NoteActivity();
    EXPECT_EQ(policy.Level(), L(0x40, DimReason::kNight));  // back to the night ceiling only
    // Past midnight (01:00 now) it is still night; the window closes at 07:00.
    clock.Advance(111 * kMinuteMs);
    policy.NoteActivity();
    EXPECT_EQ(policy.Level(), L(0x40, DimReason::kNight));
    policy.Observe(Playing(kModeCd));
    EXPECT_EQ(policy.NextChangeMs(), clock.NowMs() + 6 * kHourMs);
    clock.Advance(6 * kHourMs - 1);
    EXPECT_EQ(policy.Level(), L(0x40, DimReason::kNight));
    clock.Advance(1);
    EXPECT_EQ(policy.Level(), L(kNormal));
    EXPECT_EQ(policy.NextChangeMs(), clock.NowMs() + 16 * kHourMs);
}

TEST(BrightnessPolicy, DaylightSavingChangesInsideTheWindowMoveItsEdges) {
    DimmingConfig config;
    // Clocks go forward at 02:00 (three hours after 23:00): an end at 02:30 never shows on
    // the wall clock, the night ends with the jump.
    {
        FakeClock clock;
        clock.SetLocalTime(23 * kHourMs);
        clock.ShiftLocalTimeAt(3 * kHourMs, kHourMs);
        BrightnessPolicy policy(Night(config, 23, 2, 0x40, 30), clock, kNormal);
        EXPECT_EQ(policy.Level(), L(0x40, DimReason::kNight));
        EXPECT_EQ(policy.NextChangeMs(), 3 * kHourMs);
        clock.Advance(3 * kHourMs - 1);
        EXPECT_EQ(policy.Level(), L(0x40, DimReason::kNight));
        clock.Advance(1);
        EXPECT_EQ(policy.Level(), L(kNormal));
    }
    // Clocks go back at 03:00: the night ends at 07:00 wall-clock time, nine hours after 23:00.
    // The first look, at eight hours, finds it still night and names the real end.
    {
        FakeClock clock;
        clock.SetLocalTime(23 * kHourMs);
        clock.ShiftLocalTimeAt(4 * kHourMs, -static_cast<std::int64_t>(kHourMs));
        BrightnessPolicy policy(Night(config, 23, 7, 0x40), clock, kNormal);
        EXPECT_EQ(policy.NextChangeMs(), 8 * kHourMs);
        clock.Advance(8 * kHourMs);
        EXPECT_EQ(policy.Level(), L(0x40, DimReason::kNight));
        EXPECT_EQ(policy.NextChangeMs(), 9 * kHourMs);
        clock.Advance(kHourMs);
        EXPECT_EQ(policy.Level(), L(kNormal));
    }
    // Without a known local time the night rule is left out.
    FakeClock unknown;
    BrightnessPolicy policy(Night(config, 0, 23, 0x40), unknown, kNormal);
    EXPECT_EQ(policy.Level(), L(kNormal));
    EXPECT_EQ(policy.NextChangeMs(), std::nullopt);
}

TEST(BrightnessPolicy, ControlsSetTheNormalLevelTheRulesOnlyEverLowerIt) {
    FakeClock clock;
    clock.SetLocalTime(1 * kHourMs);
    DimmingConfig config = Idle(60, 0x20);
    Night(config, 23, 7, 0x50);
    BrightnessPolicy policy(config, clock, kNormal);
    policy.Observe(MediaState{});
    EXPECT_EQ(policy.Level(), L(0x50, DimReason::kNight));
    clock.Advance(60000);
    EXPECT_EQ(policy.Level(), L(0x20, DimReason::kIdle));
    // 201 during the idle dim: it is activity, and its level comes under the night ceiling.
    policy.SetNormal(0xA4);
    EXPECT_EQ(policy.Level(), L(0x50, DimReason::kNight));
    // A control below every ceiling is what the panel shows: no rule raises it.
    policy.SetNormal(0x10);
    EXPECT_EQ(policy.Level(), L(0x10));
    clock.Advance(60000);
    EXPECT_EQ(policy.Level(), L(0x10));
}

TEST(BrightnessPolicy, StandbyBlanksWhenAskedAndResumeGivesTheLevelOfThen) {
    FakeClock clock;
    clock.SetLocalTime(22 * kHourMs);
    DimmingConfig config = Idle(60, 0x20);
    Night(config, 23, 7, 0x50);
    config.blankInStandby = true;
    BrightnessPolicy policy(config, clock, kNormal);
    policy.SetStandby(true);
    EXPECT_EQ(policy.Level(), L(0, DimReason::kStandby));
    EXPECT_EQ(policy.NextChangeMs(), std::nullopt);
    policy.SetNormal(0xA4);  // a control in standby changes the level to come back to
    clock.Advance(2 * kHourMs);
    EXPECT_EQ(policy.Level(), L(0, DimReason::kStandby));
    policy.SetStandby(false);
    policy.NoteActivity();
    EXPECT_EQ(policy.Level(), L(0x50, DimReason::kNight));
    // Without blanking, standby leaves the level to the other rules.
    config.blankInStandby = false;
    BrightnessPolicy plain(config, clock, kNormal);
    plain.SetStandby(true);
    EXPECT_EQ(plain.Level(), L(0x50, DimReason::kNight));
}

}  // namespace
}  // namespace zelk
