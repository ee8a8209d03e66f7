// The MPRIS bridge's records, without a bus: whole record streams for a player's life, the
// resend after the service was away, the text conversion and the video rule.
#include <gtest/gtest.h>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "tests/support/sent_record.h"
#include "common/now_playing.h"
#include "common/pipe_text.h"
#include "tools/mpris/mpris_metadata.h"

namespace zelk {
namespace {

using test::Record;

struct Rig {
    std::vector<Record> sent;
    bool serving = true;
    NowPlayingTranslator bridge{
        [this](std::int32_t session, std::int32_t tag, const std::string& text) {
            if (serving) sent.push_back({session, tag, text});
            return serving;
        }};
    std::vector<Record> Take() { return std::exchange(sent, {}); }
};

NowPlayingUpdate Playing(std::int64_t seconds) {
    return {.playback = PlaybackState::kPlaying,
            .hasMetadata = true,
            .artists = {"A", "B"},
            .title = "T",
            .positionUs = seconds * 1000000};
}

TEST(MprisBridge, APlayersLifeAsRecords) {
    Rig rig;
    rig.bridge.Appeared(":1.5");
    EXPECT_EQ(rig.Take(), (std::vector<Record>{{1, kTagSessionOpened, ""},
                                               {1, MSPROPTAG_StreamingContentAudio, "True"},
                                               {1, MSPROPTAG_ArtistName, ""},
                                               {1, MSPROPTAG_TrackName, ""},
                                               {1, MSPROPTAG_RepeatSet, "False"},
                                               {1, MSPROPTAG_Stop, "True"}}));
    rig.bridge.Update(":1.5", Playing(61));
    EXPECT_EQ(rig.Take(), (std::vector<Record>{{1, MSPROPTAG_ArtistName, "A, B"},
                                               {1, MSPROPTAG_TrackName, "T"},
                                               {1, MSPROPTAG_TrackTime, "61"},
                                               {1, MSPROPTAG_Play, "True"}}));
    rig.bridge.Position(":1.5", 61900000);  // same second: nothing
    rig.bridge.Position(":9.9", 5000000);   // not a player: nothing
    EXPECT_TRUE(rig.Take().empty());
    EXPECT_EQ(rig.bridge.PlayingShown(), ":1.5");

    // A second player appears (a session only) and starts playing: it is shown.
    rig.bridge.Appeared(":1.7");
    EXPECT_EQ(rig.Take(), (std::vector<Record>{{2, kTagSessionOpened, ""}}));
    NowPlayingUpdate video = Playing(3);
    video.video = true;
    rig.bridge.Update(":1.7", video);
    EXPECT_EQ(rig.Take(), (std::vector<Record>{{2, MSPROPTAG_StreamingContentVideo, "True"},
                                               {2, MSPROPTAG_MediaName, "T"},
                                               {2, MSPROPTAG_RepeatSet, "False"},
                                               {2, MSPROPTAG_TrackTime, "3"},
                                               {2, MSPROPTAG_Play, "True"}}));

    // The service goes away: nothing more is sent until it is back, then everything again.
    rig.serving = false;
    rig.bridge.Vanished(":1.7");
    EXPECT_FALSE(rig.bridge.InStep());
    rig.serving = true;
    rig.bridge.Resync();
    EXPECT_EQ(rig.Take(), (std::vector<Record>{{1, kTagSessionOpened, ""},
                                               {1, MSPROPTAG_StreamingContentAudio, "True"},
                                               {1, MSPROPTAG_ArtistName, "A, B"},
                                               {1, MSPROPTAG_TrackName, "T"},
                                               {1, MSPROPTAG_RepeatSet, "False"},
                                               {1, MSPROPTAG_TrackTime, "61"},
                                               {1, MSPROPTAG_Play, "True"}}));
    rig.bridge.Resync();  // in step: nothing
    rig.bridge.CloseAll();
    EXPECT_EQ(rig.Take(), (std::vector<Record>{{1, kTagSessionClosed, ""}}));
}

TEST(MprisBridge, TextAndVideoRules) {
    EXPECT_EQ(ToPipeText("Caf\xC3\xA9 \xE2\x98\x95!"), "Caf\xE9 ?!");
    EXPECT_EQ(ToPipeText("\xFF"
                         "a"),
              "?a");
    struct Case {
        const char *key, *value;
        bool video;
    };
    for (const Case& c :
         {Case{"xesam:url", "file:///v/Film.MKV", true},
          Case{"xesam:url", "https://x/a.mp4?t=3", true},
          Case{"xesam:url", "file:///m/a.flac", false}, Case{"kodi:mediatype", "Movie", true},
          Case{"kodi:mediatype", "song", false}, Case{"xesam:title", "video", false}}) {
        EXPECT_EQ(MetadataMarksVideo(c.key, c.value), c.video) << c.key << " " << c.value;
    }
}

}  // namespace
}  // namespace zelk
