#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/debug_print.h"
#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "service/core/media_state.h"

namespace zelk {
namespace {

// Field by field, so that padding bytes play no part.
::testing::AssertionResult SameState(const MediaState& a, const MediaState& b) {
    const auto text = [](const char* x, const char* y) {
        return std::memcmp(x, y, kStateTextSize) == 0;
    };
    const bool same =
        text(a.dateText, b.dateText) && text(a.timeText, b.timeText) && a.volume == b.volume &&
        text(a.trackTimeText, b.trackTimeText) && a.totalTracks == b.totalTracks &&
        a.trackNumber == b.trackNumber && text(a.trackName, b.trackName) &&
        text(a.mediaName, b.mediaName) && text(a.savedMediaName, b.savedMediaName) &&
        text(a.artistName, b.artistName) && text(a.radioFrequencyText, b.radioFrequencyText) &&
        text(a.tvMediaName, b.tvMediaName) && a.transportState == b.transportState &&
        a.sessionCount == b.sessionCount && a.mediaMode == b.mediaMode &&
        a.savedMediaMode == b.savedMediaMode && a.trackSeconds == b.trackSeconds &&
        a.recording == b.recording && a.mute == b.mute && a.repeat == b.repeat &&
        a.recordingSessions == b.recordingSessions;
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the state changed";
}

class MediaStateTest : public ::testing::Test {
  protected:
    void Send(std::int32_t tag, const std::string& text = "", std::int32_t session = 1) {
        state.ApplyPipeMessage(MakePipeMessage(session, tag, text.data(), text.size()));
    }
    void Open(std::int32_t session) { Send(kTagSessionOpened, "", session); }
    void Close(std::int32_t session) { Send(kTagSessionClosed, "", session); }

    ScopedDebugCapture quiet;  // keeps the session traces out of the test output
    MediaState state;
};

struct TransportCase {
    std::int32_t tag;
    std::int32_t expected;
};

TEST_F(MediaStateTest, TransportTagsActOnlyOnATrueText) {
    const TransportCase cases[] = {
        {MSPROPTAG_Play, kTransportPlaying},    {MSPROPTAG_Pause, kTransportPaused},
        {MSPROPTAG_Rewind1, kTransportRewind},  {MSPROPTAG_Rewind2, kTransportRewind},
        {MSPROPTAG_Rewind3, kTransportRewind},  {MSPROPTAG_FF1, kTransportFastForward},
        {MSPROPTAG_FF2, kTransportFastForward}, {MSPROPTAG_FF3, kTransportFastForward},
    };
    for (const auto& c : cases) {
        for (const char* no : {"False", "yes", "1", ""}) {
            state.transportState = 99;
            Send(c.tag, no);
            EXPECT_EQ(state.transportState, 99) << TagName(c.tag) << " \"" << no << '"';
        }
        for (const char* yes : {"True", "true", "TRUE", "t"}) {
            state.transportState = 99;
            Send(c.tag, yes);
            EXPECT_EQ(state.transportState, c.expected) << TagName(c.tag) << ' ' << yes;
        }
    }
}

struct ModeCase {
    std::int32_t tag;
    std::int32_t mode;
    bool evenWhenFalse;
};

TEST_F(MediaStateTest, MediaTypeTagsSetTheirMode) {
    const ModeCase cases[] = {
        {MSPROPTAG_TVTuner, kModeLiveTv, false},
        {MSPROPTAG_DVD, kModeDvd, true},
        {MSPROPTAG_StreamingContentAudio, kModeStreamedAudio, false},
        {MSPROPTAG_CD, kModeCd, false},
        {MSPROPTAG_Photos, kModePhotos, true},
        {MSPROPTAG_StreamingContentVideo, kModeStreamedVideo, true},
        {MSPROPTAG_PVR, kModeRecordedTv, false},
        {MSPROPTAG_Radio, kModeRadio, false},
    };
    for (const auto& c : cases) {
        state.mediaMode = 3;
        Send(c.tag, "False");
        EXPECT_EQ(state.mediaMode, c.evenWhenFalse ? c.mode : 3) << TagName(c.tag);
        state.mediaMode = 3;
        Send(c.tag, "True");
        EXPECT_EQ(state.mediaMode, c.mode) << TagName(c.tag);
    }
}

TEST_F(MediaStateTest, UnusedTagsChangeNothing) {
    Open(1);
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_TrackName, "Song");
    const std::vector<std::int32_t> ignored = {MSPROPTAG_Unknown,
                                               MSPROPTAG_Mute,
                                               MSPROPTAG_Shuffle,
                                               MSPROPTAG_Error,
                                               MSPROPTAG_MediaTime,
                                               MSPROPTAG_TrackDuration,
                                               MSPROPTAG_Volume,
                                               MSPROPTAG_FS_TV,
                                               MSPROPTAG_FS_Music,
                                               MSPROPTAG_Application,
                                               2,
                                               4,
                                               -1,
                                               0x7FFFFFFF};
    for (std::int32_t tag : ignored) {
        MediaState before = state;
        Send(tag, "True");
        EXPECT_TRUE(SameState(before, state)) << TagName(tag);
    }
    EXPECT_FALSE(state.mute);  // mute comes only from the mixer
}

TEST_F(MediaStateTest, SessionCountIsTracedAndMayGoNegative) {
    ScopedDebugCapture capture;
    Open(1);
    Open(2);
    Close(2);
    Close(1);
    Send(MSPROPTAG_Play, "True");
    Close(7);  // a session that never opened
    EXPECT_EQ(state.sessionCount, -1);
    EXPECT_EQ(state.transportState, kTransportStopped);
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{
                                   "Number of active sessions: 1\n",
                                   "Number of active sessions: 2\n",
                                   "Number of active sessions: 1\n",
                                   "Number of active sessions: 0\n",
                                   "Number of active sessions: -1\n",
                               }));
}

