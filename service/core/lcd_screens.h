// The LCDproc clients' screens beside the service's own: the line server on its port, the
// protocol's screens and their rotation, and what a client's screen puts on the panel.
//
// While a client's screen is in view it drives the two text lines and the service's media state
// keeps the icons and the volume bar; only what changed is written. The service's own screens
// (the media screen and the clock) are drawn by the display composition as always.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "service/adapters/clock.h"
#include "service/core/lcd_server_config.h"
#include "service/core/media_state.h"
#include "service/core/run_loop.h"
#include "service/lcdproc/lcd_protocol.h"
#include "service/net/line_server.h"
#include "service/panel/panel_device.h"

namespace zelk {

// What the status icons show for a client's `output` bits while its screen is in view: bits 0
// to 7 light the status icon of the same bit (0x01 play, 0x02 pause, 0x04 fast forward, 0x08
// rewind, 0x10 mute, 0x40 recording, 0x80 repeat; 0x20 has no icon), on top of what the media
// state lights. Higher bits light nothing.
inline constexpr std::uint32_t kLcdOutputStatusMask = 0xFF;

// The status and media icon bytes a media state lights, as its media screen (or the clock)
// leaves them.
std::uint8_t StatusIconsFor(const MediaState& state);
std::uint8_t MediaIconsFor(const MediaState& state);
// Whether the state shows a media screen rather than the clock.
bool ShowsMediaScreen(const MediaState& state);

struct LcdDraw {
    bool client = false;        // a client's screen is in view and was drawn
    bool backlightOff = false;  // it asks for a dark panel
    bool changed = false;       // one of its lines changed
};

// The lines and volume a client screen last wrote to the panel.
struct LcdWritten {
    std::array<std::string, 2> lines;
    std::uint16_t volume = 0;
};

class LcdScreens {
  public:
    // `wake` wakes the run loop (a client changed what is in view).
    LcdScreens(const LcdServerConfig& config, Clock& clock, std::function<void()> wake);
    ~LcdScreens();
    LcdScreens(const LcdScreens&) = delete;
    LcdScreens& operator=(const LcdScreens&) = delete;

    // Listens; false when no address could be bound (FailureText says why). Some addresses
    // failing while another listens is true, with the failures in FailureText too.
    bool Open() { return server_.Open(); }
    std::string FailureText() const { return server_.FailureText(); }
    std::uint16_t Port() const { return server_.Port(); }
    Worker& Server() { return server_; }

    // On the run loop, for a redraw of `state`: when a client's screen is in view, draws what
    // changed of it in `frame` (`client` true); else the caller draws the service's own screen.
    LcdDraw Draw(PanelDevice& panel, PanelFrame& frame, const MediaState& state);
    // The panel shows something else now (a fixed screen, a reopened panel): the next client
    // screen is written whole. From any thread.
    void Forget() { forget_.store(true); }
    // The rotation's and the scrollers' next step, on the run loop's wait. `inStandby` tells
    // the source to wait for nothing (the rotation stops in standby).
    DeadlineSource Deadline(std::function<bool()> inStandby);

  private:
    void Wake();

    Clock& clock_;
    const std::function<void()> wake_;
    LcdProtocol protocol_;
    LineServer server_;
    std::atomic<bool> forget_{true};
    // The run loop's own (Draw and the deadline source run on its thread only).
    std::optional<std::uint64_t> nextChangeMs_;
    // What the shown client screen has written; none when the next one is written whole.
    std::optional<LcdWritten> written_;
};

}  // namespace zelk
