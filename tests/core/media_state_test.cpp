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
bool SameState(const MediaState& a, const MediaState& b) {
    const auto same = [](const char* x, const char* y) {
        return std::memcmp(x, y, kStateTextSize) == 0;
    };
    return same(a.dateText, b.dateText) && same(a.timeText, b.timeText) &&
           same(a.trackTimeText, b.trackTimeText) && same(a.trackName, b.trackName) &&
           same(a.mediaName, b.mediaName) && same(a.savedMediaName, b.savedMediaName) &&
           same(a.artistName, b.artistName) && same(a.radioFrequencyText, b.radioFrequencyText) &&
           same(a.tvMediaName, b.tvMediaName) && a.volume == b.volume &&
           a.totalTracks == b.totalTracks && a.trackNumber == b.trackNumber &&
           a.transportState == b.transportState && a.sessionCount == b.sessionCount &&
           a.mediaMode == b.mediaMode && a.savedMediaMode == b.savedMediaMode &&
           a.trackSeconds == b.trackSeconds && a.recording == b.recording && a.mute == b.mute &&
           a.repeat == b.repeat && a.recordingSessions == b.recordingSessions;
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

struct TagCase {
    std::int32_t tag;
    std::int32_t MediaState::*field;
    std::int32_t expected;
    bool evenWhenFalse;
};

TEST_F(MediaStateTest, TransportAndMediaTypeTags) {
    constexpr auto kT = &MediaState::transportState;
    constexpr auto kM = &MediaState::mediaMode;
    const TagCase cases[] = {{MSPROPTAG_Play, kT, kTransportPlaying, false},
                             {MSPROPTAG_Pause, kT, kTransportPaused, false},
                             {MSPROPTAG_Rewind1, kT, kTransportRewind, false},
                             {MSPROPTAG_Rewind3, kT, kTransportRewind, false},
                             {MSPROPTAG_FF1, kT, kTransportFastForward, false},
                             {MSPROPTAG_FF3, kT, kTransportFastForward, false},
                             {MSPROPTAG_TVTuner, kM, kModeLiveTv, false},
                             {MSPROPTAG_DVD, kM, kModeDvd, true},
                             {MSPROPTAG_StreamingContentAudio, kM, kModeStreamedAudio, false},
                             {MSPROPTAG_CD, kM, kModeCd, false},
                             {MSPROPTAG_Photos, kM, kModePhotos, true},
                             {MSPROPTAG_StreamingContentVideo, kM, kModeStreamedVideo, true},
                             {MSPROPTAG_PVR, kM, kModeRecordedTv, false},
                             {MSPROPTAG_Radio, kM, kModeRadio, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(TagName(c.tag));
        state.*c.field = 99;
        Send(c.tag, "False");
        EXPECT_EQ(state.*c.field, c.evenWhenFalse ? c.expected : 99);
        Send(c.tag, "true");
        EXPECT_EQ(state.*c.field, c.expected);
    }
}

TEST_F(MediaStateTest, UnusedTagsChangeNothing) {
    Open(1);
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_TrackName, "Song");
    const std::int32_t ignored[] = {MSPROPTAG_Unknown,
                                    MSPROPTAG_Mute,
                                    MSPROPTAG_Shuffle,
                                    MSPROPTAG_Error,
                                    MSPROPTAG_MediaTime,
                                    MSPROPTAG_TrackDuration,
                                    MSPROPTAG_Volume,
                                    MSPROPTAG_FS_TV,
                                    MSPROPTAG_Application,
                                    2,
                                    -1,
                                    0x7FFFFFFF};
    for (std::int32_t tag : ignored) {
        const MediaState before = state;
        Send(tag, "True");
        EXPECT_TRUE(SameState(before, state)) << TagName(tag);
    }
    EXPECT_FALSE(state.mute);  // mute comes only from the mixer
}

TEST_F(MediaStateTest, SessionCountIsTracedMayGoNegativeAndCloseStopsAtOneLeft) {
    ScopedDebugCapture capture;
    Open(1);
    Open(2);
    Open(3);
    Send(MSPROPTAG_Play, "True");
    Close(3);
    EXPECT_EQ(state.transportState, kTransportPlaying);  // two left
    Close(2);
    EXPECT_EQ(state.transportState, kTransportStopped);
    Close(1);
    Close(7);  // a session that never opened
    EXPECT_EQ(state.sessionCount, -1);
    std::vector<std::string> expected;
    for (int n : {1, 2, 3, 2, 1, 0, -1}) {
        expected.push_back("Number of active sessions: " + std::to_string(n) + "\n");
    }
    EXPECT_EQ(capture.Lines(), expected);
}

TEST_F(MediaStateTest, StopIsGatedBySessionCountAndRecording) {
    Open(1);
    Open(2);
    Open(3);
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_TrackTime, "61");
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    Close(3);
    Send(MSPROPTAG_Stop, "False");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportStopped);
    EXPECT_STREQ(state.trackTimeText, "00:00");

    // Recording blocks Stop until the sessions that reported it close; each is kept once.
    for (int i = 0; i < 1000; ++i) {
        Send(MSPROPTAG_Recording, "True", 2);
    }
    Send(MSPROPTAG_Recording, "False", 2);  // false does not clear it
    Send(MSPROPTAG_Recording, "True", 1);
    EXPECT_EQ(state.recordingSessions, (std::vector<std::int32_t>{2, 1}));
    Close(1);
    EXPECT_EQ(state.recordingSessions, (std::vector<std::int32_t>{2}));
    EXPECT_TRUE(state.recording);
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportPlaying);
    Open(1);
    Close(2);
    EXPECT_FALSE(state.recording);
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_Stop, "True");
    EXPECT_EQ(state.transportState, kTransportStopped);
}

