// The service in one process: start-up and its failures, records through the real pipe into
// the virtual panel, the volume, every control handler, and many writers at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "common/debug_print.h"
#include "common/media_status_tags.h"
#include "service/core/display_composition.h"
#include "service/core/lumara_service.h"
#include "service/core/service_runner.h"
#include "service/core/service_host.h"
#include "service/panel/display_props.h"
#include "service/panel/virtual_panel.h"
#include "common/pipe_client.h"
#include "service/host/service_status.h"
#include "tests/host/host_fakes.h"
#include "tests/net/test_client.h"
#include "tests/service/service_test_support.h"
#include "service/adapters/virtual_volume.h"

namespace zelk {
namespace {

using namespace test;  // the fakes and the service rig

using std::chrono::milliseconds;
using Events = std::vector<std::uint32_t>;
using Report = std::vector<std::uint8_t>;  // as the panel got it, 8 bytes

Report R(std::initializer_list<int> bytes) {
    Report r(8, 0);
    std::copy(bytes.begin(), bytes.end(), r.begin());
    return r;
}

// DisplayProps.xml as a parsed tree, without a file.
class TreeXmlLoader : public XmlLoader {
  public:
    XmlLoadStatus status = XmlLoadStatus::kLoaded;
    XmlNode tree;
    XmlLoadStatus Load(const std::string&, XmlNode& root, std::uint32_t& error) override {
        error = 0;
        if (status == XmlLoadStatus::kLoaded) root = tree;
        return status;
    }
};

XmlNode DisplayPropsTree(const std::string& vid, const std::string& pid) {
    auto element = [](const std::string& name, const std::string& text) {
        XmlNode node;
        node.isElement = true;
        node.tagName = name;
        node.text = text;
        return node;
    };
    XmlNode display = element("Display", "");
    display.children = {element("VID", vid), element("PID", pid), element("DisplayRows", "2"),
                        element("DisplayColumns", "12"), element("Brightness", "51")};
    XmlNode root = element("DisplayProperties", "");
    root.children.push_back(display);
    return root;
}

// A whole service: the virtual panel, a scripted volume source, the system pipe under a name
// of its own, and time that moves only when the test moves it.
class ServiceRig {
  public:
    ServiceRig() { loader.tree = DisplayPropsTree("1F3C", "5A41"); }
    ~ServiceRig() {
        sleeper.ReleaseAll();
        if (runner_) {
            if (!runner_->Finished()) runner_->RequestStop();
            runner_->Wait();
        }
    }

    // Starts Run on its own thread, reporting to `statusHost` (the rig's own host when null);
    // with `expectRunning`, waits until RUNNING is reported and the clock's first tick has been
    // drawn.
    void Start(bool expectRunning = true, ServiceHost* statusHost = nullptr) {
        VirtualEnvironmentOptions parts;
        parts.bus = &bus;
        parts.volume = &volume;
        parts.xmlLoader = &loader;
        parts.propsPath = "DisplayProps.xml";
        parts.pipeName = pipeName;
        parts.clock = &clock;
        parts.sleeper = &sleeper;
        parts.panelSleeper = &panelSleeper;
        parts.lcdServer = lcdServer;
        ServiceEnvironment env = MakeVirtualEnvironment(parts);
        env.initializeCom = [this] {
            ++comInits;
            return comWorks;
        };
        env.uninitializeCom = [this] { ++comUninits; };
        if (workersFail) {
            // What std::thread throws when the system will not start a thread.
            env.makePipeEndpoint = []() -> std::unique_ptr<PipeEndpoint> {
                throw std::system_error(
                    std::make_error_code(std::errc::resource_unavailable_try_again));
            };
        }
        service = std::make_unique<LumaraService>(statusHost ? *statusHost : host, env);
        runner_ = std::make_unique<ServiceRunner>(*service);
        runner_->Start();
        if (expectRunning) {
            if (statusHost == nullptr) host.WaitForReport(kServiceRunning, 10000);
            WaitUntil([this] { return service->Redraws() >= 1 && volume.Listening() >= 1; });
        }
    }
    bool WaitForRunToReturn() { return runner_->WaitFor(5000); }
    // OnStop, then waits for the stopping screen, releases the test's time (so the clock
    // thread's sleep ends) and waits for Run to return.
    bool Stop() {
        runner_->RequestStop();
        const bool stopped = WaitUntil(
            [this] {
                return runner_->Finished() ||
                       (Line(1) == "stopping... " && Picture().displayControl == 2);
            },
            milliseconds(5000));
        sleeper.ReleaseAll();
        if (!stopped || !WaitForRunToReturn()) return false;
        runner_->Wait();
        return true;
    }
    // Sends one record through the pipe (waiting for the server to serve it).
    std::uint32_t Send(std::int32_t tag, const std::string& text = "") {
        const PipeMessage m = MakePipeMessage(1, tag, text.c_str(), text.size());
        service->WaitUntilPipeServed(5000);
        return SendPipeRecord(pipeName, m);
    }
    PanelPicture Picture() { return bus.Picture(); }
    std::string Line(int row) { return bus.Picture().Line(row, 12); }
    Events EventIds() {
        Events ids;
        for (const auto& e : host.Events()) ids.push_back(e.id);
        return ids;
    }
    // Waits until the run loop waits with nothing set (it has drawn every change made so far);
    // returns the redraw count then.
    std::uint64_t Settle() {
        EXPECT_TRUE(WaitUntil([this] { return service->Shared().wake.HasIdleWaiter(); }));
        return service->Redraws();
    }

    FakeClock clock;
    GatedSleeper sleeper{clock};
    FakeSleeper panelSleeper;
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    TreeXmlLoader loader;
    SimVolumeSource volume{40000};
    StandaloneServiceHost host;
    std::string pipeName = "ZELK_SERVICE_TEST_" + std::to_string(std::random_device()());
    std::atomic<int> comInits{0}, comUninits{0};
    bool comWorks = true;
    bool workersFail = false;
    LcdServerConfig lcdServer;  // off unless a test turns it on
    std::unique_ptr<LumaraService> service;

  private:
    std::unique_ptr<ServiceRunner> runner_;
};

std::uint32_t StateOf(StandaloneServiceHost& host) {
    return host.CurrentState();
}

// ---- Start-up and its failures ----

TEST(ServiceStart, ReportsStartingThenRunningAndClearsThePanel) {
    ServiceRig rig;
    rig.Start();
    const auto reports = rig.host.Reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[0].state, kServiceStartPending);
    EXPECT_EQ(reports[0].checkPoint, 1u);
    EXPECT_EQ(reports[0].waitHint, 1100u);
    EXPECT_EQ(reports[0].controlsAccepted, kKeepStatusValue);
    EXPECT_EQ(reports[1].state, kServiceRunning);
    EXPECT_EQ(reports[1].checkPoint, 0u);
    EXPECT_EQ(rig.EventIds(), Events{kEventIdServiceStarted});
    EXPECT_EQ(rig.host.Events()[0].text, "Tarsel Front Panel Manager Service");

