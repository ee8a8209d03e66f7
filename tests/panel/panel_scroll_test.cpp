// Scrolling of long lines: the exact report stream, the handshake with direct writes and with
// a new scroll, frames held while a scroll runs, and commands from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_print.h"
#include "service/panel/panel_device.h"
#include "service/panel/virtual_panel.h"
#include "tests/panel/panel_test_fakes.h"

namespace zelk {
namespace {

using namespace std::chrono_literals;
using test::LineReports;
using test::Report;
using Reports = std::vector<Report>;

Reports& operator+=(Reports& a, const Reports& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Reports operator+(Reports a, const Reports& b) {
    return a += b;
}
Reports Head(const Reports& all, std::size_t n) {
    return Reports(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
}

// The whole stream one scroll of `text` sends: three passes over 12 blanks plus the text,
// then the beginning of the text.
Reports ScrollStream(const std::string& text, std::uint8_t lineCode) {
    const std::string work = std::string(12, ' ') + text;
    Reports stream;
    for (int pass = 0; pass < 3; ++pass) {
        for (std::size_t p = 0; p < work.size(); ++p)
            stream += LineReports(work.substr(p), lineCode);
    }
    return stream += LineReports(text, lineCode);
}

const std::string kTwenty = "ABCDEFGHIJKLMNOPQRST";

class ScrollTest : public ::testing::Test {
  protected:
    ScrollTest()
        : bus(VirtualDeviceConfig{}),
          panel(std::make_unique<PanelDevice>(bus, std::make_unique<test::RepeatingConverter>(),
                                              sleeper)) {
        EXPECT_TRUE(panel->OpenPanel());
    }
    ~ScrollTest() override {
        sleeper.Release();  // a failed test must not leave a thread held in a sleep
        panel.reset();
    }
    // Waits until the bus has `expected` (a generous bound on the fake sleeps), stops the
    // scroll and compares the whole log.
    void ExpectLog(const Reports& expected) {
        EXPECT_TRUE(bus.WaitForReportCount(expected.size(), 20s));
        panel->StopScrolling();
        EXPECT_EQ(bus.Reports(), expected);
    }
    // Lets a held scroll thread go on inside the `nth` 200 ms handshake sleep from now, after
    // the stop was asked for and before the line is taken.
    void ReleaseDuringHandshake(int nth) {
        sleeper.onSleep = [this, nth](std::uint32_t ms) {
            if (ms == 200 && ++handshakes == nth) sleeper.Release();
        };
    }

    VirtualPanelBus bus;
    test::RecordingSleeper sleeper;
    std::atomic<int> handshakes{0};
    std::unique_ptr<PanelDevice> panel;
};

TEST_F(ScrollTest, TwentyCharactersScrollThreePassesThenShowTheStart) {
    EXPECT_EQ(panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine), kErrorSuccess);
    const Reports expected = ScrollStream(kTwenty, kFirstLine);
    ASSERT_EQ(expected.size(), (3u * 32u + 1u) * 12u);
    ExpectLog(expected);
    const std::vector<std::uint32_t> sleeps = sleeper.Sleeps();
    ASSERT_EQ(sleeps.size(), 97u);
    EXPECT_EQ(sleeps.front(), 200u) << "the handshake comes before the thread starts";
    EXPECT_EQ(sleeper.Count(20), 96u);

    // The same text again is what the line shows: nothing is written or waited for. Text of
    // exactly the columns is written directly.
    bus.ClearReports();
    EXPECT_EQ(panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine), kErrorSuccess);
    EXPECT_EQ(panel->BeginFrame().WriteOrScrollLine("ABCDEFGHIJKL", kSecondLine), kErrorSuccess);
    EXPECT_EQ(bus.Reports(), LineReports("ABCDEFGHIJKL", kSecondLine));
    EXPECT_EQ(sleeper.Sleeps().size(), 97u);
}

TEST_F(ScrollTest, SameTextWhileScrollingDoesNotRestart) {
    sleeper.PauseAt(20, 5);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    ASSERT_TRUE(sleeper.WaitUntilPaused());
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    EXPECT_EQ(sleeper.Count(200), 1u);
    sleeper.Release();
    ExpectLog(ScrollStream(kTwenty, kFirstLine));
}

TEST_F(ScrollTest, DirectWriteToTheLineEndsTheScrollWithinOneStep) {
    sleeper.PauseAt(20, 3);  // the thread rests after its third line
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    ASSERT_TRUE(sleeper.WaitUntilPaused());

    // A write to the other line leaves the scroll alone and does not wait.
    panel->BeginFrame().WriteLine("01/02/2025", kSecondLine);
    EXPECT_EQ(sleeper.Count(200), 1u);

    ReleaseDuringHandshake(1);  // so the stop is set before the thread moves on
    panel->BeginFrame().WriteLine("12:00", kFirstLine);
    panel->StopScrolling();
    EXPECT_EQ(sleeper.Count(200), 2u) << "the direct write waits 200 ms";
    EXPECT_EQ(bus.Reports(), Head(ScrollStream(kTwenty, kFirstLine), 36) +
                                 LineReports("01/02/2025", kSecondLine) +
                                 LineReports("12:00", kFirstLine));
}

TEST_F(ScrollTest, LongTextScrollsAgainAfterTheLineWasOverwrittenOrOnTheOtherLine) {
    const Reports once = ScrollStream(kTwenty, kFirstLine);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    ExpectLog(once);
    panel->BeginFrame().WriteLine("12:00", kFirstLine);  // the clock takes the line
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    const Reports again = once + LineReports("12:00", kFirstLine) + once;
    ExpectLog(again);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kSecondLine);
    ExpectLog(again + ScrollStream(kTwenty, kSecondLine));
}

TEST_F(ScrollTest, NewScrollStartsOnlyAfterThePreviousThreadEnded) {
    const std::string other = "the other long text";
    ReleaseDuringHandshake(2);
    sleeper.PauseAt(20, 3);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    ASSERT_TRUE(sleeper.WaitUntilPaused());
    // The old thread goes on during the handshake; the new one must wait for its end.
    panel->BeginFrame().WriteOrScrollLine(other.c_str(), kFirstLine);
    ExpectLog(Head(ScrollStream(kTwenty, kFirstLine), 36) + ScrollStream(other, kFirstLine));
    EXPECT_EQ(sleeper.Count(200), 2u);
}

TEST_F(ScrollTest, RedrawHoldingAFrameNeverDeadlocksWithTheScroller) {
    const std::string other = "a second long text";
    sleeper.PauseAt(20, 2);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    ASSERT_TRUE(sleeper.WaitUntilPaused());
    ScopedDebugCapture capture;
    const auto started = std::chrono::steady_clock::now();
    {
        PanelFrame redraw = panel->BeginFrame();
        sleeper.Release();  // the old thread now waits for the frame we hold
        redraw.WriteLine("12:00", kFirstLine);
        redraw.WriteOrScrollLine(other.c_str(), kFirstLine);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms)
        << "the old thread should end at once, not by the bounded wait";
    EXPECT_TRUE(capture.Lines().empty());
    // No stale line after the stop.
    ExpectLog(Head(ScrollStream(kTwenty, kFirstLine), 24) + LineReports("12:00", kFirstLine) +
              ScrollStream(other, kFirstLine));
}

TEST_F(ScrollTest, ThreadStuckPastTheBoundIsLeftToEndAndNeverWritesAgain) {
    sleeper.PauseAt(20, 2);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    ASSERT_TRUE(sleeper.WaitUntilPaused());
    ScopedDebugCapture capture;
    panel->StopScrolling();  // waits the bounded ~2 s: the thread is held in its sleep
    EXPECT_FALSE(capture.Lines().empty());
    ASSERT_EQ(bus.ReportCount(), 24u);

    // A new scroll starts at once; the held thread is released and ends without writing.
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(),
                                          kFirstLine);  // the line was left part-way
    sleeper.Release();
    const Reports expected = ScrollStream(kTwenty, kFirstLine);
    ASSERT_TRUE(bus.WaitForReportCount(24 + expected.size(), 20s));
    panel.reset();  // joins everything
    const Reports all = bus.Reports();
    EXPECT_EQ(Reports(all.begin() + 24, all.end()), expected);
}

