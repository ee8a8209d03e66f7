// Scrolling of lines too long for the panel.
//
// A scroll runs on a thread of its own: 12 blanks and then the text move left by one character
// every step (one line write, then 20 ms), three passes, and the line is left showing the
// beginning of the text. Each step is written through a frame of its own, taken with
// TryBeginFrame and polled, so that a frame holder that stops the scroll never waits on it.
//
// The handshake: whoever wants the line (a new scroll, or a direct write to the line scrolled
// last) stops the running scroll and sleeps 200 ms. Every scroll thread has its own stop token,
// so stopping one can never be undone by the start of the next, and a new thread starts only
// after the previous one has ended (or, if it hangs in a device write, was left behind; it
// checks its token inside its frame, so it can never write again).
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

#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/clock.h"

namespace zelk {

class PanelDevice;
class PanelFrame;

inline constexpr std::size_t kMaxScrollTextBytes = 243;  // a scroll text is cut to this
inline constexpr std::size_t kScrollLeadBlanks = 12;     // the text enters from the right
inline constexpr int kScrollPasses = 3;
inline constexpr std::uint32_t kScrollStepMs = 20;
inline constexpr std::uint32_t kScrollHandshakeMs = 200;
inline constexpr std::chrono::milliseconds kScrollEndWait{2000};
inline constexpr std::chrono::milliseconds kFramePollStep{2};

class LineScroller {
  public:
    LineScroller(PanelDevice& panel, Sleeper& sleeper);
    // Stops and joins every scroll thread, without a bound.
    ~LineScroller();
    LineScroller(const LineScroller&) = delete;
    LineScroller& operator=(const LineScroller&) = delete;

    // Inside `frame`, before a direct write to `lineCode`: when that is the line scrolled last
    // (whether or not a scroll runs now), the scroll is stopped and the writer sleeps 200 ms.
    void YieldLine(const PanelFrame& frame, std::uint8_t lineCode)
        EXCLUDES(starterLock_, requestLock_);
    // Inside `frame`: scrolls `text` (at most 243 bytes) on `lineCode`, unless the line still
    // shows or scrolls that very text. Returns once the new thread is started.
    void Scroll(const PanelFrame& frame, const std::string& text, std::uint8_t lineCode)
        EXCLUDES(starterLock_, requestLock_);
    // Ends the running scroll (if any) and waits for its thread, at most about 2 s.
    void Stop() EXCLUDES(starterLock_, requestLock_);
    // Inside `frame`, once the panel has been opened again: its lines show nothing now. A
    // running scroll writes no more (it checks its token inside its frame), and the text
    // scrolled last scrolls again when it is given again.
    void Forget(const PanelFrame& frame) EXCLUDES(requestLock_);

  private:
    // One scroll thread and its stop token.
    struct Run {
        std::atomic<bool> stop{false};
        std::atomic<bool> completed{false};  // all passes and the closing line were written
        std::thread thread;  // joined by whoever ends the run (never by the thread itself)

        void MarkDone() EXCLUDES(doneLock_);
        bool IsDone() EXCLUDES(doneLock_);
        // Waits until the thread has finished its work; false when `timeout` passed first.
        bool WaitDone(std::chrono::milliseconds timeout) EXCLUDES(doneLock_);

      private:
        Mutex doneLock_;
        CondVar doneSignal_;
        bool done_ GUARDED_BY(doneLock_) = false;
    };

    // The body of a scroll thread.
    void RunScroll(std::shared_ptr<Run> run, std::string text, std::uint8_t lineCode);
    // One line write in a frame of its own. False (nothing written) when the run was stopped
    // before or while waiting for the frame.
    bool WriteStep(Run& run, const char* text, std::uint8_t lineCode, std::uint32_t& result);
    // Stops `run` (if any) and waits for it, bounded.
    void EndRun(const std::shared_ptr<Run>& run) REQUIRES(starterLock_);
    // Joins the stragglers that have ended.
    void ReapStragglers() REQUIRES(starterLock_);

    PanelDevice& panel_;
    Sleeper& sleeper_;

    // One scroll start or stop at a time. Lock order: the panel's lock (when the caller is in
    // a frame), then this, then requestLock_. Scroll threads take neither.
    Mutex starterLock_ ACQUIRED_BEFORE(requestLock_);
    // Runs that did not end within the bounded wait; joined once they have ended.
    std::vector<std::shared_ptr<Run>> stragglers_ GUARDED_BY(starterLock_);

    // The scroll request.
    Mutex requestLock_;
    std::string text_ GUARDED_BY(requestLock_);           // the last text given for scrolling
    std::uint8_t lineCode_ GUARDED_BY(requestLock_) = 0;  // 0 until the first scroll
    // A direct write went to the line, or the scroll was stopped part-way: the same text
    // given again scrolls again.
    bool lineTakenOver_ GUARDED_BY(requestLock_) = false;
    std::shared_ptr<Run> current_ GUARDED_BY(requestLock_);
    std::thread::id scrollThreadId_ GUARDED_BY(requestLock_);
};

}  // namespace zelk
