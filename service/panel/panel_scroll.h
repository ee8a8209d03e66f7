// The scroll request and the scroll threads of one panel; shared by the panel's own source
// files only.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/panel/panel_device.h"

namespace zelk {

inline constexpr std::size_t kLineBufferSize = 128;      // converted text of one line
inline constexpr std::size_t kMaxScrollTextBytes = 243;  // a scroll text is cut to this
inline constexpr std::size_t kScrollLeadBlanks = 12;     // the text enters from the right
inline constexpr int kScrollPasses = 3;
inline constexpr std::uint32_t kScrollStepMs = 20;
inline constexpr std::uint32_t kScrollHandshakeMs = 200;
inline constexpr std::chrono::milliseconds kScrollEndWait{2000};
inline constexpr std::chrono::milliseconds kLockPollStep{2};
inline constexpr std::int16_t kMaxLineColumns = 64;  // the line code's 6 column bits

// One scroll thread with its own stop token: stopping one scroll can never be undone by the
// start of the next, and a stopped thread stays stopped.
struct ScrollRun {
    std::atomic<bool> stop{false};
    std::atomic<bool> completed{false};  // all passes and the closing line were written
    std::thread thread;  // joined by whoever ends the run (never by the thread itself)

    void MarkDone();
    bool IsDone();
    // Waits until the thread has finished its work; false when `timeout` passed first.
    bool WaitDone(std::chrono::milliseconds timeout);

  private:
    std::mutex doneLock_;
    std::condition_variable doneSignal_;
    bool done_ = false;
};

struct PanelDevice::Impl {
    // Lock order: panel lock, then starterLock, then requestLock. The scroll threads take only
    // the panel lock (by polling) and never the two below.
    std::mutex starterLock;  // one scroll start or stop at a time; guards `stragglers`
    std::mutex requestLock;  // guards the request fields and `current`

    // The scroll request.
    std::string text;            // the last text given for scrolling, at most 243 bytes
    std::uint8_t lineCode = 0;   // 0 until the first scroll
    bool lineTakenOver = false;  // a direct write went to the line, or the scroll was stopped
    std::shared_ptr<ScrollRun> current;
    std::thread::id scrollThreadId;

    // Runs that did not end within the bounded wait; joined once they have ended.
    std::vector<std::shared_ptr<ScrollRun>> stragglers;

    // Stops the current run (if any) and waits for it, bounded; call with starterLock held.
    void EndRun(const std::shared_ptr<ScrollRun>& run);
    // Joins stragglers that have ended; call with starterLock held.
    void ReapStragglers();
    // Stops and joins every scroll thread, without a bound (destruction).
    void JoinAll();

    // The body of a scroll thread.
    static void RunScroll(PanelDevice& panel, std::shared_ptr<ScrollRun> run, std::string text,
                          std::uint8_t lineCode);
    // One line write of a scroll thread under the panel lock. False (nothing written) when the
    // run was stopped before or while waiting for the lock.
    static bool WriteScrollLine(PanelDevice& panel, ScrollRun& run, const char* text,
                                std::uint8_t lineCode, std::uint32_t& result);
};

}  // namespace zelk
