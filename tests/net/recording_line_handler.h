// A LineHandler that records what the server hands it and answers through the server's link:
// every line is echoed, "bye" is echoed and closes the client, and "hold" waits until the test
// lets it go (to keep the server's thread busy while clients queue up input).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/line_link.h"
#include "common/mutex.h"

namespace zelk {

struct LineEvent {
    enum Kind { kConnect, kLine, kDisconnect };
    Kind kind;
    LineClientId client;
    std::string line;
};

class RecordingLineHandler : public LineHandler {
  public:
    LineLink* link = nullptr;

    void OnConnect(LineClientId client) override { Record({LineEvent::kConnect, client, {}}); }
    void OnLine(LineClientId client, std::string_view line) override {
        if (line == "hold") {
            MutexLock guard(lock_);
            held_ = true;
            changed_.NotifyAll();
            while (!released_) changed_.Wait(lock_);
        }
        Record({LineEvent::kLine, client, std::string(line)});
        if (link != nullptr && line != "quiet") {
            link->Send(client, line);
            if (line == "bye") link->Close(client);
        }
    }
    void OnDisconnect(LineClientId client) override {
        Record({LineEvent::kDisconnect, client, {}});
    }

    // Waits (10 s at most, then false) until `done` holds for the events so far.
    bool WaitFor(const std::function<bool(const std::vector<LineEvent>&)>& done) {
        MutexLock guard(lock_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done(events_)) {
            if (!changed_.WaitUntil(lock_, deadline) && !done(events_)) return false;
        }
        return true;
    }
    bool WaitCount(LineEvent::Kind kind, std::size_t count) {
        return WaitFor(
            [&](const std::vector<LineEvent>& events) { return Count(events, kind) >= count; });
    }
    static std::size_t Count(const std::vector<LineEvent>& events, LineEvent::Kind kind) {
        return static_cast<std::size_t>(std::count_if(
            events.begin(), events.end(), [&](const LineEvent& e) { return e.kind == kind; }));
    }
    std::vector<LineEvent> Events() {
        MutexLock guard(lock_);
        return events_;
    }
    bool WaitHeld() {
        MutexLock guard(lock_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!held_) {
            if (!changed_.WaitUntil(lock_, deadline)) return held_;
        }
        return true;
    }
    void Release() {
        MutexLock guard(lock_);
        released_ = true;
        changed_.NotifyAll();
    }

  private:
    void Record(LineEvent event) {
        MutexLock guard(lock_);
        events_.push_back(std::move(event));
        changed_.NotifyAll();
    }

    Mutex lock_;
    CondVar changed_;
    std::vector<LineEvent> events_;
    bool held_ = false;
    bool released_ = false;
};

}  // namespace zelk