TEST_F(MediaStateTest, CloseStopsOnlyWhenAtMostOneSessionRemains) {
    Open(1);
    Open(2);
    Open(3);
    Send(MSPROPTAG_Play, "True");
    Close(3);
    EXPECT_EQ(state.transportState, kTransportPlaying);  // two left
    Close(2);
    EXPECT_EQ(state.transportState, kTransportStopped);
}

TEST_F(MediaStateTest, StopIsGatedBySessionCountAndRecording) {
    Open(1);
    Open(2);
    Open(3);
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_TrackTime, "61");
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    EXPECT_STREQ(state.trackTimeText, "01:01");

    Close(3);
    Send(MSPROPTAG_Stop, "False");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportStopped);
    EXPECT_STREQ(state.trackTimeText, "00:00");

    // Recording reported by session 2 blocks Stop until session 2 closes.
    Send(MSPROPTAG_Recording, "True", 2);
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    Send(MSPROPTAG_Recording, "False", 2);  // false does not clear it
    EXPECT_TRUE(state.recording);
    Close(1);  // another session: still recording
    EXPECT_TRUE(state.recording);
    Open(1);
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    Close(2);
    EXPECT_FALSE(state.recording);
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportStopped);
}

TEST_F(MediaStateTest, RecordingSessionsAreKeptOnceEachUntilTheirCloses) {
    Open(1);
    Open(2);
    for (int i = 0; i < 1000; ++i) {
        Send(MSPROPTAG_Recording, "True", 2);
    }
    Send(MSPROPTAG_Recording, "True", 1);
    EXPECT_EQ(state.recordingSessions, (std::vector<std::int32_t>{2, 1}));
    Close(2);
    EXPECT_EQ(state.recordingSessions, (std::vector<std::int32_t>{1}));
    EXPECT_TRUE(state.recording);
    Close(1);
    EXPECT_TRUE(state.recordingSessions.empty());
    EXPECT_FALSE(state.recording);
}

TEST_F(MediaStateTest, NextPrevPlayOnlyInDvdModeAndEjectStopsOnlyFromPlaying) {
    Open(1);
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_Next, "True");
    EXPECT_EQ(state.transportState, kTransportStopped);
    Send(MSPROPTAG_DVD, "False");
    Send(MSPROPTAG_Prev, "");
    EXPECT_EQ(state.transportState, kTransportPlaying);

    Open(2);
    Send(MSPROPTAG_Ejecting, "True");
    EXPECT_EQ(state.transportState, kTransportPlaying);  // two sessions open
    Close(2);
    Send(MSPROPTAG_Pause, "True");
    Send(MSPROPTAG_Ejecting, "False");
    EXPECT_EQ(state.transportState, kTransportPaused);  // only from playing
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_Ejecting, "False");
    EXPECT_EQ(state.transportState, kTransportStopped);
}

TEST_F(MediaStateTest, HomeClearsTheModeOnlyWithExactlyOneSession) {
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_FS_Home, "True");
    EXPECT_EQ(state.mediaMode, kModeCd);  // no session open
    Open(1);
    Open(2);
    Send(MSPROPTAG_FS_Home, "True");
    EXPECT_EQ(state.mediaMode, kModeCd);
    Close(2);
    Send(MSPROPTAG_FS_Home, "False");
    EXPECT_EQ(state.mediaMode, kModeNone);
}

struct TrackTimeCase {
    std::int32_t mode;
    const char* text;
    const char* expected;
};

