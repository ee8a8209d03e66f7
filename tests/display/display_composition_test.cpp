// What the panel receives for each media state and for the fixed screens, as exact report
// streams on the virtual panel, with the real text converter and the real string table.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <chrono>
#include <thread>

#include "common/media_status_tags.h"
#include "common/pipe_message.h"
#include "service/core/display_composition.h"
#include "service/core/panel_texts.h"
#include "service/panel/virtual_panel.h"
#include "tests/display/display_test_support.h"

namespace zelk {
namespace {

using testing::Describe;
using testing::ExpectedStream;
using testing::InstantSleeper;
using testing::ReportStream;

constexpr std::uint8_t C0 = kFirstLine;
constexpr std::uint8_t C8 = kSecondLine;

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

    // Feeds one record to the state the way the pipe server does.
    void Apply(std::int32_t tag, const char* text, std::int32_t session = 1) {
        state_.ApplyPipeMessage(MakePipeMessage(session, tag, text, std::strlen(text)));
    }
    void Set(char (&field)[kStateTextSize], const char* text) {
        std::snprintf(field, sizeof field, "%s", text);
    }

    // The reports of one redraw.
    ReportStream Redraw() {
        bus_.ClearReports();
        ShowMediaState(*panel_, state_);
        return bus_.Reports();
    }
    std::string Line(int row) const { return bus_.Picture().Line(row, 12); }

    VirtualPanelBus bus_{VirtualDeviceConfig{}};
    InstantSleeper sleeper_;
    std::unique_ptr<PanelDevice> panel_;
    MediaState state_;
};

// Volume bar (volume 0 lights one segment), recording, mute and the transport state's four
// status reports, given the status byte before them.
ExpectedStream& Closing(ExpectedStream& s, std::uint8_t status, std::int32_t transport,
                        std::uint16_t volumeMask = 0x0001) {
    s.Volume(volumeMask).Status(status).Status(status);
    switch (transport) {
        case kTransportPlaying:
            return s.Status(status | 0x01)
                .Status(status | 0x01)
                .Status(status | 0x01)
                .Status(status | 0x01);
        case kTransportStopped:
            return s.Status(status).Status(status).Status(status).Status(status);
        default:
            return s;
    }
}

TEST_F(Composition, RadioShowsTheFrequencyAndABlankSecondLine) {
    Apply(kTagSessionOpened, "");
    Apply(MSPROPTAG_Radio, "True");
    Apply(MSPROPTAG_RadioFrequency, "101100000");
    Apply(MSPROPTAG_Play, "True");

    ExpectedStream expected;
    expected.Media(0x00).Media(0x10).Media(0x10).Media(0x10).Media(0x10).Media(0x10);
    expected.Status(0x00).Line(C0, "101.1 MHz").Line(C8, "            ");
    Closing(expected, 0x00, kTransportPlaying);

    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);
    EXPECT_EQ(Line(0), "101.1 MHz   ");
    EXPECT_EQ(Line(1), "            ");
    EXPECT_EQ(bus_.Picture().mediaIcons, 0x10);
    EXPECT_EQ(bus_.Picture().statusIcons, 0x01);
}

TEST_F(Composition, DvdShowsTrackOfTotalOnceATrackTimeIsKnown) {
    Apply(MSPROPTAG_DVD, "True");
    Apply(MSPROPTAG_TrackNumber, "3");
    Apply(MSPROPTAG_TotalTracks, "12");
    Apply(MSPROPTAG_Play, "True");

    // Before the first track time the track line reads 1 of 1.
    Redraw();
    EXPECT_EQ(Line(0), "Track 1/1   ");

    Apply(MSPROPTAG_TrackTime, "3725");
    ExpectedStream expected;  // play stays lit from the redraw before
    expected.Media(0x20).Media(0x20).Media(0x20).Media(0x20).Media(0x20).Status(0x01);
    expected.Line(C0, "Track 3/12").Line(C8, "01:02:05");
    Closing(expected, 0x01, kTransportPlaying);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);

    // The track line is exactly twelve character reports on the first line, two of them blank.
    ReportStream firstLine;
    for (const auto& report : reports) {
        if (report[0] == kCharacterReport && (report[1] & 0xC0) == 0xC0)
            firstLine.push_back(report);
    }
    ASSERT_EQ(firstLine.size(), 12u);
    for (std::size_t c = 0; c < 12; ++c) EXPECT_EQ(firstLine[c][1], 0xC0 + c);
    EXPECT_EQ(firstLine[10][2], 0x20);
    EXPECT_EQ(firstLine[11][2], 0x20);
}