    // Brightness from the properties, then the reset of the panel, before any redraw.
    const auto log = rig.bus.Reports();
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(std::vector<Report>(log.begin(), log.begin() + 5),
              (std::vector<Report>{R({2, 0x33}), R({3, 0}), R({5, 0}), R({6, 0}), R({4, 0, 0})}));
    // The start-up volume reading (40000 lights 15 segments) and the clock's first tick.
    EXPECT_EQ(rig.Line(0), "12:00       ");
    EXPECT_EQ(rig.Line(1), "01/01/2000  ");
    EXPECT_EQ(rig.Picture().volumeMask, 0x7FFF);
    EXPECT_EQ(rig.volume.Unmutes(), 1);  // by the volume thread
    ASSERT_TRUE(rig.Stop());
    EXPECT_EQ(rig.comInits.load(), 1);
    EXPECT_EQ(rig.comUninits.load(), 1);
}

TEST(ServiceStart, FailedStartsStopAtOnceLeavingPanelAndPipeAlone) {
    struct Case {
        const char* name;
        std::function<void(ServiceRig&)> setUp;
        std::uint32_t error;
        Events events;
    } cases[] = {
        {"no properties",
         [](ServiceRig& r) { r.loader.status = XmlLoadStatus::kNotLoaded; },
         kErrorFileNotFound,
         {kEventIdServiceStarted, kEventIdPropertiesNotLoaded, kEventIdServiceStopped}},
        {"no panel",
         [](ServiceRig& r) { r.loader.tree = DisplayPropsTree("1234", "5678"); },
         kErrorDeviceNotConnected,
         {kEventIdServiceStarted, kEventIdPanelNotFound, kEventIdServiceStopped}},
        // Without COM the service stops without an event of its own or a beep.
        {"no COM",
         [](ServiceRig& r) { r.comWorks = false; },
         0,
         {kEventIdServiceStarted, kEventIdServiceStopped}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool noCom = c.error == 0;
        ServiceRig rig;
        c.setUp(rig);
        rig.Start(false);
        ASSERT_TRUE(rig.WaitForRunToReturn());
        EXPECT_EQ(rig.service->StartupError(), c.error);
        EXPECT_EQ(rig.service->ComFailed(), noCom);
        EXPECT_EQ(rig.EventIds(), c.events);
        if (!noCom) {
            EXPECT_EQ(rig.host.Events()[1].type, kEventTypeError);
        }
        EXPECT_EQ(rig.host.Beeps(), noCom ? std::vector<std::uint32_t>{}
                                          : std::vector<std::uint32_t>{kBeepExclamation});
        const auto reports = rig.host.Reports();
        ASSERT_EQ(reports.size(), 2u);
        EXPECT_EQ(reports[1].state, kServiceStopPending);
        EXPECT_EQ(reports[1].waitHint, 1100u);
        EXPECT_EQ(rig.comUninits.load(), 1);  // on every path
        EXPECT_EQ(rig.service->Panel(), nullptr);
        // Controls after a failed start send nothing, and nobody serves the pipe.
        rig.service->OnUserDefinedRequest(201);
        rig.service->OnShutdown();
        EXPECT_EQ(rig.bus.ReportCount(), 0u);
        EXPECT_EQ(SendPipeRecord(rig.pipeName, MakePipeMessage(1, 1, "", 0)), kErrorFileNotFound);
    }
}

TEST(ServiceStart, WorkersThatCannotStartEndTheRunTheOrdinaryWay) {
    ServiceRig rig;
    rig.workersFail = true;
    rig.Start(false);
    ASSERT_TRUE(rig.WaitForRunToReturn());
    const auto reports = rig.host.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].state, kServiceStopPending);
    EXPECT_EQ(rig.comUninits.load(), 1);
    EXPECT_EQ(rig.EventIds(), (Events{kEventIdServiceStarted, kEventIdServiceStopped}));
}

TEST(ServiceControls, HandlersBeforeRunSendNothing) {
    ServiceRig rig;
    VirtualEnvironmentOptions parts;
    parts.bus = &rig.bus;
    parts.sleeper = &rig.panelSleeper;
    LumaraService service(rig.host, MakeVirtualEnvironment(parts));
    service.OnUserDefinedRequest(201);
    service.OnShutdown();
    EXPECT_EQ(service.OnPowerEvent(kPowerSuspend, nullptr), 0u);
    EXPECT_EQ(service.OnPowerEvent(kPowerResumeSuspend, nullptr), 0u);
    service.OnPause();
    EXPECT_EQ(rig.bus.ReportCount(), 0u);
}

// ---- Records through the pipe ----

TEST(ServiceEndToEnd, DvdRecordsReachThePanelAndNoVolumeControlShowsFullVolume) {
    // Each mode's layout is the display's own test; this one crosses the pipe.
    ServiceRig rig;
    rig.volume.SetVolume(-1);
    rig.Start();
    EXPECT_EQ(rig.service->Shared().Snapshot().volume, 0xFFFF);
    ScopedDebugCapture quiet;  // the session count trace
    ASSERT_EQ(rig.Send(kTagSessionOpened), 0u);
    const std::pair<std::int32_t, const char*> records[] = {{MSPROPTAG_DVD, "False"},
                                                            {MSPROPTAG_Play, "True"},
                                                            {MSPROPTAG_TrackNumber, "3"},
                                                            {MSPROPTAG_TotalTracks, "12"},
                                                            {MSPROPTAG_TrackTime, "3725"}};
    for (const auto& [tag, text] : records) ASSERT_EQ(rig.Send(tag, text), 0u);
    EXPECT_TRUE(WaitUntil([&] {
        const PanelPicture p = rig.Picture();
        return p.Line(0, 12) == "Track 3/12  " && p.Line(1, 12) == "01:02:05    " &&
               p.mediaIcons == 0x20 && p.statusIcons == 0x01;
    })) << "shows ["
        << rig.Line(0) << "] [" << rig.Line(1) << "] media 0x" << std::hex
        << int(rig.Picture().mediaIcons) << " status 0x" << int(rig.Picture().statusIcons);
    EXPECT_EQ(rig.Picture().volumeMask, 0xFFFF);
}

