// Which screen shows when: priority classes, durations, alert timeouts, the service's own
// screens, the listen/ignore notices and the wake-ups they cost.
#include <optional>
#include <string>
#include <vector>

#include "tests/lcdproc/lcd_test_fixture.h"

namespace zelk::test {
namespace {

using Lines = std::vector<std::string>;

class LcdRotation : public LcdFixture {
  protected:
    // Who shows: "clock", "media" or "<client>:<screen>".
    std::string Shown() {
        const LcdView view = lcd.View();
        switch (view.source) {
            case LcdSource::kClock:
                return "clock";
            case LcdSource::kMedia:
                return "media";
            case LcdSource::kClient:
                break;
        }
        return std::to_string(view.client) + ":" + view.screen;
    }
    std::optional<std::uint64_t> Next() { return lcd.View().nextChangeMs; }
    // Moves the clock to `ms` and returns who shows then.
    std::string At(std::uint64_t ms) {
        clock.SetNowMs(ms);
        return Shown();
    }
};

TEST_F(LcdRotation, ServiceScreensAloneNeverWakeUp) {
    EXPECT_EQ(Shown(), "clock");
    EXPECT_EQ(Next(), std::nullopt);
    lcd.SetMediaPlaying(true);
    EXPECT_EQ(Shown(), "media");
    EXPECT_EQ(Next(), std::nullopt);
    lcd.SetMediaPlaying(false);
    EXPECT_EQ(At(60000), "clock");
    EXPECT_EQ(changes, 0);
}

TEST_F(LcdRotation, HighestClassShowsAndSameClassRotatesByDuration) {
    Session(1, {"screen_add a", "screen_set a -duration 16"});
    EXPECT_EQ(Notices(1), Lines{"listen a"});  // info beats the clock's background
    Session(2, {"screen_add b", "screen_set b -duration 8"});
    EXPECT_EQ(Shown(), "1:a");
    EXPECT_EQ(Next(), 2000u);
    EXPECT_EQ(At(1999), "1:a");
    EXPECT_EQ(At(2000), "2:b");
    EXPECT_EQ(Notices(1), Lines{"ignore a"});
    EXPECT_EQ(Notices(2), Lines{"listen b"});
    EXPECT_EQ(Next(), 3000u);
    EXPECT_EQ(At(3000), "1:a");
    EXPECT_EQ(Notices(1), Lines{"listen a"});
    EXPECT_EQ(Notices(2), Lines{"ignore b"});
    // A hidden screen never shows; a foreground one takes over alone, without rotating.
    Run(2, {"screen_set b -priority hidden"});
    EXPECT_EQ(At(20000), "1:a");
    EXPECT_EQ(Next(), std::nullopt);
    Run(2, {"screen_add f", "screen_set f -priority foreground"});
    EXPECT_EQ(Notices(1), Lines{"ignore a"});
    EXPECT_EQ(Notices(2), Lines{"listen f"});
    EXPECT_EQ(Shown(), "2:f");
    EXPECT_EQ(Next(), std::nullopt);
    // The media screen is foreground too: the two take turns, the media screen for 8 s.
    lcd.SetMediaPlaying(true);
    EXPECT_EQ(Next(), 24000u);
    EXPECT_EQ(At(24000), "media");
    EXPECT_EQ(Notices(2), Lines{"ignore f"});
    EXPECT_EQ(Next(), 32000u);
    EXPECT_EQ(At(32000), "2:f");
    // The client leaves: its screens go, the next class down shows again.
    lcd.OnDisconnect(2);
    EXPECT_EQ(Shown(), "media");
    lcd.SetMediaPlaying(false);
    EXPECT_EQ(Shown(), "1:a");
}

TEST_F(LcdRotation, BackgroundScreensRotateWithTheClock) {
    Session(1,
            {"screen_add bg", "screen_set bg -priority background", "screen_set bg -duration 16"});
    EXPECT_EQ(Notices(1), Lines{"listen bg"});
    EXPECT_EQ(Shown(), "1:bg");
    EXPECT_EQ(Next(), 2000u);
    EXPECT_EQ(At(2000), "clock");
    EXPECT_EQ(Notices(1), Lines{"ignore bg"});
    EXPECT_EQ(Next(), 6000u);
    EXPECT_EQ(At(6000), "1:bg");
    EXPECT_EQ(Notices(1), Lines{"listen bg"});
}

TEST_F(LcdRotation, AlertPreemptsUntilItsTimeoutCountedInView) {
    Session(1, {"screen_add main"});
    Session(2, {"screen_add alarm", "screen_set alarm -priority hidden",
                "screen_set alarm -timeout 24"});
    clock.SetNowMs(10000);  // time out of view does not count
    Notices(1);
    changes = 0;
    Run(2, {"screen_set alarm -priority alert"});
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(Notices(1), Lines{"ignore main"});
    EXPECT_EQ(Notices(2), Lines{"listen alarm"});
    EXPECT_EQ(Next(), 13000u);
    EXPECT_EQ(At(12999), "2:alarm");
    EXPECT_EQ(At(13000), "1:main");
    EXPECT_EQ(Notices(2), Lines{"ignore alarm"});
    EXPECT_EQ(Notices(1), Lines{"listen main"});
    // The alert screen is gone once its time has run out.
    EXPECT_EQ(Reply(2, "screen_del alarm"), "huh? Unknown screen id");
}

TEST_F(LcdRotation, ChangedOnlyForWhatIsInViewOrWhenRotationStarts) {
    Session(1, {"screen_add a", "widget_add a w string"});
    Session(2, {"screen_add h", "screen_set h -priority hidden", "widget_add h w string"});
    changes = 0;
    Run(2, {"widget_set h w 1 1 {not seen}", "screen_set h -name other", "output 3",
            "backlight off", "noop"});
    EXPECT_EQ(changes, 0);
    Run(1, {"widget_set a w 1 1 seen"});
    EXPECT_EQ(changes, 1);
    Run(1, {"output 3"});
    EXPECT_EQ(changes, 2);
    // A second screen in the shown class starts the rotation: a deadline the loop must learn.
    Run(2, {"screen_set h -priority info"});
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(Next(), 4000u);
    lcd.OnDisconnect(1);
    EXPECT_EQ(changes, 4);
    EXPECT_EQ(Shown(), "2:h");
    EXPECT_EQ(Notices(2), Lines{"listen h"});
}

}  // namespace
}  // namespace zelk::test