TEST_F(ScrollTest, OverlongTextsAreCutBeforeTheyAreScrolledOrCompared) {
    std::string t300;
    for (int i = 0; i < 300; ++i) t300 += static_cast<char>('a' + i % 26);
    panel->BeginFrame().WriteOrScrollLine(t300.c_str(), kSecondLine);
    const Reports expected = ScrollStream(t300.substr(0, 243), kSecondLine);
    ASSERT_EQ(expected.size(), (3u * 255u + 1u) * 12u);
    ExpectLog(expected);

    // The same 300 bytes, or more with the same first 243, are what the line already shows.
    bus.ClearReports();
    panel->BeginFrame().WriteOrScrollLine(t300.c_str(), kSecondLine);
    panel->BeginFrame().WriteOrScrollLine((t300 + std::string(700, '!')).c_str(), kSecondLine);
    EXPECT_EQ(bus.ReportCount(), 0u);
    panel->BeginFrame().WriteOrScrollLine(std::string(1000, 'Q').c_str(), kSecondLine);
    ExpectLog(ScrollStream(std::string(243, 'Q'), kSecondLine));
}

TEST_F(ScrollTest, DestroyingThePanelEndsTheScroll) {
    sleeper.PauseAt(20, 4);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    ASSERT_TRUE(sleeper.WaitUntilPaused());
    std::thread release([&] { sleeper.Release(); });
    panel.reset();  // must not hang, whether the release comes before or after the stop
    release.join();
    const std::size_t after = bus.ReportCount();
    EXPECT_GE(after, 4u * 12u);
    EXPECT_LE(after, ScrollStream(kTwenty, kFirstLine).size());
    EXPECT_EQ(after % 12, 0u) << "only whole lines";
}

