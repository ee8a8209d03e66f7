// The virtual panel's picture as an SVG document: both text lines in a dot-matrix look, every
// icon lit or dark with its label, the volume bar's 16 segments, brightness and display control.
#pragma once

#include <cstddef>
#include <string>

#include "service/panel/virtual_panel.h"

namespace zelk {

// `columns` characters of each line are drawn (at least 1, at most 64). With a `dimReason`
// ("idle", "night", ...) the lit parts are drawn dimmed and the footer names the reason.
std::string PanelSvg(const PanelPicture& picture, std::size_t columns,
                     const std::string& dimReason = "");

// Writes PanelSvg to `path`; false when the file cannot be written.
bool WritePanelSvg(const PanelPicture& picture, std::size_t columns, const std::string& path,
                   const std::string& dimReason = "");

}  // namespace zelk