TEST_F(MediaStateTest, TrackTimeFormatDependsOnTheMode) {
    const TrackTimeCase cases[] = {
        {kModeDvd, "3725", "01:02:05"},
        {kModeStreamedVideo, "3725", "01:02:05"},
        {kModeRecordedTv, "3725", "01:02:05"},
        {kModeNone, "3725", "62:05"},
        {kModeLiveTv, "3725", "62:05"},
        {3, "3725", "62:05"},
        {kModeStreamedAudio, "3725", "62:05"},
        {kModeCd, "3725", "62:05"},
        {kModePhotos, "3725", "62:05"},
        {kModeRadio, "3725", "62:05"},
        {kModeCd, "7507", "125:07"},
        {kModeDvd, "0", "00:00:00"},
        {kModeCd, "abc", "00:00"},
        {kModeCd, "-75", "-1:-15"},  // truncation toward zero, printed as it falls
        {kModeCd, "99999999999", "35791394:07"},
        {kModeDvd, "99999999999", "596523:14:07"},
    };
    for (const auto& c : cases) {
        state.mediaMode = c.mode;
        Send(MSPROPTAG_TrackTime, c.text);
        EXPECT_STREQ(state.trackTimeText, c.expected) << "mode " << c.mode << ' ' << c.text;
    }
    EXPECT_EQ(state.trackSeconds, 2147483647);
}

TEST_F(MediaStateTest, TrackNumbersAndVcdInAnyCase) {
    Send(MSPROPTAG_TrackNumber, "7");
    Send(MSPROPTAG_TotalTracks, "12");
    EXPECT_EQ(state.trackNumber, 7);
    EXPECT_EQ(state.totalTracks, 12);
    Send(MSPROPTAG_TrackNumber, "x");
    EXPECT_EQ(state.trackNumber, 0);

    for (const char* name : {"VCD", "vcd", "vCd"}) {
        state.trackNumber = 5;
        state.totalTracks = 9;
        Send(MSPROPTAG_MediaName, name);
        EXPECT_EQ(state.trackNumber, 1) << name;
        EXPECT_EQ(state.totalTracks, 1) << name;
        EXPECT_STREQ(state.mediaName, name);
    }
    for (const char* name : {"VCD2", "VC", " VCD", "SVCD",
                             "V\xC3"
                             "D",
                             ""}) {
        state.trackNumber = 5;
        state.totalTracks = 9;
        Send(MSPROPTAG_MediaName, name);
        EXPECT_EQ(state.trackNumber, 5) << name;
        EXPECT_EQ(state.totalTracks, 9) << name;
    }
}

TEST_F(MediaStateTest, TvMediaNameFollowsOnlyInTvModes) {
    Send(MSPROPTAG_TVTuner, "True");
    Send(MSPROPTAG_MediaName, "News");
    EXPECT_STREQ(state.tvMediaName, "News");
    Send(MSPROPTAG_PVR, "True");
    Send(MSPROPTAG_MediaName, "Film");
    EXPECT_STREQ(state.tvMediaName, "Film");
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_MediaName, "Album");
    EXPECT_STREQ(state.mediaName, "Album");
    EXPECT_STREQ(state.tvMediaName, "Film");
    Send(MSPROPTAG_CurrentPicture, "Beach.jpg");  // a picture is not a TV name either
    EXPECT_STREQ(state.tvMediaName, "Film");
}

TEST_F(MediaStateTest, PhotosNestAndTheNextCloseRestores) {
    Open(1);
    Open(2);
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_MediaName, "Album");
    Send(MSPROPTAG_Photos, "False");
    EXPECT_EQ(state.mediaMode, kModePhotos);
    Send(MSPROPTAG_CurrentPicture, "Beach.jpg");
    EXPECT_STREQ(state.mediaName, "Beach.jpg");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    Send(MSPROPTAG_Pause, "True");

    Close(2);  // leaves one session, which would stop; mode 6 makes it play
    EXPECT_EQ(state.mediaMode, kModeCd);
    EXPECT_STREQ(state.mediaName, "Album");
    EXPECT_EQ(state.transportState, kTransportPlaying);

    // A second Photos while in photo mode saves mode 6 itself.
    Send(MSPROPTAG_Photos, "");
    Send(MSPROPTAG_CurrentPicture, "A.jpg");
    Send(MSPROPTAG_Photos, "");
    Send(MSPROPTAG_CurrentPicture, "B.jpg");
    Open(3);
    Close(3);
    EXPECT_EQ(state.mediaMode, kModePhotos);
    EXPECT_STREQ(state.mediaName, "A.jpg");
}