TEST_F(ScrollTest, UnpluggedPanelEndsEachPassAtOnce) {
    bus.SetUnplugged(0, true);
    panel->BeginFrame().WriteOrScrollLine(kTwenty.c_str(), kFirstLine);
    panel.reset();
    EXPECT_EQ(sleeper.Count(20), 0u);
    EXPECT_EQ(bus.ReportCount(), 0u);
}

// Commands from the run loop, a control handler and a stopper at once. Run under
// ThreadSanitizer; every report must still be whole and well-formed.
TEST(PanelThreads, CommandsFromSeveralThreadsAtOnce) {
    VirtualPanelBus bus(VirtualDeviceConfig{});
    test::RecordingSleeper sleeper;
    std::atomic<bool> badReport{false};
    bus.SetObserver([&](std::size_t, const Report& r, const PanelPicture&) {
        const bool ok = r.size() == 8 && r[0] >= 1 && r[0] <= 6 &&
                        (r[0] != 1 || ((r[1] & 0x80) != 0 && (r[1] & 0x3F) < 12));
        if (!ok) badReport = true;
    });
    {
        PanelDevice panel(bus, std::make_unique<test::RepeatingConverter>(), sleeper);
        ASSERT_TRUE(panel.OpenPanel());
        const char* texts[] = {"a track name longer than twelve", "Radio Station Name Here",
                               "short"};
        std::thread runLoop([&] {
            for (int i = 0; i < 150; ++i) {
                PanelFrame redraw = panel.BeginFrame();
                redraw.SetMediaIcon(i % 2 ? 8 : -9);
                redraw.WriteOrScrollLine(texts[i % 3], i % 4 ? kFirstLine : kSecondLine);
                redraw.WriteLine("0:42", kSecondLine);
                redraw.SetVolumeBar(static_cast<std::uint16_t>(i * 400));
                redraw.ShowTransportState(i % 5);
            }
        });
        std::thread control([&] {
            for (int i = 0; i < 150; ++i) {
                PanelFrame screen = panel.BeginFrame();
                screen.ClearPanel(kClearAll, static_cast<std::uint8_t>(i % 6));
                screen.WriteLine("Preparing", kFirstLine);
                screen.SetBrightness(static_cast<std::uint8_t>(i));
            }
        });
        std::thread oneByOne([&] {  // a frame per command
            for (int i = 0; i < 150; ++i) {
                panel.BeginFrame().SetStatusIcon(i % 2 ? 16 : -17);
                panel.BeginFrame().WriteOrScrollLine(texts[(i + 1) % 3], kFirstLine);
                if (i % 10 == 0) panel.StopScrolling();
            }
        });
        runLoop.join();
        control.join();
        oneByOne.join();
    }
    EXPECT_FALSE(badReport.load());
    EXPECT_GT(bus.ReportCount(), 150u * 20u);
}

}  // namespace
}  // namespace zelk
