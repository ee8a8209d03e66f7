#include "tools/nowplaying/now_playing_core.h"

#include <gtest/gtest.h>

#include <tuple>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "tests/support/fake_clock.h"

namespace zelk {
namespace {

using Record = std::tuple<std::int32_t, std::int32_t, std::string>;
constexpr std::int64_t kSecond = 10000000;  // 100 ns ticks
constexpr std::int64_t kUtcNow = 133000000000000000;

class CoreTest : public ::testing::Test {
  protected:
    CoreTest()
        : core_(
              [this](std::int32_t session, std::int32_t tag, const std::string& text) {
                  if (!pipeUp_) return false;
                  records_.emplace_back(session, tag, text);
                  return true;
              },
              clock_) {}

    // Records sent since the last call.
    std::vector<Record> Take() { return std::exchange(records_, {}); }
    std::vector<std::string> Texts(std::int32_t tag) {
        std::vector<std::string> texts;
        for (const auto& [session, t, text] : records_)
            if (t == tag) texts.push_back(text);
        return texts;
    }
    // One session "Player", current and playing at `positionS` (reported `ageS` ago), 300 s long.
    std::string StartPlaying(std::int64_t positionS, std::int64_t ageS = 0) {
        core_.SetSessions({{1, "Player"}});
        core_.SetCurrent(SessionKey{1, "Player"});
        core_.OnMedia("Player#1", MediaFacts{u"Title", u"Artist", u"", 1});
        core_.OnPlayback("Player#1", PlaybackFacts{4, 1, 0});
        core_.OnTimeline("Player#1", Timeline(positionS, ageS), kUtcNow);
        return "Player#1";
    }
    static TimelineFacts Timeline(std::int64_t positionS, std::int64_t ageS) {
        return TimelineFacts{0, 300 * kSecond, positionS * kSecond, kUtcNow - ageS * kSecond};
    }
    std::optional<std::uint64_t> WakeIn() {
        const auto at = core_.NextWakeMs();
        if (!at) return std::nullopt;
        return *at - clock_.NowMs();
    }

