// The LCDproc client protocol (version 0.3) for the panel's two text lines: each client's
// screens and widgets, their rotation with the service's own screens, and the picture that
// shows.
//
//   LcdProtocol lcd(link, clock, [&] { WakeRunLoop(); });
//   transport.Serve(lcd);                  // OnConnect / OnLine / OnDisconnect from its thread
//   lcd.SetMediaPlaying(true);             // the service's media screen joins the rotation
//   LcdView view = lcd.View();             // what shows now, and when that changes next
//
// Screens rotate as LCDproc does: only screens of the highest priority class present take part
// (hidden screens never do), each for its duration; a screen with a timeout is removed once it
// has been in view that long. The service takes part with two screens of its own: the clock
// screen, always there, and the media screen, there while a media session plays.
//
// Threads: the transport calls the LineHandler functions from its thread; View and
// SetMediaPlaying come from the service's loop. Replies and the listen/ignore notices go to the
// link after the state's lock is released. `changed` runs on the transport's thread when a
// client's command may have changed what View gives (the picture, the screen in view, or when
// the next change is due); it is not called for SetMediaPlaying or View, whose caller knows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/line_link.h"
#include "common/mutex.h"
#include "common/thread_annotations.h"
#include "service/adapters/clock.h"
#include "service/lcdproc/lcd_widgets.h"

namespace zelk {

// Screen priority classes, lowest first.
enum class LcdPriority { kHidden, kBackground, kInfo, kForeground, kAlert, kInput };

struct LcdProtocolOptions {
    // The version in the answer to hello ("connect LCDproc <version> protocol 0.3 ...").
    std::string serverVersion = "0.0.0";
    // The service's own screens: how long each shows in its turn, and their classes.
    std::uint32_t clockScreenMs = 4000;
    std::uint32_t mediaScreenMs = 8000;
    LcdPriority clockPriority = LcdPriority::kBackground;
    LcdPriority mediaPriority = LcdPriority::kForeground;
    // Bounds for each client. Past one the command gets "huh?"; a client that goes past them
    // more than maxStrikes times is disconnected.
    std::size_t maxScreensPerClient = 32;
    std::size_t maxWidgetsPerScreen = 64;
    std::size_t maxArgumentBytes = 512;
    std::size_t maxLineBytes = 4096;
    int maxStrikes = 16;
};

enum class LcdSource { kClock, kMedia, kClient };

struct LcdView {
    // Whose screen shows. For the service's own screens the lines are empty: it draws them.
    LcdSource source = LcdSource::kClock;
    LineClientId client = 0;
    std::string screen;  // the client's screen id
    // kLcdWidth bytes each, Windows-1252, as the client screen draws them.
    std::array<std::string, kLcdHeight> lines;
    // The shown screen's backlight (its own setting, else its client's; on by default) and its
    // client's `output` bits (0 for the service's screens).
    bool backlightOn = true;
    std::uint32_t output = 0;
    // The clock time (Clock::NowMs) at which View would give something else: the next rotation,
    // timeout or animation step. None while nothing is due to change by itself.
    std::optional<std::uint64_t> nextChangeMs;
};

class LcdProtocol final : public LineHandler {
  public:
    LcdProtocol(LineLink& link, Clock& clock, std::function<void()> changed,
                LcdProtocolOptions options = {});
    LcdProtocol(const LcdProtocol&) = delete;
    LcdProtocol& operator=(const LcdProtocol&) = delete;

    void OnConnect(LineClientId client) override EXCLUDES(mutex_);
    void OnLine(LineClientId client, std::string_view line) override EXCLUDES(mutex_);
    void OnDisconnect(LineClientId client) override EXCLUDES(mutex_);

    // Whether the service's media screen takes part (a media session is open and playing).
    void SetMediaPlaying(bool playing) EXCLUDES(mutex_);
    // The picture at the clock's now; moves the rotation on and sends listen/ignore as due.
    LcdView View() EXCLUDES(mutex_);

    // Whether `line` is an HTTP request line ("GET / HTTP/1.1"); such a first line closes the
    // connection.
    static bool IsHttpRequestLine(std::string_view line);

