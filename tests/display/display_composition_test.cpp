// What the panel receives for each media state and for the fixed screens, as exact report
// streams on the virtual panel, with the platform's text converter and string table.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "service/core/display_composition.h"
#include "service/core/panel_texts.h"
#include "service/panel/virtual_panel.h"
#include "tests/display/display_test_support.h"

namespace zelk {
namespace {

using test::ReportStream;
using test::Stream;

constexpr std::uint8_t L1 = kFirstLine;
constexpr std::uint8_t L2 = kSecondLine;

class Composition : public ::testing::Test {
  protected:
    void SetUp() override {
        panel_ = std::make_unique<PanelDevice>(bus_, CreateSystemTextConverter(), sleeper_);
        panel_->Converter().Open();
        panel_->Converter().SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1,
                                         kConvertNoBestFitChars);
        ASSERT_TRUE(panel_->OpenPanel());
    }
    void TearDown() override { panel_->StopScrolling(); }

    // Feeds records to the state as the pipe server does.
    void Apply(const std::vector<std::pair<std::int32_t, const char*>>& records,
               std::int32_t session = 1) {
        for (const auto& [tag, text] : records) {
            state_.ApplyPipeMessage(MakePipeMessage(session, tag, text, std::strlen(text)));
        }
    }
    void SetClock(const char* time, const char* date) {
        std::snprintf(state_.timeText, sizeof state_.timeText, "%s", time);
        std::snprintf(state_.dateText, sizeof state_.dateText, "%s", date);
    }
    ReportStream Redraw() {
        bus_.ClearReports();
        ShowMediaState(*panel_, state_);
        return bus_.Reports();
    }
    std::string Line(int row) const { return bus_.Picture().Line(row, 12); }

