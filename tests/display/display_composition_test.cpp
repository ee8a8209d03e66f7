// What the panel receives for each media state and for the fixed screens, as exact report
// streams on the virtual panel, with the platform's text converter and string table.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
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
using testing::ReportStream;
using testing::Stream;

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

    // Feeds one record to the state as the pipe server does.
    void Apply(std::int32_t tag, const char* text, std::int32_t session = 1) {
        state_.ApplyPipeMessage(MakePipeMessage(session, tag, text, std::strlen(text)));
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
    testing::InstantSleeper sleeper_;
    std::unique_ptr<PanelDevice> panel_;
    MediaState state_;
};

// The end of every redraw while playing: volume 0 (one segment), recording and mute off, then
// the four transport reports with play lit; `status` is the status byte before them.
Stream& ClosePlaying(Stream& s, std::uint8_t status) {
    return s.Volume(0x0001).Status(status, 2).Status(status | 0x01, 4);
}

TEST_F(Composition, RadioShowsTheFrequencyAndABlankSecondLine) {
    Apply(kTagSessionOpened, "");
    Apply(MSPROPTAG_Radio, "True");
    Apply(MSPROPTAG_RadioFrequency, "101100000");
    Apply(MSPROPTAG_Play, "True");
    Stream expected;
    expected.Media(0x00).Media(0x10, 5).Status(0x00).Line(L1, "101.1 MHz").Line(L2, "");
    ClosePlaying(expected, 0x00);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports) << Describe(reports);
    EXPECT_EQ(Line(0), "101.1 MHz   ");
    EXPECT_EQ(Line(1), "            ");
}

TEST_F(Composition, DvdShowsTrackOfTotalOnceATrackTimeIsKnown) {
    Apply(MSPROPTAG_DVD, "True");
    Apply(MSPROPTAG_TrackNumber, "3");
    Apply(MSPROPTAG_TotalTracks, "12");
    Apply(MSPROPTAG_Play, "True");
    Redraw();
    EXPECT_EQ(Line(0), "Track 1/1   ");

    Apply(MSPROPTAG_TrackTime, "3725");
    Stream expected;  // play stays lit from the redraw before
    expected.Media(0x20, 5).Status(0x01).Line(L1, "Track 3/12").Line(L2, "01:02:05");
    ClosePlaying(expected, 0x01);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports) << Describe(reports);
    // So the track line is twelve reports 0xC0 to 0xCB, the last two blank.
    EXPECT_EQ(reports[17], (std::vector<std::uint8_t>{1, 0xCB, 0x20, 0, 0, 0, 0, 0}));
}

TEST_F(Composition, VideoCdInAnyCaseLightsThePairAndShowsTrackOneOfOne) {
    Apply(MSPROPTAG_DVD, "");
    Apply(MSPROPTAG_MediaName, "vCd");
    Apply(MSPROPTAG_TrackNumber, "4");
    Apply(MSPROPTAG_TotalTracks, "9");
    Apply(MSPROPTAG_TrackTime, "65");
    Apply(MSPROPTAG_Play, "True");
    Stream expected;
    expected.Media(0x0C, 5).Status(0x00).Line(L1, "Track 1/1").Line(L2, "00:01:05");
    ClosePlaying(expected, 0x00);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports) << Describe(reports);
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
    Stream expected;  // the time goes to the second line before the name goes to the first
    expected.Media(0x00).Media(0x08, 5).Status(0x81).Line(L2, "62:05").Line(L1, "Intro");
    ClosePlaying(expected, 0x81);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports) << Describe(reports);
    EXPECT_EQ(panel_->MediaIconByte(), 0x08);
}

TEST_F(Composition, StreamedAudioShowsArtistDashTrack) {
    Apply(MSPROPTAG_StreamingContentAudio, "True");
    Apply(MSPROPTAG_ArtistName, "A");
    Apply(MSPROPTAG_TrackName, "T");
    Apply(MSPROPTAG_TrackTime, "75");
    Apply(MSPROPTAG_Play, "True");
    Stream expected;
    expected.Media(0x10, 6).Status(0x00).Line(L1, "A - T").Line(L2, "01:15");
    ClosePlaying(expected, 0x00);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports) << Describe(reports);
}