TEST_F(Composition, VideoCdInAnyCaseLightsThePairAndShowsTrackOneOfOne) {
    Apply(MSPROPTAG_DVD, "");
    Apply(MSPROPTAG_MediaName, "vCd");
    Apply(MSPROPTAG_TrackNumber, "4");
    Apply(MSPROPTAG_TotalTracks, "9");
    Apply(MSPROPTAG_TrackTime, "65");
    Apply(MSPROPTAG_Play, "True");

    ExpectedStream expected;
    expected.Media(0x0C).Media(0x0C).Media(0x0C).Media(0x0C).Media(0x0C).Status(0x00);
    expected.Line(C0, "Track 1/1").Line(C8, "00:01:05");
    Closing(expected, 0x00, kTransportPlaying);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);
}

TEST_F(Composition, AnAudioCdAfterAVideoCdLightsTheCdIconAlone) {
    Apply(MSPROPTAG_DVD, "");
    Apply(MSPROPTAG_MediaName, "VCD");
    Apply(MSPROPTAG_Play, "True");
    Redraw();
    ASSERT_EQ(bus_.Picture().mediaIcons, 0x0C);

    Apply(MSPROPTAG_CD, "True");
    Apply(MSPROPTAG_TrackName, "Intro");
    Apply(MSPROPTAG_TrackTime, "3725");
    Apply(MSPROPTAG_RepeatSet, "True");
    ExpectedStream expected;
    expected.Media(0x00).Media(0x08).Media(0x08).Media(0x08).Media(0x08).Media(0x08);
    expected.Status(0x81).Line(C8, "62:05").Line(C0, "Intro");
    Closing(expected, 0x81, kTransportPlaying);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);
    EXPECT_EQ(bus_.Picture().mediaIcons, 0x08);
    EXPECT_EQ(panel_->MediaIconByte(), 0x08);
}

TEST_F(Composition, StreamedAudioShowsArtistDashTrack) {
    Apply(MSPROPTAG_StreamingContentAudio, "True");
    Apply(MSPROPTAG_ArtistName, "A");
    Apply(MSPROPTAG_TrackName, "T");
    Apply(MSPROPTAG_TrackTime, "75");
    Apply(MSPROPTAG_Play, "True");

    ExpectedStream expected;
    expected.Media(0x10).Media(0x10).Media(0x10).Media(0x10).Media(0x10).Media(0x10);
    expected.Status(0x00).Line(C0, "A - T").Line(C8, "01:15");
    Closing(expected, 0x00, kTransportPlaying);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);
    EXPECT_EQ(Line(0), "A - T       ");
}

TEST_F(Composition, LiveTvShowsTheChannelAndTheProgramme) {
    Apply(MSPROPTAG_TVTuner, "True");
    Apply(MSPROPTAG_TrackNumber, "7");
    Apply(MSPROPTAG_MediaName, "News");
    Apply(MSPROPTAG_Play, "True");

    ExpectedStream expected;
    expected.Media(0x01).Media(0x01).Media(0x01).Media(0x01).Media(0x01).Status(0x00);
    expected.Line(C0, "Channel 7").Line(C8, "News");
    Closing(expected, 0x00, kTransportPlaying);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);
}