TEST_F(MediaStateTest, PrivateTagClearsOnlyTheMediaTexts) {
    Open(1);
    Send(MSPROPTAG_TVTuner, "True");
    Send(MSPROPTAG_MediaName, "News");
    Send(MSPROPTAG_Radio, "True");
    Send(MSPROPTAG_RadioFrequency, "101100000");
    Send(MSPROPTAG_TrackName, "Track");
    Send(MSPROPTAG_ArtistName, "Artist");
    Send(MSPROPTAG_TrackNumber, "3");
    Send(MSPROPTAG_TotalTracks, "9");
    Send(MSPROPTAG_TrackTime, "42");
    Send(MSPROPTAG_RepeatSet, "True");
    Send(MSPROPTAG_Recording, "True");
    Send(MSPROPTAG_Play, "True");

    Send(MSPROPTAG_MSASPrivateTags, "anything");
    EXPECT_STREQ(state.trackTimeText, "");
    EXPECT_STREQ(state.trackName, "");
    EXPECT_STREQ(state.mediaName, "");
    EXPECT_STREQ(state.artistName, "");
    EXPECT_EQ(state.trackNumber, 0);
    EXPECT_EQ(state.totalTracks, 0);
    EXPECT_STREQ(state.tvMediaName, "News");
    EXPECT_STREQ(state.radioFrequencyText, "101.1 MHz");
    EXPECT_EQ(state.mediaMode, kModeRadio);
    EXPECT_EQ(state.transportState, kTransportPlaying);
    EXPECT_EQ(state.trackSeconds, 42);
    EXPECT_TRUE(state.repeat);
    EXPECT_TRUE(state.recording);
    EXPECT_EQ(state.sessionCount, 1);

    Send(MSPROPTAG_RepeatSet, "False");  // false clears repeat, unlike the other flags
    EXPECT_FALSE(state.repeat);
}

struct FrequencyCase {
    const char* text;
    const char* expected;
};

TEST_F(MediaStateTest, RadioFrequencyKeepsFiveCharactersUnrounded) {
    const FrequencyCase cases[] = {
        {"101100000", "101.1 MHz"}, {"88500000", "88.50 MHz"},
        {"0", "0.000 MHz"},         {"99999999", "99.99 MHz"},  // 99.999999: cut, not rounded
        {"", "0.000 MHz"},          {"FM", "0.000 MHz"},
        {"nan", "0.000 MHz"},       {"inf", "0.000 MHz"},
        {"-0", "0.000 MHz"},        {"101100000.7", "101.1 MHz"},
        {"1.011e8", "101.1 MHz"},   {"-88500000", "-88.5 MHz"},
        {"1e300", "10000 MHz"},  // 1e294 in full is 295 digits
        {"1e400", "17976 MHz"},  // saturated at the largest double
    };
    for (const auto& c : cases) {
        Send(MSPROPTAG_RadioFrequency, c.text);
        EXPECT_STREQ(state.radioFrequencyText, c.expected) << '"' << c.text << '"';
    }
}

TEST_F(MediaStateTest, TextFieldsHoldAtMost255Bytes) {
    const std::string full(255, 'n');
    const std::int32_t textTags[] = {MSPROPTAG_MediaName, MSPROPTAG_ArtistName, MSPROPTAG_TrackName,
                                     MSPROPTAG_CurrentPicture};
    Send(MSPROPTAG_TVTuner, "True");
    for (std::int32_t tag : textTags) {
        Send(tag, full);
    }
    EXPECT_EQ(std::string(state.mediaName), full);
    EXPECT_EQ(std::string(state.tvMediaName), full);
    EXPECT_EQ(std::string(state.artistName), full);
    EXPECT_EQ(std::string(state.trackName), full);

    // A record whose text area has no NUL at all: the field still ends within its 256 bytes.
    PipeMessage raw{};
    raw.sessionNumber = 1;
    raw.tag = MSPROPTAG_TrackName;
    std::memset(raw.text, 'x', sizeof raw.text);
    state.ApplyPipeMessage(raw);
    EXPECT_EQ(std::string(state.trackName), std::string(255, 'x'));
    EXPECT_EQ(state.trackName[255], '\0');

    // A shorter name after a longer one leaves nothing of the longer behind.
    Send(MSPROPTAG_TrackName, "ab");
    EXPECT_STREQ(state.trackName, "ab");
    EXPECT_EQ(state.trackName[3], '\0');

    // Photos copies the media name into the saved name and back without losing a byte.
    Send(MSPROPTAG_Photos, "");
    Send(MSPROPTAG_CurrentPicture, "p");
    Close(1);
    EXPECT_EQ(std::string(state.mediaName), full);
}

}  // namespace
}  // namespace zelk
