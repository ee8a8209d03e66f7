// Scroll threads: start, handshake, steps, stop and the threads left behind.
#include "service/panel/line_scroller.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "common/debug_print.h"
#include "common/win_codes.h"
#include "service/panel/panel_device.h"

namespace zelk {

void LineScroller::Run::MarkDone() {
    {
        MutexLock guard(doneLock_);
        done_ = true;
    }
    doneSignal_.NotifyAll();
}

bool LineScroller::Run::IsDone() {
    MutexLock guard(doneLock_);
    return done_;
}

bool LineScroller::Run::WaitDone(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    MutexLock guard(doneLock_);
    while (!done_) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        doneSignal_.WaitFor(
            doneLock_, static_cast<std::uint32_t>(
                           std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count()));
    }
    return true;
}

LineScroller::LineScroller(PanelDevice& panel, Sleeper& sleeper)
    : panel_(panel), sleeper_(sleeper) {}

LineScroller::~LineScroller() {
    MutexLock starting(starterLock_);
    std::shared_ptr<Run> run;
    {
        MutexLock guard(requestLock_);
        run = current_;
    }
    if (run) {
        run->stop.store(true);
        if (run->thread.joinable()) {
            run->thread.join();
        }
    }
    for (const auto& straggler : stragglers_) {
        straggler->stop.store(true);
        if (straggler->thread.joinable()) {
            straggler->thread.join();
        }
    }
    stragglers_.clear();
}

void LineScroller::YieldLine(const PanelFrame&, std::uint8_t lineCode) {
    {
        MutexLock guard(requestLock_);
        if (lineCode_ == 0 || lineCode != lineCode_) {
            return;
        }
        lineTakenOver_ = true;
        if (current_) {
            current_->stop.store(true);
        }
    }
    sleeper_.SleepMs(kScrollHandshakeMs);
}

void LineScroller::Scroll(const PanelFrame&, const std::string& text, std::uint8_t lineCode) {
    MutexLock starting(starterLock_);
    std::shared_ptr<Run> previous;
    auto next = std::make_shared<Run>();
    {
        MutexLock guard(requestLock_);
        // The line still shows (or scrolls) this very text: nothing to do.
        if (text == text_ && lineCode == lineCode_ && !lineTakenOver_) {
            return;
        }
        text_ = text;
        lineCode_ = lineCode;
        lineTakenOver_ = false;
        previous = current_;
        if (previous) {
            previous->stop.store(true);
        }
        current_ = next;  // a fresh stop token, clear until someone wants the line
    }
    sleeper_.SleepMs(kScrollHandshakeMs);
    EndRun(previous);
    ReapStragglers();

    try {
        next->thread = std::thread(&LineScroller::RunScroll, this, next, text, lineCode);
    } catch (const std::system_error& error) {
        DebugPrint("Could not start the scroll thread (%s).\n", error.what());
        MutexLock guard(requestLock_);
        lineTakenOver_ = true;  // so that the same text is tried again
        return;
    }
    MutexLock guard(requestLock_);
    scrollThreadId_ = next->thread.get_id();
}

void LineScroller::Stop() {
    MutexLock starting(starterLock_);
    std::shared_ptr<Run> run;
    {
        MutexLock guard(requestLock_);
        run = current_;
    }
    if (!run) {
        return;
    }
    EndRun(run);
    ReapStragglers();
    if (!run->completed.load()) {
        // The line was left part-way through the text: the same text given again scrolls.
        MutexLock guard(requestLock_);
        lineTakenOver_ = true;
    }
}

void LineScroller::Forget(const PanelFrame&) {
    MutexLock guard(requestLock_);
    if (lineCode_ == 0) {
        return;
    }
    lineTakenOver_ = true;
    if (current_) {
        current_->stop.store(true);
    }
}

void LineScroller::EndRun(const std::shared_ptr<Run>& run) {
    if (!run) {
        return;
    }
    run->stop.store(true);
    if (!run->thread.joinable() ||
        std::find(stragglers_.begin(), stragglers_.end(), run) != stragglers_.end()) {
        return;  // never started, already joined, or already left to finish
    }
    if (run->WaitDone(kScrollEndWait)) {
        run->thread.join();
        return;
    }
    // Still inside a device write: it cannot write another line once that returns, since it
    // checks its stop token inside its frame. Joined later.
    DebugPrint("Scroll thread did not end in time; it is left to finish its last write.\n");
    stragglers_.push_back(run);
}

void LineScroller::ReapStragglers() {
    auto ended =
        std::remove_if(stragglers_.begin(), stragglers_.end(), [](const std::shared_ptr<Run>& run) {
            if (!run->IsDone()) {
                return false;
            }
            run->thread.join();
            return true;
        });
    stragglers_.erase(ended, stragglers_.end());
}

bool LineScroller::WriteStep(Run& run, const char* text, std::uint8_t lineCode,
                             std::uint32_t& result) {
    // Polled rather than waited for, so that a frame holder that stops this scroll is never
    // waited on. (A timed wait would go through pthread_mutex_clocklock, which ThreadSanitizer
    // cannot see.)
    for (;;) {
        if (std::optional<PanelFrame> frame = panel_.TryBeginFrame()) {
            if (run.stop.load()) {
                return false;  // stopped while waiting: the line belongs to someone else now
            }
            result = frame->WriteScrollStep(text, lineCode);
            return true;
        }
        if (run.stop.load()) {
            return false;
        }
        std::this_thread::sleep_for(kFramePollStep);
    }
}

void LineScroller::RunScroll(std::shared_ptr<Run> run, std::string text, std::uint8_t lineCode) {
    std::string work(kScrollLeadBlanks, ' ');
    work += text;
    bool stopped = false;
    for (int pass = 0; pass < kScrollPasses && !stopped; ++pass) {
        for (std::size_t p = 0; p < work.size(); ++p) {
            std::uint32_t result = kErrorSuccess;
            if (!WriteStep(*run, work.c_str() + p, lineCode, result)) {
                stopped = true;
                break;
            }
            if (result != kErrorSuccess) {
                break;  // this pass ends at a failed line
            }
            sleeper_.SleepMs(kScrollStepMs);
        }
    }
    if (!stopped) {
        // Leave the line showing the beginning of the text.
        std::uint32_t result = kErrorSuccess;
        if (WriteStep(*run, text.c_str(), lineCode, result)) {
            run->completed.store(true);
        }
    }
    run->MarkDone();
}

}  // namespace zelk