TEST_F(Composition, PhotosRecordedTvAndStreamedVideoWriteTheirLinesInOrder) {
    Apply(MSPROPTAG_Photos, "");
    Apply(MSPROPTAG_CurrentPicture, "Beach");
    ExpectedStream photos;
    photos.Media(0x02).Media(0x02).Media(0x02).Media(0x02).Media(0x02).Status(0x00);
    photos.Line(C8, "").Line(C0, "Beach");
    Closing(photos, 0x00, kTransportPlaying);
    ReportStream reports = Redraw();
    EXPECT_EQ(reports, photos.reports()) << Describe(reports);

    // The icon caches go on from the photos screen: photos 0x02, play 0x01.
    state_ = MediaState();
    Apply(MSPROPTAG_PVR, "True");
    Apply(MSPROPTAG_MediaName, "Film");
    Apply(MSPROPTAG_TrackTime, "3725");
    Apply(MSPROPTAG_Play, "True");
    ExpectedStream recorded;
    recorded.Media(0x03).Media(0x03).Media(0x01).Media(0x01).Media(0x01).Media(0x01);
    recorded.Status(0x01).Line(C0, "Film").Line(C8, "01:02:05");
    Closing(recorded, 0x01, kTransportPlaying);
    reports = Redraw();
    EXPECT_EQ(reports, recorded.reports()) << Describe(reports);

    state_ = MediaState();
    Apply(MSPROPTAG_StreamingContentVideo, "");
    Apply(MSPROPTAG_MediaName, "Clip");
    Apply(MSPROPTAG_TrackTime, "5");
    Apply(MSPROPTAG_Play, "True");
    ExpectedStream video;
    video.Media(0x00).Media(0x00).Media(0x00).Media(0x00).Media(0x00).Media(0x00);
    video.Status(0x01).Line(C0, "Clip").Line(C8, "00:00:05");
    Closing(video, 0x01, kTransportPlaying);
    reports = Redraw();
    EXPECT_EQ(reports, video.reports()) << Describe(reports);
}

TEST_F(Composition, EachMediaScreenLeavesOnlyItsIconAndRepeatOnlyInModesFourAndFive) {
    struct Expected {
        std::int32_t mode;
        std::uint8_t media;
        bool repeatLit;
    };
    // In an order where every screen follows one that lit other icons.
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
        EXPECT_EQ((bus_.Picture().statusIcons & 0x80) != 0, e.repeatLit);
        EXPECT_EQ(bus_.Picture().statusIcons & 0x0F, 0x02);  // paused
    }
}

TEST_F(Composition, TheClockShowsWhenStoppedWhateverTheMode) {
    Set(state_.timeText, "21:05");
    Set(state_.dateText, "03/04/2024");
    for (const std::int32_t mode : {0, 2, 3, 5, 9, 10, -1}) {
        state_.mediaMode = mode;
        state_.transportState =
            mode == 3 || mode == 10 || mode == -1 ? kTransportPlaying : kTransportStopped;
        Redraw();
        SCOPED_TRACE(mode);
        EXPECT_EQ(Line(0), "21:05       ");
        EXPECT_EQ(Line(1), "03/04/2024  ");
    }
}

TEST_F(Composition, TheClockWithTwoSessionsKeepsTheMediaIcons) {
    Apply(kTagSessionOpened, "", 1);
    Apply(kTagSessionOpened, "", 2);
    Apply(MSPROPTAG_CD, "True");
    Apply(MSPROPTAG_RepeatSet, "True");
    Apply(MSPROPTAG_Play, "True");
    Redraw();
    ASSERT_EQ(bus_.Picture().mediaIcons, 0x08);

    Apply(MSPROPTAG_Stop, "True");
    ASSERT_EQ(state_.transportState, kTransportStopped);
    Set(state_.timeText, "7:45");
    Set(state_.dateText, "1/2/2025");
    state_.mute = true;

    ExpectedStream expected;
    expected.Line(C0, "7:45").Line(C8, "1/2/2025");
    expected.Volume(0x0001).Status(0x81).Status(0x91);  // repeat stays, mute lit
    expected.Status(0x91).Status(0x90).Status(0x90).Status(0x90);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);
    for (const auto& report : reports) EXPECT_NE(report[0], kMediaIconReport);
    EXPECT_EQ(bus_.Picture().mediaIcons, 0x08);
}

TEST_F(Composition, TheClockWithOneSessionDarkensTheIconsButKeepsTheirCache) {
    Apply(kTagSessionOpened, "", 1);
    Apply(MSPROPTAG_CD, "True");
    Apply(MSPROPTAG_RepeatSet, "True");
    Apply(MSPROPTAG_Recording, "True");
    Apply(MSPROPTAG_Play, "True");
    Redraw();
    ASSERT_EQ(bus_.Picture().statusIcons, 0xC1);

    state_.transportState = kTransportStopped;
    Set(state_.timeText, "7:45");
    Set(state_.dateText, "1/2/2025");
    ExpectedStream expected;
    expected.Line(C0, "7:45").Line(C8, "1/2/2025").Status(0x41).ClearIcons();
    expected.Volume(0x0001).Status(0x41).Status(0x41);  // recording stays lit, mute off
    expected.Status(0x41).Status(0x40).Status(0x40).Status(0x40);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports()) << Describe(reports);
    EXPECT_EQ(bus_.Picture().mediaIcons, 0x00);
    EXPECT_EQ(panel_->MediaIconByte(), 0x08);
    EXPECT_EQ(bus_.Picture().statusIcons, 0x40);
}

