// The now-playing translator's rules beyond one player's life (that is in the MPRIS bridge's
// test): the source the system names current, repeat and stop, and the text it sends.
#include <gtest/gtest.h>

#include <utility>

#include "common/media_status_tags.h"
#include "common/now_playing.h"
#include "common/pipe_message.h"
#include "tests/support/sent_record.h"

namespace zelk {
namespace {

using test::Record;
using Records = std::vector<Record>;

struct Rig {
    explicit Rig(NowPlayingTranslator::ShownRule rule)
        : translator(
              [this](std::int32_t session, std::int32_t tag, const std::string& text) {
                  sent.push_back({session, tag, text});
                  return true;
              },
              rule) {}
    Records Take() { return std::exchange(sent, {}); }
    Records sent;
    NowPlayingTranslator translator;
};

NowPlayingUpdate Track(PlaybackState state, const char* artist, const char* title, int seconds) {
    return {.playback = state,
            .hasMetadata = true,
            .artists = {artist},
            .title = title,
            .positionUs = std::int64_t{seconds} * 1000000};
}

TEST(NowPlaying, TheCurrentSourceIsShownWhateverPlays) {
    Rig rig(NowPlayingTranslator::ShownRule::kCurrent);
    rig.translator.SetCurrent("a");  // named before it appears
    rig.translator.Appeared("b");
    EXPECT_EQ(rig.Take(), (Records{{1, kTagSessionOpened, ""}})) << "b is not current";
    rig.translator.Update("b", Track(PlaybackState::kPlaying, "B", "Bee", 1));
    EXPECT_TRUE(rig.Take().empty()) << "starting to play does not make it shown";
    EXPECT_EQ(rig.translator.PlayingShown(), std::nullopt);

    rig.translator.Appeared("a");
    EXPECT_EQ(rig.Take(), (Records{{2, kTagSessionOpened, ""},
                                   {2, MSPROPTAG_StreamingContentAudio, "True"},
                                   {2, MSPROPTAG_ArtistName, ""},
                                   {2, MSPROPTAG_TrackName, ""},
                                   {2, MSPROPTAG_RepeatSet, "False"},
                                   {2, MSPROPTAG_Stop, "True"}}));
    rig.translator.Update("a", Track(PlaybackState::kPaused, "A", "Ay", 2));
    EXPECT_EQ(rig.Take(), (Records{{2, MSPROPTAG_ArtistName, "A"},
                                   {2, MSPROPTAG_TrackName, "Ay"},
                                   {2, MSPROPTAG_TrackTime, "2"},
                                   {2, MSPROPTAG_Pause, "True"}}));

    // The system names b current: its whole state, on its own session.
    rig.translator.SetCurrent("b");
    EXPECT_EQ(rig.Take(), (Records{{1, MSPROPTAG_StreamingContentAudio, "True"},
                                   {1, MSPROPTAG_ArtistName, "B"},
                                   {1, MSPROPTAG_TrackName, "Bee"},
                                   {1, MSPROPTAG_RepeatSet, "False"},
                                   {1, MSPROPTAG_TrackTime, "1"},
                                   {1, MSPROPTAG_Play, "True"}}));
    EXPECT_EQ(rig.translator.PlayingShown(), "b");
    rig.translator.Update("a", Track(PlaybackState::kPlaying, "A", "Ay", 3));
    EXPECT_TRUE(rig.Take().empty()) << "a is no longer shown";

    // None current: nothing shown; back to a: its state as it is now.
    rig.translator.SetCurrent("");
    EXPECT_TRUE(rig.Take().empty());
    EXPECT_EQ(rig.translator.PlayingShown(), std::nullopt);
    rig.translator.SetCurrent("a");
    EXPECT_EQ(rig.Take(), (Records{{2, MSPROPTAG_StreamingContentAudio, "True"},
                                   {2, MSPROPTAG_ArtistName, "A"},
                                   {2, MSPROPTAG_TrackName, "Ay"},
                                   {2, MSPROPTAG_RepeatSet, "False"},
                                   {2, MSPROPTAG_TrackTime, "3"},
                                   {2, MSPROPTAG_Play, "True"}}));
    rig.translator.Vanished("a");
    EXPECT_EQ(rig.Take(), (Records{{2, kTagSessionClosed, ""}})) << "b is not current";
    EXPECT_EQ(rig.translator.PlayingShown(), std::nullopt);
}

TEST(NowPlaying, LastStartedRuleIgnoresCurrentAndSendsOnlyChanges) {
    Rig rig(NowPlayingTranslator::ShownRule::kLastStartedPlaying);
    rig.translator.Appeared("a");
    rig.translator.Appeared("b");
    rig.Take();
    rig.translator.SetCurrent("b");
    EXPECT_TRUE(rig.Take().empty());
    // Text goes through the pipe's conversion; repeat track or list is the repeat icon.
    NowPlayingUpdate playing =
        Track(PlaybackState::kPlaying, "\xC5\x81\xC3\xB3\x64\xC5\xBA", "T", 5);
    playing.repeat = RepeatMode::kTrack;
    rig.translator.Update("b", playing);
    EXPECT_EQ(rig.Take(), (Records{{2, MSPROPTAG_StreamingContentAudio, "True"},
                                   {2, MSPROPTAG_ArtistName,
                                    "L\xF3"
                                    "dz"},
                                   {2, MSPROPTAG_TrackName, "T"},
                                   {2, MSPROPTAG_RepeatSet, "True"},
                                   {2, MSPROPTAG_TrackTime, "5"},
                                   {2, MSPROPTAG_Play, "True"}}));
    NowPlayingUpdate list;
    list.repeat = RepeatMode::kList;
    rig.translator.Update("b", list);
    EXPECT_TRUE(rig.Take().empty()) << "still repeating";
    // Stopped: the transport only, and no time while stopped; the time comes back with play.
    NowPlayingUpdate stop;
    stop.playback = PlaybackState::kStopped;
    rig.translator.Update("b", stop);
    rig.translator.Position("b", 9000000);
    EXPECT_EQ(rig.Take(), (Records{{2, MSPROPTAG_Stop, "True"}}));
    NowPlayingUpdate play;
    play.playback = PlaybackState::kPlaying;
    rig.translator.Update("b", play);
    EXPECT_EQ(rig.Take(), (Records{{2, MSPROPTAG_TrackTime, "9"}, {2, MSPROPTAG_Play, "True"}}));
}

}  // namespace
}  // namespace zelk