TEST_F(Composition, TvPhotosRecordingsAndVideoWriteTheirLinesInOrder) {
    Apply(MSPROPTAG_TVTuner, "True");
    Apply(MSPROPTAG_TrackNumber, "7");
    Apply(MSPROPTAG_MediaName, "News");
    Apply(MSPROPTAG_Play, "True");
    Stream tv;
    tv.Media(0x01, 5).Status(0x00).Line(L1, "Channel 7").Line(L2, "News");
    ClosePlaying(tv, 0x00);
    ReportStream reports = Redraw();
    EXPECT_EQ(reports, tv.reports) << Describe(reports);

    // The icon caches go on from screen to screen.
    Apply(MSPROPTAG_Photos, "");
    Apply(MSPROPTAG_CurrentPicture, "Beach");
    Stream photos;
    photos.Media(0x03, 3).Media(0x02, 2).Status(0x01).Line(L2, "").Line(L1, "Beach");
    ClosePlaying(photos, 0x01);
    reports = Redraw();
    EXPECT_EQ(reports, photos.reports) << Describe(reports);

    Apply(MSPROPTAG_PVR, "True");
    Apply(MSPROPTAG_MediaName, "Film");
    Apply(MSPROPTAG_TrackTime, "3725");
    Stream recorded;
    recorded.Media(0x03, 2).Media(0x01, 4).Status(0x01).Line(L1, "Film").Line(L2, "01:02:05");
    ClosePlaying(recorded, 0x01);
    reports = Redraw();
    EXPECT_EQ(reports, recorded.reports) << Describe(reports);

    Apply(MSPROPTAG_StreamingContentVideo, "");
    Apply(MSPROPTAG_MediaName, "Clip");
    Stream video;
    video.Media(0x00, 6).Status(0x01).Line(L1, "Clip").Line(L2, "01:02:05");
    ClosePlaying(video, 0x01);
    reports = Redraw();
    EXPECT_EQ(reports, video.reports) << Describe(reports);
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
    Apply(kTagSessionOpened, "", 1);
    Apply(kTagSessionOpened, "", 2);
    Apply(MSPROPTAG_CD, "True");
    Apply(MSPROPTAG_RepeatSet, "True");
    Apply(MSPROPTAG_Play, "True");
    Redraw();
    Apply(MSPROPTAG_Stop, "True");
    SetClock("7:45", "1/2/2025");
    state_.mute = true;
    state_.volume = 55141;
    Stream expected;  // no media report; repeat stays, mute lit, all transport icons off
    expected.Line(L1, "7:45").Line(L2, "1/2/2025").Volume(0xFFFF).Status(0x81).Status(0x91, 2);
    expected.Status(0x90, 3);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports) << Describe(reports);
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
    SetClock("7:45", "1/2/2025");
    Stream expected;  // recording stays lit
    expected.Line(L1, "7:45").Line(L2, "1/2/2025").Status(0x41).ClearIcons().Volume(0x0001);
    expected.Status(0x41, 3).Status(0x40, 3);
    const ReportStream reports = Redraw();
    EXPECT_EQ(reports, expected.reports) << Describe(reports);
    EXPECT_EQ(bus_.Picture().mediaIcons, 0x00);
    EXPECT_EQ(panel_->MediaIconByte(), 0x08);
}

TEST_F(Composition, TwoLongNamesAreScrolledFromTheirBeginning) {
    // Two names of 255 bytes: the composed line is cut at 255 bytes and given for scrolling.
    Apply(MSPROPTAG_StreamingContentAudio, "True");
    Apply(MSPROPTAG_ArtistName, std::string(255, 'a').c_str());
    Apply(MSPROPTAG_TrackName, std::string(255, 'b').c_str());
    Apply(MSPROPTAG_TrackTime, "61");
    Apply(MSPROPTAG_Play, "True");
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
        EXPECT_EQ(bus_.Reports(), expected.reports) << Describe(bus_.Reports());
    }
}

// Calls `probe` from each sleep, on the sleeping thread.
class ProbingSleeper final : public Sleeper {
  public:
    void SleepMs(std::uint32_t) override {
        if (probe) probe();
    }
    std::function<void()> probe;
};

// A direct write to the line scrolled last sleeps for the scroll handshake outside the
// commands' own locking; another thread then tries the panel lock, which every redraw and
// fixed screen holds for its whole length.
TEST(CompositionLocking, EveryRedrawAndScreenHoldsThePanelLockThroughout) {
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    ProbingSleeper sleeper;
    PanelDevice panel(bus, nullptr, sleeper);
    ASSERT_TRUE(panel.OpenPanel());
    int probes = 0;
    int lockFree = 0;
    const auto probeLock = [&] {
        ++probes;
        bool locked = false;
        std::thread other([&] {
            locked = panel.Lock().try_lock();
            if (locked) panel.Lock().unlock();
        });
        other.join();
        lockFree += locked ? 1 : 0;
    };
    const auto scrollOnce = [&](std::uint8_t lineCode) {
        sleeper.probe = nullptr;
        panel.WriteOrScrollLine("a text longer than the line", lineCode);
        panel.StopScrolling();
        sleeper.probe = probeLock;
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