    VirtualPanelBus bus_{VirtualDeviceConfig{}};
    test::RecordingSleeper sleeper_;
    std::unique_ptr<PanelDevice> panel_;
    MediaState state_;
};

TEST_F(Composition, RadioShowsTheFrequencyAndABlankSecondLine) {
    Apply({{kTagSessionOpened, ""}, {MSPROPTAG_Radio, "True"}});
    Apply({{MSPROPTAG_RadioFrequency, "101100000"}, {MSPROPTAG_Play, "True"}});
    Stream s;
    s.Media(0x00).Media(0x10, 5).Status(0x00).Line(L1, "101.1 MHz").Line(L2, "").Playing(0x00);
    EXPECT_EQ(Redraw(), s.reports);
}

TEST_F(Composition, DvdShowsTrackOfTotalOnceATrackTimeIsKnown) {
    Apply({{MSPROPTAG_DVD, "True"}, {MSPROPTAG_TrackNumber, "3"}, {MSPROPTAG_TotalTracks, "12"}});
    Apply({{MSPROPTAG_Play, "True"}});
    Redraw();
    EXPECT_EQ(Line(0), "Track 1/1   ");
    Apply({{MSPROPTAG_TrackTime, "3725"}});
    // Play stays lit from the redraw before.
    Stream s;
    s.Media(0x20, 5).Status(0x01).Line(L1, "Track 3/12").Line(L2, "01:02:05").Playing(0x01);
    EXPECT_EQ(Redraw(), s.reports);
}

TEST_F(Composition, VideoCdInAnyCaseIsTheTrackOneOfOnePairAndAnAudioCdAfterItIsTheCdAlone) {
    Apply({{MSPROPTAG_DVD, ""}, {MSPROPTAG_MediaName, "vCd"}, {MSPROPTAG_TrackNumber, "4"}});
    Apply({{MSPROPTAG_TotalTracks, "9"}, {MSPROPTAG_TrackTime, "65"}, {MSPROPTAG_Play, "True"}});
    Stream s;
    s.Media(0x0C, 5).Status(0x00).Line(L1, "Track 1/1").Line(L2, "00:01:05").Playing(0x00);
    EXPECT_EQ(Redraw(), s.reports);

    Apply({{MSPROPTAG_CD, "True"}, {MSPROPTAG_TrackName, "Intro"}});
    Apply({{MSPROPTAG_TrackTime, "3725"}, {MSPROPTAG_RepeatSet, "True"}});
    // The time goes to the second line before the name goes to the first.
    Stream cd;
    cd.Media(0x00).Media(0x08, 5).Status(0x81).Line(L2, "62:05").Line(L1, "Intro").Playing(0x81);
    EXPECT_EQ(Redraw(), cd.reports);
}

TEST_F(Composition, StreamedAudioShowsArtistDashTrack) {
    Apply({{MSPROPTAG_StreamingContentAudio, "True"}, {MSPROPTAG_ArtistName, "A"}});
    Apply({{MSPROPTAG_TrackName, "T"}, {MSPROPTAG_TrackTime, "75"}, {MSPROPTAG_Play, "True"}});
    Stream s;
    s.Media(0x10, 6).Status(0x00).Line(L1, "A - T").Line(L2, "01:15").Playing(0x00);
    EXPECT_EQ(Redraw(), s.reports);
}

TEST_F(Composition, TvPhotosRecordingsAndVideoWriteTheirLinesInOrder) {
    // The icon caches go on from screen to screen.
    Apply({{MSPROPTAG_TVTuner, "True"}, {MSPROPTAG_TrackNumber, "7"}});
    Apply({{MSPROPTAG_MediaName, "News"}, {MSPROPTAG_Play, "True"}});
    Stream tv;
    tv.Media(0x01, 5).Status(0x00).Line(L1, "Channel 7").Line(L2, "News").Playing(0x00);
    EXPECT_EQ(Redraw(), tv.reports);

    Apply({{MSPROPTAG_Photos, ""}, {MSPROPTAG_CurrentPicture, "Beach"}});
    Stream photos;
    photos.Media(0x03, 3).Media(0x02, 2).Status(0x01).Line(L2, "").Line(L1, "Beach");
    EXPECT_EQ(Redraw(), photos.Playing(0x01).reports);

    Apply({{MSPROPTAG_PVR, "True"}, {MSPROPTAG_MediaName, "Film"}, {MSPROPTAG_TrackTime, "3725"}});
    Stream recorded;
    recorded.Media(0x03, 2).Media(0x01, 4).Status(0x01).Line(L1, "Film").Line(L2, "01:02:05");
    EXPECT_EQ(Redraw(), recorded.Playing(0x01).reports);

    Apply({{MSPROPTAG_StreamingContentVideo, ""}, {MSPROPTAG_MediaName, "Clip"}});
    Stream video;
    video.Media(0x00, 6).Status(0x01).Line(L1, "Clip").Line(L2, "01:02:05").Playing(0x01);
    EXPECT_EQ(Redraw(), video.reports);
}

TEST_F(Composition, EachMediaScreenLeavesOnlyItsIconAndRepeatOnlyInModesFourAndFive) {
    struct Expected {
        std::int32_t mode;
        std::uint8_t media;
        bool repeat;
    };
    // Every screen follows one that lit another icon.
    const Expected modes[] = {{kModeDvd, 0x20, false},        {kModeCd, 0x08, true},
                              {kModeLiveTv, 0x01, false},     {kModeStreamedAudio, 0x10, true},
                              {kModePhotos, 0x02, false},     {kModeRadio, 0x10, false},
                              {kModeRecordedTv, 0x01, false}, {kModeStreamedVideo, 0x00, false}};
    state_.repeat = true;
    state_.transportState = kTransportPaused;
    for (const Expected& e : modes) {
        state_.mediaMode = e.mode;
        Redraw();
        SCOPED_TRACE(e.mode);
        EXPECT_EQ(bus_.Picture().mediaIcons, e.media);
        EXPECT_EQ((bus_.Picture().statusIcons & 0x80) != 0, e.repeat);
        EXPECT_EQ(bus_.Picture().statusIcons & 0x0F, 0x02);  // paused
    }
}

TEST_F(Composition, TheClockShowsWhenStoppedOrInNoKnownMode) {
    SetClock("21:05", "03/04/2024");
    for (const std::int32_t mode : {0, 2, 3, 5, 9, 10, -1}) {
        state_.mediaMode = mode;
        const bool known = mode >= 1 && mode <= 9 && mode != 3;
        state_.transportState = known ? kTransportStopped : kTransportPlaying;
        Redraw();
        EXPECT_EQ(Line(0), "21:05       ") << mode;
        EXPECT_EQ(Line(1), "03/04/2024  ") << mode;
    }
}

TEST_F(Composition, TheClockWithTwoSessionsKeepsTheMediaIcons) {
    Apply({{kTagSessionOpened, ""}}, 1);
    Apply({{kTagSessionOpened, ""}}, 2);
    Apply({{MSPROPTAG_CD, "True"}, {MSPROPTAG_RepeatSet, "True"}, {MSPROPTAG_Play, "True"}});
    Redraw();
    Apply({{MSPROPTAG_Stop, "True"}});
    SetClock("7:45", "1/2/2025");
    state_.mute = true;
    state_.volume = 55141;
    // No media report; repeat stays, mute lit, all transport icons off.
    Stream s;
    s.Line(L1, "7:45").Line(L2, "1/2/2025").Volume(0xFFFF).Status(0x81).Status(0x91, 2);
    EXPECT_EQ(Redraw(), s.Status(0x90, 3).reports);
    EXPECT_EQ(bus_.Picture().mediaIcons, 0x08);
}

TEST_F(Composition, TheClockWithOneSessionDarkensTheIconsButKeepsTheirCache) {
    Apply({{kTagSessionOpened, ""}, {MSPROPTAG_CD, "True"}, {MSPROPTAG_RepeatSet, "True"}});
    Apply({{MSPROPTAG_Recording, "True"}, {MSPROPTAG_Play, "True"}});
    Redraw();
    ASSERT_EQ(bus_.Picture().statusIcons, 0xC1);
    state_.transportState = kTransportStopped;
    SetClock("7:45", "1/2/2025");
    // Recording stays lit.
    Stream s;
    s.Line(L1, "7:45").Line(L2, "1/2/2025").Status(0x41).ClearIcons().Volume(0x0001);
    EXPECT_EQ(Redraw(), s.Status(0x41, 3).Status(0x40, 3).reports);
    EXPECT_EQ(panel_->MediaIconByte(), 0x08);
}

TEST_F(Composition, TwoLongNamesAreScrolledFromTheirBeginning) {
    // Two names of 255 bytes: the composed line is cut at 255 bytes and given for scrolling.
    Apply({{MSPROPTAG_StreamingContentAudio, "True"},
           {MSPROPTAG_ArtistName, std::string(255, 'a').c_str()},
           {MSPROPTAG_TrackName, std::string(255, 'b').c_str()},
           {MSPROPTAG_TrackTime, "61"},
           {MSPROPTAG_Play, "True"}});
    Redraw();
    ASSERT_TRUE(bus_.WaitForReportCount(200, std::chrono::seconds(10)));  // the scroll runs
    panel_->StopScrolling();
    EXPECT_EQ(Line(1), "01:01       ");
    for (const char c : Line(0)) EXPECT_TRUE(c == 'a' || c == ' ') << Line(0);
}

TEST_F(Composition, FixedScreensSendTheirTextsAndDisplayControlValues) {
    const std::pair<void (*)(PanelDevice&), Stream> screens[] = {
        {&ShowStoppingScreen,
         Stream().ClearAll(0).Line(L1, "Service").Line(L2, "stopping...").ClearAll(2)},
        {&ShowShutdownScreen, Stream().Line(L1, "Preparing").Line(L2, "shutdown...").ClearAll(5)},
        {&ShowStandbyScreen,  // its second text is one character longer than the line
         Stream().ClearAll(0).Line(L1, "Preparing").Line(L2, "to standby..").ClearAll(2)},
        {&ShowStartupScreen, Stream().ClearAll(0).Line(L2, "Starting Up")},
    };
    for (const auto& [show, expected] : screens) {
        bus_.ClearReports();
        show(*panel_);
        EXPECT_EQ(bus_.Reports(), expected.reports);
    }
}

// A direct write to the line scrolled last sleeps for the scroll handshake; another thread then
// tries to take the panel, which every redraw and fixed screen holds in one frame throughout.
TEST(CompositionLocking, EveryRedrawAndScreenHoldsThePanelThroughout) {
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    test::RecordingSleeper sleeper;
    PanelDevice panel(bus, nullptr, sleeper);
    ASSERT_TRUE(panel.OpenPanel());
    int probes = 0;
    int lockFree = 0;
    const auto probeLock = [&](std::uint32_t) {
        ++probes;
        bool locked = false;
        std::thread other([&] { locked = panel.TryBeginFrame().has_value(); });
        other.join();
        lockFree += locked ? 1 : 0;
    };
    const auto scrollOnce = [&](std::uint8_t lineCode) {
        sleeper.onSleep = nullptr;
        panel.BeginFrame().WriteOrScrollLine("a text longer than the line", lineCode);
        panel.StopScrolling();
        sleeper.onSleep = probeLock;
    };
    MediaState radio;
    radio.mediaMode = kModeRadio;
    radio.transportState = kTransportPlaying;
    scrollOnce(L1);
    ShowMediaState(panel, radio);
    ShowStoppingScreen(panel);
    ShowShutdownScreen(panel);
    ShowStandbyScreen(panel);
    scrollOnce(L2);
    ShowStartupScreen(panel);
    EXPECT_GE(probes, 5);
    EXPECT_EQ(lockFree, 0);
}

TEST(ServiceStrings, MessagesAndPanelTextsCutToTheBufferEmptyWhenUnknown) {
    char buffer[128];
    EXPECT_EQ(LoadServiceString(15, buffer, sizeof buffer), 6u);
    EXPECT_STREQ(buffer, "%1, %2");
    LoadServiceString(24, buffer, sizeof buffer);
    EXPECT_STREQ(buffer,
                 "LumaraService::SetServiceToStatus, Failed to check the service status, Error:%1");
    EXPECT_EQ(LoadServiceString(kTextTrack, buffer, 5), 4u);
    EXPECT_STREQ(buffer, "Trac");
    for (const int id : {0, 33, -1, 100000}) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(LoadServiceString(id, buffer, sizeof buffer), 0u) << id;
        EXPECT_EQ(buffer[0], '\0') << id;
    }
    EXPECT_EQ(LoadServiceString(kTextService, nullptr, 10), 0u);
}

}  // namespace
}  // namespace zelk