// Every media mode, records in through the socket, picture out.
TEST(ServiceEndToEnd, EachMediaModeReachesThePanel) {
    struct ModeCase {
        const char* name;
        std::vector<std::pair<std::int32_t, std::string>> records;
        std::string line1, line2;
        std::uint8_t media, status;
    };
    // clang-format off
    const ModeCase cases[] = {
        {"CD", {{MSPROPTAG_CD, "True"}, {MSPROPTAG_Play, "True"}, {MSPROPTAG_TrackName, "So What"},
                {MSPROPTAG_TrackTime, "125"}}, "So What", "02:05", 0x08, 0x01},
        {"VCD", {{MSPROPTAG_DVD, "True"}, {MSPROPTAG_MediaName, "vcd"}, {MSPROPTAG_Pause, "True"},
                 {MSPROPTAG_TrackTime, "61"}}, "Track 1/1", "00:01:01", 0x0C, 0x02},
        {"live TV", {{MSPROPTAG_TVTuner, "True"}, {MSPROPTAG_TrackNumber, "7"},
                     {MSPROPTAG_MediaName, "News"}, {MSPROPTAG_Play, "True"}}, "Channel 7", "News", 0x01, 0x01},
        {"recorded TV", {{MSPROPTAG_PVR, "True"}, {MSPROPTAG_MediaName, "Show"}, {MSPROPTAG_FF1, "True"},
                         {MSPROPTAG_TrackTime, "3600"}}, "Show", "01:00:00", 0x01, 0x04},
        {"streamed audio", {{MSPROPTAG_StreamingContentAudio, "True"}, {MSPROPTAG_ArtistName, "A"},
                            {MSPROPTAG_TrackName, "T"}, {MSPROPTAG_RepeatSet, "True"}, {MSPROPTAG_Play, "True"},
                            {MSPROPTAG_TrackTime, "5"}}, "A - T", "00:05", 0x10, 0x81},
        {"streamed video", {{MSPROPTAG_StreamingContentVideo, ""}, {MSPROPTAG_MediaName, "Clip"},
                            {MSPROPTAG_Rewind2, "True"}, {MSPROPTAG_TrackTime, "59"}}, "Clip", "00:00:59", 0x00, 0x08},
        {"photos", {{MSPROPTAG_Photos, ""}, {MSPROPTAG_CurrentPicture, "Beach"}}, "Beach", "", 0x02, 0x01},
        {"radio", {{MSPROPTAG_Radio, "True"}, {MSPROPTAG_RadioFrequency, "101100000"},
                   {MSPROPTAG_Play, "True"}}, "101.1 MHz", "", 0x10, 0x01},
    };
    // clang-format on
    ScopedDebugCapture quiet;  // the session count traces
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ServiceRig rig;
        rig.Start();
        ASSERT_EQ(rig.Send(kTagSessionOpened), 0u);
        for (const auto& [tag, text] : c.records) ASSERT_EQ(rig.Send(tag, text), 0u);
        const auto expected1 = (c.line1 + std::string(12, ' ')).substr(0, 12);
        const auto expected2 = (c.line2 + std::string(12, ' ')).substr(0, 12);
        EXPECT_TRUE(WaitUntil([&] {
            const PanelPicture p = rig.Picture();
            return p.Line(0, 12) == expected1 && p.Line(1, 12) == expected2 &&
                   p.mediaIcons == c.media && p.statusIcons == c.status;
        })) << "shows ["
            << rig.Line(0) << "] [" << rig.Line(1) << "] media 0x" << std::hex
            << int(rig.Picture().mediaIcons) << " status 0x" << int(rig.Picture().statusIcons);
        ASSERT_TRUE(rig.Stop());
    }
}

TEST(ServiceEndToEnd, OneRadioRedrawIsExactlyThisReportStream) {
    ServiceRig rig;
    rig.Start();
    ASSERT_EQ(rig.Send(MSPROPTAG_Radio, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_RadioFrequency, "101100000"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    ASSERT_TRUE(WaitUntil(
        [&] { return rig.Line(0) == "101.1 MHz   " && rig.Picture().statusIcons == 0x01; }));
    // Once every redraw of those records is done, one volume change redraws once more.
    const std::uint64_t before = rig.Settle();
    rig.bus.ClearReports();
    rig.volume.SetVolume(1234);
    ASSERT_TRUE(WaitUntil([&] { return rig.service->Redraws() >= before + 1; }));

    std::vector<Report> expected(6, R({6, 0x10}));  // -2, 16, -3, -33, -9, -5
    expected.push_back(R({5, 0x01}));               // repeat cleared
    const std::string line1 = "101.1 MHz   ";
    for (int c = 0; c < 12; ++c) expected.push_back(R({1, 0xC0 | c, line1[c]}));
    for (int c = 0; c < 12; ++c) expected.push_back(R({1, 0x80 | c, ' '}));
    expected.push_back(R({4, 0x03, 0x00}));            // 1234 lights two segments
    expected.push_back(R({5, 0x01}));                  // recording off
    expected.push_back(R({5, 0x01}));                  // mute off
    expected.insert(expected.end(), 4, R({5, 0x01}));  // playing
    EXPECT_EQ(rig.bus.Reports(), expected);
    EXPECT_EQ(rig.Settle(), before + 1);
}

TEST(ServiceEndToEnd, ALongCdTrackNameScrollsOnTheFirstLine) {
    ServiceRig rig;
    rig.Start();
    ASSERT_EQ(rig.Send(MSPROPTAG_CD, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackName, "Freddie Freeloader"), 0u);
    // The name moves left: column 0 shows the 'l' of "Freeloader" at some step.
    EXPECT_TRUE(WaitUntil([&] {
        for (const Report& r : rig.bus.Reports()) {
            if (r == R({1, 0xC0, 'l'})) return true;
        }
        return false;
    }));
    // After its three passes (3 x 30 steps of 20 ms) the scroll leaves the line showing the
    // start of the name.
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<std::uint32_t> sleeps = rig.panelSleeper.Sleeps();
        return std::count(sleeps.begin(), sleeps.end(), 20u) == 90 && rig.Line(0) == "Freddie Free";
    })) << rig.Line(0);
}

TEST(ServiceEndToEnd, VolumeAndMuteFromTheMixerReachThePanel) {
    ServiceRig rig;
    rig.Start();
    rig.volume.SetVolume(0);
    EXPECT_TRUE(WaitUntil([&] { return rig.Picture().volumeMask == 0x0001; }));
    rig.volume.SetMute(true);
    EXPECT_TRUE(WaitUntil([&] { return (rig.Picture().statusIcons & 0x10) != 0; }));
    EXPECT_EQ(rig.service->Shared().Snapshot().volume, 0);  // a mute notice keeps the volume
    rig.volume.SetVolume(65535);
    EXPECT_TRUE(WaitUntil([&] { return rig.Picture().volumeMask == 0xFFFF; }));
    EXPECT_TRUE(rig.service->Shared().Snapshot().mute);  // and a volume notice keeps the mute
    rig.volume.SetMute(false);
    EXPECT_TRUE(WaitUntil([&] { return (rig.Picture().statusIcons & 0x10) == 0; }));
}