    test::FakeClock clock_;
    bool pipeUp_ = true;
    std::vector<Record> records_;
    NowPlayingCore core_;
};

TEST_F(CoreTest, PlayingSessionShowsItsMetadataAndCarriesThePositionOnceASecond) {
    clock_.Advance(5000);
    StartPlaying(10, 2);  // reported at 10 s two seconds ago: 12 s now
    EXPECT_EQ(Texts(MSPROPTAG_ArtistName).back(), "Artist");
    EXPECT_EQ(Texts(MSPROPTAG_TrackName).back(), "Title");
    EXPECT_FALSE(Texts(MSPROPTAG_StreamingContentAudio).empty());
    EXPECT_EQ(Texts(MSPROPTAG_TrackTime).back(), "12");
    EXPECT_FALSE(Texts(MSPROPTAG_Play).empty());
    Take();

    EXPECT_EQ(WakeIn(), 1000u);
    clock_.Advance(400);
    core_.Wake();  // early: nothing due
    EXPECT_TRUE(Take().empty());
    EXPECT_EQ(WakeIn(), 600u);
    clock_.Advance(600);
    core_.Wake();
    EXPECT_EQ(Texts(MSPROPTAG_TrackTime), std::vector<std::string>{"13"});
    EXPECT_EQ(WakeIn(), 1000u);
    Take();

    // A report that agrees with the carried position (within the tolerance) sends nothing and
    // keeps the schedule; a seek is sent at once.
    clock_.Advance(300);
    core_.OnTimeline("Player#1", Timeline(13, 0), kUtcNow);
    EXPECT_TRUE(Take().empty());
    EXPECT_LE(*WakeIn(), 1000u);
    TimelineFacts seek = Timeline(200, 0);
    seek.positionTicks += kSecond / 2;  // 200.5 s: the next second begins in 500 ms
    core_.OnTimeline("Player#1", seek, kUtcNow);
    EXPECT_EQ(Texts(MSPROPTAG_TrackTime), std::vector<std::string>{"200"});
    EXPECT_EQ(WakeIn(), 1000u);  // yet never twice within a second
}

TEST_F(CoreTest, NothingPlayingMeansNoWakeUps) {
    EXPECT_FALSE(core_.NextWakeMs().has_value());
    const std::string id = StartPlaying(10);
    EXPECT_TRUE(core_.NextWakeMs().has_value());

    core_.OnPlayback(id, PlaybackFacts{5, 1, 0});  // paused
    EXPECT_FALSE(core_.NextWakeMs().has_value());
    clock_.Advance(10000);
    EXPECT_EQ(core_.PositionUs(id), 10000000);  // paused: the position stands

    // Playing again, at the end: clamped, and nothing more to wake for.
    Take();
    core_.OnPlayback(id, PlaybackFacts{4, 1, 0});
    core_.OnTimeline(id, Timeline(400, 0), kUtcNow);  // past the 300 s end
    EXPECT_EQ(Texts(MSPROPTAG_TrackTime).back(), "300");
    EXPECT_FALSE(core_.NextWakeMs().has_value());

    // Not the current session: the system calls none current.
    core_.OnTimeline(id, Timeline(20, 0), kUtcNow);
    core_.SetCurrent(std::nullopt);
    EXPECT_FALSE(core_.NextWakeMs().has_value());
}

TEST_F(CoreTest, PipeAwayBacksOffToFourSecondsAndResendsTheStateWhenBack) {
    core_.SetSessions({{1, "Player"}});
    core_.SetCurrent(SessionKey{1, "Player"});
    core_.OnMedia("Player#1", MediaFacts{u"Title", u"Artist", u"", 1});
    Take();
    pipeUp_ = false;
    core_.OnPlayback("Player#1", PlaybackFacts{5, 1, 2});  // paused, repeat list: not sent
    std::vector<std::uint64_t> delays;
    for (int i = 0; i < 7; ++i) {
        const auto in = WakeIn();
        ASSERT_TRUE(in.has_value());
        delays.push_back(*in);
        clock_.Advance(*in);
        core_.Wake();
    }
    EXPECT_EQ(delays, (std::vector<std::uint64_t>{250, 500, 1000, 2000, 4000, 4000, 4000}));

    pipeUp_ = true;
    clock_.Advance(*WakeIn());
    core_.Wake();
    EXPECT_EQ(Texts(kTagSessionOpened).size(), 1u);
    EXPECT_EQ(Texts(MSPROPTAG_TrackName), std::vector<std::string>{"Title"});
    EXPECT_EQ(Texts(MSPROPTAG_RepeatSet), std::vector<std::string>{"True"});
    EXPECT_EQ(Texts(MSPROPTAG_Pause), std::vector<std::string>{"True"});
    EXPECT_FALSE(core_.NextWakeMs().has_value());  // paused and in step: idle
}

TEST_F(CoreTest, CurrentSessionIsShownAndClosedSessionsCloseTheirPipeSession) {
    core_.SetSessions({{1, "Music"}, {2, "Browser"}});
    core_.OnMedia("Music#1", MediaFacts{u"Song", u"Band", u"", 1});
    core_.OnMedia("Browser#2", MediaFacts{u"Clip", u"", u"Channel", 2});  // video
    core_.SetCurrent(SessionKey{1, "Music"});
    EXPECT_EQ(Texts(kTagSessionOpened).size(), 2u);
    EXPECT_EQ(Texts(MSPROPTAG_TrackName), std::vector<std::string>{"Song"});
    Take();

    core_.SetCurrent(SessionKey{2, "Browser"});
    EXPECT_FALSE(Texts(MSPROPTAG_StreamingContentVideo).empty());
    EXPECT_EQ(Texts(MSPROPTAG_MediaName), std::vector<std::string>{"Clip"});
    Take();

    // The playback info's type wins over the media's: music now.
    core_.OnPlayback("Browser#2", PlaybackFacts{4, 1, 1});
    EXPECT_FALSE(Texts(MSPROPTAG_StreamingContentAudio).empty());
    EXPECT_EQ(Texts(MSPROPTAG_ArtistName), std::vector<std::string>{"Channel"});
    EXPECT_EQ(Texts(MSPROPTAG_RepeatSet), std::vector<std::string>{"True"});
    Take();

    core_.OnPlayback("Browser#2", PlaybackFacts{0, std::nullopt, std::nullopt});  // Closed
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(std::get<1>(records_[0]), kTagSessionClosed);
    Take();
    core_.OnPlayback("Browser#2", PlaybackFacts{4, 1, 0});  // opened again
    EXPECT_EQ(Texts(kTagSessionOpened).size(), 1u);
    Take();

    // Gone from the list: closed. Unknown ids and unknown values change nothing.
    core_.SetSessions({{1, "Music"}});
    EXPECT_EQ(Texts(kTagSessionClosed).size(), 1u);
    Take();
    core_.OnPlayback("Browser#2", PlaybackFacts{4, 1, 0});
    core_.OnPlayback("Music#1", PlaybackFacts{99, 7, 9});
    core_.OnTimeline("nobody", Timeline(1, 0), kUtcNow);
    EXPECT_TRUE(Take().empty());
}

TEST_F(CoreTest, PlayerTextsAreCutAndCleaned) {
    std::u16string huge(10000, u'x');
    huge[255] = 0xD83D;  // a pair across the cut: dropped whole
    huge[256] = 0xDE00;
    bool cut = false;
    EXPECT_EQ(CleanPlayerText(huge, 256, &cut), std::string(255, 'x'));
    EXPECT_TRUE(cut);
    EXPECT_EQ(CleanPlayerText(u"\u0141\u00f3d\u017a", 256, &cut), "\xC5\x81\xC3\xB3\x64\xC5\xBA");
    EXPECT_FALSE(cut);

    core_.SetSessions({{1, "Player"}});
    core_.SetCurrent(SessionKey{1, "Player"});
    core_.OnMedia("Player#1", MediaFacts{u"A\x01\tB" + huge, u"", u"", std::nullopt});
    const auto names = Texts(MSPROPTAG_TrackName);
    ASSERT_FALSE(names.empty());
    EXPECT_LE(names.back().size(), 255u);
    EXPECT_EQ(names.back().substr(0, 4), "A Bx");
}

}  // namespace
}  // namespace zelk