TEST_F(Composition, TheVolumeBarFollowsTheVolume) {
    state_.volume = 55141;
    Redraw();
    EXPECT_EQ(bus_.Picture().volumeMask, 0xFFFF);
    state_.volume = 1233;
    Redraw();
    EXPECT_EQ(bus_.Picture().volumeMask, 0x0001);
}

TEST_F(Composition, TwoLongNamesAreScrolledFromTheirBeginning) {
    // Two names of 255 bytes: the composed line is cut at 255 bytes and given for scrolling.
    Apply(MSPROPTAG_StreamingContentAudio, "True");
    const std::string artist(255, 'a');
    const std::string track(255, 'b');
    Apply(MSPROPTAG_ArtistName, artist.c_str());
    Apply(MSPROPTAG_TrackName, track.c_str());
    Apply(MSPROPTAG_TrackTime, "61");
    Apply(MSPROPTAG_Play, "True");
    bus_.ClearReports();
    ShowMediaState(*panel_, state_);
    // The scroll writes its first step (twelve blanks) once it runs.
    ASSERT_TRUE(bus_.WaitForReportCount(200, std::chrono::seconds(10)));
    panel_->StopScrolling();
    EXPECT_EQ(Line(1), "01:01       ");
    for (const char c : Line(0)) EXPECT_TRUE(c == 'a' || c == ' ') << Line(0);
    EXPECT_EQ(bus_.Picture().ignoredReports, 0u);
}

// The fixed screens.
TEST_F(Composition, FixedScreensSendTheirTextsAndDisplayControlValues) {
    struct Screen {
        const char* name;
        void (*show)(PanelDevice&);
        ExpectedStream expected;
    };
    Screen screens[] = {
        {"stopping", &ShowStoppingScreen,
         ExpectedStream().ClearAll(0).Line(C0, "Service").Line(C8, "stopping...").ClearAll(2)},
        {"shutdown", &ShowShutdownScreen,
         ExpectedStream().Line(C0, "Preparing").Line(C8, "shutdown...").ClearAll(5)},
        {"standby", &ShowStandbyScreen,
         ExpectedStream().ClearAll(0).Line(C0, "Preparing").Line(C8, "to standby...").ClearAll(2)},
        {"start-up", &ShowStartupScreen, ExpectedStream().ClearAll(0).Line(C8, "Starting Up")},
    };
    for (Screen& screen : screens) {
        SCOPED_TRACE(screen.name);
        bus_.ClearReports();
        screen.show(*panel_);
        EXPECT_EQ(bus_.Reports(), screen.expected.reports()) << Describe(bus_.Reports());
    }
    // The standby text is one character longer than the line.
    ShowStandbyScreen(*panel_);
    EXPECT_EQ(Line(1), "to standby..");
}

TEST_F(Composition, FixedScreensLeaveTheIconCachesForTheNextRedraw) {
    Apply(MSPROPTAG_CD, "True");
    Apply(MSPROPTAG_Play, "True");
    Redraw();
    ShowStoppingScreen(*panel_);
    EXPECT_EQ(bus_.Picture().mediaIcons, 0x00);
    EXPECT_EQ(bus_.Picture().displayControl, 2);
    EXPECT_EQ(panel_->MediaIconByte(), 0x08);
    EXPECT_EQ(panel_->StatusIconByte(), 0x01);
}

// Calls `probe` from each sleep, on the sleeping thread.
class ProbingSleeper final : public Sleeper {
  public:
    void SleepMs(std::uint32_t) override {
        if (probe) probe();
    }
    std::function<void()> probe;
};