TEST(ServiceLoad, EightWritersOfFiveHundredRecordsLoseNothing) {
    ServiceRig rig;
    rig.Start();
    ScopedDebugCapture quiet;
    constexpr int kWriters = 8, kEach = 500;
    std::atomic<int> failures{0};
    std::atomic<std::uint32_t> lastError{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            const PipeMessage open = MakePipeMessage(w + 1, kTagSessionOpened, "", 0);
            for (int i = 0; i < kEach; ++i) {
                if (const std::uint32_t error = SendPipeRecord(rig.pipeName, open); error != 0) {
                    ++failures;
                    lastError = error * 1000 + errno;
                }
            }
        });
    }
    for (auto& t : writers) t.join();
    EXPECT_EQ(failures.load(), 0) << "last error " << lastError.load() / 1000 << ", errno "
                                  << lastError.load() % 1000;
    // Every open was counted, and nothing else was traced but who the client is.
    EXPECT_TRUE(
        WaitUntil([&] { return rig.service->Shared().Snapshot().sessionCount == kWriters * kEach; },
                  std::chrono::seconds(30)));
    EXPECT_EQ(quiet.Lines().back(), "Number of active sessions: 4000\n");
    for (const std::string& line : quiet.Lines()) {
        if (line.rfind("Number of active sessions: ", 0) != 0 &&
            line.rfind("Pipe client: ", 0) != 0) {
            ADD_FAILURE() << line;
        }
    }
    // And the service still serves.
    ASSERT_EQ(rig.Send(MSPROPTAG_CD, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackTime, "61"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return rig.Line(1) == "01:01       "; }));
}

// ---- Stop, shutdown, standby, resume, brightness, pause ----

TEST(ServiceControls, StopIsSeenAtOnceEvenInStandbyAndEndsWithTheStoppingScreen) {
    for (bool standby : {false, true}) {
        SCOPED_TRACE(standby ? "in standby" : "running");
        ServiceRig rig;
        rig.Start();
        if (standby) rig.service->OnPowerEvent(kPowerSuspend, nullptr);
        rig.Settle();
        rig.bus.ClearReports();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(rig.Stop());
        // The clock never ticked meanwhile.
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(1000));

        EXPECT_EQ(rig.Line(0), "Service     ");
        EXPECT_EQ(rig.Line(1), "stopping... ");
        const auto log = rig.bus.Reports();
        ASSERT_GE(log.size(), 4u);
        EXPECT_EQ(log.front(), R({3, 0}));  // no redraw for the stop itself
        EXPECT_EQ(std::vector<Report>(log.end() - 4, log.end()),
                  (std::vector<Report>{R({3, 2}), R({5, 0}), R({6, 0}), R({4, 0, 0})}));
        const auto reports = rig.host.Reports();
        EXPECT_EQ(reports.back().state, kServiceStopPending);
        EXPECT_EQ(reports.back().checkPoint, 1u);
        EXPECT_EQ(rig.EventIds(), (Events{kEventIdServiceStarted, kEventIdServiceStopped}));
        // The worker threads are gone: the pipe has no server and the mixer no listener.
        EXPECT_EQ(SendPipeRecord(rig.pipeName, MakePipeMessage(1, 1, "", 0)), kErrorFileNotFound);
        EXPECT_EQ(rig.volume.Listening(), 0);
        const std::size_t count = rig.bus.ReportCount();
        rig.volume.SetVolume(100);
        EXPECT_EQ(rig.bus.ReportCount(), count);
    }
}

TEST(ServiceControls, ShutdownLeavesItsScreenAndStopsAtOnce) {
    ServiceRig rig;
    rig.Start();
    rig.Settle();
    rig.bus.ClearReports();
    const auto start = std::chrono::steady_clock::now();
    rig.service->OnShutdown();
    EXPECT_TRUE(rig.service->PipeHalted());
    EXPECT_TRUE(rig.service->ClockHalted());
    rig.sleeper.ReleaseAll();  // the clock thread's sleep ends, as the real one's would
    ASSERT_TRUE(rig.WaitForRunToReturn());
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));

    // The shutdown screen is the last thing drawn: no redraw, no stopping screen after it.
    EXPECT_EQ(rig.Line(0), "Preparing   ");
    EXPECT_EQ(rig.Line(1), "shutdown... ");
    const auto log = rig.bus.Reports();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<Report>(log.end() - 4, log.end()),
              (std::vector<Report>{R({3, 5}), R({5, 0}), R({6, 0}), R({4, 0, 0})}));
    EXPECT_EQ(rig.host.Reports().back().state, kServiceStopPending);
    EXPECT_EQ(rig.EventIds(), (Events{kEventIdServiceStarted, kEventIdServiceStopped}));
}

// The status as the service control manager gets it: the framework's status reporter over a
// fake SCM.
class ScmStatusHost final : public ServiceHost {
  public:
    ScmStatusHost() { status.SetHandle(&scm); }  // any status handle but null
    bool ReportStatus(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint,
                      std::uint32_t controlsAccepted) override {
        return status.Report(state, checkPoint, waitHint, controlsAccepted, 0, 0);
    }
    void LogEvent(std::uint16_t, std::uint32_t, const char*) override {}
    void MessageBeep(std::uint32_t) override {}
    void SetCurrentState(std::uint32_t state, const std::function<void()>& alsoUnderLock) override {
        std::lock_guard<std::recursive_mutex> guard(status.Lock());
        status.Record().currentState = state;
        if (alsoUnderLock) alsoUnderLock();
    }
    std::uint32_t CurrentState() override {
        std::lock_guard<std::recursive_mutex> guard(status.Lock());
        return status.Record().currentState;
    }
    std::vector<std::uint32_t> StatesSent() {
        std::vector<std::uint32_t> states;
        for (const ServiceStatusReport& r : scm.StatusSent()) states.push_back(r.currentState);
        return states;
    }

    FakeSystem scm;
    ServiceStatusReporter status{scm, 0x45};
};

