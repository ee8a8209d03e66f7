// The panel's commands: text lines (with scrolling of lines that are too long), the icon
// groups, the volume bar, brightness and display control. Each builds 8-byte output reports.
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/debug_print.h"
#include "common/win_codes.h"
#include "service/panel/panel_device.h"
#include "service/panel/panel_scroll.h"

namespace zelk {
namespace {

using PanelLock = std::lock_guard<std::recursive_timed_mutex>;

// Lowest volume of each bar length: n segments from kVolumeThresholds[n - 1].
constexpr std::array<std::uint16_t, 16> kVolumeThresholds{0,     1234,  1467,  2072, 2463, 2927,
                                                          3479,  4134,  5841,  6942, 8250, 9806,
                                                          16462, 23253, 32845, 55141};

// The bits an icon code changes: a positive code sets its bits, the complement of a code
// clears them. In the media byte the video CD bit never goes without the CD bit.
std::uint8_t IconCodeBits(std::int32_t code, bool media) {
    std::uint8_t bits = static_cast<std::uint8_t>((code >= 0 ? code : ~code) & 0xFF);
    if (media && (bits & 0x04) != 0) {
        bits |= 0x08;
    }
    return bits;
}

// strlen that looks at no more than `limit` bytes.
std::size_t BoundedLength(const char* text, std::size_t limit) {
    const void* end = std::memchr(text, 0, limit);
    return end ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit;
}

std::uint8_t ApplyIconCode(std::atomic<std::uint8_t>& cache, std::int32_t code, bool media) {
    const std::uint8_t bits = IconCodeBits(code, media);
    if (code > 0) {
        return static_cast<std::uint8_t>(cache.fetch_or(bits) | bits);
    }
    if (code < 0) {
        return static_cast<std::uint8_t>(cache.fetch_and(static_cast<std::uint8_t>(~bits)) & ~bits);
    }
    return cache.load();
}

}  // namespace

// ---- Scroll runs ----

void ScrollRun::MarkDone() {
    {
        std::lock_guard<std::mutex> guard(doneLock_);
        done_ = true;
    }
    doneSignal_.notify_all();
}

bool ScrollRun::IsDone() {
    std::lock_guard<std::mutex> guard(doneLock_);
    return done_;
}

bool ScrollRun::WaitDone(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(doneLock_);
    return doneSignal_.wait_for(guard, timeout, [this] { return done_; });
}

void PanelDevice::Impl::EndRun(const std::shared_ptr<ScrollRun>& run) {
    if (!run) {
        return;
    }
    run->stop.store(true);
    if (!run->thread.joinable() ||
        std::find(stragglers.begin(), stragglers.end(), run) != stragglers.end()) {
        return;  // never started, already joined, or already left to finish
    }
    if (run->WaitDone(kScrollEndWait)) {
        run->thread.join();
        return;
    }
    // Still inside a device write: it cannot write another line once that returns, since it
    // checks its stop token under the panel lock. Joined later.
    DebugPrint("Scroll thread did not end in time; it is left to finish its last write.\n");
    stragglers.push_back(run);
}

void PanelDevice::Impl::ReapStragglers() {
    auto ended = std::remove_if(stragglers.begin(), stragglers.end(),
                                [](const std::shared_ptr<ScrollRun>& run) {
                                    if (!run->IsDone()) {
                                        return false;
                                    }
                                    run->thread.join();
                                    return true;
                                });
    stragglers.erase(ended, stragglers.end());
}

void PanelDevice::Impl::JoinAll() {
    std::lock_guard<std::mutex> starting(starterLock);
    std::shared_ptr<ScrollRun> run;
    {
        std::lock_guard<std::mutex> guard(requestLock);
        run = current;
    }
    if (run) {
        run->stop.store(true);
        if (run->thread.joinable()) {
            run->thread.join();
        }
    }
    for (const auto& straggler : stragglers) {
        straggler->stop.store(true);
        if (straggler->thread.joinable()) {
            straggler->thread.join();
        }
    }
    stragglers.clear();
}

bool PanelDevice::Impl::WriteScrollLine(PanelDevice& panel, ScrollRun& run, const char* text,
                                        std::uint8_t lineCode, std::uint32_t& result) {
    // Poll for the panel lock so that a holder that stops this scroll is never waited on.
    // (try_lock with a short pause rather than try_lock_for: the timed form goes through
    // pthread_mutex_clocklock, which ThreadSanitizer cannot see, so it would lose track of
    // the lock.)
    while (!panel.lock_.try_lock()) {
        if (run.stop.load()) {
            return false;
        }
        std::this_thread::sleep_for(kLockPollStep);
    }
    PanelLock hold(panel.lock_, std::adopt_lock);
    if (run.stop.load()) {
        return false;  // stopped while waiting: the line belongs to someone else now
    }
    result = panel.WriteLine(text, lineCode, true);
    return true;
}

void PanelDevice::Impl::RunScroll(PanelDevice& panel, std::shared_ptr<ScrollRun> run,
                                  std::string text, std::uint8_t lineCode) {
    std::string work(kScrollLeadBlanks, ' ');
    work += text;
    bool stopped = false;
    for (int pass = 0; pass < kScrollPasses && !stopped; ++pass) {
        for (std::size_t p = 0; p < work.size(); ++p) {
            std::uint32_t result = kErrorSuccess;
            if (!WriteScrollLine(panel, *run, work.c_str() + p, lineCode, result)) {
                stopped = true;
                break;
            }
            if (result != kErrorSuccess) {
                break;  // this pass ends at a failed line
            }
            panel.sleeper_.SleepMs(kScrollStepMs);
        }
    }
    if (!stopped) {
        // Leave the line showing the beginning of the text.
        std::uint32_t result = kErrorSuccess;
        if (WriteScrollLine(panel, *run, text.c_str(), lineCode, result)) {
            run->completed.store(true);
        }
    }
    run->MarkDone();
}

// ---- Text lines ----

std::uint32_t PanelDevice::WriteLine(const char* text, std::uint8_t lineCode, bool fromScroller) {
    if (text == nullptr) {
        text = "";
    }
    // At most 127 bytes are converted, into a zeroed buffer that always keeps its terminator;
    // the line ends where the converter's output ends.
    char converted[kLineBufferSize] = {};
    std::uint32_t sourceLength =
        static_cast<std::uint32_t>(BoundedLength(text, kLineBufferSize - 1));
    std::uint32_t written = kLineBufferSize - 1;
    converter_->Convert(text, sourceLength, converted, written);
    written = std::min<std::uint32_t>(written, kLineBufferSize - 1);
    converted[written] = '\0';
    const std::size_t textLength = BoundedLength(converted, written);

    if (!fromScroller) {
        bool handshake = false;
        {
            std::lock_guard<std::mutex> guard(impl_->requestLock);
            if (impl_->lineCode != 0 && lineCode == impl_->lineCode) {
                handshake = true;
                impl_->lineTakenOver = true;
                if (impl_->current) {
                    impl_->current->stop.store(true);
                }
            }
        }
        if (handshake) {
            sleeper_.SleepMs(kScrollHandshakeMs);
        }
    }

    const std::int16_t columns = std::min(displayColumns, kMaxLineColumns);
    if (columns <= 0) {
        return kErrorSuccess;
    }
    PanelLock hold(lock_);
    for (std::int16_t c = 0; c < columns; ++c) {
        std::uint8_t report[kReportSize] = {kCharacterReport};
        report[1] = static_cast<std::uint8_t>(lineCode | c);
        report[2] = static_cast<std::size_t>(c) < textLength
                        ? static_cast<std::uint8_t>(converted[c])
                        : 0x20;
        const std::uint32_t result = WriteReport(report);
        if (result != kErrorSuccess) {
            return result;
        }
    }
    return kErrorSuccess;
}

std::uint32_t PanelDevice::WriteOrScrollLine(const char* text, std::uint8_t lineCode) {
    if (text == nullptr) {
        text = "";
    }
    const std::size_t length = BoundedLength(text, kMaxScrollTextBytes + 1);
    if (displayColumns <= 0 || length <= static_cast<std::size_t>(displayColumns)) {
        WriteLine(text, lineCode, false);
        return kErrorSuccess;
    }
    const std::string cut(text, std::min(length, kMaxScrollTextBytes));

    std::lock_guard<std::mutex> starting(impl_->starterLock);
    std::shared_ptr<ScrollRun> previous;
    auto next = std::make_shared<ScrollRun>();
    {
        std::lock_guard<std::mutex> guard(impl_->requestLock);
        // The line still shows (or scrolls) this very text: nothing to do.
        if (cut == impl_->text && lineCode == impl_->lineCode && !impl_->lineTakenOver) {
            return kErrorSuccess;
        }
        impl_->text = cut;
        impl_->lineCode = lineCode;
        impl_->lineTakenOver = false;
        previous = impl_->current;
        if (previous) {
            previous->stop.store(true);
        }
        impl_->current = next;  // a fresh stop token, clear until someone wants the line
    }
    sleeper_.SleepMs(kScrollHandshakeMs);
    impl_->EndRun(previous);
    impl_->ReapStragglers();

    try {
        next->thread = std::thread(&Impl::RunScroll, std::ref(*this), next, cut, lineCode);
    } catch (const std::system_error& error) {
        DebugPrint("Could not start the scroll thread (%s).\n", error.what());
        std::lock_guard<std::mutex> guard(impl_->requestLock);
        impl_->lineTakenOver = true;  // so that the same text is tried again
        return kErrorSuccess;
    }
    std::lock_guard<std::mutex> guard(impl_->requestLock);
    impl_->scrollThreadId = next->thread.get_id();
    return kErrorSuccess;
}

void PanelDevice::StopScrolling() {
    std::lock_guard<std::mutex> starting(impl_->starterLock);
    std::shared_ptr<ScrollRun> run;
    {
        std::lock_guard<std::mutex> guard(impl_->requestLock);
        run = impl_->current;
    }
    if (!run) {
        return;
    }
    impl_->EndRun(run);
    impl_->ReapStragglers();
    if (!run->completed.load()) {
        // The line was left part-way through the text: the same text given again scrolls.
        std::lock_guard<std::mutex> guard(impl_->requestLock);
        impl_->lineTakenOver = true;
    }
}

// ---- Fixed reports ----

std::uint32_t PanelDevice::ClearPanel(std::uint32_t flags, std::uint8_t value) {
    const std::uint8_t control[kReportSize] = {kDisplayControlReport, value};
    const std::uint8_t status[kReportSize] = {kStatusIconReport, 0};
    const std::uint8_t media[kReportSize] = {kMediaIconReport, 0};
    const std::uint8_t bar[kReportSize] = {kVolumeBarReport, 0, 0};
    PanelLock hold(lock_);
    if ((flags & kClearAll) != 0) {
        WriteReport(control);
        WriteReport(status);
        WriteReport(media);
        return WriteReport(bar);
    }
    if ((flags & kClearIcons) != 0) {
        WriteReport(status);
        return WriteReport(media);
    }
    if ((flags & kClearVolumeBar) != 0) {
        return WriteReport(bar);
    }
    if ((flags & kClearDisplayControl) != 0) {
        return WriteReport(control);
    }
    return kErrorSuccess;
}

std::uint32_t PanelDevice::SetStatusIcon(std::int32_t code) {
    PanelLock hold(lock_);
    const std::uint8_t report[kReportSize] = {kStatusIconReport,
                                              ApplyIconCode(statusIcons_, code, false)};
    return WriteReport(report);
}

std::uint32_t PanelDevice::SetMediaIcon(std::int32_t code) {
    PanelLock hold(lock_);
    const std::uint8_t report[kReportSize] = {kMediaIconReport,
                                              ApplyIconCode(mediaIcons_, code, true)};
    return WriteReport(report);
}

std::uint32_t PanelDevice::ShowTransportState(std::int32_t state) {
    // Per state: the four status codes, in the order they are sent.
    static constexpr std::int32_t kCalls[5][4] = {
        {-3, -2, -5, -9},  // stopped
        {1, -3, -5, -9},   // playing
        {2, -2, -5, -9},   // paused
        {-3, -2, 4, -9},   // fast forward
        {-3, -2, -5, 8},   // rewind
    };
    if (state < 0 || state > 4) {
        return 1;
    }
    PanelLock hold(lock_);
    for (std::int32_t code : kCalls[state]) {
        SetStatusIcon(code);
    }
    return 1;
}

std::uint32_t PanelDevice::SetVolumeBar(std::uint16_t volume) {
    const auto lit = std::upper_bound(kVolumeThresholds.begin(), kVolumeThresholds.end(), volume) -
                     kVolumeThresholds.begin();
    const std::uint16_t mask = static_cast<std::uint16_t>((1u << lit) - 1u);
    const std::uint8_t report[kReportSize] = {kVolumeBarReport,
                                              static_cast<std::uint8_t>(mask & 0xFF),
                                              static_cast<std::uint8_t>(mask >> 8)};
    PanelLock hold(lock_);
    return WriteReport(report);
}

std::uint32_t PanelDevice::SetBrightness(std::uint8_t value) {
    const std::uint8_t report[kReportSize] = {kBrightnessReport, value};
    PanelLock hold(lock_);
    return WriteReport(report);
}

}  // namespace zelk
