// What the panel shows: the redraw of the whole media state and the four fixed screens. Each
// is written in one frame of the panel.
#pragma once

#include <cstdint>

#include "service/core/media_state.h"
#include "service/panel/panel_device.h"

namespace zelk {

// Redraws the panel from `state` (a copy taken under the state lock; no state lock is held
// here) in the caller's frame. Returns the result of its last line write.
std::uint32_t ShowMediaState(PanelFrame& frame, const MediaState& state);
// The same in a frame of its own.
std::uint32_t ShowMediaState(PanelDevice& panel, const MediaState& state);

// Each in a frame of its own.
void ShowStoppingScreen(PanelDevice& panel);
void ShowShutdownScreen(PanelDevice& panel);
void ShowStandbyScreen(PanelDevice& panel);
void ShowStartupScreen(PanelDevice& panel);

}  // namespace zelk