TEST(ServiceControls, ShutdownReportsStopPendingAndNothingIsReportedAfterStopped) {
    ServiceRig rig;
    ScmStatusHost scm;
    rig.Start(true, &scm);
    // The control thread: the handler, then the dispatch's report of the current state.
    rig.service->OnShutdown();
    scm.status.ReportCurrent();
    rig.sleeper.ReleaseAll();
    ASSERT_TRUE(rig.WaitForRunToReturn());
    scm.status.Report(kServiceStopped, 0, 0, 0, 0, 0);  // the service thread, once Run returned
    EXPECT_FALSE(scm.status.ReportCurrent());           // a control that comes after that
    EXPECT_FALSE(scm.status.Report(kServiceStopPending, 1, 1100, kKeepStatusValue, 0, 0));
    EXPECT_EQ(scm.StatesSent(), (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning,
                                                            kServiceStopPending,
                                                            kServiceStopPending, kServiceStopped}));
}

// (What the service spends in standby is measured by bench/service_cpu_bench.)
TEST(ServiceControls, StandbyDrawsNothingAndResumeRestarts) {
    for (std::uint32_t resume : {kPowerResumeSuspend, kPowerResumeAutomatic}) {
        SCOPED_TRACE(resume);
        ServiceRig rig;
        rig.Start();
        EXPECT_EQ(rig.service->OnPowerEvent(kPowerSuspend, nullptr), 0u);
        EXPECT_EQ(rig.Line(0), "Preparing   ");
        EXPECT_EQ(rig.Line(1), "to standby..");
        EXPECT_EQ(rig.Picture().displayControl, 2);

        // Changes come in (the volume is applied, the record held at the pipe's gate), and once
        // the loop has taken them nothing was drawn over the standby screen.
        const std::size_t reports = rig.bus.ReportCount();
        const std::uint64_t redraws = rig.service->Redraws();
        rig.volume.SetVolume(100);
        ASSERT_EQ(rig.Send(MSPROPTAG_TrackName, "held"), 0u);
        ASSERT_TRUE(WaitUntil([&] {
            return rig.service->Shared().Snapshot().volume == 100 && rig.service->PipeHeld() &&
                   rig.service->Shared().wake.HasIdleWaiter();
        }));
        EXPECT_EQ(rig.bus.ReportCount(), reports);
        EXPECT_EQ(rig.service->Redraws(), redraws);

        // Resume shows the start-up screen; pipe and clock go on only 1.5 s later.
        std::thread resumer([&] { rig.service->OnPowerEvent(resume, nullptr); });
        ASSERT_TRUE(WaitUntil([&] { return rig.Line(1) == "Starting Up "; }));
        EXPECT_EQ(rig.Picture().displayControl, 0);
        ASSERT_TRUE(WaitUntil([&] { return rig.sleeper.Requested(kResumeDelayMs); }));
        rig.sleeper.Grant(1499);
        EXPECT_TRUE(rig.service->PipeHalted());
        rig.sleeper.Grant(1);
        resumer.join();
        EXPECT_FALSE(rig.service->PipeHalted());
        EXPECT_FALSE(rig.service->ClockHalted());
        EXPECT_TRUE(WaitUntil(
            [&] { return std::string(rig.service->Shared().Snapshot().trackName) == "held"; }));
        EXPECT_TRUE(WaitUntil([&] { return rig.Line(1) == "01/01/2000  "; }));
        // The clock goes on with the rest of its period.
        rig.sleeper.Grant(10000);
        EXPECT_TRUE(WaitUntil([&] { return rig.service->ClockTicks() == 2; }));

        // The second notice of the same wake-up finds the service running and does nothing.
        const std::uint64_t settled = rig.Settle();
        const std::size_t after = rig.bus.ReportCount();
        rig.service->OnPowerEvent(
            resume == kPowerResumeSuspend ? kPowerResumeAutomatic : kPowerResumeSuspend, nullptr);
        EXPECT_EQ(rig.bus.ReportCount(), after);
        EXPECT_EQ(rig.Settle(), settled);
        ASSERT_TRUE(rig.Stop());
    }
}

TEST(ServiceControls, CustomControlsSetTheBrightnessAndPauseChangesOnlyTheState) {
    ServiceRig rig;
    rig.Start();
    rig.Settle();
    const std::pair<std::uint32_t, int> cases[] = {{201, 0xA4}, {204, 0xAF}, {200, 0x00},
                                                   {128, 0x00}, {255, 0x00}, {201, 0xA4}};
    for (const auto& [code, value] : cases) {
        rig.bus.ClearReports();
        rig.service->OnUserDefinedRequest(code);
        EXPECT_EQ(rig.bus.Reports(), std::vector<Report>{R({2, value})}) << code;
        EXPECT_EQ(rig.Picture().brightness, value);
    }
    // Pause and continue only report their pending states; records are still applied.
    rig.service->OnPause();
    EXPECT_EQ(StateOf(rig.host), kServicePausePending);
    ASSERT_EQ(rig.Send(MSPROPTAG_CD, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    EXPECT_TRUE(WaitUntil([&] { return rig.Picture().mediaIcons == 0x08; }));
    rig.service->OnContinue();
    EXPECT_EQ(StateOf(rig.host), kServiceContinuePending);
}

// ---- The panel going and coming back ----

// What a panel of the rig's properties receives for `steps`, drawn on a bus of its own by the
// same commands; its icon bytes first set by drawing `state`, as the service's were by the
// redraws before.
std::vector<Report> ModelStream(const MediaState& state,
                                const std::function<void(PanelFrame&)>& steps) {
    VirtualPanelBus bus{VirtualDeviceConfig{}};
    FakeSleeper sleeper;
    PanelDevice model(bus, CreateSystemTextConverter(), sleeper);
    PanelConfig config;
    config.brightness = 51;
    model.OpenPanel(config);
    model.Converter().Open();
    model.Converter().SetCodePages(kCodePageWindowsLatin1, kCodePageDosLatin1,
                                   kConvertNoBestFitChars);
    {
        PanelFrame frame = model.BeginFrame();
        ShowMediaState(frame, state);
    }
    bus.ClearReports();
    {
        PanelFrame frame = model.BeginFrame();
        steps(frame);
    }
    return bus.Reports();
}

TEST(ServicePanel, UnpluggedTheServiceGoesOnPluggedItGetsTheStartReportsAndAWholeRedraw) {
    ServiceRig rig;
    rig.Start();
    ASSERT_EQ(rig.Send(MSPROPTAG_CD, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackTime, "61"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.Line(1) == "01:01       "; }));
    rig.Settle();

    // The first write after the unplug fails and closes the panel; the records still count.
    rig.bus.SetUnplugged(0, true);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackTime, "62"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return !rig.service->Panel()->IsOpen(); }));
    rig.Settle();
    const std::size_t touched = rig.bus.AccessCount(0);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackTime, "63"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.service->Shared().Snapshot().trackSeconds == 63; }));
    rig.Settle();
    EXPECT_EQ(rig.bus.AccessCount(0), touched) << "nothing is written to a gone panel";
    EXPECT_EQ(rig.service->PanelReopens(), 0u);

    // Back: brightness, the whole panel cleared, then the whole picture, at once.
    rig.bus.ClearReports();
    const auto plugged = std::chrono::steady_clock::now();
    rig.bus.SetUnplugged(0, false);
    ASSERT_TRUE(WaitUntil([&] { return rig.Line(1) == "01:03       "; }));
    EXPECT_LT(std::chrono::steady_clock::now() - plugged, milliseconds(2000));
    rig.Settle();
    EXPECT_EQ(rig.service->PanelReopens(), 1u);
    const MediaState state = rig.service->Shared().Snapshot();
    EXPECT_EQ(rig.bus.Reports(), ModelStream(state, [&state](PanelFrame& frame) {
                  frame.SetBrightness(51);
                  frame.ClearPanel(kClearAll, 0);
                  ShowMediaState(frame, state);
              }));
    ASSERT_TRUE(rig.Stop());
}