TEST_F(MediaStateTest, NextPrevEjectAndHomeDependOnModeAndSessions) {
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_FS_Home, "True");
    EXPECT_EQ(state.mediaMode, kModeCd);  // no session open
    Open(1);
    Send(MSPROPTAG_Next, "True");
    EXPECT_EQ(state.transportState, kTransportStopped);  // plays only in DVD mode
    Send(MSPROPTAG_DVD, "False");
    Send(MSPROPTAG_Prev, "");
    EXPECT_EQ(state.transportState, kTransportPlaying);

    Open(2);
    Send(MSPROPTAG_Ejecting, "True");
    EXPECT_EQ(state.transportState, kTransportPlaying);  // two sessions open
    Send(MSPROPTAG_FS_Home, "True");
    EXPECT_EQ(state.mediaMode, kModeDvd);
    Close(2);
    Send(MSPROPTAG_Pause, "True");
    Send(MSPROPTAG_Ejecting, "False");
    EXPECT_EQ(state.transportState, kTransportPaused);  // only from playing
    Send(MSPROPTAG_Play, "True");
    Send(MSPROPTAG_Ejecting, "False");
    EXPECT_EQ(state.transportState, kTransportStopped);
    Send(MSPROPTAG_FS_Home, "False");
    EXPECT_EQ(state.mediaMode, kModeNone);
}

struct TextCase {
    const char* text;
    const char* expected;
};

TEST_F(MediaStateTest, TrackTimeFormatDependsOnTheMode) {
    for (int mode = kModeNone; mode <= kModeRadio; ++mode) {
        const bool hours =
            mode == kModeDvd || mode == kModeStreamedVideo || mode == kModeRecordedTv;
        state.mediaMode = mode;
        Send(MSPROPTAG_TrackTime, "3725");
        EXPECT_STREQ(state.trackTimeText, hours ? "01:02:05" : "62:05") << "mode " << mode;
    }
    const TextCase cd[] = {{"7507", "125:07"},
                           {"abc", "00:00"},
                           {"-75", "-1:-15"},  // truncation toward zero, printed as it falls
                           {"99999999999", "35791394:07"}};
    state.mediaMode = kModeCd;
    for (const auto& c : cd) {
        Send(MSPROPTAG_TrackTime, c.text);
        EXPECT_STREQ(state.trackTimeText, c.expected) << c.text;
    }
    EXPECT_EQ(state.trackSeconds, 2147483647);
    state.mediaMode = kModeDvd;
    Send(MSPROPTAG_TrackTime, "99999999999");
    EXPECT_STREQ(state.trackTimeText, "596523:14:07");
}