  private:
    struct ScreenSettings {
        std::string name;
        LcdPriority priority = LcdPriority::kInfo;
        int durationEighths = 32;
        int timeoutEighths = -1;        // negative: none
        std::optional<bool> backlight;  // none: the client's
    };
    struct Screen {
        LineClientId owner = 0;  // 0: the service's own
        std::string id;
        ScreenSettings settings;
        std::vector<LcdWidget> widgets;
        std::int64_t timeoutLeftMs = -1;  // time in view left before it is removed; <0 none
    };
    struct Client {
        bool greeted = false;
        bool sawLine = false;
        bool closing = false;
        int strikes = 0;
        std::string name;
        std::optional<bool> backlight;
        std::uint32_t output = 0;
        std::map<std::string, std::uint64_t, std::less<>> screens;  // id -> key in screens_
    };
    struct Outbox {
        std::vector<std::pair<LineClientId, std::string>> lines;
        std::vector<LineClientId> closes;
    };

    void Deliver(const Outbox& out);
    std::string Execute(LineClientId id, Client& client, const std::vector<std::string>& args,
                        Outbox& out) REQUIRES(mutex_);
    std::string ScreenSet(Client& client, const std::vector<std::string>& args) REQUIRES(mutex_);
    std::string WidgetAdd(LineClientId id, Client& client, const std::vector<std::string>& args,
                          Outbox& out) REQUIRES(mutex_);
    std::string WidgetSet(Client& client, const std::vector<std::string>& args) REQUIRES(mutex_);
    std::string WidgetDel(Client& client, const std::vector<std::string>& args) REQUIRES(mutex_);
    std::string Strike(LineClientId id, Client& client, std::string reply, Outbox& out)
        REQUIRES(mutex_);
    Screen* FindScreen(Client& client, std::string_view id) REQUIRES(mutex_);
    void RemoveScreen(std::uint64_t key) REQUIRES(mutex_);
    void RemoveClientScreens(Client& client) REQUIRES(mutex_);
    LcdPriority EffectivePriority(std::uint64_t key, const Screen& screen) const REQUIRES(mutex_);
    std::uint64_t DurationMs(const Screen& screen) const REQUIRES(mutex_);
    // Moves the rotation on to `now` (timeouts, turns, class changes), queueing the notices.
    void Reconcile(std::uint64_t now, Outbox& out) REQUIRES(mutex_);
    void Show(std::uint64_t key, std::uint64_t now, Outbox& out) REQUIRES(mutex_);
    // How many screens each class holds, kept as screens come, go and change class.
    std::size_t& Count(LcdPriority priority) REQUIRES(mutex_);
    LcdPriority TopPriority() const REQUIRES(mutex_);
    std::size_t CandidateCount() const REQUIRES(mutex_);
    void TouchScreen(std::uint64_t key) REQUIRES(mutex_);

    LineLink& link_;
    Clock& clock_;
    const std::function<void()> changed_;
    const LcdProtocolOptions options_;

    mutable Mutex mutex_;
    std::map<LineClientId, Client> clients_ GUARDED_BY(mutex_);
    // Every screen, in the order screens were added (the rotation's order): the clock screen,
    // the media screen, then the clients' screens.
    std::map<std::uint64_t, Screen> screens_ GUARDED_BY(mutex_);
    std::uint64_t nextKey_ GUARDED_BY(mutex_) = 3;
    bool mediaPlaying_ GUARDED_BY(mutex_) = false;
    std::array<std::size_t, 6> classCounts_ GUARDED_BY(mutex_){};
    std::uint64_t shown_ GUARDED_BY(mutex_) = 0;   // key of the screen in view, 0 none
    std::uint64_t cursor_ GUARDED_BY(mutex_) = 0;  // the last one in view (may be gone)
    std::uint64_t shownSinceMs_ GUARDED_BY(mutex_) = 0;
    std::uint64_t now_ GUARDED_BY(mutex_) = 0;  // the clock when the command in hand came
    // A command changed the screen in view (its widgets, settings or its client's backlight and
    // output): the next OnLine end calls `changed`.
    bool shownTouched_ GUARDED_BY(mutex_) = false;
};

}  // namespace zelk