// The character reports of one whole line; the whole stream one scroll of `text` sends (three
// passes over 12 blanks and the text, then the beginning of the text).
std::vector<Report> LineStream(const std::string& text, int lineCode) {
    std::vector<Report> reports;
    for (std::size_t c = 0; c < 12; ++c)
        reports.push_back(R({1, lineCode | static_cast<int>(c), c < text.size() ? text[c] : ' '}));
    return reports;
}
std::vector<Report> ScrollStream(const std::string& text, int lineCode) {
    const std::string work = std::string(12, ' ') + text;
    std::vector<Report> stream;
    for (int pass = 0; pass < 3; ++pass) {
        for (std::size_t p = 0; p < work.size(); ++p) {
            const std::vector<Report> line = LineStream(work.substr(p), lineCode);
            stream.insert(stream.end(), line.begin(), line.end());
        }
    }
    const std::vector<Report> last = LineStream(text, lineCode);
    stream.insert(stream.end(), last.begin(), last.end());
    return stream;
}

TEST(ServicePanel, PluggedBackUnderALongNameEveryLineIsDrawnAgainTheNameScrolling) {
    ServiceRig rig;
    rig.Start();
    const std::string name = "Freddie Freeloader";
    const auto scrollSteps = [&rig] {
        const std::vector<std::uint32_t> sleeps = rig.panelSleeper.Sleeps();
        return std::count(sleeps.begin(), sleeps.end(), 20u);
    };
    ASSERT_EQ(rig.Send(MSPROPTAG_CD, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackTime, "61"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackName, name), 0u);
    ASSERT_TRUE(WaitUntil([&] {
        return scrollSteps() == 90 && rig.Line(0) == "Freddie Free" &&
               rig.Line(1) == "01:01       ";
    }));
    rig.Settle();
    rig.bus.SetUnplugged(0, true);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackTime, "62"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return !rig.service->Panel()->IsOpen(); }));
    rig.Settle();

    // Back: the start reports, the redraw, and the name scrolled again from its start, as on a
    // panel that never showed it.
    rig.bus.ClearReports();
    rig.bus.SetUnplugged(0, false);
    std::vector<Report> expected = {R({2, 51}), R({3, 0}), R({5, 0}), R({6, 0}), R({4, 0, 0})};
    expected.push_back(R({6, 0x00}));                  // the video CD pair goes first
    expected.insert(expected.end(), 5, R({6, 0x08}));  // then the CD icon
    expected.push_back(R({5, 0x01}));                  // repeat cleared, playing stays
    const std::vector<Report> time = LineStream("01:02", 0x80);
    expected.insert(expected.end(), time.begin(), time.end());
    expected.push_back(R({4, 0xFF, 0x7F}));            // 40000 lights fifteen segments
    expected.insert(expected.end(), 6, R({5, 0x01}));  // recording, mute, the four of playing
    const std::vector<Report> scroll = ScrollStream(name, 0xC0);
    expected.insert(expected.end(), scroll.begin(), scroll.end());
    EXPECT_TRUE(rig.bus.WaitForReportCount(expected.size(), milliseconds(10000)));
    EXPECT_TRUE(WaitUntil([&] { return scrollSteps() == 180; }, milliseconds(2000)));
    rig.Settle();
    EXPECT_EQ(rig.service->PanelReopens(), 1u);
    EXPECT_EQ(rig.bus.Reports(), expected);
    EXPECT_EQ(rig.Line(0), "Freddie Free");
    ASSERT_TRUE(rig.Stop());
}

TEST(ServicePanel, ResumeResendsTheBrightnessAndRedrawsTheWholePicture) {
    ServiceRig rig;
    rig.Start();
    ASSERT_EQ(rig.Send(MSPROPTAG_CD, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_TrackTime, "61"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.Line(1) == "01:01       "; }));
    rig.Settle();
    rig.service->OnPowerEvent(kPowerSuspend, nullptr);
    std::thread resumer([&] { rig.service->OnPowerEvent(kPowerResumeSuspend, nullptr); });
    ASSERT_TRUE(WaitUntil([&] { return rig.Line(1) == "Starting Up "; }));
    rig.bus.ClearReports();
    rig.sleeper.Grant(kResumeDelayMs);
    resumer.join();
    ASSERT_TRUE(WaitUntil([&] { return rig.Line(1) == "01:01       "; }));
    rig.Settle();
    // The brightness first; then redraws of the whole picture (the clock's tick may make it
    // two), each the stream a redraw of the state gives.
    const MediaState state = rig.service->Shared().Snapshot();
    const std::vector<Report> redraw =
        ModelStream(state, [&state](PanelFrame& frame) { ShowMediaState(frame, state); });
    const auto log = rig.bus.Reports();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), R({2, 51}));
    const std::vector<Report> rest(log.begin() + 1, log.end());
    EXPECT_TRUE(rest == redraw || rest.size() == 2 * redraw.size()) << rest.size();
    EXPECT_EQ(
        std::vector<Report>(rest.begin(), rest.begin() + std::min(rest.size(), redraw.size())),
        redraw);
    ASSERT_TRUE(rig.Stop());
}

