// What the panel shows: the redraw of the whole media state and the four fixed screens.
// Each takes the panel lock for its whole length.
#pragma once

#include <cstdint>

#include "service/core/media_state.h"
#include "service/panel/panel_device.h"

namespace zelk {

// Redraws the panel from `state` (a copy taken under the state lock; no state lock is held
// here). Returns the result of its last line write.
std::uint32_t ShowMediaState(PanelDevice& panel, const MediaState& state);

void ShowStoppingScreen(PanelDevice& panel);
void ShowShutdownScreen(PanelDevice& panel);
void ShowStandbyScreen(PanelDevice& panel);
void ShowStartupScreen(PanelDevice& panel);

}  // namespace zelk