TEST_F(MediaStateTest, TrackNumbersVcdAndTvNames) {
    Send(MSPROPTAG_TrackNumber, "7");
    Send(MSPROPTAG_TotalTracks, "12");
    EXPECT_EQ(state.totalTracks, 12);
    Send(MSPROPTAG_TrackNumber, "x");
    EXPECT_EQ(state.trackNumber, 0);
    const std::pair<const char*, bool> names[] = {
        {"VCD", true},   {"vCd", true}, {"VCD2", false},   {" VCD", false},
        {"SVCD", false}, {"VC", false}, {"V\303D", false}, {"", false}};
    for (const auto& [name, vcd] : names) {
        state.trackNumber = 5;
        state.totalTracks = 9;
        Send(MSPROPTAG_MediaName, name);
        EXPECT_EQ(state.trackNumber, vcd ? 1 : 5) << name;
        EXPECT_EQ(state.totalTracks, vcd ? 1 : 9) << name;
        EXPECT_STREQ(state.mediaName, name);
    }

    // The TV name follows the media name only in the TV modes; a picture is no TV name.
    Send(MSPROPTAG_TVTuner, "True");
    Send(MSPROPTAG_MediaName, "News");
    EXPECT_STREQ(state.tvMediaName, "News");
    Send(MSPROPTAG_PVR, "True");
    Send(MSPROPTAG_MediaName, "Film");
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_MediaName, "Album");
    Send(MSPROPTAG_CurrentPicture, "Beach.jpg");
    EXPECT_STREQ(state.tvMediaName, "Film");
}

TEST_F(MediaStateTest, PhotosNestAndTheNextCloseRestores) {
    Open(1);
    Open(2);
    Send(MSPROPTAG_CD, "True");
    Send(MSPROPTAG_MediaName, "Album");
    Send(MSPROPTAG_Photos, "False");
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
    MediaState expected = state;
    for (char* text :
         {expected.trackTimeText, expected.trackName, expected.mediaName, expected.artistName}) {
        std::memset(text, 0, kStateTextSize);
    }
    expected.trackNumber = 0;
    expected.totalTracks = 0;

    Send(MSPROPTAG_MSASPrivateTags, "anything");
    EXPECT_TRUE(SameState(state, expected));
    EXPECT_STREQ(state.tvMediaName, "News");
    Send(MSPROPTAG_RepeatSet, "False");  // false clears repeat, unlike the other flags
    EXPECT_FALSE(state.repeat);
}

TEST_F(MediaStateTest, RadioFrequencyKeepsFiveCharactersUnrounded) {
    const TextCase cases[] = {
        {"101100000", "101.1 MHz"}, {"88500000", "88.50 MHz"},
        {"0", "0.000 MHz"},         {"99999999", "99.99 MHz"},  // 99.999999: cut, not rounded
        {"FM", "0.000 MHz"},        {"nan", "0.000 MHz"},
        {"inf", "0.000 MHz"},       {"-0", "0.000 MHz"},
        {"-88500000", "-88.5 MHz"}, {"1e300", "10000 MHz"},  // 1e294 in full is 295 digits
        {"1e400", "17976 MHz"}                               // saturated at the largest double
    };
    for (const auto& c : cases) {
        Send(MSPROPTAG_RadioFrequency, c.text);
        EXPECT_STREQ(state.radioFrequencyText, c.expected) << '"' << c.text << '"';
    }
}

TEST_F(MediaStateTest, TextFieldsHoldAtMost255Bytes) {
    const std::string full(255, 'n');
    Open(1);
    Send(MSPROPTAG_TVTuner, "True");
    for (std::int32_t tag : {MSPROPTAG_MediaName, MSPROPTAG_ArtistName, MSPROPTAG_TrackName}) {
        Send(tag, full);
    }
    for (const char* field : {state.mediaName, state.tvMediaName, state.artistName}) {
        EXPECT_EQ(std::string(field), full);
    }

    // A record whose text area has no NUL at all: the field still ends within its 256 bytes.
    PipeMessage raw{};
    raw.sessionNumber = 1;
    raw.tag = MSPROPTAG_TrackName;
    std::memset(raw.text, 'x', sizeof raw.text);
    state.ApplyPipeMessage(raw);
    EXPECT_EQ(std::string(state.trackName), std::string(255, 'x'));

    // A shorter name after a longer one leaves nothing of the longer behind.
    Send(MSPROPTAG_TrackName, "ab");
    EXPECT_EQ(state.trackName[3], '\0');

    // Photos copies the media name into the saved name and back without losing a byte.
    Send(MSPROPTAG_Photos, "");
    Send(MSPROPTAG_CurrentPicture, full + "p");
    Close(1);
    EXPECT_EQ(std::string(state.mediaName), full);
}

}  // namespace
}  // namespace zelk