TEST(ServicePanel, ResumeAndReopenSendTheBrightnessLastSetNotTheFilesOne) {
    ServiceRig rig;
    rig.Start();
    rig.Settle();
    rig.service->OnUserDefinedRequest(kControlBrightnessLow);
    rig.service->OnPowerEvent(kPowerSuspend, nullptr);
    std::thread resumer([&] { rig.service->OnPowerEvent(kPowerResumeSuspend, nullptr); });
    ASSERT_TRUE(WaitUntil([&] { return rig.sleeper.Requested(kResumeDelayMs); }));
    rig.bus.ClearReports();
    rig.sleeper.Grant(kResumeDelayMs);
    resumer.join();
    rig.Settle();
    ASSERT_FALSE(rig.bus.Reports().empty());
    EXPECT_EQ(rig.bus.Reports().front(), R({2, 0xA4}));

    rig.service->OnUserDefinedRequest(kControlBrightnessHigh);
    rig.bus.SetUnplugged(0, true);
    rig.volume.SetVolume(100);  // a redraw finds the panel gone
    ASSERT_TRUE(WaitUntil([&] { return !rig.service->Panel()->IsOpen(); }));
    rig.bus.ClearReports();
    rig.bus.SetUnplugged(0, false);
    ASSERT_TRUE(WaitUntil([&] { return rig.service->PanelReopens() == 1; }));
    rig.Settle();
    ASSERT_FALSE(rig.bus.Reports().empty());
    EXPECT_EQ(rig.bus.Reports().front(), R({2, 0xAF}));
    EXPECT_EQ(rig.Picture().brightness, 0xAF);
    ASSERT_TRUE(rig.Stop());
}

// ---- Dimming ----

// The rig's properties with a Dimming element of `rules` (name, text).
XmlNode DimmingTree(std::initializer_list<std::pair<const char*, const char*>> rules) {
    XmlNode root = DisplayPropsTree("1F3C", "5A41");
    XmlNode dimming;
    dimming.isElement = true;
    dimming.tagName = "Dimming";
    for (const auto& [name, text] : rules) {
        XmlNode rule;
        rule.isElement = true;
        rule.tagName = name;
        rule.text = text;
        dimming.children.push_back(rule);
    }
    root.children[0].children.push_back(dimming);
    return root;
}

// The brightness reports among the panel's reports since the last ClearReports.
std::vector<Report> BrightnessReports(ServiceRig& rig) {
    std::vector<Report> out;
    for (const Report& r : rig.bus.Reports()) {
        if (r[0] == 2) out.push_back(r);
    }
    return out;
}

TEST(ServiceDimming, IdleDimsWithOneReportActivityAndControlsRestoreIt) {
    ServiceRig rig;
    rig.loader.tree = DimmingTree({{"IdleAfterSeconds", "300"}, {"IdleBrightness", "16"}});
    rig.Start();
    rig.Settle();
    rig.bus.ClearReports();
    // The loop waits for the idle time on the clock; a look just before it changes nothing.
    rig.clock.Advance(299999);
    rig.service->Nudge();
    rig.Settle();
    EXPECT_EQ(BrightnessReports(rig), std::vector<Report>{});
    rig.clock.Advance(1);
    for (int look = 0; look < 3; ++look) {
        rig.service->Nudge();
        rig.Settle();
    }
    EXPECT_EQ(BrightnessReports(rig), std::vector<Report>{R({2, 16})});
    EXPECT_EQ(rig.service->Brightness(), (BrightnessLevel{16, DimReason::kIdle}));

    // A control during the dim: its level at once, once.
    rig.bus.ClearReports();
    rig.service->OnUserDefinedRequest(kControlBrightnessLow);
    rig.Settle();
    EXPECT_EQ(BrightnessReports(rig), std::vector<Report>{R({2, 0xA4})});
    // Idle again, then a volume change brings back the control's level, not the file's.
    rig.clock.Advance(300000);
    rig.service->Nudge();
    rig.Settle();
    rig.volume.SetVolume(1000);
    ASSERT_TRUE(WaitUntil([&] { return rig.Picture().volumeMask == 0x0001; }));
    rig.Settle();
    EXPECT_EQ(BrightnessReports(rig),
              (std::vector<Report>{R({2, 0xA4}), R({2, 16}), R({2, 0xA4})}));
    ASSERT_TRUE(rig.Stop());
}

TEST(ServiceDimming, StandbyBlanksAfterItsScreenAndResumeGivesTheLevelOfThen) {
    ServiceRig rig;
    rig.loader.tree = DimmingTree({{"BlankInStandby", "True"}, {"VideoBrightness", "32"}});
    rig.Start();
    ASSERT_EQ(rig.Send(MSPROPTAG_DVD, "True"), 0u);
    ASSERT_EQ(rig.Send(MSPROPTAG_Play, "True"), 0u);
    ASSERT_TRUE(WaitUntil([&] { return rig.service->Brightness().value == 32; }));
    rig.bus.ClearReports();
    rig.service->OnPowerEvent(kPowerSuspend, nullptr);
    EXPECT_EQ(rig.Line(1), "to standby..");
    ASSERT_FALSE(rig.bus.Reports().empty());
    EXPECT_EQ(rig.bus.Reports().back(), R({2, 0}));
    EXPECT_EQ(BrightnessReports(rig).size(), 1u);

    // Resume: the DVD still plays, so the video level, in one report.
    std::thread resumer([&] { rig.service->OnPowerEvent(kPowerResumeSuspend, nullptr); });
    ASSERT_TRUE(WaitUntil([&] { return rig.sleeper.Requested(kResumeDelayMs); }));
    rig.bus.ClearReports();
    rig.sleeper.Grant(kResumeDelayMs);
    resumer.join();
    rig.Settle();
    EXPECT_EQ(BrightnessReports(rig), std::vector<Report>{R({2, 32})});
    EXPECT_EQ(rig.service->Brightness(), (BrightnessLevel{32, DimReason::kVideo}));
    ASSERT_TRUE(rig.Stop());
}

TEST(ServiceDimming, AMalformedRuleStopsTheStartWithTwo) {
    ServiceRig rig;
    rig.loader.tree =
        DimmingTree({{"NightFrom", "23:00"}, {"NightUntil", "25:00"}, {"NightBrightness", "8"}});
    rig.Start(false);
    ASSERT_TRUE(rig.WaitForRunToReturn());
    EXPECT_EQ(rig.service->StartupError(), kErrorFileNotFound);
    EXPECT_EQ(rig.EventIds(), (Events{kEventIdServiceStarted, kEventIdPropertiesNotLoaded,
                                      kEventIdServiceStopped}));
    EXPECT_EQ(rig.bus.ReportCount(), 0u);
}

// ---- LCDproc clients ----