// A direct write to the line that was scrolled last sleeps for the scroll handshake outside the
// commands' own locking; another thread then tries the panel lock, which each redraw and fixed
// screen must hold for its whole length.
TEST(CompositionLocking, EveryRedrawAndScreenHoldsThePanelLockThroughout) {
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    ProbingSleeper sleeper;
    PanelDevice panel(bus, nullptr, sleeper);
    ASSERT_TRUE(panel.OpenPanel());

    int probes = 0;
    int lockFreeProbes = 0;
    const auto probeLock = [&] {
        ++probes;
        bool locked = false;
        std::thread other([&] {
            locked = panel.Lock().try_lock();
            if (locked) panel.Lock().unlock();
        });
        other.join();
        if (locked) ++lockFreeProbes;
    };
    // Makes `lineCode` the line scrolled last, without probing meanwhile.
    const auto scrollOnce = [&](std::uint8_t lineCode) {
        sleeper.probe = nullptr;
        panel.WriteOrScrollLine("a text longer than the line", lineCode);
        panel.StopScrolling();
        sleeper.probe = probeLock;
    };

    MediaState radio;
    radio.mediaMode = kModeRadio;
    radio.transportState = kTransportPlaying;
    scrollOnce(kFirstLine);
    ShowMediaState(panel, radio);
    ShowStoppingScreen(panel);
    ShowShutdownScreen(panel);
    ShowStandbyScreen(panel);
    scrollOnce(kSecondLine);
    ShowStartupScreen(panel);

    EXPECT_GE(probes, 5);
    EXPECT_EQ(lockFreeProbes, 0);
}

// The string table, as the program holds it (string resources on Windows).
TEST(ServiceStrings, HoldAllThirtyTwoTextsVerbatim) {
    const char* const expected[] = {
        "LumaraService::Install, Failed call to open SCM, Error:%1",
        "LumaraService::Install, Failed call to lock SCM, Error:%1",
        "LumaraService::Install, Failed call to CreateService, Error:%1",
        "LumaraService::Install, Failed call to install service as an event log source, Error:%1",
        "LumaraService::Uninstall, Failed call to open SCM, Error:%1",
        "LumaraService::Uninstall, Failed call to OpenService, Error:%1",
        "LumaraService::Uninstall, Failed call to WaitForStop, Error:%1",
        "LumaraService::Uninstall, Failed call to DeleteService, Error:%1",
        "LumaraService::Uninstall, Failed call to remove service as an event log source, "
        "Error:%1",
        "Failed to start the service, Error:%1",
        "Failed to stop the service, Error:%1",
        "Failed to continue the service, Error:%1",
        "Failed to pause the service, Error:%1",
        "Failed to start the service, Error:%1",
        "%1, %2",
        "LumaraService::Uninstall, Failed to stop service, Error:%1",
        "LumaraService::SetServiceToStatus, Failed call to open SCM, Error:%1",
        "LumaraService::SetServiceToStatus, Failed call to OpenService, Error:%1",
        "LumaraService::SetServiceToStatus, Failed to start the service, Error:%1",
        "LumaraService::SetServiceToStatus, Failed to continue the service, Error:%1",
        "LumaraService::SetServiceToStatus, Failed to pause the service, Error:%1",
        "LumaraService::SetServiceToStatus, Failed to stop the service, Error:%1",
        "LumaraService::SetServiceToStatus, Failed to wait for the service to change state, "
        "Error:%1",
        "LumaraService::SetServiceToStatus, Failed to check the service status, Error:%1",
        "Channel %d",
        "Track %d/%d",
        "Starting Up",
        "Preparing",
        "to standby...",
        "shutdown...",
        "Service",
        "stopping...",
    };
    char buffer[256];
    for (int id = 1; id <= 32; ++id) {
        SCOPED_TRACE(id);
        const std::size_t length = LoadServiceString(id, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, expected[id - 1]);
        EXPECT_EQ(length, std::strlen(expected[id - 1]));
    }
}

TEST(ServiceStrings, CutToTheBufferAndEmptyForUnknownIds) {
    char buffer[8];
    EXPECT_EQ(LoadServiceString(kTextTrack, buffer, 5), 4u);
    EXPECT_STREQ(buffer, "Trac");
    for (const int id : {0, 33, -1, 100000}) {
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(LoadServiceString(id, buffer, sizeof buffer), 0u) << id;
        EXPECT_EQ(buffer[0], '\0') << id;
    }
    EXPECT_EQ(LoadServiceString(kTextService, buffer, 0), 0u);
    EXPECT_EQ(LoadServiceString(kTextService, nullptr, 10), 0u);
}

}  // namespace
}  // namespace zelk