// A rig whose LCDproc server listens on a free loopback port, and one client greeted on it.
struct LcdRig {
    LcdRig() {
        rig.lcdServer = {.enabled = true, .addresses = {"127.0.0.1"}, .port = 0};
        rig.Start();
        EXPECT_NE(rig.service->LcdPort(), 0);
        EXPECT_TRUE(client.Connect(rig.service->LcdPort()));
        EXPECT_EQ(Say("hello").rfind("connect LCDproc ", 0), 0u);
    }
    // A screen "s" with one string widget "a" at column `x` of line `y`.
    void ShowString(const std::string& x, const std::string& y, const std::string& text) {
        EXPECT_EQ(Say("screen_add s"), "success");
        EXPECT_EQ(Say("widget_add s a string"), "success");
        EXPECT_EQ(Say("widget_set s a " + x + " " + y + " {" + text + "}"), "success");
    }
    // Sends one command and gives its answer (skipping listen/ignore notices).
    std::string Say(const std::string& command) {
        client.Write(command + "\n");
        for (;;) {
            const std::string line = client.ReadLine();
            if (line.rfind("listen ", 0) != 0 && line.rfind("ignore ", 0) != 0) return line;
        }
    }
    // The character reports written to a line (0xC0 first, 0x80 second) since the last clear.
    int CharactersWritten(std::uint8_t lineCode) {
        int count = 0;
        for (const Report& r : rig.bus.Reports()) {
            if (r[0] == kCharacterReport && (r[1] & 0xC0) == lineCode) ++count;
        }
        return count;
    }
    bool Shows(const std::string& first, const std::string& second) {
        return WaitUntil([&] { return rig.Line(0) == first && rig.Line(1) == second; });
    }

    ServiceRig rig;
    TestClient client;
};

TEST(ServiceLcdproc, AClientScreenTakesTheLinesWritesOnlyWhatChangesAndTheClockComesBack) {
    LcdRig lcd;
    EXPECT_EQ(lcd.Say("screen_add s"), "success");
    EXPECT_EQ(lcd.Say("widget_add s a string"), "success");
    EXPECT_EQ(lcd.Say("widget_add s b string"), "success");
    EXPECT_EQ(lcd.Say("widget_set s a 1 1 {Hello}"), "success");
    EXPECT_EQ(lcd.Say("widget_set s b 3 2 {world}"), "success");
    ASSERT_TRUE(lcd.Shows("Hello       ", "  world     "));

    // A change to the second line writes that line only, once.
    lcd.rig.Settle();
    lcd.rig.bus.ClearReports();
    EXPECT_EQ(lcd.Say("widget_set s b 3 2 {there}"), "success");
    ASSERT_TRUE(lcd.Shows("Hello       ", "  there     "));
    lcd.rig.Settle();
    EXPECT_EQ(lcd.CharactersWritten(kFirstLine), 0);
    EXPECT_EQ(lcd.CharactersWritten(kSecondLine), 12);

    // The clock's ticks leave the client's lines alone; the client's going brings the clock.
    lcd.rig.bus.ClearReports();
    const std::uint64_t ticks = lcd.rig.service->ClockTicks();
    lcd.rig.sleeper.Grant(kClockPeriodMs);
    ASSERT_TRUE(WaitUntil([&] { return lcd.rig.service->ClockTicks() > ticks; }));
    lcd.rig.Settle();
    EXPECT_EQ(lcd.CharactersWritten(kFirstLine) + lcd.CharactersWritten(kSecondLine), 0);
    lcd.client.Disconnect();
    EXPECT_TRUE(lcd.Shows("12:00       ", "01/01/2000  "));
    ASSERT_TRUE(lcd.rig.Stop());
}

TEST(ServiceLcdproc, IconsFollowTheMixerOutputBitsAddToThemAndBacklightOffDarkens) {
    LcdRig lcd;
    lcd.ShowString("1", "1", "x");
    ASSERT_TRUE(lcd.Shows("x           ", "            "));
    // The mixer's mute lights its icon under the client's screen; output adds recording.
    lcd.rig.volume.SetMute(true);
    ASSERT_TRUE(WaitUntil([&] { return lcd.rig.Picture().statusIcons == 0x10; }));
    EXPECT_EQ(lcd.Say("output 64"), "success");
    ASSERT_TRUE(WaitUntil([&] { return lcd.rig.Picture().statusIcons == 0x50; }));
    EXPECT_EQ(lcd.Say("output 0"), "success");
    ASSERT_TRUE(WaitUntil([&] { return lcd.rig.Picture().statusIcons == 0x10; }));

    // Backlight off: the darkest level, once; on: the file's level again.
    lcd.rig.Settle();
    lcd.rig.bus.ClearReports();
    EXPECT_EQ(lcd.Say("backlight off"), "success");
    ASSERT_TRUE(WaitUntil([&] { return lcd.rig.Picture().brightness == 0; }));
    EXPECT_EQ(lcd.Say("backlight on"), "success");
    ASSERT_TRUE(WaitUntil([&] { return lcd.rig.Picture().brightness == 51; }));
    lcd.rig.Settle();
    EXPECT_EQ(BrightnessReports(lcd.rig), (std::vector<Report>{R({2, 0}), R({2, 51})}));
    ASSERT_TRUE(lcd.rig.Stop());
}

TEST(ServiceLcdproc, StandbyKeepsItsScreenAndResumeWritesTheClientScreenWhole) {
    LcdRig lcd;
    lcd.ShowString("1", "2", "one");
    ASSERT_TRUE(lcd.Shows("            ", "one         "));
    lcd.rig.service->OnPowerEvent(kPowerSuspend, nullptr);
    EXPECT_EQ(lcd.Say("widget_set s a 1 2 {two}"), "success");
    lcd.rig.Settle();
    EXPECT_EQ(lcd.rig.Line(1), "to standby..");
    // Resume: the start-up screen, then the client's screen again, both lines.
    std::thread resume([&] { lcd.rig.service->OnPowerEvent(kPowerResumeAutomatic, nullptr); });
    lcd.rig.sleeper.Grant(kResumeDelayMs);
    resume.join();
    EXPECT_TRUE(lcd.Shows("            ", "two         "));
    ASSERT_TRUE(lcd.rig.Stop());
}

TEST(ServiceLcdproc, APortInUseIsSaidOnceAndTheServiceRunsWithoutTheServer) {
    ServiceRig first;
    first.lcdServer = {.enabled = true, .addresses = {"127.0.0.1"}, .port = 0};
    first.Start();
    ServiceRig rig;
    rig.lcdServer = {.enabled = true, .addresses = {"127.0.0.1"}, .port = first.service->LcdPort()};
    rig.Start();
    EXPECT_EQ(rig.service->LcdPort(), 0);
    const Events events = rig.EventIds();
    EXPECT_EQ(std::count(events.begin(), events.end(), kEventIdLcdServerNotListening), 1);
    EXPECT_EQ(rig.Send(kTagSessionOpened), 0u);
    ASSERT_TRUE(rig.Stop());
    ASSERT_TRUE(first.Stop());
}

}  // namespace
}  // namespace zelk
